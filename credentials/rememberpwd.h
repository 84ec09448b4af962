#ifndef REMEMBERPWD_H
#define REMEMBERPWD_H

#include <QObject>
#include <QString>
#include <QVariantMap>

// Keeps a user name and password in the encrypted file "logMsg.ini" in the program's folder.
class RememberPwd : public QObject
{
    Q_OBJECT
public:
    RememberPwd();
    ~RememberPwd() override;

    void writeFile(const QString &text, const QString &path);
    QString readFile(const QString &path);

    void savePwd(const QString &userName, const QString &password);
    QVariantMap loadPwd();

private:
    QString filePath;
};

#endif // REMEMBERPWD_H
