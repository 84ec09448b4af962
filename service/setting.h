#ifndef SETTING_H
#define SETTING_H

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>

// Persistent key/value settings of the current user. The store may hold a typed password,
// so its file is kept readable and writable by its owner only. On Windows the store is the
// user's own registry key, which other users cannot read.
class Setting : public QObject
{
    Q_OBJECT

public:
    explicit Setting(QObject *parent = nullptr);

    QVariant value(QString key, QVariant defaultValue);
    // Stores value at once, so that it survives this object and this process.
    void setValue(QString key, QVariant value);

    // Where the values are kept.
    QString fileName() const;

private:
    bool isFile() const;
    void createPrivateFile();
    void restrictFile();

    QSettings m_settings;
};

#endif // SETTING_H
