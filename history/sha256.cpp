#include "sha256.h"

#include <QtEndian>

#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define QUILLET_SHA_EXTENSIONS
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

const quint32 initialState[8]
    = { 0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19 };

#ifdef QUILLET_SHA_EXTENSIONS

alignas(16) const quint32 roundConstants[64] = {
    0x428a2f98,
    0x71374491,
    0xb5c0fbcf,
    0xe9b5dba5,
    0x3956c25b,
    0x59f111f1,
    0x923f82a4,
    0xab1c5ed5,
    0xd807aa98,
    0x12835b01,
    0x243185be,
    0x550c7dc3,
    0x72be5d74,
    0x80deb1fe,
    0x9bdc06a7,
    0xc19bf174,
    0xe49b69c1,
    0xefbe4786,
    0x0fc19dc6,
    0x240ca1cc,
    0x2de92c6f,
    0x4a7484aa,
    0x5cb0a9dc,
    0x76f988da,
    0x983e5152,
    0xa831c66d,
    0xb00327c8,
    0xbf597fc7,
    0xc6e00bf3,
    0xd5a79147,
    0x06ca6351,
    0x14292967,
    0x27b70a85,
    0x2e1b2138,
    0x4d2c6dfc,
    0x53380d13,
    0x650a7354,
    0x766a0abb,
    0x81c2c92e,
    0x92722c85,
    0xa2bfe8a1,
    0xa81a664b,
    0xc24b8b70,
    0xc76c51a3,
    0xd192e819,
    0xd6990624,
    0xf40e3585,
    0x106aa070,
    0x19a4c116,
    0x1e376c08,
    0x2748774c,
    0x34b0bcb5,
    0x391c0cb3,
    0x4ed8aa4a,
    0x5b9cca4f,
    0x682e6ff3,
    0x748f82ee,
    0x78a5636f,
    0x84c87814,
    0x8cc70208,
    0x90befffa,
    0xa4506ceb,
    0xbef9a3f7,
    0xc67178f2,
};

// SHA, SSSE3 and SSE4.1, as CPUID reports them.
bool hasShaExtensions()
{
    unsigned int a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const bool ssse3 = c & (1u << 9);
    const bool sse41 = c & (1u << 19);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return false;
    return ssse3 && sse41 && (b & (1u << 29));
}

// The state is kept as the instructions want it: ABEF in one register, CDGH in the other.
// Each group of four rounds takes four message words; from the fifth group on they are
// worked out from the groups before with the message-schedule instructions.
__attribute__((target("sha,ssse3,sse4.1"))) void compressBlocks(
    quint32 state[8], const unsigned char *data, qint64 count)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(&state[0])), 0xB1);
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(&state[4])), 0x1B);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);

    for (qint64 block = 0; block < count; ++block, data += 64) {
        const __m128i abefSaved = state0;
        const __m128i cdghSaved = state1;
        __m128i words[16];
        for (int group = 0; group < 16; ++group) {
            if (group < 4) {
                words[group] = _mm_shuffle_epi8(
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * group)), byteSwap);
            } else {
                __m128i next = _mm_sha256msg1_epu32(words[group - 4], words[group - 3]);
                next = _mm_add_epi32(next, _mm_alignr_epi8(words[group - 1], words[group - 2], 4));
                words[group] = _mm_sha256msg2_epu32(next, words[group - 1]);
            }
            __m128i message = _mm_add_epi32(
                words[group], _mm_load_si128(reinterpret_cast<const __m128i *>(&roundConstants[4 * group])));
            state1 = _mm_sha256rnds2_epu32(state1, state0, message);
            message = _mm_shuffle_epi32(message, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, message);
        }
        state0 = _mm_add_epi32(state0, abefSaved);
        state1 = _mm_add_epi32(state1, cdghSaved);
    }

    tmp = _mm_shuffle_epi32(state0, 0x1B);
    state1 = _mm_shuffle_epi32(state1, 0xB1);
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);
    state1 = _mm_alignr_epi8(state1, tmp, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(&state[0]), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(&state[4]), state1);
}

#endif

} // namespace

bool Sha256::isAccelerated()
{
#ifdef QUILLET_SHA_EXTENSIONS
    static const bool supported = hasShaExtensions();
    return supported;
#else
    return false;
#endif
}

Sha256::Sha256()
{
    if (!isAccelerated())
        m_fallback.reset(new QCryptographicHash(QCryptographicHash::Sha256));
    std::memcpy(m_state, initialState, sizeof m_state);
}

Sha256::~Sha256() = default;

void Sha256::compress(const unsigned char *blocks, qint64 count)
{
#ifdef QUILLET_SHA_EXTENSIONS
    compressBlocks(m_state, blocks, count);
#else
    Q_UNUSED(blocks)
    Q_UNUSED(count)
#endif
}

void Sha256::addData(const char *data, qint64 size)
{
    if (m_fallback) {
        m_fallback->addData(data, int(size));
        return;
    }
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    m_length += quint64(size);
    if (m_buffered > 0) {
        const int taken = int(qMin<qint64>(64 - m_buffered, size));
        std::memcpy(m_buffer + m_buffered, bytes, size_t(taken));
        m_buffered += taken;
        bytes += taken;
        size -= taken;
        if (m_buffered < 64)
            return;
        compress(m_buffer, 1);
        m_buffered = 0;
    }
    compress(bytes, size / 64);
    bytes += size / 64 * 64;
    m_buffered = int(size % 64);
    std::memcpy(m_buffer, bytes, size_t(m_buffered));
}

// The padding: a 1 bit, zeros, and the length in bits, big-endian, ending a block.
QByteArray Sha256::result()
{
    if (m_fallback)
        return m_fallback->result();
    unsigned char tail[128] = {};
    std::memcpy(tail, m_buffer, size_t(m_buffered));
    tail[m_buffered] = 0x80;
    const int tailBlocks = m_buffered < 56 ? 1 : 2;
    qToBigEndian<quint64>(m_length * 8, tail + 64 * tailBlocks - 8);
    quint32 state[8];
    std::memcpy(state, m_state, sizeof state);
#ifdef QUILLET_SHA_EXTENSIONS
    compressBlocks(state, tail, tailBlocks);
#endif
    QByteArray digest(32, Qt::Uninitialized);
    for (int i = 0; i < 8; ++i)
        qToBigEndian<quint32>(state[i], digest.data() + 4 * i);
    return digest;
}
