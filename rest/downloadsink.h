#ifndef DOWNLOADSINK_H
#define DOWNLOADSINK_H

#include "core/sha256.h"
#include "rest/krestservice.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QSaveFile>
#include <QString>

#include <memory>

struct z_stream_s;

// Where a download's body goes: a QSaveFile beside the destination that replaces it only on
// commit(). Pieces are queued and then decoded (gzip), size-checked, hashed when asked and
// written on a pool thread, one batch at a time, so a slow disk never holds up the thread
// that receives the body. The queue is bounded (wantsMore()), and a small body that
// inflates hugely never sits in memory whole.
class DownloadSink : public QObject
{
    Q_OBJECT

public:
    using Result = KRESTService::DownloadResult;

    DownloadSink(const QString &path, bool hashing);
    ~DownloadSink() override;

    bool open();
    QString fileName() const;
    // The file may take at most maxBytes, and at most spareBytes keep the disk's reserve.
    void setLimits(qint64 maxBytes, qint64 spareBytes);
    // The body's Content-Encoding; false for one the sink cannot decode.
    bool setEncoding(const QByteArray &contentEncoding);

    // Pieces are queued or being written.
    bool isBusy() const;
    // The queue has room for another piece.
    bool wantsMore() const;
    // Saved until a piece fails; then why, and nothing more is written.
    Result failure() const;
    bool hasFailed() const;
    QString errorString() const;

    void write(const QByteArray &piece);
    // Everything written, and an encoded body ended where its encoding says.
    bool isComplete() const;
    // The MD5 of the decoded body, once the sink is idle.
    QByteArray md5() const;
    // The SHA-256 and size of what was written, once the sink is idle.
    QByteArray sha256() const;
    qint64 size() const;
    // The first bytes of the decoded body, up to headSize.
    QByteArray head() const;
    static constexpr int headSize = 1024;

    // Flushes, syncs and renames over the destination, off the calling thread; the caller
    // waits in a local event loop. False leaves the destination as it was. With keepReplacedAt,
    // an existing destination is first moved there (and back should the rename fail).
    bool commit(const QString &keepReplacedAt = QString());
    // The last commit moved the file it replaced to keepReplacedAt.
    bool keptReplaced() const;
    void cancel();

signals:
    // A batch has been written (or has failed); the queue has room again.
    void idle();

private:
    void startNext();
    Result writeBatch(const QList<QByteArray> &batch);
    Result decode(const QByteArray &piece);
    Result store(const char *data, qint64 size);
    Result fail(Result why, const QString &reason);
    void batchDone();
    bool moveReplacedAside(const QString &keepAt);

    QSaveFile m_file;
    std::unique_ptr<QCryptographicHash> m_hash;
    Sha256 m_sha256;
    std::unique_ptr<z_stream_s> m_inflater;
    QByteArray m_decoded;
    QByteArray m_head;
    bool m_encodingEnded = false;
    qint64 m_written = 0;
    qint64 m_maxBytes = 0;
    qint64 m_spareBytes = 0;
    // The queue and the outcome belong to the receiving thread; the file, the hash, the
    // inflater and the count written belong to the batch being written.
    QList<QByteArray> m_queue;
    qint64 m_queued = 0;
    QFutureWatcher<Result> m_writing;
    bool m_inFlight = false;
    Result m_failure = Result::Saved;
    QString m_reason;
    bool m_keptReplaced = false;
};

#endif // DOWNLOADSINK_H
