#include "downloadsink.h"

#include "offthread.h"

#include <QtConcurrent/QtConcurrentRun>

DownloadSink::DownloadSink(const QString &path, bool hashing)
    : m_file(path)
    , m_hash(hashing ? new QCryptographicHash(QCryptographicHash::Md5) : nullptr)
{
    connect(&m_writing, &QFutureWatcherBase::finished, this, &DownloadSink::pieceDone);
}

DownloadSink::~DownloadSink()
{
    m_writing.waitForFinished();
}

// Unbuffered: every write reaches the file at once, so its result is the file's result and
// no failure is left for a final flush to meet.
bool DownloadSink::open()
{
    return m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

QString DownloadSink::fileName() const
{
    return m_file.fileName();
}

bool DownloadSink::isBusy() const
{
    return m_busy;
}

bool DownloadSink::hasFailed() const
{
    return m_failed;
}

bool DownloadSink::isFull() const
{
    return m_file.error() == QFileDevice::ResourceError;
}

QString DownloadSink::errorString() const
{
    return m_file.errorString();
}

void DownloadSink::write(const QByteArray &piece)
{
    m_busy = true;
    m_writing.setFuture(QtConcurrent::run([this, piece] { return writeWhole(piece); }));
}

// A short write is retried once for the rest, which then fails with the reason (a full disk
// or a file size limit) instead of leaving it unknown.
bool DownloadSink::writeWhole(const QByteArray &piece)
{
    if (m_hash)
        m_hash->addData(piece);
    qint64 done = 0;
    for (int attempt = 0; attempt < 2 && done < piece.size(); ++attempt) {
        const qint64 written = m_file.write(piece.constData() + done, piece.size() - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return done == piece.size();
}

void DownloadSink::pieceDone()
{
    m_busy = false;
    if (!m_writing.result())
        m_failed = true;
    emit idle();
}

QByteArray DownloadSink::md5() const
{
    return m_hash ? m_hash->result() : QByteArray();
}

// QSaveFile::commit() does not notice a failing flush when it closes the file, so the flush
// is made and checked first.
bool DownloadSink::commit()
{
    if (m_failed || m_busy)
        return false;
    return OffThread::run([this] { return m_file.flush() && m_file.commit(); });
}

void DownloadSink::cancel()
{
    m_writing.waitForFinished();
    if (m_file.isOpen())
        m_file.cancelWriting();
}
