#ifndef DOWNLOADSINK_H
#define DOWNLOADSINK_H

#include <QByteArray>
#include <QCryptographicHash>
#include <QFutureWatcher>
#include <QObject>
#include <QSaveFile>
#include <QString>

#include <memory>

// Where a download's body goes: a QSaveFile beside the destination that replaces it only on
// commit(). Each piece is written (and hashed, when asked) on a pool thread, one piece at a
// time, so a slow disk never holds up the thread that receives the body.
class DownloadSink : public QObject
{
    Q_OBJECT

public:
    DownloadSink(const QString &path, bool hashing);
    ~DownloadSink() override;

    bool open();
    QString fileName() const;
    // A piece is being written; write() must wait for idle().
    bool isBusy() const;
    // A write failed; nothing more is written and commit() is refused.
    bool hasFailed() const;
    // The failure was a full disk.
    bool isFull() const;
    QString errorString() const;

    void write(const QByteArray &piece);
    // The MD5 of everything written, once the sink is idle.
    QByteArray md5() const;

    // Flushes, syncs and renames over the destination, off the calling thread; the caller
    // waits in a local event loop. False leaves the destination as it was.
    bool commit();
    void cancel();

signals:
    // The piece in flight has been written (or has failed).
    void idle();

private:
    bool writeWhole(const QByteArray &piece);
    void pieceDone();

    QSaveFile m_file;
    std::unique_ptr<QCryptographicHash> m_hash;
    QFutureWatcher<bool> m_writing;
    bool m_busy = false;
    bool m_failed = false;
};

#endif // DOWNLOADSINK_H
