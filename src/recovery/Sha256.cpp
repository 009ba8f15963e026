// SHA-256 as FIPS 180-4 gives it: 64-byte blocks, the message padded with 0x80, zeros and its
// bit length.
#include "recovery/Sha256.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define ORL_SHA_NI 1
#else
#define ORL_SHA_NI 0
#endif

namespace
{
constexpr u32 kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr u32 Rotr(u32 x, u32 n)
{
    return (x >> n) | (x << (32 - n));
}

u32 LoadBe32(const u8* p)
{
    return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) |
           (static_cast<u32>(p[2]) << 8) | p[3];
}

std::atomic<bool> g_portableOnly{false};

#if ORL_SHA_NI
// The rounds of one block through the x86 SHA extensions, several times the speed of the
// portable rounds: the digest of a file with holes of gigabytes is bound by them. The state is
// held as ABEF and CDGH; each group of four rounds adds its constants to four message words,
// and the message words of later groups are made four at a time.
__attribute__((target("sha,sse4.1,ssse3"))) void BlockShaNi(u32* state, const u8* block)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)),
                                    0xB1); // CDAB
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)),
                                       0x1B);         // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8); // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);      // CDGH
    const __m128i abefSaved = state0;
    const __m128i cdghSaved = state1;
    __m128i w[4];
    for (int i = 0; i < 4; ++i)
        w[i] = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + std::ptrdiff_t{16} * i)),
            byteSwap);
    for (int g = 0; g < 16; ++g)
    {
        __m128i msg = _mm_add_epi32(w[g % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                  kRound + std::ptrdiff_t{4} * g)));
        state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
        if (g >= 3 && g <= 14)
        {
            // The words of group g + 1.
            __m128i& next = w[(g + 1) % 4];
            next = _mm_add_epi32(next, _mm_alignr_epi8(w[g % 4], w[(g + 3) % 4], 4));
            next = _mm_sha256msg2_epu32(next, w[g % 4]);
        }
        msg = _mm_shuffle_epi32(msg, 0x0E);
        state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
        if (g >= 1 && g <= 12)
            w[(g + 3) % 4] = _mm_sha256msg1_epu32(w[(g + 3) % 4], w[g % 4]);
    }
    state0 = _mm_add_epi32(state0, abefSaved);
    state1 = _mm_add_epi32(state1, cdghSaved);
    tmp = _mm_shuffle_epi32(state0, 0x1B);       // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);    // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0); // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);    // ABEF
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}

bool HasShaNi()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_SSE4_1) == 0 || (c & bit_SSSE3) == 0)
        return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 && (b & bit_SHA) != 0;
}

const bool kShaNi = HasShaNi();
#endif
} // namespace

void Sha256PortableRoundsOnly(bool portable)
{
    g_portableOnly.store(portable, std::memory_order_relaxed);
}

Sha256::Sha256()
    : m_state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}
{
}

void Sha256::Block(const u8* block)
{
#if ORL_SHA_NI
    if (kShaNi && !g_portableOnly.load(std::memory_order_relaxed))
    {
        BlockShaNi(m_state.data(), block);
        return;
    }
#endif
    u32 w[64];
    for (u32 i = 0; i < 16; ++i)
        w[i] = LoadBe32(block + static_cast<std::size_t>(i) * 4);
    for (u32 i = 16; i < 64; ++i)
    {
        const u32 s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const u32 s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    u32 a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    u32 e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (u32 i = 0; i < 64; ++i)
    {
        const u32 t1 =
            h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const u32 t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void Sha256::Update(const u8* data, u64 count)
{
    m_totalBytes += count;
    while (count > 0)
    {
        if (m_pendingBytes == 0 && count >= 64)
        {
            Block(data);
            data += 64;
            count -= 64;
            continue;
        }
        const u32 take =
            static_cast<u32>(count < 64 - m_pendingBytes ? count : 64 - m_pendingBytes);
        std::memcpy(m_pending.data() + m_pendingBytes, data, take);
        m_pendingBytes += take;
        data += take;
        count -= take;
        if (m_pendingBytes == 64)
        {
            Block(m_pending.data());
            m_pendingBytes = 0;
        }
    }
}

std::string Sha256::HexDigest()
{
    const u64 bits = m_totalBytes * 8;
    u8 tail[72] = {0x80};
    const u32 padding = (m_pendingBytes < 56 ? 56 : 120) - m_pendingBytes;
    for (u32 i = 0; i < 8; ++i)
        tail[padding + i] = static_cast<u8>(bits >> (56 - 8 * i));
    Update(tail, padding + 8);
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const u32 word : m_state)
        for (int shift = 28; shift >= 0; shift -= 4)
            hex += kHex[(word >> shift) & 15];
    return hex;
}

void Sha256::UpdateZeros(u64 count)
{
    static constexpr u8 kZeros[4096] = {};
    while (count > 0)
    {
        const u64 take = count < sizeof kZeros ? count : sizeof kZeros;
        Update(kZeros, take);
        count -= take;
    }
}

namespace
{
// Where the next data at or after at begins in fd: at itself when the file system cannot tell
// holes, size when only a hole follows.
u64 NextData(int fd, u64 at, u64 size)
{
    const off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
    if (data >= 0)
        return std::min<u64>(static_cast<u64>(data), size);
    return errno == ENXIO ? size : at;
}

// Where the data that begins at at ends (the next hole), at most size.
u64 NextHole(int fd, u64 at, u64 size)
{
    const off_t hole = ::lseek(fd, static_cast<off_t>(at), SEEK_HOLE);
    return hole > static_cast<off_t>(at) ? std::min<u64>(static_cast<u64>(hole), size) : size;
}
} // namespace

std::string DigestOfFile(int fd, u8* buffer, u64 room, u64* bytesRead,
                         const std::function<bool()>& running)
{
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0 || room == 0)
        return std::string();
    const u64 size = static_cast<u64>(st.st_size);
    Sha256 sha;
    u64 readBytes = 0;
    for (u64 at = 0; at < size;)
    {
        if (running && !running())
            return std::string();
        // A hole: its zeros go to the digest without a read.
        const u64 data = NextData(fd, at, size);
        if (data > at)
        {
            const u64 zeros = std::min<u64>(data - at, u64{1} << 26);
            sha.UpdateZeros(zeros);
            at += zeros;
            continue;
        }
        const u64 end = NextHole(fd, at, size);
        while (at < end)
        {
            const u64 want = std::min(room, end - at);
            const ssize_t got = ::pread(fd, buffer, want, static_cast<off_t>(at));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return std::string();
            sha.Update(buffer, static_cast<u64>(got));
            at += static_cast<u64>(got);
            readBytes += static_cast<u64>(got);
        }
    }
    if (bytesRead != nullptr)
        *bytesRead = readBytes;
    return sha.HexDigest();
}
