#ifndef SETUP_H
#define SETUP_H

#include <QString>
#include <QWidget>

class ErrorInfo;

#include <memory>

namespace Ui {
class setup;
}

// The device settings form: registers this device with the service under a name and sets
// who may connect to it. Each form is used once; it closes, and so deletes itself, after a
// successful save.
class setup : public QWidget
{
    Q_OBJECT

public:
    explicit setup(QWidget *parent = nullptr);
    ~setup() override;

    void setUid(QString uid);

private slots:
    void on_pushButton_clicked();

private:
    void showOutcome(const QString &name, bool ownerOnly, bool saved, const ErrorInfo &error);

    std::unique_ptr<Ui::setup> ui;
    QString uid;
};

#endif // SETUP_H
