// Mutation engine of fuzz_runner: a seeded, deterministic generator and the
// byte-level mutations every target shares. A case is fully determined by
// the run's seed and the case number, so any case can be replayed alone.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <string.h>
#include <string>
#include <vector>

typedef std::vector<BYTE> Bytes;

// SplitMix64: tiny, fast, and the same sequence on every build and platform.
class FuzzRng {
public:
    explicit FuzzRng(uint64_t ullSeed) : m_ullState(ullSeed) {}
    uint64_t Next()
    {
        uint64_t z = (m_ullState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1 (0 when n is 0).
    uint32_t Below(uint32_t n) { return n ? (uint32_t)(Next() % n) : 0; }
    // lo .. hi inclusive.
    uint32_t Range(uint32_t lo, uint32_t hi) { return lo + Below(hi - lo + 1); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    BYTE Byte() { return (BYTE)Next(); }

private:
    uint64_t m_ullState;
};

// The generator of one case: independent of every other case of the run.
inline FuzzRng CaseRng(uint64_t ullSeed, uint64_t ullCase)
{
    FuzzRng mix(ullSeed * 0xD1B54A32D192ED03ull + ullCase);
    return FuzzRng(mix.Next() ^ (ullCase << 32));
}

namespace fuzzmut {

const BYTE kInteresting8[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0x20, 0x3C, 0x3E};
const uint32_t kInteresting32[] = {0u, 1u, 2u, 3u, 4u, 7u, 8u, 11u, 16u, 17u, 63u, 64u, 65u, 127u, 128u,
                                   255u, 256u, 259u, 260u, 4095u, 4096u, 4097u, 65535u, 65536u,
                                   0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFF7u, 0xFFFFFFF8u,
                                   0xFFFFFFEFu, 0xFFFF0000u};

inline uint32_t Interesting32(FuzzRng& rng)
{
    return kInteresting32[rng.Below(sizeof(kInteresting32) / sizeof(kInteresting32[0]))];
}

inline void FlipBit(Bytes& b, FuzzRng& rng)
{
    if (!b.empty())
        b[rng.Below((uint32_t)b.size())] ^= (BYTE)(1u << rng.Below(8));
}

inline void SetInteresting8(Bytes& b, FuzzRng& rng)
{
    if (!b.empty())
        b[rng.Below((uint32_t)b.size())] = kInteresting8[rng.Below(sizeof(kInteresting8))];
}

inline void SetRandomByte(Bytes& b, FuzzRng& rng)
{
    if (!b.empty())
        b[rng.Below((uint32_t)b.size())] = rng.Byte();
}

inline void InsertBytes(Bytes& b, size_t nPos, const void* pv, size_t cb)
{
    const BYTE* pb = (const BYTE*)pv;
    b.insert(b.begin() + (ptrdiff_t)(nPos > b.size() ? b.size() : nPos), pb, pb + cb);
}

inline void InsertToken(Bytes& b, FuzzRng& rng, const std::string& strToken)
{
    InsertBytes(b, rng.Below((uint32_t)b.size() + 1), strToken.data(), strToken.size());
}

// Random bytes, or one byte repeated, at a random place.
inline void InsertRandom(Bytes& b, FuzzRng& rng, uint32_t nMax)
{
    Bytes add(rng.Range(1, nMax));
    const bool bRepeat = rng.OneIn(2);
    const BYTE bFill = rng.Byte();
    for (BYTE& x : add)
        x = bRepeat ? bFill : rng.Byte();
    InsertBytes(b, rng.Below((uint32_t)b.size() + 1), add.data(), add.size());
}

inline void DeleteRange(Bytes& b, FuzzRng& rng)
{
    if (b.empty())
        return;
    const uint32_t nPos = rng.Below((uint32_t)b.size());
    uint32_t nLen = rng.OneIn(4) ? rng.Range(1, 64) : rng.Range(1, 4);
    if (nLen > b.size() - nPos)
        nLen = (uint32_t)(b.size() - nPos);
    b.erase(b.begin() + nPos, b.begin() + nPos + nLen);
}

// A chunk of the input copied to another place of it.
inline void DuplicateChunk(Bytes& b, FuzzRng& rng)
{
    if (b.empty())
        return;
    const uint32_t nPos = rng.Below((uint32_t)b.size());
    uint32_t nLen = rng.Range(1, 256);
    if (nLen > b.size() - nPos)
        nLen = (uint32_t)(b.size() - nPos);
    Bytes chunk(b.begin() + nPos, b.begin() + nPos + nLen);
    const uint32_t nCopies = rng.OneIn(8) ? rng.Range(2, 16) : 1;
    const uint32_t nAt = rng.Below((uint32_t)b.size() + 1);
    for (uint32_t i = 0; i < nCopies; ++i)
        InsertBytes(b, nAt, chunk.data(), chunk.size());
}

// The head of this input with the tail of another seed.
inline void Splice(Bytes& b, const Bytes& other, FuzzRng& rng)
{
    const size_t nCut = rng.Below((uint32_t)b.size() + 1);
    const size_t nFrom = rng.Below((uint32_t)other.size() + 1);
    b.resize(nCut);
    b.insert(b.end(), other.begin() + (ptrdiff_t)nFrom, other.end());
}

// A piece of another seed inserted at a random place.
inline void InsertFrom(Bytes& b, const Bytes& other, FuzzRng& rng)
{
    if (other.empty())
        return;
    const uint32_t nFrom = rng.Below((uint32_t)other.size());
    uint32_t nLen = rng.Range(1, 512);
    if (nLen > other.size() - nFrom)
        nLen = (uint32_t)(other.size() - nFrom);
    InsertBytes(b, rng.Below((uint32_t)b.size() + 1), other.data() + nFrom, nLen);
}

inline void Truncate(Bytes& b, FuzzRng& rng)
{
    if (!b.empty())
        b.resize(rng.Below((uint32_t)b.size()));
}

inline void Put32(Bytes& b, size_t nPos, uint32_t u)
{
    for (int i = 0; i < 4 && nPos + i < b.size(); ++i)
        b[nPos + i] = (BYTE)(u >> (8 * i));
}

inline uint32_t Get32(const Bytes& b, size_t nPos)
{
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= (uint32_t)b[nPos + i] << (8 * i);
    return u;
}

// One of the mutations above, chosen at random; the seeds feed splicing.
inline void MutateOnce(Bytes& b, const std::vector<Bytes>& seeds, FuzzRng& rng)
{
    switch (rng.Below(10)) {
    case 0: FlipBit(b, rng); break;
    case 1: SetInteresting8(b, rng); break;
    case 2: SetRandomByte(b, rng); break;
    case 3: InsertRandom(b, rng, rng.OneIn(8) ? 512 : 8); break;
    case 4: DeleteRange(b, rng); break;
    case 5: DuplicateChunk(b, rng); break;
    case 6: Splice(b, seeds[rng.Below((uint32_t)seeds.size())], rng); break;
    case 7: InsertFrom(b, seeds[rng.Below((uint32_t)seeds.size())], rng); break;
    case 8: if (rng.OneIn(4)) Truncate(b, rng); else FlipBit(b, rng); break;
    default:
        if (b.size() >= 4)
            Put32(b, rng.Below((uint32_t)b.size() - 3), Interesting32(rng));
        break;
    }
}

} // namespace fuzzmut
