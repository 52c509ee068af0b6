// Nesting guard: a walk over the text that follows TinyXML 2.6.2's parse
// step by step (TiXmlDocument::Parse, TiXmlNode::Identify, the Parse of
// each node kind, TiXmlBase::ReadText and GetChar), with an explicit stack
// instead of recursion. Every span function returns what the parser's
// counterpart returns: the position after the node, or NULL where the parser
// gives up. Once the parser would give up the walk stops too, because the
// parser unwinds from there and reads nothing further.
#include "xml_guard.h"
#include <string.h>
#include <set>
#include <vector>

CXmlNestingGuard::NodeKind CXmlNestingGuard::Identify(const char* p, TiXmlEncoding enc)
{
    NodeKind eKind = NK_NONE;
    p = SkipWhiteSpace(p, enc);
    if (p && *p == '<') {
        if (StringEqual(p, "<?xml", true, enc))
            eKind = NK_DECLARATION;
        else if (StringEqual(p, "<!--", false, enc))
            eKind = NK_COMMENT;
        else if (StringEqual(p, "<![CDATA[", false, enc))
            eKind = NK_CDATA;
        else if (StringEqual(p, "<!", false, enc))
            eKind = NK_UNKNOWN;
        else if (IsAlpha((unsigned char)*(p + 1), enc) || *(p + 1) == '_')
            eKind = NK_ELEMENT;
        else
            eKind = NK_UNKNOWN;
    }
    return eKind;
}

// GetChar: in UTF-8 mode the parser advances by the length the lead byte
// announces, even when the terminator comes first. That is the overrun.
const char* CXmlNestingGuard::CharSpan(const char* p, std::string* pText, TiXmlEncoding enc, bool* pbOverrun)
{
    const int nLen = enc == TIXML_ENCODING_UTF8 ? utf8ByteTable[(unsigned char)*p] : 1;
    const char* pNext = NULL;
    if (nLen == 1 && *p == '&') {
        char acValue[4] = {0, 0, 0, 0};
        int nValueLen = 0;
        pNext = GetEntity(p, acValue, &nValueLen, enc);
        if (pNext && pText)
            pText->append(acValue, (size_t)nValueLen);
    } else if (nLen == 1) {
        if (pText)
            *pText += *p;
        pNext = p + 1;
    } else {
        bool bCut = false;
        for (int i = 1; i < nLen; ++i)
            bCut = bCut || p[i] == '\0';
        if (bCut) {
            *pbOverrun = true;
        } else {
            if (pText)
                pText->append(p, (size_t)nLen);
            pNext = p + nLen;
        }
    }
    return pNext;
}

// ReadText (the callers never ask for a case-insensitive end).
const char* CXmlNestingGuard::TextSpan(const char* p, std::string* pText, bool bTrim, const char* pszEnd,
                                       TiXmlEncoding enc, bool* pbOverrun)
{
    if (pText)
        pText->clear();
    if (!bTrim || !IsWhiteSpaceCondensed()) {
        while (p && *p && !StringEqual(p, pszEnd, false, enc))
            p = CharSpan(p, pText, enc, pbOverrun);
    } else {
        bool bWhite = false;
        p = SkipWhiteSpace(p, enc);
        while (p && *p && !StringEqual(p, pszEnd, false, enc)) {
            if (*p == '\r' || *p == '\n' || IsWhiteSpace(*p)) {
                bWhite = true;
                ++p;
            } else {
                if (bWhite && pText)
                    *pText += ' ';
                bWhite = false;
                p = CharSpan(p, pText, enc, pbOverrun);
            }
        }
    }
    if (p && *p)
        p += strlen(pszEnd);
    return (p && *p) ? p : NULL;
}

// TiXmlAttribute::Parse.
const char* CXmlNestingGuard::AttributeSpan(const char* p, std::string* pName, std::string* pValue,
                                            TiXmlEncoding enc, bool* pbOverrun)
{
    const char* pRet = NULL;
    pValue->clear();
    p = SkipWhiteSpace(p, enc);
    if (p && *p)
        p = ReadName(p, pName, enc);
    if (p && *p)
        p = SkipWhiteSpace(p, enc);
    if (p && *p == '=')
        p = SkipWhiteSpace(p + 1, enc);
    else
        p = NULL;
    if (p && (*p == '\'' || *p == '"')) {
        const char szEnd[2] = {*p, '\0'};
        pRet = TextSpan(p + 1, pValue, false, szEnd, enc, pbOverrun);
    } else if (p && *p) {
        bool bQuote = false;
        while (*p && !IsWhiteSpace(*p) && *p != '/' && *p != '>' && !bQuote) {
            bQuote = *p == '\'' || *p == '"';
            if (!bQuote)
                *pValue += *p++;
        }
        pRet = bQuote ? NULL : p;
    }
    return pRet;
}

// TiXmlDeclaration::Parse (with Debian's fix for a terminator after white space).
const char* CXmlNestingGuard::DeclarationSpan(const char* p, std::string* pEncoding, TiXmlEncoding enc,
                                              bool* pbOverrun)
{
    const char* pRet = NULL;
    bool bDone = false;
    pEncoding->clear();
    p = SkipWhiteSpace(p, enc);
    if (p && *p && StringEqual(p, "<?xml", true, enc))
        p += 5;
    else
        p = NULL;
    while (p && *p && !bDone) {
        if (*p == '>') {
            pRet = p + 1;
            bDone = true;
        } else {
            p = SkipWhiteSpace(p, enc);
            if (!p || !*p) {
                bDone = true;
            } else if (StringEqual(p, "version", true, enc) || StringEqual(p, "standalone", true, enc)) {
                std::string strName, strValue;
                p = AttributeSpan(p, &strName, &strValue, enc, pbOverrun);
            } else if (StringEqual(p, "encoding", true, enc)) {
                std::string strName;
                p = AttributeSpan(p, &strName, pEncoding, enc, pbOverrun);
            } else {
                while (p && *p && *p != '>' && !IsWhiteSpace(*p))
                    ++p;
            }
        }
    }
    return pRet;
}

// TiXmlComment::Parse: an unterminated comment runs to the end of the text.
const char* CXmlNestingGuard::CommentSpan(const char* p, TiXmlEncoding enc)
{
    p = SkipWhiteSpace(p, enc);
    if (p && *p && StringEqual(p, "<!--", false, enc)) {
        p += 4;
        while (*p && !StringEqual(p, "-->", false, enc))
            ++p;
        if (*p)
            p += 3;
    } else {
        p = NULL;
    }
    return p;
}

// TiXmlUnknown::Parse: anything else in angle brackets, up to the first '>'.
const char* CXmlNestingGuard::UnknownSpan(const char* p, TiXmlEncoding enc)
{
    p = SkipWhiteSpace(p, enc);
    if (p && *p == '<') {
        ++p;
        while (*p && *p != '>')
            ++p;
        if (*p == '>')
            ++p;
    } else {
        p = NULL;
    }
    return p;
}

// TiXmlText::Parse of a CDATA section.
const char* CXmlNestingGuard::CDataSpan(const char* p, TiXmlEncoding enc, bool* pbOverrun)
{
    if (p && *p && StringEqual(p, "<![CDATA[", false, enc)) {
        p += 9;
        while (*p && !StringEqual(p, "]]>", false, enc))
            ++p;
        p = TextSpan(p, NULL, false, "]]>", enc, pbOverrun);
    } else {
        p = NULL;
    }
    return p;
}

// TiXmlElement::Parse up to the end of the start tag; *pbEmpty for "/>".
const char* CXmlNestingGuard::StartTagSpan(const char* p, std::string* pName, bool* pbEmpty,
                                           TiXmlEncoding enc, bool* pbOverrun)
{
    const char* pRet = NULL;
    bool bDone = false;
    std::set<std::string> names;
    p = SkipWhiteSpace(p, enc);
    p = (p && *p == '<') ? SkipWhiteSpace(p + 1, enc) : NULL;
    if (p)
        p = ReadName(p, pName, enc);
    while (p && *p && !bDone) {
        p = SkipWhiteSpace(p, enc);
        if (!p || !*p) {
            bDone = true;
        } else if (*p == '/') {
            if (p[1] == '>') {
                pRet = p + 2;
                *pbEmpty = true;
            }
            bDone = true;
        } else if (*p == '>') {
            pRet = p + 1;
            *pbEmpty = false;
            bDone = true;
        } else {
            std::string strName, strValue;
            p = AttributeSpan(p, &strName, &strValue, enc, pbOverrun);
            // A repeated attribute name is an error for the parser.
            if (p && *p && !names.insert(strName).second)
                p = NULL;
        }
    }
    return pRet;
}

const char* CXmlNestingGuard::OtherNodeSpan(NodeKind eKind, const char* p, TiXmlEncoding enc, bool* pbOverrun)
{
    std::string strIgnored;
    switch (eKind) {
    case NK_DECLARATION:
        p = DeclarationSpan(p, &strIgnored, enc, pbOverrun);
        break;
    case NK_COMMENT:
        p = CommentSpan(p, enc);
        break;
    case NK_CDATA:
        p = CDataSpan(p, enc, pbOverrun);
        break;
    case NK_UNKNOWN:
        p = UnknownSpan(p, enc);
        break;
    default:
        p = NULL;
        break;
    }
    return p;
}

// TiXmlElement::Parse with ReadValue, one loop instead of one call level per
// element. The end tags of the open elements are the explicit stack.
const char* CXmlNestingGuard::ElementSpan(const char* p, TiXmlEncoding enc, unsigned int uMaxDepth, bool* pbRefuse)
{
    std::vector<std::string> openEnds;
    const char* pRet = NULL;
    bool bAtStartTag = true;
    bool bDone = false;
    while (!bDone && !*pbRefuse) {
        if (bAtStartTag) {
            std::string strName;
            bool bEmpty = false;
            if (openEnds.size() >= uMaxDepth) {
                *pbRefuse = true;
                p = NULL;
            } else {
                p = StartTagSpan(p, &strName, &bEmpty, enc, pbRefuse);
            }
            if (p && !bEmpty)
                openEnds.push_back("</" + strName);
            bAtStartTag = false;
            if (!p || openEnds.empty()) {
                pRet = p;
                bDone = true;
            }
            continue;
        }
        // One round of ReadValue in the innermost open element.
        const char* pWithWhite = p;
        p = SkipWhiteSpace(p, enc);
        if (!p || !*p) {
            bDone = true;
        } else if (*p != '<') {
            const char* pText = IsWhiteSpaceCondensed() ? p : pWithWhite;
            p = TextSpan(pText, NULL, true, "<", enc, pbRefuse);
            p = (p && *p) ? p - 1 : NULL;
        } else if (StringEqual(p, "</", false, enc)) {
            const std::string& strEnd = openEnds.back();
            if (StringEqual(p, strEnd.c_str(), false, enc))
                p = SkipWhiteSpace(p + strEnd.size(), enc);
            else
                p = NULL;
            if (p && *p == '>') {
                ++p;
                openEnds.pop_back();
                if (openEnds.empty()) {
                    pRet = p;
                    bDone = true;
                }
            } else {
                bDone = true;
            }
        } else {
            const NodeKind eKind = Identify(p, enc);
            if (eKind == NK_ELEMENT)
                bAtStartTag = true;
            else
                p = OtherNodeSpan(eKind, p, enc, pbRefuse);
        }
    }
    return *pbRefuse ? NULL : pRet;
}

bool CXmlNestingGuard::IsSafe(const char* pszText, unsigned int uMaxDepth)
{
    bool bRefuse = false;
    TiXmlEncoding enc = TIXML_DEFAULT_ENCODING;
    const unsigned char* pU = (const unsigned char*)pszText;
    const char* p = pszText;
    if (p && *p) {
        // TiXmlDocument::Parse: a UTF-8 byte order mark decides the encoding
        // at once; otherwise the first declaration does.
        if (pU[0] == 0xEF && pU[1] == 0xBB && pU[2] == 0xBF)
            enc = TIXML_ENCODING_UTF8;
        p = SkipWhiteSpace(p, enc);
    }
    while (p && *p && !bRefuse) {
        const NodeKind eKind = Identify(p, enc);
        if (eKind == NK_NONE)
            break;
        if (eKind == NK_ELEMENT) {
            p = ElementSpan(p, enc, uMaxDepth, &bRefuse);
        } else if (eKind == NK_DECLARATION) {
            std::string strEncoding;
            p = DeclarationSpan(p, &strEncoding, enc, &bRefuse);
            if (enc == TIXML_ENCODING_UNKNOWN) {
                const char* psz = strEncoding.c_str();
                if (!*psz || StringEqual(psz, "UTF-8", true, TIXML_ENCODING_UNKNOWN) ||
                    StringEqual(psz, "UTF8", true, TIXML_ENCODING_UNKNOWN))
                    enc = TIXML_ENCODING_UTF8;
                else
                    enc = TIXML_ENCODING_LEGACY;
            }
        } else {
            p = OtherNodeSpan(eKind, p, enc, &bRefuse);
        }
        p = SkipWhiteSpace(p, enc);
    }
    return !bRefuse;
}
