#ifndef FILEDIGEST_H
#define FILEDIGEST_H

#include "history/historyentry.h"

#include <QList>
#include <QString>

// SHA-256 digests of the files a fetch wrote, as lower-case hexadecimal text. Reading a
// large file takes a while: callers run these off the GUI thread.
class FileDigest
{
public:
    // Empty when the file cannot be read whole.
    static QString sha256(const QString &path, qint64 *size = nullptr);
    // Every file under folder by its path relative to it ("/" separated), sorted.
    static QList<HistoryFile> folderFiles(const QString &folder);
};

#endif // FILEDIGEST_H
