#ifndef INFORMATION_H
#define INFORMATION_H

#include <QDate>
#include <QIcon>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <QWidget>

#include <memory>

namespace Ui {
class Information;
}

// The task window: the signed-in user's tasks of one day, reloaded every five seconds,
// with buttons to move between days.
class Information : public QWidget
{
    Q_OBJECT

public:
    explicit Information(QWidget *parent = nullptr);
    ~Information() override;

    // Starts the periodic refresh for the user and loads today's tasks.
    void start(QString uid);
    // Asks the device service for the tasks of date ("yyyy-MM-dd") and shows them.
    void loadTaskList(QString date);

private slots:
    void cellClick(int row, int col);
    void on_lastdayBtn_clicked();
    void on_nextdayBtn_clicked();
    void on_todayBtn_clicked();
    void on_out_clicked();
    void on_dateEdit_dateChanged(QDate date);
    void on_update_clicked();
    void refresh();

private:
    QVariantList fetchTasks(const QString &date);
    void rebuildTable();
    void showDay(const QString &date);
    void setShownDate(const QDate &date);
    QIcon modelIcon() const;
    void fillRow(int row, const QVariantMap &task, const QIcon &icon);

    std::unique_ptr<Ui::Information> ui;
    QVariantList taskList;
    QString uid;
    QString currentDate;
    int dayOffset;
    // Set by start(); until then the date edit loads nothing.
    bool started = false;
    // True while a load waits for its reply; refresh ticks arriving meanwhile are skipped.
    bool loading = false;
};

#endif // INFORMATION_H
