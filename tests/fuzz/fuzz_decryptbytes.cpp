// Decrypts arbitrary bytes under keys of valid and invalid lengths, and checks that the
// cipher keeps its promises: nothing but empty output for a bad key or a bad size, never
// more plain bytes than the data blocks hold, and every result survives a round trip.

#include "credentials/aescipher.h"
#include "tests/fuzz/fuzzcheck.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace {

// Lengths picked by the first input byte: the three valid ones often, the others as well.
constexpr int keyLengths[16] = { 16, 24, 32, 16, 24, 32, 16, 32, 0, 1, 15, 17, 23, 25, 31, 33 };

int cipherSizeFor(int plainSize)
{
    return (plainSize + 15) / 16 * 16 + 16;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int keyLength = keyLengths[data[0] & 0x0f];
    const QByteArray input(reinterpret_cast<const char *>(data + 1), int(size - 1));
    QByteArray key = input.left(keyLength);
    key.append(QByteArray(keyLength - key.size(), '\0'));
    const QByteArray cipherText = input.mid(keyLength);
    const bool validKey = AesCipher::isValidKeyLength(keyLength);

    const QByteArray plain = decryptBytes(cipherText, key);
    if (!validKey || cipherText.isEmpty() || cipherText.size() % 16 != 0)
        FUZZ_CHECK(plain.isEmpty());
    FUZZ_CHECK(plain.size() <= qMax(0, cipherText.size() - 16));
    if (!plain.isEmpty()) {
        const QByteArray again = encryptBytes(plain, key);
        FUZZ_CHECK(again.size() == cipherSizeFor(plain.size()));
        FUZZ_CHECK(again.size() <= cipherText.size());
        FUZZ_CHECK(decryptBytes(again, key) == plain);
    }

    // The fuzzer's bytes as plain text: encryption must give the documented size and
    // decrypt back to exactly the same bytes.
    const QByteArray encrypted = encryptBytes(cipherText, key);
    if (!validKey) {
        FUZZ_CHECK(encrypted.isEmpty());
        return 0;
    }
    FUZZ_CHECK(encrypted.size() == cipherSizeFor(cipherText.size()));
    FUZZ_CHECK(decryptBytes(encrypted, key) == cipherText);
    return 0;
}
