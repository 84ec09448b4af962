#include "credentials/aescipher.h"

#include <cstring>
#include <limits>
#include <utility>

// clang-format off
// The FIPS-197 substitution box and its inverse.
static constexpr uchar sbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};
static constexpr uchar invSbox[256] = {
    0x52, 0x09, 0x6a, 0xd5, 0x30, 0x36, 0xa5, 0x38, 0xbf, 0x40, 0xa3, 0x9e, 0x81, 0xf3, 0xd7, 0xfb,
    0x7c, 0xe3, 0x39, 0x82, 0x9b, 0x2f, 0xff, 0x87, 0x34, 0x8e, 0x43, 0x44, 0xc4, 0xde, 0xe9, 0xcb,
    0x54, 0x7b, 0x94, 0x32, 0xa6, 0xc2, 0x23, 0x3d, 0xee, 0x4c, 0x95, 0x0b, 0x42, 0xfa, 0xc3, 0x4e,
    0x08, 0x2e, 0xa1, 0x66, 0x28, 0xd9, 0x24, 0xb2, 0x76, 0x5b, 0xa2, 0x49, 0x6d, 0x8b, 0xd1, 0x25,
    0x72, 0xf8, 0xf6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xd4, 0xa4, 0x5c, 0xcc, 0x5d, 0x65, 0xb6, 0x92,
    0x6c, 0x70, 0x48, 0x50, 0xfd, 0xed, 0xb9, 0xda, 0x5e, 0x15, 0x46, 0x57, 0xa7, 0x8d, 0x9d, 0x84,
    0x90, 0xd8, 0xab, 0x00, 0x8c, 0xbc, 0xd3, 0x0a, 0xf7, 0xe4, 0x58, 0x05, 0xb8, 0xb3, 0x45, 0x06,
    0xd0, 0x2c, 0x1e, 0x8f, 0xca, 0x3f, 0x0f, 0x02, 0xc1, 0xaf, 0xbd, 0x03, 0x01, 0x13, 0x8a, 0x6b,
    0x3a, 0x91, 0x11, 0x41, 0x4f, 0x67, 0xdc, 0xea, 0x97, 0xf2, 0xcf, 0xce, 0xf0, 0xb4, 0xe6, 0x73,
    0x96, 0xac, 0x74, 0x22, 0xe7, 0xad, 0x35, 0x85, 0xe2, 0xf9, 0x37, 0xe8, 0x1c, 0x75, 0xdf, 0x6e,
    0x47, 0xf1, 0x1a, 0x71, 0x1d, 0x29, 0xc5, 0x89, 0x6f, 0xb7, 0x62, 0x0e, 0xaa, 0x18, 0xbe, 0x1b,
    0xfc, 0x56, 0x3e, 0x4b, 0xc6, 0xd2, 0x79, 0x20, 0x9a, 0xdb, 0xc0, 0xfe, 0x78, 0xcd, 0x5a, 0xf4,
    0x1f, 0xdd, 0xa8, 0x33, 0x88, 0x07, 0xc7, 0x31, 0xb1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xec, 0x5f,
    0x60, 0x51, 0x7f, 0xa9, 0x19, 0xb5, 0x4a, 0x0d, 0x2d, 0xe5, 0x7a, 0x9f, 0x93, 0xc9, 0x9c, 0xef,
    0xa0, 0xe0, 0x3b, 0x4d, 0xae, 0x2a, 0xf5, 0xb0, 0xc8, 0xeb, 0xbb, 0x3c, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2b, 0x04, 0x7e, 0xba, 0x77, 0xd6, 0x26, 0xe1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0c, 0x7d,
};

// Round constants as key-schedule words: the constant in the first byte, zeros after it.
static constexpr uchar rcon[11][4] = {
    { 0x00, 0x00, 0x00, 0x00 }, { 0x01, 0x00, 0x00, 0x00 }, { 0x02, 0x00, 0x00, 0x00 }, { 0x04, 0x00, 0x00, 0x00 },
    { 0x08, 0x00, 0x00, 0x00 }, { 0x10, 0x00, 0x00, 0x00 }, { 0x20, 0x00, 0x00, 0x00 }, { 0x40, 0x00, 0x00, 0x00 },
    { 0x80, 0x00, 0x00, 0x00 }, { 0x1b, 0x00, 0x00, 0x00 }, { 0x36, 0x00, 0x00, 0x00 },
};
// clang-format on

static constexpr int lengthBlockCopies = 4;
static constexpr int scrambleChunk = 256;

// Doubling in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1, without a branch on the top bit.
static inline uchar xtime(uchar x)
{
    return uchar((x << 1) ^ (-(x >> 7) & 0x1b));
}

static void rotWord(uchar *word)
{
    const uchar first = word[0];
    word[0] = word[1];
    word[1] = word[2];
    word[2] = word[3];
    word[3] = first;
}

static void subWord(uchar *word)
{
    for (int i = 0; i < 4; ++i)
        word[i] = sbox[word[i]];
}

static void writeLittleEndian32(qint32 value, uchar *out)
{
    const quint32 bits = quint32(value);
    out[0] = uchar(bits);
    out[1] = uchar(bits >> 8);
    out[2] = uchar(bits >> 16);
    out[3] = uchar(bits >> 24);
}

static qint32 readLittleEndian32(const uchar *in)
{
    return qint32(quint32(in[0]) | quint32(in[1]) << 8 | quint32(in[2]) << 16 | quint32(in[3]) << 24);
}

AesCipher::AesCipher(int keyLength, const uchar *keyBytes)
    : state {}
    , Nb(4)
    , Nk(0)
    , Nr(0)
    , key {}
    , expandedKey {}
{
    if (!keyBytes || !isValidKeyLength(keyLength))
        return;
    Nk = keyLength / 4;
    Nr = Nk + 6;
    std::memcpy(key, keyBytes, size_t(keyLength));
    keyExpansion();
}

bool AesCipher::isValidKeyLength(int keyLength)
{
    return keyLength == 16 || keyLength == 24 || keyLength == 32;
}

void AesCipher::keyExpansion()
{
    std::memset(expandedKey, 0, sizeof expandedKey);
    std::memcpy(expandedKey, key, size_t(Nk * 4));
    const int words = Nb * (Nr + 1);
    for (int i = Nk; i < words; ++i) {
        uchar temp[4];
        std::memcpy(temp, expandedKey + (i - 1) * 4, 4);
        if (i % Nk == 0) {
            rotWord(temp);
            subWord(temp);
            for (int j = 0; j < 4; ++j)
                temp[j] ^= rcon[i / Nk][j];
        } else if (Nk > 6 && i % Nk == 4) {
            subWord(temp);
        }
        for (int j = 0; j < 4; ++j)
            expandedKey[i * 4 + j] = expandedKey[(i - Nk) * 4 + j] ^ temp[j];
    }
}

// The steps below work on one block held as 16 bytes, byte (row r, column c) at index r * 4 + c.
// Input byte k fills the block column by column: row k mod 4, column k div 4.
static inline void loadState(uchar *state, const uchar *in)
{
    for (int k = 0; k < 16; ++k)
        state[(k % 4) * 4 + k / 4] = in[k];
}

static inline void storeState(const uchar *state, uchar *out)
{
    for (int k = 0; k < 16; ++k)
        out[k] = state[(k % 4) * 4 + k / 4];
}

// Round keys are stored as schedule words, one word per column.
static inline void addRoundKey(uchar *state, const uchar *roundKey)
{
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c)
            state[r * 4 + c] ^= roundKey[c * 4 + r];
    }
}

static inline void subBytes(uchar *state)
{
    for (int i = 0; i < 16; ++i)
        state[i] = sbox[state[i]];
}

static inline void invSubBytes(uchar *state)
{
    for (int i = 0; i < 16; ++i)
        state[i] = invSbox[state[i]];
}

// Row r is rotated left by r places.
static inline void shiftRows(uchar *state)
{
    uchar shifted[16];
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c)
            shifted[r * 4 + c] = state[r * 4 + (c + r) % 4];
    }
    std::memcpy(state, shifted, sizeof shifted);
}

static inline void invShiftRows(uchar *state)
{
    uchar shifted[16];
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c)
            shifted[r * 4 + (c + r) % 4] = state[r * 4 + c];
    }
    std::memcpy(state, shifted, sizeof shifted);
}

// One column times the matrix rows 02 03 01 01, 01 02 03 01, 01 01 02 03, 03 01 01 02. With t the
// XOR of the column, row r becomes a[r] ^ t ^ 2 * (a[r] ^ a[r + 1]). The column's bytes lie one
// row (4 bytes) apart.
static inline void mixColumn(uchar *column)
{
    const uchar a0 = column[0];
    const uchar a1 = column[4];
    const uchar a2 = column[8];
    const uchar a3 = column[12];
    const uchar t = a0 ^ a1 ^ a2 ^ a3;
    column[0] = a0 ^ t ^ xtime(a0 ^ a1);
    column[4] = a1 ^ t ^ xtime(a1 ^ a2);
    column[8] = a2 ^ t ^ xtime(a2 ^ a3);
    column[12] = a3 ^ t ^ xtime(a3 ^ a0);
}

static inline void mixColumns(uchar *state)
{
    for (int c = 0; c < 4; ++c)
        mixColumn(state + c);
}

// The inverse matrix (0E 0B 0D 09) is the forward one times the matrix 05 00 04 00: adding
// 4 * (a[r] ^ a[r + 2]) to each row first leaves only the forward mixing to do.
static inline void invMixColumns(uchar *state)
{
    for (int c = 0; c < 4; ++c) {
        uchar *column = state + c;
        const uchar evenRows = xtime(xtime(column[0] ^ column[8]));
        const uchar oddRows = xtime(xtime(column[4] ^ column[12]));
        column[0] ^= evenRows;
        column[8] ^= evenRows;
        column[4] ^= oddRows;
        column[12] ^= oddRows;
        mixColumn(column);
    }
}

// The rounds run on a local block, which the compiler can keep in registers; the state member
// receives the finished block.
void AesCipher::encryptBlock(const uchar *in, uchar *out)
{
    uchar block[16];
    loadState(block, in);
    addRoundKey(block, roundKey(0));
    for (int round = 1; round < Nr; ++round) {
        subBytes(block);
        shiftRows(block);
        mixColumns(block);
        addRoundKey(block, roundKey(round));
    }
    subBytes(block);
    shiftRows(block);
    addRoundKey(block, roundKey(Nr));
    std::memcpy(state, block, sizeof block);
    storeState(block, out);
}

void AesCipher::decryptBlock(const uchar *in, uchar *out)
{
    uchar block[16];
    loadState(block, in);
    addRoundKey(block, roundKey(Nr));
    for (int round = Nr - 1; round > 0; --round) {
        invShiftRows(block);
        invSubBytes(block);
        addRoundKey(block, roundKey(round));
        invMixColumns(block);
    }
    invShiftRows(block);
    invSubBytes(block);
    addRoundKey(block, roundKey(0));
    std::memcpy(state, block, sizeof block);
    storeState(block, out);
}

int aesEncrypt(AesCipher *cipher, const uchar *in, int length, uchar *out)
{
    if (!cipher || !cipher->isValid() || !in || !out)
        return -1;
    if (length > std::numeric_limits<int>::max() - 2 * AesCipher::blockSize)
        return -1;
    uchar lengthBlock[AesCipher::blockSize];
    for (int i = 0; i < lengthBlockCopies; ++i)
        writeLittleEndian32(length, lengthBlock + i * 4);

    int written = 0;
    int offset = 0;
    for (; length - offset >= AesCipher::blockSize; offset += AesCipher::blockSize) {
        cipher->encryptBlock(in + offset, out + written);
        written += AesCipher::blockSize;
    }
    const int rest = length - offset;
    if (rest > 0) {
        uchar lastBlock[AesCipher::blockSize] = {};
        std::memcpy(lastBlock, in + offset, size_t(rest));
        cipher->encryptBlock(lastBlock, out + written);
        written += AesCipher::blockSize;
    }
    cipher->encryptBlock(lengthBlock, out + written);
    return written + AesCipher::blockSize;
}

int aesDecrypt(AesCipher *cipher, const uchar *in, int length, uchar *out)
{
    if (!cipher || !cipher->isValid() || !in || !out)
        return -1;
    if (length <= 0 || length % AesCipher::blockSize != 0)
        return -1;
    for (int offset = 0; offset < length; offset += AesCipher::blockSize)
        cipher->decryptBlock(in + offset, out + offset);

    // The length block is the only integrity check: its four copies must agree, and the length
    // must fit in the data before it.
    const uchar *lengthBlock = out + length - AesCipher::blockSize;
    const qint32 plainLength = readLittleEndian32(lengthBlock);
    for (int i = 1; i < lengthBlockCopies; ++i) {
        if (readLittleEndian32(lengthBlock + i * 4) != plainLength)
            return -1;
    }
    if (plainLength < 0 || plainLength > length - AesCipher::blockSize)
        return -1;
    return plainLength;
}

QByteArray encryptBytes(const QByteArray &plain, const QByteArray &key)
{
    if (!AesCipher::isValidKeyLength(key.size()))
        return QByteArray();
    if (plain.size() > std::numeric_limits<int>::max() - 2 * AesCipher::blockSize)
        return QByteArray();
    AesCipher cipher(key.size(), reinterpret_cast<const uchar *>(key.constData()));
    QByteArray result(plain.size() + 2 * AesCipher::blockSize, Qt::Uninitialized);
    QByteArray scrambled;
    scrambleBytes(plain, scrambled);
    const int written = aesEncrypt(&cipher, reinterpret_cast<const uchar *>(scrambled.constData()),
        scrambled.size(), reinterpret_cast<uchar *>(result.data()));
    if (written < 0)
        return QByteArray();
    result.truncate(written);
    return result;
}

QByteArray decryptBytes(const QByteArray &cipherText, const QByteArray &key)
{
    if (!AesCipher::isValidKeyLength(key.size()) || cipherText.isEmpty())
        return QByteArray();
    AesCipher cipher(key.size(), reinterpret_cast<const uchar *>(key.constData()));
    QByteArray work(cipherText.size(), Qt::Uninitialized);
    const int plainLength = aesDecrypt(&cipher, reinterpret_cast<const uchar *>(cipherText.constData()),
        cipherText.size(), reinterpret_cast<uchar *>(work.data()));
    if (plainLength < 0)
        return QByteArray();
    work.truncate(plainLength);
    QByteArray result;
    unscrambleBytes(work, result);
    return result;
}

static uchar xorOfBytes(const QByteArray &bytes)
{
    const uchar *data = reinterpret_cast<const uchar *>(bytes.constData());
    uchar seed = 0;
    for (int i = 0, n = bytes.size(); i < n; ++i)
        seed ^= data[i];
    return seed;
}

void makePermutation(int seed, int n, uchar *table)
{
    if (!table || n <= 0 || n > scrambleChunk)
        return;
    for (int i = 0; i < n; ++i)
        table[i] = uchar(i);
    int pos = seed & 0xff;
    for (int k = 0; k < n; ++k) {
        pos = ((pos + 1) * 17) % n;
        std::swap(table[k], table[pos]);
    }
}

void scatterBytes(const QByteArray &in, QByteArray &out, const uchar *chunkTable, const uchar *tailTable)
{
    const int length = in.size();
    out.resize(length);
    if (length == 0)
        return;
    const char *src = in.constData();
    char *dst = out.data();
    const int chunks = length / scrambleChunk;
    const int tail = length % scrambleChunk;
    for (int c = 0; c < chunks; ++c) {
        const int base = c * scrambleChunk;
        for (int j = 0; j < scrambleChunk; ++j)
            dst[base + chunkTable[j]] = src[base + j];
    }
    const int base = chunks * scrambleChunk;
    for (int j = 0; j < tail; ++j)
        dst[base + tailTable[j]] = src[base + j];
}

// The 256-entry table for full chunks and the table for the tail of an input of the given length.
static void makeTables(uchar seed, int length, uchar *chunkTable, uchar *tailTable)
{
    makePermutation(seed, scrambleChunk, chunkTable);
    makePermutation(seed, length % scrambleChunk, tailTable);
}

static void invertPermutation(const uchar *table, int n, uchar *inverse)
{
    for (int j = 0; j < n; ++j)
        inverse[table[j]] = uchar(j);
}

void scrambleBytes(const QByteArray &in, QByteArray &out)
{
    uchar chunkTable[scrambleChunk];
    uchar tailTable[scrambleChunk];
    makeTables(xorOfBytes(in), in.size(), chunkTable, tailTable);
    scatterBytes(in, out, chunkTable, tailTable);
}

// A permutation keeps the XOR of all bytes, so the scrambled bytes give back the original seed.
void unscrambleBytes(const QByteArray &in, QByteArray &out)
{
    uchar chunkTable[scrambleChunk];
    uchar tailTable[scrambleChunk];
    makeTables(xorOfBytes(in), in.size(), chunkTable, tailTable);
    uchar inverseChunk[scrambleChunk];
    uchar inverseTail[scrambleChunk];
    invertPermutation(chunkTable, scrambleChunk, inverseChunk);
    invertPermutation(tailTable, in.size() % scrambleChunk, inverseTail);
    scatterBytes(in, out, inverseChunk, inverseTail);
}
