// A tiny container encoder of the tests' own, written from the byte layout
// and independent of utl_FilePack, so that the writer and the reader cannot
// share a mistake: header magic, then records of a plain 32-bit name length,
// a plain 32-bit data length, the name and the content, every byte but the
// length fields negated.
#pragma once
#include <stdint.h>
#include <string>

namespace kp {

inline std::string Neg(const std::string& s)
{
    std::string out(s);
    for (char& c : out)
        c = (char)(unsigned char)(256u - (unsigned char)c);
    return out;
}

inline std::string Le32(uint32_t v)
{
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = (char)((v >> (8 * i)) & 0xFF);
    return out;
}

inline std::string Header() { return Neg(std::string("^-=Kavla=-^ Vorn ", 17)); }

// A record whose length fields may disagree with what follows them.
inline std::string RawRecord(uint32_t dwNameLen, uint32_t dwDataLen, const std::string& strName,
                             const std::string& strData)
{
    return Le32(dwNameLen) + Le32(dwDataLen) + Neg(strName) + Neg(strData);
}

inline std::string Record(const std::string& strName, const std::string& strData)
{
    return RawRecord((uint32_t)strName.size(), (uint32_t)strData.size(), strName, strData);
}

inline std::string EndMarker() { return Record("^Kavla_end^", ""); }

// Every byte value, repeated to the length asked for.
inline std::string Pattern(size_t nLen, unsigned nSeed = 0)
{
    std::string out(nLen, '\0');
    for (size_t i = 0; i < nLen; ++i)
        out[i] = (char)((i * 7 + nSeed + (i >> 8)) & 0xFF);
    return out;
}

} // namespace kp
