// XML access layer: real documents on disk, read through CCustomXmlParse.
#include <gtest/gtest.h>
#include <limits.h>
#include <random>
#include <string>
#include <vector>
#include "custom_doc.h"
#include "testutil.h"
#include "xml_docs.h"
#include "xml_guard.h"
#include "xml_parser.h"

namespace {

class Parser : public CCustomXmlParse {
public:
    TiXmlDocument& Doc() { return m_doc; }
};

const char* const kDecl = kt::XmlDecl();

std::string Section(const std::string& strName, const std::string& strBody)
{
    return "<" + strName + ">" + strBody + "</" + strName + ">";
}

using kt::Document;
using kt::Elem;

class XmlFiles : public ::testing::Test {
protected:
    void SetUp() override { m_strDir = kt::NewTempFolder("xml"); }
    std::string Put(const std::string& strName, const std::string& strBytes)
    {
        std::string strPath = m_strDir + "\\" + strName;
        EXPECT_TRUE(kt::WriteBytes(strPath, strBytes)) << strPath;
        return strPath;
    }
    // Loads a document and selects a section of it.
    void Open(Parser& parser, const std::string& strBytes, const char* pszSection = "functions")
    {
        ASSERT_TRUE(parser.LoadXmlFile(Put("doc.xml", strBytes).c_str()));
        parser.SelectSection(pszSection);
    }
    std::string m_strDir;
};

size_t DomDepth(const TiXmlNode* pNode)
{
    size_t nMax = 0;
    for (const TiXmlNode* p = pNode->FirstChild(); p; p = p->NextSibling()) {
        if (p->ToElement())
            nMax = std::max(nMax, 1 + DomDepth(p));
    }
    return nMax;
}

std::string Printed(const TiXmlDocument& doc)
{
    TiXmlPrinter printer;
    printer.SetStreamPrinting();
    doc.Accept(&printer);
    return printer.Str();
}

} // namespace

// ---- Template and sections ----

TEST(Template, InitHoldsTheEmptyCustomisationDocument)
{
    EXPECT_EQ(68u, strlen(CUSTOM_TEMPLATE));
    Parser parser;
    EXPECT_EQ(nullptr, parser.CurrentElement());
    EXPECT_TRUE(parser.Init());
    const TiXmlElement* pContent = parser.CurrentElement();
    ASSERT_NE(nullptr, pContent);
    EXPECT_EQ("content", pContent->ValueStr());
    EXPECT_EQ(nullptr, pContent->FirstChild());
    const TiXmlElement* pMsg = parser.Doc().RootElement();
    ASSERT_NE(nullptr, pMsg);
    EXPECT_EQ("msg", pMsg->ValueStr());
    EXPECT_EQ(pContent, pMsg->FirstChildElement());
    EXPECT_EQ(nullptr, pContent->NextSibling());
    const TiXmlDeclaration* pDecl = parser.Doc().FirstChild()->ToDeclaration();
    ASSERT_NE(nullptr, pDecl);
    EXPECT_STREQ("1.0", pDecl->Version());
    EXPECT_STREQ("UTF-8", pDecl->Encoding());

    parser.SelectSection("functions");
    EXPECT_EQ(nullptr, parser.CurrentElement());
    // Reset empties everything.
    parser.Init();
    parser.ResetDocument();
    EXPECT_EQ(nullptr, parser.CurrentElement());
    EXPECT_EQ(nullptr, parser.Doc().FirstChild());
}

TEST(Template, BaseClassInitDoesNothing)
{
    CBasedTXmlParser base;
    EXPECT_TRUE(base.Init());
    std::string str = "x";
    base.GetNV1("content", str, 0);
    EXPECT_EQ("", str);
}

TEST_F(XmlFiles, FirstSectionAndFirstValueWin)
{
    Parser parser;
    Open(parser, Document(Section("functions", "<arp>1</arp><arp>2</arp>") +
                          Section("functions", "<arp>3</arp><dhcp>4</dhcp>")));
    unsigned int u = 99;
    parser.GetUIntValue("arp", &u);
    EXPECT_EQ(1u, u);
    parser.GetUIntValue("dhcp", &u);
    EXPECT_EQ(0u, u);  // only in the second section
}

TEST_F(XmlFiles, SectionNeedsMsgAndContent)
{
    struct { const char* pszDoc; bool bFound; } const aCase[] = {
        {"<msg><content><functions/></content></msg>", true},
        {"<msg><other/><content><x/><functions/></content></msg>", true},
        {"<msg><functions/></msg>", false},
        {"<content><functions/></content>", false},
        {"<Msg><content><functions/></content></Msg>", false},
        {"<msg><Content><functions/></Content></msg>", false},
        {"<msg><content><Functions/></content></msg>", false},
        {"<msg><content/><content><functions/></content></msg>", false},  // first content only
        {"<other/><msg><content><functions/></content></msg>", true},
    };
    for (const auto& c : aCase) {
        Parser parser;
        Open(parser, std::string(kDecl) + c.pszDoc);
        EXPECT_EQ(c.bFound, parser.CurrentElement() != nullptr) << c.pszDoc;
    }
}

// ---- Values ----

TEST_F(XmlFiles, UnsignedValuesFollowStrtoul)
{
    struct { const char* pszText; unsigned int uExpect; } const aCase[] = {
        {"7", 7}, {"-1", 4294967295u}, {" 5", 5}, {"\t 5 ", 5}, {"12abc", 12}, {"abc", 0},
        {"+7", 7}, {"4294967295", 4294967295u}, {"4294967296", 4294967295u},
        {"99999999999999999999", 4294967295u}, {"-4294967295", 1}, {"0x10", 0}, {"010", 10},
        {"", 0}, {"&#x34;2", 42},
    };
    for (const auto& c : aCase) {
        Parser parser;
        Open(parser, Document(Section("functions", std::string("<renameConn>") + c.pszText + "</renameConn>")));
        unsigned int u = 12345;
        parser.GetUIntValue("renameConn", &u);
        EXPECT_EQ(c.uExpect, u) << "'" << c.pszText << "'";
    }
}

TEST_F(XmlFiles, SignedValuesFollowStrtolClampedTo32Bits)
{
    struct { const char* pszText; int nExpect; } const aCase[] = {
        {"-5", -5}, {"5", 5}, {" -17xyz", -17}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN}, {"99999999999999", INT_MAX}, {"x", 0},
    };
    for (const auto& c : aCase) {
        Parser parser;
        Open(parser, Document(Section("logoOptions", std::string("<customIcon>") + c.pszText + "</customIcon>")),
             "logoOptions");
        int n = 12345;
        parser.GetIntValue("customIcon", &n);
        EXPECT_EQ(c.nExpect, n) << c.pszText;
    }
}

// Empty, absent and non-text values read as 0 or empty and always overwrite.
TEST_F(XmlFiles, MissingAndEmptyValuesOverwrite)
{
    Parser parser;
    Open(parser, Document(Section("functions",
        "<renameConn>7</renameConn><selfClosed/><openClose></openClose>"
        "<commentFirst><!-- note -->5</commentFirst><elementFirst><x>1</x>2</elementFirst>"
        "<blank>   </blank>")));
    const char* const apszEmpty[] = {"selfClosed", "openClose", "commentFirst", "elementFirst", "absent", "blank"};
    for (const char* pszName : apszEmpty) {
        unsigned int u = 1;
        int n = 1;
        std::string str = "old";
        parser.GetUIntValue(pszName, &u);
        parser.GetIntValue(pszName, &n);
        parser.GetStringValue(pszName, str, 0);
        EXPECT_EQ(0u, u) << pszName;
        EXPECT_EQ(0, n) << pszName;
        EXPECT_EQ("", str) << pszName;
        parser.GetNV1(pszName, str, 0);
        EXPECT_EQ("", str) << pszName;
    }
    unsigned int u = 0;
    parser.GetUIntValue("renameConn", &u);
    EXPECT_EQ(7u, u);
    std::string str = "old";
    parser.GetNV1(NULL, str, 0);
    EXPECT_EQ("", str);
    parser.GetUIntValue("renameConn", NULL);  // no out-parameter: nothing happens

    // Without a current element every getter yields its empty value.
    parser.SelectSection("missing");
    u = 1;
    parser.GetUIntValue("renameConn", &u);
    EXPECT_EQ(0u, u);
}

TEST_F(XmlFiles, ElementNamesAreCaseSensitive)
{
    Parser parser;
    Open(parser, Document(Section("logoOptions", "<cusIconName>a.ico</cusIconName><CUSICONNAME>b.ico</CUSICONNAME>")),
         "logoOptions");
    std::string str = "old";
    parser.GetStringValue("CusIconName", str, 260);
    EXPECT_EQ("", str);
    parser.GetStringValue("cusIconName", str, 260);
    EXPECT_EQ("a.ico", str);
}

TEST_F(XmlFiles, ByteLimitCutsTheRawText)
{
    std::string strValue;
    for (int i = 0; i < 300; ++i)
        strValue += (char)('a' + i % 26);
    Parser parser;
    Open(parser, Document(Section("logoOptions", "<subTitle>" + strValue + "</subTitle>")), "logoOptions");
    std::string str;
    parser.GetNV1("subTitle", str, 260);
    EXPECT_EQ(strValue.substr(0, 260), str);
    parser.GetStringValue("subTitle", str, 260);
    EXPECT_EQ(strValue.substr(0, 260), str);
    parser.GetStringValue("subTitle", str, 0);
    EXPECT_EQ(strValue, str);
    parser.GetNV1("subTitle", str, 300);
    EXPECT_EQ(strValue, str);
    parser.GetNV1("subTitle", str, 1);
    EXPECT_EQ("a", str);
}

TEST_F(XmlFiles, EntitiesCDataAndWhiteSpace)
{
    Parser parser;
    Open(parser, Document(Section("functions",
        "<a>x &amp; y &lt;z&gt;</a><b><![CDATA[1<2 & ]]></b><c>  two   words  </c><d>line\r\nbreak</d>")));
    std::string str;
    parser.GetStringValue("a", str, 0);
    EXPECT_EQ("x & y <z>", str);
    parser.GetStringValue("b", str, 0);
    EXPECT_EQ("1<2 & ", str);
    parser.GetStringValue("c", str, 0);
    EXPECT_EQ("two words", str);
    parser.GetStringValue("d", str, 0);
    EXPECT_EQ("line break", str);
}

// ---- UTF-8 to ANSI (code page 1252 here; the GBK cases run under 936) ----

TEST(Utf8ToAnsi, AsciiAndSingleByteCharacters)
{
    ASSERT_EQ(1252u, GetACP());
    EXPECT_EQ("plain ASCII 123", CBasedTXmlParser::Utf8ToAnsi("plain ASCII 123", 15));
    // U+20AC is one byte (0x80) in 1252: no zero byte after it.
    std::string str = CBasedTXmlParser::Utf8ToAnsi("a\xe2\x82\xac" "b", 5);
    EXPECT_EQ(std::string("a\x80" "b"), str);
    EXPECT_EQ(3u, str.size());
    // Two-byte characters are converted too, without swallowing what follows.
    EXPECT_EQ(std::string("caf\xe9!"), CBasedTXmlParser::Utf8ToAnsi("caf\xc3\xa9!", 6));
    // Characters the code page lacks become its default character.
    EXPECT_EQ("x?y", CBasedTXmlParser::Utf8ToAnsi("x\xe4\xb8\xady", 5));
    // Outside the BMP: one default character per UTF-16 unit on some systems.
    str = CBasedTXmlParser::Utf8ToAnsi("x\xf0\x9f\x98\x80y", 6);
    EXPECT_TRUE(str == "x?y" || str == "x??y") << str;
    EXPECT_EQ("", CBasedTXmlParser::Utf8ToAnsi(NULL, 5));
    EXPECT_EQ("ab", CBasedTXmlParser::Utf8ToAnsi("abcdef", 2));
}

// A byte that starts no complete character is dropped by itself; what comes
// after it is converted as usual.
TEST(Utf8ToAnsi, IncompleteAndInvalidSequences)
{
    struct { std::string strIn; std::string strExpect; } const aCase[] = {
        {"ab\xe2", "ab"},                  // lone lead byte at the end
        {"ab\xe2\x82", "ab"},              // cut after two of three bytes
        {"\xe2\x82" "AB", "AB"},           // cut sequence followed by ASCII
        {"\xe4" "AB", "AB"},               // lead byte with ASCII after it
        {"\x80\xbf" "x", "x"},             // stray continuation bytes
        {"\xe0\x80\x80" "x", "x"},         // overlong encoding of U+0000
        {"\xed\xa0\x80" "x", "x"},         // UTF-16 surrogate
        {"\xc3" "x", "x"},
        {"\xf0\x9f\x98" "x", "x"},
        {"\xff\xfe" "x", "x"},
        {"\xe2\x82\xac", "\x80"},
    };
    for (const auto& c : aCase)
        EXPECT_EQ(c.strExpect, CBasedTXmlParser::Utf8ToAnsi(c.strIn.data(), c.strIn.size())) << c.strIn;
}

// The text ends right before an inaccessible page: one byte too far and the
// test process faults.
TEST(Utf8ToAnsi, NeverReadsPastItsInput)
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    char* pBase = (char*)VirtualAlloc(NULL, 2 * si.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(nullptr, pBase);
    DWORD dwOld = 0;
    ASSERT_TRUE(VirtualProtect(pBase + si.dwPageSize, si.dwPageSize, PAGE_NOACCESS, &dwOld));
    const char* const apszTails[] = {"ab\xe4", "ab\xe4\xb8", "\xf0", "\xf0\x9f\x98", "\xc3", "x"};
    for (const char* pszTail : apszTails) {
        const size_t n = strlen(pszTail);
        char* pText = pBase + si.dwPageSize - n;  // no terminator: the page ends the text
        memcpy(pText, pszTail, n);
        std::string str = CBasedTXmlParser::Utf8ToAnsi(pText, n);
        EXPECT_LE(str.size(), n);
    }
    VirtualFree(pBase, 0, MEM_RELEASE);
}

// ---- Loading ----

TEST_F(XmlFiles, SamePathIsReadOnce)
{
    const std::string strPath = Put("KavlaCustom.xml", Document(Section("functions", "<arp>1</arp>")));
    Parser parser;
    unsigned int u = 0;
    ASSERT_TRUE(parser.LoadXmlFile(strPath.c_str()));
    ASSERT_TRUE(kt::WriteBytes(strPath, Document(Section("functions", "<arp>2</arp>"))));
    parser.SelectSection("functions");
    const TiXmlElement* pBefore = parser.CurrentElement();
    ASSERT_TRUE(parser.LoadXmlFile(strPath.c_str()));
    EXPECT_EQ(pBefore, parser.CurrentElement());  // left as it was
    parser.SelectSection("functions");
    parser.GetUIntValue("arp", &u);
    EXPECT_EQ(1u, u);  // still the first content

    // Even a deleted file is not looked at again.
    ASSERT_TRUE(DeleteFileA(strPath.c_str()));
    EXPECT_TRUE(parser.LoadXmlFile(strPath.c_str()));
    ASSERT_TRUE(kt::WriteBytes(strPath, Document(Section("functions", "<arp>2</arp>"))));

    // Init forgets the path: the next load reads the file again.
    parser.Init();
    ASSERT_TRUE(parser.LoadXmlFile(strPath.c_str()));
    EXPECT_EQ(nullptr, parser.CurrentElement());
    parser.SelectSection("functions");
    parser.GetUIntValue("arp", &u);
    EXPECT_EQ(2u, u);
}

TEST_F(XmlFiles, PathsCompareByteWise)
{
    const std::string strPath = Put("case.xml", Document(Section("functions", "<arp>1</arp>")));
    Parser parser;
    ASSERT_TRUE(parser.LoadXmlFile(strPath.c_str()));
    ASSERT_TRUE(kt::WriteBytes(strPath, Document(Section("functions", "<arp>2</arp>"))));
    std::string strUpper = strPath;
    for (char& c : strUpper)
        c = (char)toupper((unsigned char)c);
    ASSERT_NE(strPath, strUpper);
    ASSERT_TRUE(parser.LoadXmlFile(strUpper.c_str()));  // same file, another spelling: read again
    parser.SelectSection("functions");
    unsigned int u = 0;
    parser.GetUIntValue("arp", &u);
    EXPECT_EQ(2u, u);
}

TEST_F(XmlFiles, MissingEmptyAndMalformedFilesFail)
{
    struct { const char* pszName; std::string strBytes; } const aCase[] = {
        {"empty.xml", ""},
        {"blank.xml", "  \r\n  "},
        {"unclosed.xml", Document("").substr(0, 60)},
        {"mismatch.xml", std::string(kDecl) + "<msg><content></msg></content>"},
        {"dupattr.xml", std::string(kDecl) + "<msg a='1' a='2'><content/></msg>"},
        {"badattr.xml", std::string(kDecl) + "<msg a=1'><content/></msg>"},
        {"textonly.xml", "just text"},
        {"nul.xml", std::string("<msg><content>\0</content></msg>", 31)},
        {"cut.xml", Document(Section("functions", "<arp>1</arp>")).substr(0, 70)},
    };
    for (const auto& c : aCase) {
        Parser parser;
        const std::string strPath = Put(c.pszName, c.strBytes);
        EXPECT_FALSE(parser.LoadXmlFile(strPath.c_str())) << c.pszName;
        // A failure leaves an empty document behind, not a partial one.
        EXPECT_EQ(nullptr, parser.Doc().FirstChild()) << c.pszName;
        parser.SelectSection("functions");
        EXPECT_EQ(nullptr, parser.CurrentElement());
    }
    Parser parser;
    EXPECT_FALSE(parser.LoadXmlFile((m_strDir + "\\missing.xml").c_str()));
    EXPECT_FALSE(parser.LoadXmlFile(m_strDir.c_str()));  // a folder
    EXPECT_FALSE(parser.LoadXmlFile(NULL));
    EXPECT_FALSE(parser.LoadXmlFile(""));
}

// A failed load is not remembered: once the file is there it is read.
TEST_F(XmlFiles, FailedLoadIsNotRemembered)
{
    const std::string strPath = m_strDir + "\\later.xml";
    Parser parser;
    EXPECT_FALSE(parser.LoadXmlFile(strPath.c_str()));
    EXPECT_FALSE(parser.LoadXmlFile(strPath.c_str()));
    Put("later.xml", Document(Section("functions", "<arp>5</arp>")));
    ASSERT_TRUE(parser.LoadXmlFile(strPath.c_str()));
    parser.SelectSection("functions");
    unsigned int u = 0;
    parser.GetUIntValue("arp", &u);
    EXPECT_EQ(5u, u);
}

// Documents read the same as with TinyXML's own LoadFile: encodings, byte
// order marks, line ends, comments, processing instructions, doctype, odd
// but accepted forms.
TEST_F(XmlFiles, ReadsLikeTinyXmlLoadFile)
{
    const std::string aDocs[] = {
        Document(Section("functions", "<arp>1</arp>")),
        "\xef\xbb\xbf" + Document(Section("functions", "<a>\xe4\xb8\xad</a>")),
        "\xef\xbb\xbf<msg><content><functions><a>\xe4\xb8\xad</a></functions></content></msg>",
        "<msg><content><functions><a>\xc4\xe3</a></functions></content></msg>",
        "<?xml version=\"1.0\" encoding=\"GBK\"?><msg><content><functions><a>\xc4\xe3</a></functions></content></msg>",
        "<?xml version='1.0'?>\r\n<!-- c <a> -->\r\n<!DOCTYPE msg [ <!ENTITY x 'y'> ]>\r\n<msg>\r\n<content>\r"
        "<functions a=\"/>\" b='<x>' c=d>\r\n<arp>\r\n1\r\n</arp>\r\n</functions></content></msg>\r\n",
        "<?pi x <a><a> ?><msg><content><functions><![CDATA[<a>]]><arp>2</arp></functions></content></msg>",
        "<msg><content/></msg><msg><content><functions/></content></msg>",
        "<msg><content><functions><arp>3</arp></functions></content></msg> trailing text",
        std::string(kDecl) + "<msg><content><functions><a >1</a ><b\t/></functions ></content></msg>",
        "<?xml version=\"1.0\"",
        "<msg><!-- unterminated",
        "<msg></msg><!DOCTYPE unterminated",
    };
    int i = 0;
    for (const std::string& strDoc : aDocs) {
        const std::string strPath = Put("same" + std::to_string(i++) + ".xml", strDoc);
        TiXmlDocument ref;
        const bool bRef = ref.LoadFile(strPath.c_str());
        Parser parser;
        EXPECT_EQ(bRef, parser.LoadXmlFile(strPath.c_str())) << strDoc;
        if (bRef) {
            EXPECT_EQ(Printed(ref), Printed(parser.Doc())) << strDoc;
        }
    }
}

// ---- Nesting guard ----

namespace {

std::string Nested(size_t nDepth, const std::string& strOpen, const std::string& strClose,
                   const std::string& strInner = "")
{
    std::string str;
    str.reserve(nDepth * (strOpen.size() + strClose.size()) + strInner.size());
    for (size_t i = 0; i < nDepth; ++i)
        str += strOpen;
    str += strInner;
    for (size_t i = 0; i < nDepth && !strClose.empty(); ++i)
        str += strClose;
    return str;
}

} // namespace

// A hostile file nested 300,000 levels deep is refused as not well-formed,
// in every disguise that would hide the nesting from a naive scan.
TEST_F(XmlFiles, DeepNestingIsRefusedWithoutCrash)
{
    struct { const char* pszTag; std::string strDoc; } const aCase[] = {
        {"open", Nested(300000, "<a>", "")},
        {"closed", std::string(kDecl) + Nested(300000, "<a>", "</a>")},
        {"attr", std::string(kDecl) + Nested(300000, "<a x=\"/>\">", "")},
        {"comment", Nested(300000, "<a><!-- </a> -->", "")},
        {"pi", Nested(300000, "<?p > <a> ?>", "")},
        {"cdata", Nested(300000, "<a><![CDATA[</a>]]>", "")},
        {"doctype", Nested(300000, "<a><!x </a> >", "")},
        {"utf8", "\xef\xbb\xbf" + Nested(300000, "<\xe4\xb8\xad>", "")},
        {"section", Document(Section("functions", Nested(300000, "<arp>", "</arp>")))},
    };
    for (const auto& c : aCase) {
        Parser parser;
        const std::string strPath = Put(std::string(c.pszTag) + ".xml", c.strDoc);
        EXPECT_FALSE(parser.LoadXmlFile(strPath.c_str())) << c.pszTag;
        EXPECT_EQ(nullptr, parser.Doc().FirstChild());
        CusFunctionsInfo info;
        CCustomXmlParse reader;
        EXPECT_EQ(0, reader.ReadFunctions(strPath.c_str(), info)) << c.pszTag;
        EXPECT_EQ(1u, info.dynamicVifInfo);
    }
}

TEST_F(XmlFiles, NestingUpToTheLimitReads)
{
    // msg, content, functions, 252 levels and arp: 256 levels.
    const std::string strDeep = Document(Section("functions", "<arp>9</arp>" + Nested(252, "<n>", "</n>", "<arp>1</arp>")));
    Parser parser;
    ASSERT_TRUE(parser.LoadXmlFile(Put("deep256.xml", strDeep).c_str()));
    EXPECT_EQ(256u, DomDepth(&parser.Doc()));
    parser.SelectSection("functions");
    unsigned int u = 0;
    parser.GetUIntValue("arp", &u);
    EXPECT_EQ(9u, u);

    const std::string strTooDeep = Document(Section("functions", Nested(253, "<n>", "</n>", "<arp>1</arp>")));
    EXPECT_FALSE(parser.LoadXmlFile(Put("deep257.xml", strTooDeep).c_str()));
}

// In UTF-8 mode the parser steps over a multi-byte character by its lead
// byte; a document that ends inside one would be read past its end.
TEST_F(XmlFiles, TextEndingInsideACharacterIsRefused)
{
    const std::string aDocs[] = {
        std::string(kDecl) + "<msg>\xe4",
        std::string(kDecl) + "<msg>ab\xe4\xb8",
        std::string(kDecl) + "<msg a=\"\xf0\x9f",
        "\xef\xbb\xbf<msg>\xc3",
    };
    for (const std::string& strDoc : aDocs) {
        Parser parser;
        EXPECT_FALSE(parser.LoadXmlFile(Put("cut.xml", strDoc).c_str()));
        EXPECT_FALSE(CXmlNestingGuard::IsSafe(strDoc.c_str(), XML_MAX_NESTING));
    }
    // Outside UTF-8 mode the same bytes are single characters: harmless.
    EXPECT_TRUE(CXmlNestingGuard::IsSafe("<msg>\xe4", XML_MAX_NESTING));
}

// The guard follows the parser: for random documents built from the pieces
// that matter (tags, quotes, comments, CDATA, declarations, entities), it
// refuses exactly those the parser would nest deeper than the limit.
TEST(NestingGuard, AgreesWithTheParserOnRandomDocuments)
{
    const char* const apszPieces[] = {
        "<a>", "</a>", "<b>", "</b>", "<a/>", "</a >", "<a x='/>'>", "<b y=\"</b>\">", "<a z=w>",
        "<!--", "-->", "<![CDATA[", "]]>", "<?xml version='1.0'?>", "<?xml encoding=\"UTF-8\"?>",
        "<?pi", "?>", ">", "<!DOCTYPE", "<!x>", "text", " ", "\n", "\"", "'", "=", "/", "&amp;",
        "&#x41;", "&#65;", "&bogus;", "<", "/>", "<_u>", "</_u>", "<1>", "< a>", "\xe4\xb8\xad",
        "\xef\xbb\xbf", "<\xe4\xb8\xad>", "</\xe4\xb8\xad>", "<a a='1' a='2'>",
    };
    const size_t nPieces = sizeof(apszPieces) / sizeof(apszPieces[0]);
    std::mt19937 rng(20240611);
    int nRefused = 0, nAccepted = 0;
    for (int nRound = 0; nRound < 20000; ++nRound) {
        std::string strDoc;
        const size_t nLen = 1 + rng() % 40;
        for (size_t i = 0; i < nLen; ++i)
            strDoc += apszPieces[rng() % nPieces];
        const unsigned int uLimit = 1 + rng() % 5;
        TiXmlDocument doc;
        doc.Parse(strDoc.c_str(), NULL, TIXML_DEFAULT_ENCODING);
        const bool bWithin = DomDepth(&doc) <= uLimit;
        ASSERT_EQ(bWithin, CXmlNestingGuard::IsSafe(strDoc.c_str(), uLimit)) << strDoc << " limit " << uLimit;
        (bWithin ? nAccepted : nRefused)++;
    }
    // Both outcomes were exercised.
    EXPECT_GT(nRefused, 1000);
    EXPECT_GT(nAccepted, 1000);
}
