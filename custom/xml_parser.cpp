// XML access layer over TinyXML: typed values by element name, the
// customisation documents' skeleton, and loading a file at most once.
#include "xml_parser.h"
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <algorithm>
#include <limits>
#include <new>
#include "custom_doc.h"
#include "xml_guard.h"

static void CloseFile(FILE** ppFile)
{
    if (*ppFile) {
        fclose(*ppFile);
        *ppFile = NULL;
    }
}

CBasedTXmlParser::CBasedTXmlParser() : m_pCurElem(NULL)
{
}

CBasedTXmlParser::~CBasedTXmlParser()
{
}

void CBasedTXmlParser::InitDocument()
{
}

bool CBasedTXmlParser::Init()
{
    InitDocument();
    return true;
}

void CBasedTXmlParser::GetNV1(const char* pszName, std::string& strOut, unsigned short wLimit)
{
    strOut.clear();
    if (m_pCurElem && pszName) {
        const TiXmlElement* pElem = m_pCurElem->FirstChildElement(pszName);
        const TiXmlNode* pChild = pElem ? pElem->FirstChild() : NULL;
        if (pChild && pChild->ToText())
            strOut = pChild->ValueStr();
        // The limit counts UTF-8 bytes; a character it cuts is dropped by
        // Utf8ToAnsi, never read beyond.
        if (wLimit != 0 && strOut.size() > wLimit)
            strOut.resize(wLimit);
    }
}

void CBasedTXmlParser::GetStringValue(const char* pszName, std::string& strOut, unsigned short wLimit)
{
    std::string strRaw;
    GetNV1(pszName, strRaw, wLimit);
    if (strRaw.empty())
        strOut.clear();
    else
        strOut = Utf8ToAnsi(strRaw.data(), strRaw.size());
}

// The value read by the C library's pfnParse (strtoul or strtol: white
// space, sign and digits up to the first non-digit; "-1" gives 4294967295
// through strtoul, an overflow the type's limit), 0 when absent, and held
// to the range of T. long is 32 bits on Windows, so the result is the
// 32-bit value as it stands.
namespace {

template <typename T, typename L>
void GetNumber(CBasedTXmlParser& parser, const char* pszName, L (*pfnParse)(const char*, char**, int), T* pValue)
{
    std::string strRaw;
    parser.GetNV1(pszName, strRaw, 0);
    L value = strRaw.empty() ? 0 : pfnParse(strRaw.c_str(), NULL, 10);
    value = std::min<L>(std::max<L>(value, (L)std::numeric_limits<T>::min()), (L)std::numeric_limits<T>::max());
    if (pValue)
        *pValue = (T)value;
}

} // namespace

void CBasedTXmlParser::GetUIntValue(const char* pszName, unsigned int* puValue)
{
    GetNumber(*this, pszName, strtoul, puValue);
}

void CBasedTXmlParser::GetIntValue(const char* pszName, int* pnValue)
{
    GetNumber(*this, pszName, strtol, pnValue);
}

// One UTF-8 character at pb (nAvail bytes left) as UTF-16 units; returns the
// bytes it takes, 0 for a byte that starts no complete, well-formed character.
static size_t DecodeUtf8(const unsigned char* pb, size_t nAvail, WCHAR* pwUnits, int* pnUnits)
{
    size_t nSeq = 0;
    unsigned long ulCode = 0;
    if (pb[0] >= 0xC2 && pb[0] <= 0xDF)
        nSeq = 2;
    else if (pb[0] >= 0xE0 && pb[0] <= 0xEF)
        nSeq = 3;
    else if (pb[0] >= 0xF0 && pb[0] <= 0xF4)
        nSeq = 4;
    if (nSeq > nAvail)
        nSeq = 0;
    for (size_t i = 1; i < nSeq; ++i) {
        if ((pb[i] & 0xC0) != 0x80)
            nSeq = 0;
    }
    if (nSeq == 2) {
        ulCode = ((unsigned long)(pb[0] & 0x1F) << 6) | (pb[1] & 0x3F);
    } else if (nSeq == 3) {
        // The layout the documents were always read with: the high byte of the
        // unit from b0 and b1, the low byte from b1 and b2.
        const unsigned char bHigh = (unsigned char)(((pb[0] & 0x0F) << 4) | ((pb[1] >> 2) & 0x0F));
        const unsigned char bLow = (unsigned char)(((pb[1] & 0x03) << 6) | (pb[2] & 0x3F));
        ulCode = ((unsigned long)bHigh << 8) | bLow;
        if (ulCode < 0x800 || (ulCode >= 0xD800 && ulCode <= 0xDFFF))
            nSeq = 0;
    } else if (nSeq == 4) {
        ulCode = ((unsigned long)(pb[0] & 0x07) << 18) | ((unsigned long)(pb[1] & 0x3F) << 12) |
                 ((unsigned long)(pb[2] & 0x3F) << 6) | (pb[3] & 0x3F);
        if (ulCode < 0x10000 || ulCode > 0x10FFFF)
            nSeq = 0;
    }
    *pnUnits = 0;
    if (nSeq != 0 && ulCode >= 0x10000) {
        ulCode -= 0x10000;
        pwUnits[0] = (WCHAR)(0xD800 + (ulCode >> 10));
        pwUnits[1] = (WCHAR)(0xDC00 + (ulCode & 0x3FF));
        *pnUnits = 2;
    } else if (nSeq != 0) {
        pwUnits[0] = (WCHAR)ulCode;
        *pnUnits = 1;
    }
    return nSeq;
}

// ASCII is copied; a character of U+0800 to U+FFFF becomes its one or two
// bytes in the ANSI code page. Input the documents should not hold is made
// safe rather than guessed at: two- and four-byte characters are converted
// as well, a byte that starts no complete character (a text cut by a byte
// limit, a stray continuation byte) is dropped on its own so the characters
// after it survive, and the conversion never looks beyond nLen bytes nor
// appends a zero byte.
std::string CBasedTXmlParser::Utf8ToAnsi(const char* pszText, size_t nLen)
{
    std::string strOut;
    const unsigned char* pb = (const unsigned char*)pszText;
    size_t i = 0;
    while (pb && i < nLen && pb[i] != 0) {
        if (pb[i] < 0x80) {
            strOut += (char)pb[i];
            ++i;
        } else {
            WCHAR awUnits[2] = {0, 0};
            int nUnits = 0;
            const size_t nSeq = DecodeUtf8(pb + i, nLen - i, awUnits, &nUnits);
            if (nSeq == 0) {
                ++i;
            } else {
                // A double-byte code page writes one unit in at most two bytes;
                // a pair of units (outside the BMP) gets room for four.
                char acAnsi[4] = {0, 0, 0, 0};
                const int nRoom = nUnits == 1 ? 2 : 4;
                const int nBytes = WideCharToMultiByte(CP_ACP, 0, awUnits, nUnits, acAnsi, nRoom, NULL, NULL);
                for (int k = 0; k < nBytes; ++k) {
                    if (acAnsi[k] != '\0')
                        strOut += acAnsi[k];
                }
                i += nSeq;
            }
        }
    }
    return strOut;
}

CCustomXmlParse::CCustomXmlParse() : CBasedTXmlParser(), m_strLoadedPath()
{
}

CCustomXmlParse::~CCustomXmlParse()
{
    m_strLoadedPath.clear();
}

void CCustomXmlParse::ResetDocument()
{
    m_doc.Clear();
    m_doc.ClearError();
    m_pCurElem = NULL;
    m_strLoadedPath.clear();
}

void CCustomXmlParse::InitDocument()
{
    ResetDocument();
    m_doc.Parse(CUSTOM_TEMPLATE, NULL, TIXML_ENCODING_UNKNOWN);
    TiXmlElement* pMsg = m_doc.FirstChildElement("msg");
    m_pCurElem = pMsg ? pMsg->FirstChildElement("content") : NULL;
}

// TiXmlDocument::LoadFile's steps (binary read, CR LF and lone CR made LF,
// Parse with the encoding left to TinyXML), with the nesting guard between
// reading and parsing so that the bytes checked are the bytes parsed.
bool CCustomXmlParse::ReadDocumentFile(const char* pszPath)
{
    bool bRet = false;
    FILE* pFile = fopen(pszPath, "rb");
    char* pBuf = NULL;
    long lLength = 0;
    if (pFile && fseek(pFile, 0, SEEK_END) == 0) {
        lLength = ftell(pFile);
        if (lLength > 0 && fseek(pFile, 0, SEEK_SET) == 0)
            pBuf = (char*)malloc((size_t)lLength + 1);
    }
    if (pBuf && fread(pBuf, (size_t)lLength, 1, pFile) == 1) {
        const char* p = pBuf;
        char* q = pBuf;
        pBuf[lLength] = '\0';
        while (*p) {
            if (*p == '\r') {
                *q++ = '\n';
                ++p;
                if (*p == '\n')
                    ++p;
            } else {
                *q++ = *p++;
            }
        }
        *q = '\0';
        if (CXmlNestingGuard::IsSafe(pBuf, XML_MAX_NESTING)) {
            try {
                m_doc.SetValue(pszPath);
                m_doc.Parse(pBuf, NULL, TIXML_DEFAULT_ENCODING);
                bRet = !m_doc.Error();
            } catch (const std::bad_alloc&) {
                bRet = false;
            }
        }
    }
    free(pBuf);
    CloseFile(&pFile);
    return bRet;
}

bool CCustomXmlParse::LoadXmlFile(const char* pszPath)
{
    bool bRet = false;
    // An empty path names no file, even though it equals the empty loaded path.
    if (pszPath && *pszPath && m_strLoadedPath == pszPath) {
        bRet = true;
    } else if (pszPath) {
        ResetDocument();
        m_strLoadedPath = pszPath;
        bRet = ReadDocumentFile(pszPath);
        // A failed load is not remembered: asking again reads the file again
        // instead of reporting an empty document as loaded.
        if (!bRet)
            ResetDocument();
    }
    return bRet;
}

void CCustomXmlParse::SelectSection(const char* pszSection)
{
    TiXmlElement* pMsg = m_doc.FirstChildElement("msg");
    TiXmlElement* pContent = pMsg ? pMsg->FirstChildElement("content") : NULL;
    m_pCurElem = (pContent && pszSection) ? pContent->FirstChildElement(pszSection) : NULL;
}

bool CCustomXmlParse::LoadSection(const char* pszPath, const char* pszSection)
{
    if (!LoadXmlFile(pszPath))
        return false;
    SelectSection(pszSection);
    return true;
}
