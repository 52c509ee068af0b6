// Password cipher target of fuzz_runner: a model of the stored format
// (Base64 rules, DES-ECB under the fixed key, PKCS #5), mutations of stored
// texts, and one case: DecryptPassword of the mutated text and
// EncryptPassword of random bytes, with buffers in front of no-access pages.
#pragma once
#include "cipher.h"
#include "fuzz_common.h"
#include "mbedtls/des.h"

namespace fuzz {

const size_t kGuardBytes = 16;
const BYTE kGuard = 0xA5, kFill = 0x5A;

// The stored format's model: DES-ECB with the key "mervo273", PKCS #5,
// Base64 with "=" allowed in the third and fourth place of a group.
class CipherModel {
public:
    CipherModel()
    {
        static const unsigned char abKey[8] = {'m', 'e', 'r', 'v', 'o', '2', '7', '3'};
        mbedtls_des_init(&m_enc);
        mbedtls_des_init(&m_dec);
        mbedtls_des_setkey_enc(&m_enc, abKey);
        mbedtls_des_setkey_dec(&m_dec, abKey);
    }
    ~CipherModel()
    {
        mbedtls_des_free(&m_enc);
        mbedtls_des_free(&m_dec);
    }

    std::string Encrypt(const Bytes& plain)
    {
        Bytes b = plain;
        const size_t nPad = 8 - plain.size() % 8;
        b.insert(b.end(), nPad, (BYTE)nPad);
        for (size_t i = 0; i < b.size(); i += 8)
            mbedtls_des_crypt_ecb(&m_enc, b.data() + i, b.data() + i);
        return Base64(b);
    }

    static std::string Base64(const Bytes& b)
    {
        std::string s;
        for (size_t i = 0; i < b.size(); i += 3) {
            const size_t n = std::min<size_t>(3, b.size() - i);
            uint32_t u = 0;
            for (size_t k = 0; k < 3; ++k)
                u = (u << 8) | (k < n ? b[i + k] : 0);
            for (size_t k = 0; k < 4; ++k)
                s += k <= n ? kB64Chars[(u >> (18 - 6 * k)) & 0x3F] : '=';
        }
        return s;
    }

    // Result code and plain bytes that DecryptPassword must give.
    int Decrypt(const std::string& strText, DWORD dwCap, Bytes& plain)
    {
        plain.clear();
        if (strText.empty())
            return CIPHER_ERR_MEMORY;
        if (strText.size() % 4 != 0)
            return CIPHER_ERR_BASE64;
        Bytes dec;
        for (size_t i = 0; i < strText.size(); i += 4) {
            uint32_t u = 0;
            size_t nBytes = 3;
            for (size_t k = 0; k < 4; ++k) {
                const char ch = strText[i + k];
                const char* p = ch ? strchr(kB64Chars, ch) : NULL;
                if (ch == '=' && k >= 2) {
                    --nBytes;
                    u <<= 6;
                } else if (p) {
                    u = (u << 6) | (uint32_t)(p - kB64Chars);
                } else {
                    return CIPHER_ERR_BASE64;
                }
            }
            for (size_t k = 0; k < nBytes; ++k)
                dec.push_back((BYTE)(u >> (16 - 8 * k)));
        }
        if (dec.size() > (uint64_t)(dwCap & ~7u) + 8 || dec.size() % 8 != 0)
            return CIPHER_ERR_LENGTH;
        for (size_t i = 0; i < dec.size(); i += 8)
            mbedtls_des_crypt_ecb(&m_dec, dec.data() + i, dec.data() + i);
        const size_t nPad = dec.back();
        if (nPad > dec.size() || dec.size() - nPad > dwCap)
            return CIPHER_ERR_LENGTH;
        plain.assign(dec.begin(), dec.end() - (ptrdiff_t)nPad);
        return CIPHER_OK;
    }

private:
    mbedtls_des_context m_enc, m_dec;
};

inline void MutateCipherText(Bytes& b, FuzzRng& rng, CipherModel& model)
{
    switch (rng.Below(8)) {
    case 0:
        if (!b.empty())
            b[rng.Below((uint32_t)b.size())] = (BYTE)kB64Chars[rng.Below(64)];
        break;
    case 1: fuzzmut::InsertToken(b, rng, rng.OneIn(2) ? "=" : "=="); break;
    case 2: {
        const char* const aOdd[] = {" ", "\t", "\r\n", "-", "_", ".", "*", "\x80", "\xFF", ",", "\"", "\x01"};
        const std::string s = aOdd[rng.Below(12)];
        if (!b.empty() && rng.OneIn(2))
            b[rng.Below((uint32_t)b.size())] = (BYTE)s[0];
        else
            fuzzmut::InsertToken(b, rng, s);
        break;
    }
    case 3:
        for (int i = 0; i < 4; ++i)
            b.push_back((BYTE)(rng.OneIn(8) ? '=' : kB64Chars[rng.Below(64)]));
        break;
    case 4: b.resize(b.size() / 4 * 4 + (rng.OneIn(4) ? 4 : 0), 'A'); break;
    case 5: b.insert(b.end(), b.begin(), b.end()); break;
    default: {
        // A well-formed text of random ciphertext, so that decryption and
        // the padding rules are reached and not only the Base64 checks.
        Bytes raw(rng.OneIn(4) ? rng.Range(0, 200) : 8 * rng.Range(1, 26));
        for (BYTE& x : raw)
            x = rng.Byte();
        if (rng.OneIn(2)) {
            // Ciphertext whose last block decrypts to a chosen padding byte.
            Bytes plain(raw.size() >= 8 ? raw.size() - 8 + rng.Below(8) : rng.Below(8));
            for (BYTE& x : plain)
                x = rng.Byte();
            std::string strText = model.Encrypt(plain);
            b.assign(strText.begin(), strText.end());
        } else {
            std::string strText = CipherModel::Base64(raw);
            b.assign(strText.begin(), strText.end());
        }
        break;
    }
    }
}

struct CipherSetup {
    GuardedArea* pText;
    GuardedArea* pOut;
    GuardedArea* pPlain;
    CipherModel* pModel;
};

inline void RunCipherCase(const CipherSetup& cs, const std::string& strCaseName, Bytes input, FuzzRng& rng, bool bMutate,
                   const std::vector<Bytes>& seeds, Stats& st)
{
    if (bMutate) {
        const uint32_t nRounds = rng.Range(1, 4);
        for (uint32_t i = 0; i < nRounds; ++i) {
            if (rng.OneIn(3))
                fuzzmut::MutateOnce(input, seeds, rng);
            else
                MutateCipherText(input, rng, *cs.pModel);
        }
        if (input.size() > 3000)
            input.resize(3000);
    }
    // The text as a C string: up to the first zero byte, in front of the
    // no-access page.
    const std::string strText((const char*)input.data(), strnlen((const char*)input.data(), input.size()));
    char* pszText = (char*)cs.pText->Tail(strText.size() + 1);
    memcpy(pszText, strText.c_str(), strText.size() + 1);

    // Decryption: capacity 0..200, zero-filled, guard bytes behind it.
    const DWORD dwCap = bMutate ? rng.Range(0, 200) : 128;
    SetCurrent(strCaseName, input, "decrypt capacity=%lu", (unsigned long)dwCap);
    BYTE* pbOut = cs.pOut->Tail(dwCap + kGuardBytes);
    memset(pbOut, 0, dwCap);
    memset(pbOut + dwCap, kGuard, kGuardBytes);
    DWORD dwLen = dwCap;
    double dT0 = Seconds();
    const int nRes = DecryptPassword(pbOut, &dwLen, pszText);
    st.dTargetSeconds += Seconds() - dT0;
    Bytes want;
    const int nWant = cs.pModel->Decrypt(strText, dwCap, want);
    st.hist["decrypt " + std::to_string(nRes)]++;
    bool bGuard = true;
    for (size_t i = 0; i < kGuardBytes; ++i)
        bGuard = bGuard && pbOut[dwCap + i] == kGuard;
    if (!bGuard)
        Finding(st, "guard", "DecryptPassword wrote past the capacity", input);
    if (nRes != CIPHER_OK && nRes != CIPHER_ERR_MEMORY && nRes != CIPHER_ERR_BASE64 && nRes != CIPHER_ERR_LENGTH) {
        Finding(st, "result", "DecryptPassword returned " + std::to_string(nRes), input);
    } else if (nRes != nWant) {
        Finding(st, "mismatch",
                "DecryptPassword returned " + std::to_string(nRes) + ", the format says " + std::to_string(nWant),
                input);
    } else if (nRes == CIPHER_OK) {
        if (dwLen > dwCap || dwLen != want.size() || memcmp(pbOut, want.data(), want.size()) != 0)
            Finding(st, "plain", "DecryptPassword gave other bytes than the format (" + Hex(want, 32) + ")", input);
        for (size_t i = dwLen; i < dwCap && i < 4096; ++i) {
            if (pbOut[i] != 0) {
                Finding(st, "plain", "DecryptPassword wrote behind the plain bytes", input);
                break;
            }
        }
    } else {
        bool bZero = dwLen == dwCap;
        for (size_t i = 0; i < dwCap; ++i)
            bZero = bZero && pbOut[i] == 0;
        if (!bZero)
            Finding(st, "plain", "DecryptPassword changed the output on failure", input);
    }
    if (!bMutate)
        return;

    // Encryption of random bytes into 0..200 bytes of output.
    Bytes plain(rng.OneIn(4) ? want.size() : rng.Range(0, 100));
    for (BYTE& x : plain)
        x = rng.Byte();
    if (plain.size() == want.size())
        plain = want;
    const DWORD dwOutSize = rng.Range(0, 200);
    SetCurrent(strCaseName, plain, "encrypt output=%lu", (unsigned long)dwOutSize);
    BYTE* pbPlain = cs.pPlain->Tail(plain.size());
    if (!plain.empty())
        memcpy(pbPlain, plain.data(), plain.size());
    char* pszOut = (char*)cs.pOut->Tail(dwOutSize + kGuardBytes);
    memset(pszOut, kFill, dwOutSize);
    memset(pszOut + dwOutSize, kGuard, kGuardBytes);
    dT0 = Seconds();
    const int nEnc = EncryptPassword(pszOut, dwOutSize, pbPlain, (DWORD)plain.size());
    st.dTargetSeconds += Seconds() - dT0;
    st.hist["encrypt " + std::to_string(nEnc)]++;
    const size_t nPadded = (plain.size() & ~(size_t)7) + 8;
    const int nEncWant = nPadded / 3 * 4 + 4 >= dwOutSize ? CIPHER_ERR_OUTPUT : CIPHER_OK;
    bGuard = true;
    for (size_t i = 0; i < kGuardBytes; ++i)
        bGuard = bGuard && (BYTE)pszOut[dwOutSize + i] == kGuard;
    if (!bGuard)
        Finding(st, "guard", "EncryptPassword wrote past the output size", plain);
    if (nEnc != nEncWant) {
        Finding(st, "mismatch",
                "EncryptPassword returned " + std::to_string(nEnc) + ", the format says " + std::to_string(nEncWant),
                plain);
    } else if (nEnc == CIPHER_OK) {
        const std::string strWant = cs.pModel->Encrypt(plain);
        const size_t nGot = strnlen(pszOut, dwOutSize);
        if (nGot >= dwOutSize || std::string(pszOut, nGot) != strWant) {
            Finding(st, "text", "EncryptPassword gave another text than " + strWant, plain);
        } else {
            for (size_t i = nGot + 1; i < dwOutSize; ++i) {
                if ((BYTE)pszOut[i] != kFill) {
                    Finding(st, "text", "EncryptPassword wrote behind the terminator", plain);
                    break;
                }
            }
            // And back: the text decrypts to the bytes, with a capacity of
            // exactly their count.
            BYTE* pbBack = cs.pPlain->Tail(plain.size() + 1);
            memset(pbBack, 0, plain.size() + 1);
            DWORD dwBack = (DWORD)plain.size();
            if (DecryptPassword(pbBack, &dwBack, strWant.c_str()) != CIPHER_OK || dwBack != plain.size() ||
                (!plain.empty() && memcmp(pbBack, plain.data(), plain.size()) != 0))
                Finding(st, "roundtrip", "the text does not decrypt back to the bytes", plain);
        }
    } else {
        for (size_t i = 0; i < dwOutSize; ++i) {
            if ((BYTE)pszOut[i] != kFill) {
                Finding(st, "text", "EncryptPassword changed the output on failure", plain);
                break;
            }
        }
    }
}

} // namespace fuzz
