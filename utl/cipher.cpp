// Password cipher: single DES in ECB mode under the fixed key "mervo273",
// PKCS #5 padding, and the stored text in Base64. DES is mbedTLS's; the
// Base64 text is the stored format's own and is coded here, because its
// decoding rules (where "=" may stand, what it shortens) are part of the
// format that installed clients already hold.
#include "cipher.h"
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include "mbedtls/des.h"
#include "mbedtls/platform_util.h"

#define DES_BLOCK 8

static const unsigned char s_abKey[DES_BLOCK] = {'m', 'e', 'r', 'v', 'o', '2', '7', '3'};
static const char s_szAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Key schedules of the process, set up at the first use of either operation.
// The setup program calls the cipher from its one thread only.
static mbedtls_des_context s_ctxEnc;
static mbedtls_des_context s_ctxDec;
static int s_bKeysReady = 0;

static int SetUpKeys(void)
{
    if (!s_bKeysReady) {
        mbedtls_des_init(&s_ctxEnc);
        mbedtls_des_init(&s_ctxDec);
        if (mbedtls_des_setkey_enc(&s_ctxEnc, s_abKey) == 0 &&
            mbedtls_des_setkey_dec(&s_ctxDec, s_abKey) == 0)
            s_bKeysReady = 1;
    }
    return s_bKeysReady;
}

static void FreeSecret(BYTE** ppb, size_t cb)
{
    if (*ppb) {
        mbedtls_platform_zeroize(*ppb, cb);
        free(*ppb);
        *ppb = NULL;
    }
}

// Value of a text character in the alphabet, 64 for "=", -1 for any other.
static int Base64Value(unsigned char c)
{
    int nValue = -1;
    if (c >= 'A' && c <= 'Z')
        nValue = c - 'A';
    else if (c >= 'a' && c <= 'z')
        nValue = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
        nValue = c - '0' + 52;
    else if (c == '+')
        nValue = 62;
    else if (c == '/')
        nValue = 63;
    else if (c == '=')
        nValue = 64;
    return nValue;
}

size_t utl_Base64TextLen(size_t cbData)
{
    return (cbData + 2) / 3 * 4;
}

int utl_Base64Encode(char* pszOut, size_t cbOut, const BYTE* pbData, size_t cbData)
{
    int nRet = 0;
    size_t nOut = 0;
    if (pszOut && cbOut > utl_Base64TextLen(cbData) && (pbData || cbData == 0)) {
        for (size_t i = 0; i < cbData; i += 3) {
            size_t nLeft = cbData - i;
            uint32_t u = (uint32_t)pbData[i] << 16;
            if (nLeft > 1)
                u |= (uint32_t)pbData[i + 1] << 8;
            if (nLeft > 2)
                u |= pbData[i + 2];
            pszOut[nOut++] = s_szAlphabet[(u >> 18) & 0x3F];
            pszOut[nOut++] = s_szAlphabet[(u >> 12) & 0x3F];
            pszOut[nOut++] = nLeft > 1 ? s_szAlphabet[(u >> 6) & 0x3F] : '=';
            pszOut[nOut++] = nLeft > 2 ? s_szAlphabet[u & 0x3F] : '=';
        }
        pszOut[nOut] = '\0';
        nRet = 1;
    }
    return nRet;
}

// Groups of four characters: "=" counts as zero bits and drops one byte of
// its group's three, in the third and fourth place only. A group that meets
// the terminator (a length not a multiple of four), a character outside the
// alphabet, or "=" in the first or second place makes the text invalid.
int utl_Base64Decode(BYTE* pbOut, size_t* pcbOut, const char* pszText, size_t nTextLen)
{
    int nRet = 1;
    size_t nOut = 0;
    if (nTextLen % 4 != 0)
        nRet = 0;
    for (size_t i = 0; nRet && i < nTextLen; i += 4) {
        uint32_t u = 0;
        size_t nBytes = 3;
        for (size_t j = 0; nRet && j < 4; ++j) {
            int nValue = Base64Value((unsigned char)pszText[i + j]);
            if (nValue < 0 || (nValue == 64 && j < 2)) {
                nRet = 0;
            } else if (nValue == 64) {
                --nBytes;
                nValue = 0;
            }
            u = (u << 6) | (uint32_t)nValue;
        }
        if (nRet) {
            const BYTE ab[3] = {(BYTE)(u >> 16), (BYTE)(u >> 8), (BYTE)u};
            memcpy(pbOut + nOut, ab, nBytes);
            nOut += nBytes;
        }
    }
    if (nRet)
        *pcbOut = nOut;
    return nRet;
}

int EncryptPassword(char* pszOut, DWORD dwOutSize, const BYTE* pbPlain, DWORD dwPlainLen)
{
    int nRet = CIPHER_OK;
    BYTE* pbBuf = NULL;
    // 64-bit so that a length near 4 GiB cannot wrap the padded size to 0.
    const uint64_t cbPadded = ((uint64_t)dwPlainLen & ~(uint64_t)7) + DES_BLOCK;

    if (!SetUpKeys())
        nRet = CIPHER_ERR_KEY;
    else if (!pszOut || cbPadded / 3 * 4 + 4 >= dwOutSize)
        nRet = CIPHER_ERR_OUTPUT;
    else if (!pbPlain && dwPlainLen)
        nRet = CIPHER_ERR_MEMORY;
    else if (!(pbBuf = (BYTE*)malloc((size_t)cbPadded)))
        nRet = CIPHER_ERR_MEMORY;

    if (nRet == CIPHER_OK) {
        const BYTE bPad = (BYTE)(cbPadded - dwPlainLen);
        if (dwPlainLen)
            memcpy(pbBuf, pbPlain, dwPlainLen);
        memset(pbBuf + dwPlainLen, bPad, bPad);
        for (size_t i = 0; nRet == CIPHER_OK && i < cbPadded; i += DES_BLOCK) {
            if (mbedtls_des_crypt_ecb(&s_ctxEnc, pbBuf + i, pbBuf + i) != 0)
                nRet = CIPHER_ERR_CIPHER;
        }
        if (nRet == CIPHER_OK && !utl_Base64Encode(pszOut, dwOutSize, pbBuf, (size_t)cbPadded))
            nRet = CIPHER_ERR_OUTPUT;
    }
    FreeSecret(&pbBuf, (size_t)cbPadded);
    return nRet;
}

int DecryptPassword(BYTE* pbOut, DWORD* pdwLen, const char* pszText)
{
    int nRet = CIPHER_OK;
    BYTE* pbBuf = NULL;
    size_t cbBuf = 0;
    size_t cbData = 0;
    const size_t nTextLen = pszText ? strlen(pszText) : 0;

    if (!SetUpKeys())
        nRet = CIPHER_ERR_KEY;
    else if (!pbOut || !pdwLen)
        nRet = CIPHER_ERR_OUTPUT;
    else if (nTextLen == 0)
        nRet = CIPHER_ERR_MEMORY;
    else if (!(pbBuf = (BYTE*)malloc(cbBuf = nTextLen / 4 * 3 + 3)))
        nRet = CIPHER_ERR_MEMORY;
    else if (!utl_Base64Decode(pbBuf, &cbData, pszText, nTextLen))
        nRet = CIPHER_ERR_BASE64;
    else if (cbData > (((uint64_t)*pdwLen & ~(uint64_t)7) + DES_BLOCK) || cbData % DES_BLOCK != 0)
        nRet = CIPHER_ERR_LENGTH;

    for (size_t i = 0; nRet == CIPHER_OK && i < cbData; i += DES_BLOCK) {
        if (mbedtls_des_crypt_ecb(&s_ctxDec, pbBuf + i, pbBuf + i) != 0)
            nRet = CIPHER_ERR_CIPHER;
    }
    if (nRet == CIPHER_OK) {
        // Only the last byte says how much padding there is. A value larger
        // than the whole text (a damaged or foreign text) would make the
        // length wrap around, so it is refused like any other overlong result.
        const size_t cbPad = pbBuf[cbData - 1];
        if (cbPad > cbData || cbData - cbPad > *pdwLen) {
            nRet = CIPHER_ERR_LENGTH;
        } else {
            memcpy(pbOut, pbBuf, cbData - cbPad);
            *pdwLen = (DWORD)(cbData - cbPad);
        }
    }
    FreeSecret(&pbBuf, cbBuf);
    return nRet;
}
