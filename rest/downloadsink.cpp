#include "rest/downloadsink.h"

#include "core/hiddenfile.h"
#include "core/offthread.h"
#include "rest/restlog.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

#include <zlib.h>

#include <limits>

namespace {

// What one inflate step may produce; bounds the memory a compressed body can take.
constexpr int decodedBlockSize = 1 << 20;

// What may wait for the disk besides the batch being written.
constexpr qint64 queueLimit = 4 << 20;

} // namespace

DownloadSink::DownloadSink(const QString &path, bool hashing)
    : m_file(path)
    , m_hash(hashing ? new QCryptographicHash(QCryptographicHash::Md5) : nullptr)
    , m_maxBytes(std::numeric_limits<qint64>::max())
    , m_spareBytes(std::numeric_limits<qint64>::max())
{
    connect(&m_writing, &QFutureWatcherBase::finished, this, &DownloadSink::batchDone);
}

DownloadSink::~DownloadSink()
{
    m_writing.waitForFinished();
    if (m_inflater)
        inflateEnd(m_inflater.get());
}

// Unbuffered: every write reaches the file at once, so its result is the file's result and
// no failure is left for a final flush to meet. The temporary file is hidden until commit.
bool DownloadSink::open()
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    HiddenFile::hide(m_file);
    return true;
}

QString DownloadSink::fileName() const
{
    return m_file.fileName();
}

void DownloadSink::setLimits(qint64 maxBytes, qint64 spareBytes)
{
    m_maxBytes = maxBytes;
    m_spareBytes = spareBytes;
}

bool DownloadSink::setEncoding(const QByteArray &contentEncoding)
{
    const QByteArray encoding = contentEncoding.trimmed().toLower();
    if (encoding.isEmpty() || encoding == "identity")
        return true;
    if (encoding != "gzip" && encoding != "x-gzip")
        return false;
    m_inflater.reset(new z_stream_s {});
    m_decoded.resize(decodedBlockSize);
    // 16 + MAX_WBITS: a gzip header and trailer around the deflate data.
    return inflateInit2(m_inflater.get(), 16 + MAX_WBITS) == Z_OK;
}

bool DownloadSink::isBusy() const
{
    return m_inFlight || !m_queue.isEmpty();
}

bool DownloadSink::wantsMore() const
{
    return !hasFailed() && m_queued < queueLimit;
}

DownloadSink::Result DownloadSink::failure() const
{
    return m_failure;
}

bool DownloadSink::hasFailed() const
{
    return m_failure != Result::Saved;
}

QString DownloadSink::errorString() const
{
    return m_reason.isEmpty() ? m_file.errorString() : m_reason;
}

void DownloadSink::write(const QByteArray &piece)
{
    m_queue.append(piece);
    m_queued += piece.size();
    startNext();
}

// The whole queue goes to the pool thread as one batch; new pieces queue up behind it.
void DownloadSink::startNext()
{
    if (m_inFlight || m_queue.isEmpty() || hasFailed())
        return;
    const QList<QByteArray> batch = m_queue;
    m_queue.clear();
    m_queued = 0;
    m_inFlight = true;
    m_writing.setFuture(QtConcurrent::run([this, batch] { return writeBatch(batch); }));
}

DownloadSink::Result DownloadSink::writeBatch(const QList<QByteArray> &batch)
{
    for (const QByteArray &piece : batch) {
        const Result result = m_inflater ? decode(piece) : store(piece.constData(), piece.size());
        if (result != Result::Saved)
            return result;
    }
    return Result::Saved;
}

void DownloadSink::batchDone()
{
    m_inFlight = false;
    m_failure = m_writing.result();
    if (hasFailed())
        m_queue.clear();
    startNext();
    emit idle();
}

DownloadSink::Result DownloadSink::decode(const QByteArray &piece)
{
    z_stream_s &stream = *m_inflater;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(piece.constData()));
    stream.avail_in = uInt(piece.size());
    for (;;) {
        // A gzip body may hold several members one after the other; each is part of the file.
        if (m_encodingEnded) {
            if (stream.avail_in == 0)
                return Result::Saved;
            inflateReset(&stream);
            m_encodingEnded = false;
        }
        stream.next_out = reinterpret_cast<Bytef *>(m_decoded.data());
        stream.avail_out = uInt(m_decoded.size());
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            return fail(Result::NetworkError, QStringLiteral("the gzip body does not decode"));
        const Result stored = store(m_decoded.constData(), m_decoded.size() - qint64(stream.avail_out));
        if (stored != Result::Saved)
            return stored;
        m_encodingEnded = status == Z_STREAM_END;
        // Output room left over means the input is used up.
        if (!m_encodingEnded && stream.avail_out != 0)
            return Result::Saved;
    }
}

// A short write is retried once for the rest, which then fails with the reason (a full disk
// or a file size limit) instead of leaving it unknown.
DownloadSink::Result DownloadSink::store(const char *data, qint64 size)
{
    if (m_written + size > m_maxBytes)
        return fail(Result::TooLarge, QStringLiteral("the body is larger than %1 bytes").arg(m_maxBytes));
    if (m_written + size > m_spareBytes)
        return fail(Result::NoSpace, QStringLiteral("the disk would keep less than its reserve"));
    if (m_hash)
        m_hash->addData(data, int(size));
    m_sha256.addData(data, size);
    if (m_head.size() < headSize)
        m_head.append(data, int(qMin<qint64>(size, headSize - m_head.size())));
    qint64 done = 0;
    for (int attempt = 0; attempt < 2 && done < size; ++attempt) {
        const qint64 written = m_file.write(data + done, size - done);
        if (written <= 0)
            break;
        done += written;
    }
    m_written += done;
    if (done == size)
        return Result::Saved;
    return fail(
        m_file.error() == QFileDevice::ResourceError ? Result::NoSpace : Result::CannotWrite, QString());
}

DownloadSink::Result DownloadSink::fail(Result why, const QString &reason)
{
    m_reason = reason;
    return why;
}

bool DownloadSink::isComplete() const
{
    return !hasFailed() && (!m_inflater || m_encodingEnded);
}

QByteArray DownloadSink::md5() const
{
    return m_hash ? m_hash->result() : QByteArray();
}

QByteArray DownloadSink::sha256() const
{
    return m_sha256.result();
}

qint64 DownloadSink::size() const
{
    return m_written;
}

QByteArray DownloadSink::head() const
{
    return m_head;
}

// QSaveFile::commit() does not notice a failing flush when it closes the file, so the flush
// is made and checked first.
bool DownloadSink::commit(const QString &keepReplacedAt)
{
    m_keptReplaced = false;
    if (isBusy())
        m_failure = Result::CannotWrite;
    if (hasFailed())
        return false;
    const bool committed = OffThread::run([this, keepReplacedAt] {
        if (!m_file.flush())
            return false;
        m_keptReplaced = moveReplacedAside(keepReplacedAt);
        HiddenFile::reveal(m_file);
        if (m_file.commit())
            return true;
        if (m_keptReplaced && !QFile::rename(keepReplacedAt, m_file.fileName()))
            qCWarning(restLog).noquote().nospace()
                << "cannot put " << m_file.fileName() << " back from " << keepReplacedAt;
        m_keptReplaced = false;
        return false;
    });
    if (committed)
        return true;
    m_failure = m_file.error() == QFileDevice::ResourceError ? Result::NoSpace : Result::CannotWrite;
    return false;
}

bool DownloadSink::keptReplaced() const
{
    return m_keptReplaced;
}

// Moving keeps the old file whole whatever happens next; a file that cannot be kept is
// still replaced, as it was before anything was kept.
bool DownloadSink::moveReplacedAside(const QString &keepAt)
{
    const QString destination = m_file.fileName();
    if (keepAt.isEmpty() || !QFileInfo::exists(destination))
        return false;
    QDir().mkpath(QFileInfo(keepAt).absolutePath());
    if (QFile::rename(destination, keepAt))
        return true;
    qCWarning(restLog).noquote().nospace() << "cannot keep " << destination << " as " << keepAt;
    return false;
}

// Discards the temporary file at once: where it has a name in the destination's folder (on
// Windows), that folder could not be removed while it is there.
void DownloadSink::cancel()
{
    m_writing.waitForFinished();
    if (!m_file.isOpen())
        return;
    m_file.cancelWriting();
    m_file.commit();
}
