// Password cipher: DES as published, the stored texts other tools make for
// the same key, the length and capacity rules, and every refusal.
#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>
#include "cipher.h"
#include "mbedtls/des.h"

namespace {

std::vector<BYTE> FromHex(const char* pszHex)
{
    std::vector<BYTE> v;
    for (size_t i = 0; pszHex[i] && pszHex[i + 1]; i += 2)
        v.push_back((BYTE)std::stoul(std::string(pszHex + i, 2), nullptr, 16));
    return v;
}

std::string Encrypt(const std::string& strPlain, DWORD dwOutSize = 128, int* pnRet = nullptr)
{
    std::vector<char> out(dwOutSize + 1, '\x7f');
    int nRet = EncryptPassword(out.data(), dwOutSize, (const BYTE*)strPlain.data(), (DWORD)strPlain.size());
    if (pnRet)
        *pnRet = nRet;
    return nRet == CIPHER_OK ? std::string(out.data()) : std::string("<refused>");
}

// Decrypts with a capacity; returns the result code, the plain bytes in *pstr.
int Decrypt(const char* pszText, DWORD dwCapacity, std::string* pstr)
{
    std::vector<BYTE> buf(dwCapacity + 16, 0);
    DWORD dwLen = dwCapacity;
    int nRet = DecryptPassword(buf.data(), &dwLen, pszText);
    if (nRet == CIPHER_OK)
        *pstr = std::string((const char*)buf.data(), dwLen);
    return nRet;
}

// Raw DES-ECB under the program's key, to build ciphertexts the encoder
// would never produce (damaged padding).
std::string RawText(const std::vector<BYTE>& plain)
{
    mbedtls_des_context ctx;
    mbedtls_des_init(&ctx);
    const unsigned char key[8] = {'m', 'e', 'r', 'v', 'o', '2', '7', '3'};
    mbedtls_des_setkey_enc(&ctx, key);
    std::vector<BYTE> cipher(plain.size());
    for (size_t i = 0; i + 8 <= plain.size(); i += 8)
        mbedtls_des_crypt_ecb(&ctx, plain.data() + i, cipher.data() + i);
    mbedtls_des_free(&ctx);
    std::vector<char> text(utl_Base64TextLen(cipher.size()) + 1);
    utl_Base64Encode(text.data(), text.size(), cipher.data(), cipher.size());
    return text.data();
}

} // namespace

// The DES underneath is the published algorithm: known-answer vectors of
// FIPS 81, the classic worked example, and SP 800-17 variable-plaintext tests.
TEST(Des, PublishedKnownAnswers)
{
    struct { const char *pszKey, *pszPlain, *pszCipher; } const aVec[] = {
        {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},  // FIPS 81 "Now is t"
        {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},  // worked example
        {"0101010101010101", "8000000000000000", "95f8a5e5dd31d900"},  // SP 800-17 B.1
        {"0101010101010101", "4000000000000000", "dd7f121ca5015619"},
        {"0101010101010101", "0000000000000001", "166b40b44aba4bd6"},
        {"8001010101010101", "0000000000000000", "95a8d72813daa94d"},  // SP 800-17 B.2
    };
    for (const auto& v : aVec) {
        std::vector<BYTE> key = FromHex(v.pszKey), plain = FromHex(v.pszPlain), expect = FromHex(v.pszCipher);
        mbedtls_des_context enc, dec;
        mbedtls_des_init(&enc);
        mbedtls_des_init(&dec);
        ASSERT_EQ(0, mbedtls_des_setkey_enc(&enc, key.data()));
        ASSERT_EQ(0, mbedtls_des_setkey_dec(&dec, key.data()));
        BYTE out[8], back[8];
        mbedtls_des_crypt_ecb(&enc, plain.data(), out);
        mbedtls_des_crypt_ecb(&dec, out, back);
        EXPECT_EQ(0, memcmp(out, expect.data(), 8)) << v.pszKey << " " << v.pszPlain;
        EXPECT_EQ(0, memcmp(back, plain.data(), 8)) << v.pszKey << " " << v.pszPlain;
        mbedtls_des_free(&enc);
        mbedtls_des_free(&dec);
    }
}

// Stored texts made by OpenSSL (des-ecb, key 6d6572766f323733, PKCS #5) and
// base64: the program must produce and read exactly these.
TEST(StoredText, MatchesTextsOfAnIndependentTool)
{
    struct { std::string strPlain; const char* pszText; } const aVec[] = {
        {"", "xH+++jc2gE8="},
        {"a", "1pzaF3vhOT0="},
        {"abc", "M26MqW+1/1s="},
        {"1234567", "3oOpmxhlP/U="},
        {"12345678", "drqG4zl3YwLEf776NzaATw=="},
        {"Passw0rd!", "Hy3X7NB6rqc2/+1ZWmghPw=="},
        {"admin@2024#Kavla", "aEqjYa9br8/qoayvIEmeSMR/vvo3NoBP"},
        {"\xc4\xe3\xba\xc3", "8EZNoSA5Gmc="},
        {std::string(87, 'x'),
         "hktmF1Eyl76GS2YXUTKXvoZLZhdRMpe+hktmF1Eyl76GS2YXUTKXvoZLZhdRMpe+hktmF1Eyl76GS2YXUTKXvoZL"
         "ZhdRMpe+hktmF1Eyl76NeF914q323w=="},
    };
    for (const auto& v : aVec) {
        EXPECT_EQ(v.pszText, Encrypt(v.strPlain)) << v.strPlain;
        std::string strBack;
        EXPECT_EQ(CIPHER_OK, Decrypt(v.pszText, 128, &strBack)) << v.pszText;
        EXPECT_EQ(v.strPlain, strBack);
    }
}

TEST(StoredText, LengthFollowsThePaddedBlocks)
{
    EXPECT_EQ(12u, Encrypt("abc").size());
    EXPECT_EQ(24u, Encrypt("12345678").size());
    for (DWORD n = 0; n <= 87; ++n) {
        const size_t m = (n & ~7u) + 8;
        EXPECT_EQ(4 * ((m + 2) / 3), Encrypt(std::string(n, 'p')).size()) << n;
    }
}

// PKCS #5: 1 to 8 bytes, each holding their count; a whole block for a
// multiple of eight.
TEST(StoredText, PaddingIsPkcs5)
{
    mbedtls_des_context dec;
    mbedtls_des_init(&dec);
    const unsigned char key[8] = {'m', 'e', 'r', 'v', 'o', '2', '7', '3'};
    mbedtls_des_setkey_dec(&dec, key);
    for (DWORD n = 0; n <= 17; ++n) {
        std::string strText = Encrypt(std::string(n, 'q'));
        std::vector<BYTE> raw(strText.size());
        size_t cb = 0;
        ASSERT_TRUE(utl_Base64Decode(raw.data(), &cb, strText.data(), strText.size()));
        ASSERT_EQ((n & ~7u) + 8, cb);
        for (size_t i = 0; i < cb; i += 8)
            mbedtls_des_crypt_ecb(&dec, raw.data() + i, raw.data() + i);
        const BYTE bPad = (BYTE)(cb - n);
        EXPECT_EQ(std::string(n, 'q'), std::string((const char*)raw.data(), n));
        for (size_t i = n; i < cb; ++i)
            EXPECT_EQ(bPad, raw[i]) << n;
    }
    mbedtls_des_free(&dec);
}

TEST(StoredText, EveryByteValueRoundTrips)
{
    std::string strAll;
    for (int i = 1; i < 256; ++i)
        strAll += (char)i;
    for (size_t nStart = 0; nStart + 87 <= strAll.size(); nStart += 29) {
        for (size_t n : {0u, 1u, 7u, 8u, 9u, 63u, 64u, 87u}) {
            std::string strPlain = strAll.substr(nStart, n), strBack;
            ASSERT_EQ(CIPHER_OK, Decrypt(Encrypt(strPlain).c_str(), 128, &strBack));
            EXPECT_EQ(strPlain, strBack);
        }
    }
    // Binary passwords with zero bytes survive too: the length is carried.
    std::string strZeros("a\0b\0\0c", 6), strBack;
    ASSERT_EQ(CIPHER_OK, Decrypt(Encrypt(strZeros).c_str(), 128, &strBack));
    EXPECT_EQ(strZeros, strBack);
}

// The output must hold (m / 3 * 4 + 4) bytes and more, m the padded length.
TEST(EncryptLimits, OutputSizeRule)
{
    struct { DWORD dwPlain, dwOutSize; int nExpect; } const aCase[] = {
        {87, 128, CIPHER_OK},     // the longest password a 128-byte buffer takes
        {88, 128, CIPHER_ERR_OUTPUT},
        {3, 12, CIPHER_ERR_OUTPUT}, // 8 / 3 * 4 + 4 = 12
        {3, 13, CIPHER_OK},       // 12 characters and the terminator
        {8, 24, CIPHER_ERR_OUTPUT},
        {8, 25, CIPHER_OK},
        {16, 36, CIPHER_ERR_OUTPUT}, // the rule keeps a margin when m is a multiple of 3
        {16, 37, CIPHER_OK},
        {0, 0, CIPHER_ERR_OUTPUT},
        {0, 13, CIPHER_OK},
    };
    for (const auto& c : aCase) {
        int nRet = -1;
        std::string strText = Encrypt(std::string(c.dwPlain, 'k'), c.dwOutSize, &nRet);
        EXPECT_EQ(c.nExpect, nRet) << c.dwPlain << " into " << c.dwOutSize;
        if (nRet == CIPHER_OK) {
            EXPECT_LT(strText.size(), c.dwOutSize);
        }
    }
}

TEST(EncryptLimits, RefusalsLeaveTheOutputAlone)
{
    char sz[16];
    memset(sz, 'Z', sizeof(sz));
    EXPECT_EQ(CIPHER_ERR_OUTPUT, EncryptPassword(sz, 12, (const BYTE*)"abc", 3));
    EXPECT_EQ('Z', sz[0]);
    EXPECT_EQ(CIPHER_ERR_OUTPUT, EncryptPassword(NULL, 128, (const BYTE*)"abc", 3));
    // A length near 4 GiB must not wrap the padded size to a small number.
    char szBig[128];
    EXPECT_EQ(CIPHER_ERR_OUTPUT, EncryptPassword(szBig, sizeof(szBig), (const BYTE*)"abc", 0xFFFFFFFFu));
    EXPECT_EQ(CIPHER_ERR_OUTPUT, EncryptPassword(szBig, sizeof(szBig), (const BYTE*)"abc", 0xFFFFFFF8u));
    EXPECT_EQ(CIPHER_ERR_MEMORY, EncryptPassword(szBig, sizeof(szBig), NULL, 3));
    EXPECT_EQ(CIPHER_OK, EncryptPassword(szBig, sizeof(szBig), NULL, 0));
    EXPECT_STREQ("xH+++jc2gE8=", szBig);
}

TEST(DecryptRefusals, TextThatIsNotTheStoredFormat)
{
    const std::string strGood = Encrypt("abc"); // M26MqW+1/1s=
    struct { std::string strText; int nExpect; } const aCase[] = {
        {"", CIPHER_ERR_MEMORY},
        {strGood + "A", CIPHER_ERR_BASE64},          // 13 characters
        {strGood.substr(0, 11), CIPHER_ERR_BASE64},   // group meets the terminator
        {"M=6MqW+1/1s=", CIPHER_ERR_BASE64},          // "=" in the second place
        {"=26MqW+1/1s=", CIPHER_ERR_BASE64},          // "=" in the first place
        {"M26MqW+1/1=s", CIPHER_OK},                  // "=" in the third place shortens
        {"M26M-W+1/1s=", CIPHER_ERR_BASE64},          // URL-safe alphabet is not ours
        {"M26M_W+1/1s=", CIPHER_ERR_BASE64},
        {"M26M W+1/1s=", CIPHER_ERR_BASE64},
        {"M26MqW+1/1s=\n", CIPHER_ERR_BASE64},
        {"M26MqW+1\xc3\xa9s=", CIPHER_ERR_BASE64},
        {"QUJD", CIPHER_ERR_LENGTH},                  // 3 bytes: not a whole block
        {"QUJDREVGR0hJ", CIPHER_ERR_LENGTH},          // 9 bytes
    };
    for (const auto& c : aCase) {
        std::string strOut;
        int nRet = Decrypt(c.strText.c_str(), 128, &strOut);
        if (c.nExpect == CIPHER_OK) {
            EXPECT_NE(CIPHER_ERR_BASE64, nRet) << c.strText;
        } else {
            EXPECT_EQ(c.nExpect, nRet) << c.strText;
        }
    }
    BYTE ab[16];
    DWORD dwLen = sizeof(ab);
    EXPECT_EQ(CIPHER_ERR_MEMORY, DecryptPassword(ab, &dwLen, NULL));
    EXPECT_EQ(CIPHER_ERR_OUTPUT, DecryptPassword(ab, NULL, strGood.c_str()));
    EXPECT_EQ(CIPHER_ERR_OUTPUT, DecryptPassword(NULL, &dwLen, strGood.c_str()));
}

// The ciphertext may be at most (capacity AND NOT 7) + 8 bytes and the plain
// text at most the capacity.
TEST(DecryptRefusals, CapacityRules)
{
    struct { size_t nPlain; DWORD dwCapacity; int nExpect; } const aCase[] = {
        {16, 8, CIPHER_ERR_LENGTH},   // 24 > 16
        {16, 15, CIPHER_ERR_LENGTH},  // 24 > 16
        {16, 16, CIPHER_OK},          // 24 <= 24, 16 <= 16
        {12, 12, CIPHER_OK},
        {12, 11, CIPHER_ERR_LENGTH},  // 16 <= 16 but 12 > 11
        {0, 0, CIPHER_OK},
        {1, 0, CIPHER_ERR_LENGTH},
        {87, 128, CIPHER_OK},
        {87, 86, CIPHER_ERR_LENGTH},
    };
    for (const auto& c : aCase) {
        std::string strText = Encrypt(std::string(c.nPlain, 'c'), 256), strOut;
        EXPECT_EQ(c.nExpect, Decrypt(strText.c_str(), c.dwCapacity, &strOut)) << c.nPlain << "/" << c.dwCapacity;
        if (c.nExpect == CIPHER_OK) {
            EXPECT_EQ(std::string(c.nPlain, 'c'), strOut);
        }
    }
}

// Only the last byte of the padding is looked at; a count larger than the
// whole text would wrap the length around and is refused.
TEST(DecryptRefusals, DamagedPadding)
{
    std::vector<BYTE> block(16, 'd');
    std::string strOut;
    block[15] = 0x20;  // more than the 16 bytes there are
    EXPECT_EQ(CIPHER_ERR_LENGTH, Decrypt(RawText(block).c_str(), 128, &strOut));
    block[15] = 0xFF;
    EXPECT_EQ(CIPHER_ERR_LENGTH, Decrypt(RawText(block).c_str(), 128, &strOut));
    block[15] = 16;    // all of it is padding
    ASSERT_EQ(CIPHER_OK, Decrypt(RawText(block).c_str(), 128, &strOut));
    EXPECT_EQ("", strOut);
    block[15] = 0;     // no padding at all: the whole text is returned
    ASSERT_EQ(CIPHER_OK, Decrypt(RawText(block).c_str(), 128, &strOut));
    EXPECT_EQ(std::string(15, 'd') + '\0', strOut);
    block[15] = 9;     // the other padding bytes are not examined
    ASSERT_EQ(CIPHER_OK, Decrypt(RawText(block).c_str(), 128, &strOut));
    EXPECT_EQ(std::string(7, 'd'), strOut);
}

// No terminator is written, nothing beyond the plain bytes is touched, and a
// refusal leaves the length and the buffer as they were.
TEST(DecryptOutput, WritesOnlyThePlainBytes)
{
    BYTE ab[32];
    memset(ab, 0xCC, sizeof(ab));
    DWORD dwLen = 20;
    ASSERT_EQ(CIPHER_OK, DecryptPassword(ab, &dwLen, "M26MqW+1/1s="));
    EXPECT_EQ(3u, dwLen);
    EXPECT_EQ(0, memcmp(ab, "abc", 3));
    for (size_t i = 3; i < sizeof(ab); ++i)
        EXPECT_EQ(0xCC, ab[i]) << i;

    memset(ab, 0xCC, sizeof(ab));
    dwLen = 20;
    EXPECT_EQ(CIPHER_ERR_BASE64, DecryptPassword(ab, &dwLen, "M=6MqW+1/1s="));
    EXPECT_EQ(20u, dwLen);
    EXPECT_EQ(0xCC, ab[0]);
}

// The text coding by itself: RFC 4648 vectors, and the stored format's rule
// that "=" shortens its own group wherever it stands in the third or fourth place.
TEST(Base64, EncodesAndDecodesThePublishedVectors)
{
    struct { const char *pszData, *pszText; } const aVec[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& v : aVec) {
        char sz[32];
        const size_t cb = strlen(v.pszData);
        ASSERT_TRUE(utl_Base64Encode(sz, sizeof(sz), (const BYTE*)v.pszData, cb));
        EXPECT_STREQ(v.pszText, sz);
        EXPECT_EQ(strlen(v.pszText), utl_Base64TextLen(cb));
        BYTE ab[32];
        size_t cbOut = 99;
        ASSERT_TRUE(utl_Base64Decode(ab, &cbOut, v.pszText, strlen(v.pszText)));
        EXPECT_EQ(std::string(v.pszData), std::string((const char*)ab, cbOut));
    }
    char szSmall[5];
    EXPECT_FALSE(utl_Base64Encode(szSmall, 4, (const BYTE*)"foo", 3));
    EXPECT_TRUE(utl_Base64Encode(szSmall, 5, (const BYTE*)"foo", 3));

    BYTE ab[16];
    size_t cbOut = 0;
    // "=" in the third place with a letter after it: zero bits, two bytes.
    ASSERT_TRUE(utl_Base64Decode(ab, &cbOut, "Zm=v", 4));
    EXPECT_EQ(std::string("f\x60"), std::string((const char*)ab, cbOut));
    ASSERT_TRUE(utl_Base64Decode(ab, &cbOut, "Zg==Zm9v", 8));  // each group on its own
    EXPECT_EQ(std::string("ffoo"), std::string((const char*)ab, cbOut));
    EXPECT_FALSE(utl_Base64Decode(ab, &cbOut, "Z===", 4));
    EXPECT_FALSE(utl_Base64Decode(ab, &cbOut, "Zm9", 3));
}
