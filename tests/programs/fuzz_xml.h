// Customisation document target of fuzz_runner: mutations that keep the
// documents' shape often enough to reach the readers (tags, entities, deep
// nesting, long and cut UTF-8 texts), and one case: the three section
// readers on fresh parser objects, the nesting guard and TinyXML in front
// of a no-access page, and the UTF-8 conversion on cut pieces.
#pragma once
#include "custom_doc.h"
#include "fuzz_common.h"
#include "xml_guard.h"
#include "xml_parser.h"

namespace fuzz {

const size_t kMaxXmlInput = 1 << 16;

const char* const kXmlElements[] = {
    "msg", "content", "functions", "logoOptions", "uninstallInfo", "renameConn", "uninstall",
    "passwordProtection", "AutoHideSecUI", "userNameLenFromCert", "userFromExtendPro", "dynamicVifInfo",
    "msgAuthOpt", "msgAuthInfo", "msgAuthServIP", "msgAuthServPort", "uninstallPassword", "customIcon",
    "CusIconName", "subAboutInfo", "subTitle", "bAddTrayIcon", "bHideIcon", "bHideShortcut", "uninstallPass",
    "cusicon", "a"};

const char* const kXmlTokens[] = {
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<?xml version=\"1.0\" encoding=\"GBK\"?>",
    "<?xml version='1.0' encoding='utf8' standalone='yes'?>", "<?xml", "?>", "<!DOCTYPE msg>",
    "<!DOCTYPE msg [<!ENTITY e \"x\">]>", "<!", "<", ">", "/>", "</", "<a/>", "<a>", "</a>", "<!-- c -->",
    "<!--", "-->", "<![CDATA[x<y]]>", "<![CDATA[", "]]>", "\"", "'", "=", " a=\"1\"", " a='x' a='y'",
    " a=\"", " a=b", "<msgAuthOpt>1</msgAuthOpt>", "<uninstall>1</uninstall>", "<dynamicVifInfo/>",
    "<uninstallPassword>M26MqW+1/1s=</uninstallPassword>", "&amp;", "&lt;", "&gt;", "&quot;", "&apos;",
    "&#65;", "&#x4E2D;", "&#0;", "&#x0;", "&#xFFFF;", "&#xD800;", "&#x10FFFF;", "&#1114112;",
    "&#99999999999;", "&#;", "&#x;", "&", "&#x41", "&foo;", "\r\n", "\r", "\n", "\t", " ", "-1", "4294967296",
    "99999999999999999999", "+7", " 5", "0x10", "12abc"};

const char* const kUtf8Tokens[] = {
    "\xE4\xB8\xAD\xE6\x96\x87", "\xC3\xA9", "\xF0\x9F\x98\x80", "\xE4\xB8", "\xE4", "\xF0\x9F", "\x80", "\xBF",
    "\xC0\xAF", "\xC1\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF", "\xFE", "\xEF\xBF\xBF", "\xEF\xBB\xBF",
    "\xEF\xBF\xBE", "\xE0\x80\x80", "\xF8\x88\x80\x80\x80", "\xC4\xE3\xBA\xC3"};

template <size_t N> const char* Pick(const char* const (&arr)[N], FuzzRng& rng)
{
    return arr[rng.Below((uint32_t)N)];
}

inline std::string LongText(FuzzRng& rng)
{
    const uint32_t nCount = rng.OneIn(4) ? rng.Range(200, 3000) : rng.Range(20, 300);
    std::string strUnit;
    switch (rng.Below(4)) {
    case 0: strUnit = std::string(1, (char)('A' + rng.Below(26))); break;
    case 1: strUnit = "\xE4\xB8\xAD"; break;
    case 2: strUnit = Pick(kUtf8Tokens, rng); break;
    default: strUnit = "ab\xE6\x96\x87"; break;
    }
    std::string s;
    for (uint32_t i = 0; i < nCount && s.size() < 9000; ++i)
        s += strUnit;
    // Sometimes cut inside the last character.
    if (rng.OneIn(3) && !s.empty())
        s.resize(s.size() - rng.Below((uint32_t)std::min<size_t>(s.size(), 3)));
    return s;
}

inline std::string DeepNesting(FuzzRng& rng)
{
    const uint32_t nDepth = rng.OneIn(16) ? rng.Range(4000, 20000) : rng.OneIn(3) ? rng.Range(200, 4000)
                                                                     : rng.Range(2, 300);
    const std::string strName = rng.OneIn(2) ? "a" : Pick(kXmlElements, rng);
    std::string s;
    for (uint32_t i = 0; i < nDepth; ++i)
        s += "<" + strName + (rng.OneIn(16) ? " x='1'" : "") + ">";
    if (rng.OneIn(2)) {
        for (uint32_t i = 0; i < nDepth; ++i)
            s += "</" + strName + ">";
    }
    return s;
}

// Inserts text right behind the start tag of a value element the readers
// ask for, so that long and odd texts land in real values.
inline bool InsertIntoValue(Bytes& b, FuzzRng& rng, const std::string& strText, const char* pszElement = NULL)
{
    const std::string strTag = std::string("<") + (pszElement ? pszElement : Pick(kXmlElements, rng)) + ">";
    const std::string strDoc(b.begin(), b.end());
    size_t nAt = strDoc.find(strTag);
    if (nAt == std::string::npos)
        return false;
    nAt += strTag.size();
    // Replace the old value sometimes, so that limits are met exactly.
    if (rng.OneIn(2)) {
        const size_t nEnd = strDoc.find('<', nAt);
        if (nEnd != std::string::npos)
            b.erase(b.begin() + (ptrdiff_t)nAt, b.begin() + (ptrdiff_t)nEnd);
    }
    fuzzmut::InsertBytes(b, nAt, strText.data(), strText.size());
    return true;
}

inline void MutateXml(Bytes& b, FuzzRng& rng)
{
    switch (rng.Below(8)) {
    case 0: {
        const std::string strName = Pick(kXmlElements, rng);
        const std::string aTags[] = {"<" + strName + ">", "</" + strName + ">", "<" + strName + "/>",
                                     "<" + strName + ">" + std::to_string(rng.Next() % 100000) + "</" + strName + ">"};
        fuzzmut::InsertToken(b, rng, aTags[rng.Below(4)]);
        break;
    }
    case 1: fuzzmut::InsertToken(b, rng, Pick(kXmlTokens, rng)); break;
    case 2: fuzzmut::InsertToken(b, rng, Pick(kUtf8Tokens, rng)); break;
    case 3: fuzzmut::InsertToken(b, rng, DeepNesting(rng)); break;
    case 4:
        if (!InsertIntoValue(b, rng, LongText(rng)))
            fuzzmut::InsertToken(b, rng, LongText(rng));
        break;
    case 5: {
        // Exactly at, just below and just above the readers' limits, in the
        // elements that have them.
        const struct {
            const char* pszName;
            uint32_t nLimit;
        } aLimited[] = {{"userFromExtendPro", 32}, {"uninstallPassword", 128}, {"uninstallPass", 128},
                        {"CusIconName", 260}, {"subTitle", 260}};
        const auto& lim = aLimited[rng.Below(5)];
        const uint32_t nLen = lim.nLimit + rng.Range(0, 6) - 3;
        std::string s;
        const int nKind = (int)rng.Below(3);
        while (s.size() < nLen)
            s += nKind == 0 ? "x" : nKind == 1 ? "\xE4\xB8\xAD" : (rng.OneIn(2) ? "A" : "\xE4\xB8\xAD");
        if (lim.nLimit == 128 && rng.OneIn(2))
            for (char& ch : s)
                ch = kB64Chars[rng.Below(64)];
        s.resize(nLen);
        InsertIntoValue(b, rng, s, lim.pszName);
        break;
    }
    case 6: {
        const std::string strTok = Pick(kUtf8Tokens, rng);
        if (!InsertIntoValue(b, rng, strTok + Pick(kXmlTokens, rng)))
            fuzzmut::InsertToken(b, rng, strTok);
        break;
    }
    default:
        if (!InsertIntoValue(b, rng, Pick(kXmlTokens, rng)))
            fuzzmut::InsertToken(b, rng, Pick(kXmlTokens, rng));
        break;
    }
}

inline std::string Describe(const CusFunctionsInfo& f)
{
    char sz[640];
    snprintf(sz, sizeof(sz),
             "%u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u %u |%u|%u|%u|%u|",
             f.renameConn, f.arp, f.dhcp, f.wanControl, f.acl, f.uninstall, f.remindPopSecUI, f.AutoHideSecUI,
             f.userFromCert, f.blackBox, f.disableExit, f.patchARV, f.url, f.autoReboot, f.disablePap, f.ssid,
             f.forbidMdyIp, f.drvErr, f.dynamicPwdVerify, f.msgAuthOpt, f.hideRestart, f.macsec, f.iESiOSDK,
             f.passwordProtection, f.userNameLenFromCert, f.dynamicVifInfo, f.msgAuthInfo, f.msgAuthServPort);
    return sz + f.uninstallPassword + "|" + f.userFromExtendPro + "|" + f.msgAuthServIP;
}

inline std::string Describe(const CusLogoInfo& l)
{
    char sz[96];
    snprintf(sz, sizeof(sz), "%d %d %d %d|", l.customIcon, l.bAddTrayIcon, l.bHideIcon, l.bHideShortcut);
    return sz + l.CusIconName + "|" + l.subAboutInfo + "|" + l.subTitle;
}

inline std::string Describe(const CusUninstallInfo& u)
{
    return std::to_string(u.uninstall) + "|" + u.uninstallPass;
}

struct XmlRead {
    int nFn = -1, nLogo = -1, nUni = -1;
    CusFunctionsInfo fn;
    CusLogoInfo logo;
    CusUninstallInfo uni;
};

// One fresh parser per reader call, as the program's callers do.
inline XmlRead ReadAll(const std::string& strCustom, const std::string& strUninst, bool bInit)
{
    XmlRead r;
    {
        CCustomXmlParse parser;
        if (bInit)
            parser.Init();
        r.nFn = parser.ReadFunctions(strCustom.c_str(), r.fn);
    }
    {
        CCustomXmlParse parser;
        if (bInit)
            parser.Init();
        r.nLogo = parser.ReadLogoOptions(strCustom.c_str(), r.logo);
    }
    {
        CCustomXmlParse parser;
        if (bInit)
            parser.Init();
        r.nUni = parser.ReadUninstallInfo(strUninst.c_str(), r.uni);
    }
    return r;
}

struct XmlSetup {
    std::string strCustom, strUninst;
    GuardedArea* pArea;
};

// Upper bounds of the texts, from the cuts the readers make before the
// conversion: the conversion never makes a text longer (ASCII stays one
// byte, every other character of two to four bytes becomes at most as many
// ANSI bytes). The stored password is cut to 128 Base64 characters, which
// decode to at most 96 bytes.
inline void CheckTexts(const XmlRead& r, size_t nInput, const Bytes& input, Stats& st)
{
    struct Limit {
        const char* pszName;
        const std::string* pstr;
        size_t nMax;
    } const aLimits[] = {
        {"userFromExtendPro", &r.fn.userFromExtendPro, 32}, {"uninstallPassword", &r.fn.uninstallPassword, 96},
        {"msgAuthServIP", &r.fn.msgAuthServIP, nInput},    {"CusIconName", &r.logo.CusIconName, 260},
        {"subAboutInfo", &r.logo.subAboutInfo, nInput},    {"subTitle", &r.logo.subTitle, 260},
        {"uninstallPass", &r.uni.uninstallPass, 128}};
    for (const Limit& lim : aLimits) {
        if (lim.pstr->size() > lim.nMax)
            Finding(st, "limit",
                    std::string(lim.pszName) + " holds " + std::to_string(lim.pstr->size()) + " bytes, at most " +
                        std::to_string(lim.nMax) + " allowed",
                    input);
        if (lim.pstr->find('\0') != std::string::npos)
            Finding(st, "zero", std::string(lim.pszName) + " holds a zero byte", input);
    }
}

inline void RunXmlCase(const XmlSetup& xs, const std::string& strCaseName, Bytes doc, FuzzRng& rng, bool bMutate,
                const std::vector<Bytes>& seeds, Stats& st)
{
    if (bMutate) {
        const uint32_t nRounds = rng.OneIn(2) ? 1 : rng.Range(2, 5);
        for (uint32_t i = 0; i < nRounds; ++i) {
            if (!rng.OneIn(3))
                MutateXml(doc, rng);
            else
                fuzzmut::MutateOnce(doc, seeds, rng);
        }
        if (doc.size() > kMaxXmlInput)
            doc.resize(kMaxXmlInput);
    }
    SetCurrent(strCaseName, doc, "%lu bytes", (unsigned long)doc.size());
    if (!WriteWhole(xs.strCustom, doc.data(), doc.size()) || !WriteWhole(xs.strUninst, doc.data(), doc.size())) {
        Finding(st, "setup", "the documents cannot be written", doc);
        return;
    }

    const double dT0 = Seconds();
    const XmlRead r = ReadAll(xs.strCustom, xs.strUninst, false);
    st.dTargetSeconds += Seconds() - dT0;
    const CusFunctionsInfo fn0;
    const CusLogoInfo logo0;
    const CusUninstallInfo uni0;
    if ((r.nFn != 0 && r.nFn != 1) || r.nFn != r.nLogo || r.nFn != r.nUni) {
        Finding(st, "result",
                "results " + std::to_string(r.nFn) + " " + std::to_string(r.nLogo) + " " + std::to_string(r.nUni) +
                    " for one document",
                doc);
    }
    st.hist[std::to_string(r.nFn)]++;
    if (r.nFn == 0 && (Describe(r.fn) != Describe(fn0) || Describe(r.logo) != Describe(logo0) ||
                       Describe(r.uni) != Describe(uni0)))
        Finding(st, "record", "a record changed although the document did not load", doc);
    if (r.nFn == 1) {
        st.extra["functions_read"] += Describe(r.fn) != Describe(fn0);
        st.extra["logo_read"] += Describe(r.logo) != Describe(logo0);
        st.extra["uninstall_read"] += Describe(r.uni) != Describe(uni0);
        st.extra["password_decrypted"] += !r.fn.uninstallPassword.empty();
    }
    CheckTexts(r, doc.size(), doc, st);
    if (r.fn.msgAuthOpt == 0 &&
        (r.fn.msgAuthInfo != 1 || !r.fn.msgAuthServIP.empty() || r.fn.msgAuthServPort != 0))
        Finding(st, "msgauth", "message-authentication values read although msgAuthOpt is 0", doc);

    // Init first makes no difference to what is read.
    const XmlRead r2 = ReadAll(xs.strCustom, xs.strUninst, true);
    if (r2.nFn != r.nFn || r2.nLogo != r.nLogo || r2.nUni != r.nUni || Describe(r2.fn) != Describe(r.fn) ||
        Describe(r2.logo) != Describe(r.logo) || Describe(r2.uni) != Describe(r.uni))
        Finding(st, "init", "a second read with Init first gives other records", doc);

    // The guard and the parser on the text in front of a no-access page, as
    // the loader hands it over (up to the first zero byte, line ends made LF).
    std::string strText;
    for (size_t i = 0; i < doc.size() && doc[i] != 0; ++i) {
        if (doc[i] == '\r') {
            strText += '\n';
            if (i + 1 < doc.size() && doc[i + 1] == '\n')
                ++i;
        } else {
            strText += (char)doc[i];
        }
    }
    if (strText.size() + 1 <= xs.pArea->Capacity()) {
        char* pszText = (char*)xs.pArea->Tail(strText.size() + 1);
        memcpy(pszText, strText.c_str(), strText.size() + 1);
        if (CXmlNestingGuard::IsSafe(pszText, XML_MAX_NESTING)) {
            TiXmlDocument parsed;
            parsed.Parse(pszText, NULL, TIXML_DEFAULT_ENCODING);
            st.extra["guard_passed"]++;
        } else {
            st.extra["guard_refused"]++;
        }
    }
    // The UTF-8 conversion on pieces of the raw bytes with no terminator
    // behind them, some cut right behind the first byte of a character.
    std::vector<size_t> leads;
    for (size_t i = 0; i < doc.size(); ++i)
        if (doc[i] >= 0xC0)
            leads.push_back(i + 1 + rng.Below(3));
    for (int k = 0; k < 4 && !doc.empty(); ++k) {
        size_t nEnd = k == 0 ? doc.size() : rng.Range(1, (uint32_t)doc.size());
        if (k >= 2 && !leads.empty())
            nEnd = std::min(doc.size(), leads[rng.Below((uint32_t)leads.size())]);
        const size_t nStart = k == 0 ? 0 : rng.Below((uint32_t)nEnd);
        const size_t nLen = nEnd - nStart;
        if (nLen > xs.pArea->Capacity())
            continue;
        BYTE* pb = xs.pArea->Tail(nLen);
        memcpy(pb, doc.data() + nStart, nLen);
        const std::string strAnsi = CBasedTXmlParser::Utf8ToAnsi((const char*)pb, nLen);
        if (strAnsi.size() > nLen || strAnsi.find('\0') != std::string::npos)
            Finding(st, "convert", "the conversion made a longer text or a zero byte", doc);
    }
}

} // namespace fuzz
