#ifndef AESCIPHER_H
#define AESCIPHER_H

#include <QByteArray>
#include <QtGlobal>

// AES block cipher (128, 192 or 256-bit key, chosen from the key length) working on one
// 16-byte block at a time. One object serves one byte-array operation and is then discarded.
class AesCipher
{
public:
    static constexpr int blockSize = 16;

    // keyLength must be 16, 24 or 32; any other length leaves the cipher invalid.
    AesCipher(int keyLength, const uchar *keyBytes);

    static bool isValidKeyLength(int keyLength);
    bool isValid() const { return Nr > 0; }

    void encryptBlock(const uchar *in, uchar *out);
    void decryptBlock(const uchar *in, uchar *out);

private:
    void keyExpansion();
    const uchar *roundKey(int round) const { return expandedKey + round * 16; }

    // Byte (row r, column c) of the block lives at index r * 4 + c.
    uchar state[16];
    qint32 Nb;
    qint32 Nk;
    qint32 Nr;
    uchar key[32];
    uchar expandedKey[240];
};

// ECB encryption of length bytes with a zero-filled last block and a trailing length block.
// out must hold 16 * ceil(length / 16) + 16 bytes. Returns the bytes written, or -1.
int aesEncrypt(AesCipher *cipher, const uchar *in, int length, uchar *out);

// Decrypts length bytes (a positive multiple of 16) into out, which holds at least length bytes.
// Returns the plain length recorded in the length block, or -1 when the block is not consistent.
int aesDecrypt(AesCipher *cipher, const uchar *in, int length, uchar *out);

// Scramble, then encrypt. An empty result means failure (a key that is not 16, 24 or 32 bytes).
QByteArray encryptBytes(const QByteArray &plain, const QByteArray &key);

// Decrypt, then unscramble. An empty result means failure or an empty plaintext.
QByteArray decryptBytes(const QByteArray &cipherText, const QByteArray &key);

// Keyless byte permutation seeded by the XOR of all input bytes, and its inverse.
void scrambleBytes(const QByteArray &in, QByteArray &out);
void unscrambleBytes(const QByteArray &in, QByteArray &out);

// Fills table[0..n-1] with a permutation of 0..n-1 derived from seed (0-255); n is at most 256.
void makePermutation(int seed, int n, uchar *table);

// Moves every byte of each full 256-byte chunk through chunkTable and the bytes of the
// remaining tail through tailTable. out is resized to the length of in.
void scatterBytes(const QByteArray &in, QByteArray &out, const uchar *chunkTable, const uchar *tailTable);

#endif // AESCIPHER_H
