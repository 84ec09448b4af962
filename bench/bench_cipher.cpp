// Throughput of the credential cipher next to OpenSSL's AES-128-ECB on the same data.

#include "credentials/aescipher.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <limits>

static constexpr int repeats = 5;
static const QByteArray benchKey("PLNX20150923RKTW");

// Best of a few runs, in MB/s (10^6 bytes per second).
static double throughput(int bytes, const std::function<void()> &work)
{
    qint64 best = std::numeric_limits<qint64>::max();
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, timer.nsecsElapsed());
    }
    return double(bytes) * 1000.0 / double(std::max<qint64>(best, 1));
}

static bool opensslEcb(bool encrypt, const QByteArray &in, QByteArray &out)
{
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    if (!context)
        return false;
    const auto *keyData = reinterpret_cast<const unsigned char *>(benchKey.constData());
    bool ok = EVP_CipherInit_ex(context, EVP_aes_128_ecb(), nullptr, keyData, nullptr, encrypt ? 1 : 0) == 1;
    EVP_CIPHER_CTX_set_padding(context, 0);
    int written = 0;
    ok = ok
        && EVP_CipherUpdate(context, reinterpret_cast<unsigned char *>(out.data()), &written,
               reinterpret_cast<const unsigned char *>(in.constData()), in.size())
            == 1;
    EVP_CIPHER_CTX_free(context);
    return ok && written == in.size();
}

static QByteArray randomBytes(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    auto *words = reinterpret_cast<quint32 *>(data.data());
    QRandomGenerator(20240501).fillRange(words, size / 4);
    return data;
}

static void report(const char *direction, const char *label, double ours, double openssl)
{
    std::printf("cipher %s %s: %.1f MB/s, openssl %.0f MB/s, ratio 1/%.1f\n", direction, label, ours, openssl,
        openssl / ours);
}

static bool benchSize(int size, const char *label)
{
    const QByteArray plain = randomBytes(size);
    QByteArray cipherText;
    QByteArray roundTrip;
    const double encrypt = throughput(size, [&] { cipherText = encryptBytes(plain, benchKey); });
    const double decrypt = throughput(size, [&] { roundTrip = decryptBytes(cipherText, benchKey); });
    if (roundTrip != plain) {
        std::printf("cipher %s: round trip FAILED\n", label);
        return false;
    }

    QByteArray sslOut(size, Qt::Uninitialized);
    QByteArray sslBack(size, Qt::Uninitialized);
    bool ok = true;
    const double sslEncrypt = throughput(size, [&] { ok = opensslEcb(true, plain, sslOut) && ok; });
    const double sslDecrypt = throughput(size, [&] { ok = opensslEcb(false, sslOut, sslBack) && ok; });
    if (!ok || sslBack != plain) {
        std::printf("openssl %s: round trip FAILED\n", label);
        return false;
    }
    report("encrypt", label, encrypt, sslEncrypt);
    report("decrypt", label, decrypt, sslDecrypt);
    return true;
}

int main()
{
    const bool ok = benchSize(1 << 20, "1MiB") && benchSize(16 << 20, "16MiB");
    return ok ? 0 : 1;
}
