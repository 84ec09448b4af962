#ifndef SHA256_H
#define SHA256_H

#include <QByteArray>
#include <QCryptographicHash>

#include <memory>

// SHA-256 with the processor's SHA extensions where it has them (most x86 processors since
// about 2017), else through QCryptographicHash. Qt 5's own SHA-256 manages about 80 MB/s,
// which a fetch of a large NC archive would feel; the extensions do well over 1 GB/s.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(const char *data, qint64 size);
    // The 32-byte digest of everything added.
    QByteArray result();

    // The processor's SHA extensions are used.
    static bool isAccelerated();

private:
    void compress(const unsigned char *blocks, qint64 count);

    std::unique_ptr<QCryptographicHash> m_fallback;
    quint32 m_state[8];
    unsigned char m_buffer[64];
    int m_buffered = 0;
    quint64 m_length = 0;
};

#endif // SHA256_H
