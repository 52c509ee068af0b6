// Readers of KavlaCustom.xml and KavlaUninstallInfo.xml on real files.
#include <gtest/gtest.h>
#include <algorithm>
#include <random>
#include <string>
#include <vector>
#include "custom_doc.h"
#include "testutil.h"
#include "xml_docs.h"
#include "xml_parser.h"

namespace {

const char* const kDecl = kt::XmlDecl();

using kt::Document;
using kt::Elem;

// Stored texts made with OpenSSL (des-ecb, key "mervo273") and base64.
const char* const kSecretText = "Vb+8578weTjEf776NzaATw==";  // "Secret#1"
const char* const kZeroText = "NfFZU+mkS3E=";                // "ab\0cd"
// A 100-byte password whose byte 95 is '@' (64): 140 characters. Cut to 128,
// its last whole block is password bytes 88-95, so the padding count read is
// 64 and the first 32 bytes remain.
const char* const kLongText =
    "3NFZeX7kDrZc5rvR/fFGTp12NZ0sXqQW0zxgxaBDckPAhMzhqbNtc4pcbjjfgN9+oodOSvXG+gLkMEU6DnKyqKXFXij3"
    "tJCMdz/ADj3E3lS/jxeTyZWN6FVLYOLBFxKkM5/IKgEIbBU=";

class CustomDoc : public ::testing::Test {
protected:
    void SetUp() override { m_strDir = kt::NewTempFolder("cusdoc"); }
    std::string Put(const std::string& strBytes, const std::string& strName = "KavlaCustom.xml")
    {
        std::string strPath = m_strDir + "\\" + strName;
        EXPECT_TRUE(kt::WriteBytes(strPath, strBytes));
        return strPath;
    }
    int Functions(const std::string& strBody, CusFunctionsInfo& info)
    {
        CCustomXmlParse parser;
        return parser.ReadFunctions(Put(Document(Elem("functions", strBody))).c_str(), info);
    }
    std::string m_strDir;
};

// Every u32 field of the functions section with its element name.
struct UField {
    const char* pszName;
    unsigned int CusFunctionsInfo::*pMember;
};
const UField kUFields[] = {
    {"renameConn", &CusFunctionsInfo::renameConn}, {"arp", &CusFunctionsInfo::arp},
    {"dhcp", &CusFunctionsInfo::dhcp}, {"wanControl", &CusFunctionsInfo::wanControl},
    {"acl", &CusFunctionsInfo::acl}, {"uninstall", &CusFunctionsInfo::uninstall},
    {"remindPopSecUI", &CusFunctionsInfo::remindPopSecUI}, {"AutoHideSecUI", &CusFunctionsInfo::AutoHideSecUI},
    {"userFromCert", &CusFunctionsInfo::userFromCert}, {"blackBox", &CusFunctionsInfo::blackBox},
    {"disableExit", &CusFunctionsInfo::disableExit}, {"patchARV", &CusFunctionsInfo::patchARV},
    {"url", &CusFunctionsInfo::url}, {"autoReboot", &CusFunctionsInfo::autoReboot},
    {"disablePap", &CusFunctionsInfo::disablePap}, {"ssid", &CusFunctionsInfo::ssid},
    {"forbidMdyIp", &CusFunctionsInfo::forbidMdyIp}, {"drvErr", &CusFunctionsInfo::drvErr},
    {"dynamicPwdVerify", &CusFunctionsInfo::dynamicPwdVerify}, {"msgAuthOpt", &CusFunctionsInfo::msgAuthOpt},
    {"hideRestart", &CusFunctionsInfo::hideRestart}, {"macsec", &CusFunctionsInfo::macsec},
    {"iESiOSDK", &CusFunctionsInfo::iESiOSDK}, {"passwordProtection", &CusFunctionsInfo::passwordProtection},
    {"userNameLenFromCert", &CusFunctionsInfo::userNameLenFromCert},
    {"dynamicVifInfo", &CusFunctionsInfo::dynamicVifInfo}, {"msgAuthInfo", &CusFunctionsInfo::msgAuthInfo},
    {"msgAuthServPort", &CusFunctionsInfo::msgAuthServPort},
};

void ExpectInitialFunctions(const CusFunctionsInfo& info)
{
    for (const UField& f : kUFields) {
        const unsigned int uInitial =
            (f.pMember == &CusFunctionsInfo::dynamicVifInfo || f.pMember == &CusFunctionsInfo::msgAuthInfo) ? 1 : 0;
        EXPECT_EQ(uInitial, info.*f.pMember) << f.pszName;
    }
    EXPECT_EQ("", info.uninstallPassword);
    EXPECT_EQ("", info.userFromExtendPro);
    EXPECT_EQ("", info.msgAuthServIP);
}

} // namespace

// ---- Records ----

TEST(Records, InitialValues)
{
    CusFunctionsInfo fn;
    ExpectInitialFunctions(fn);
    CusLogoInfo logo;
    EXPECT_EQ(0, logo.customIcon);
    EXPECT_EQ(0, logo.bAddTrayIcon);
    EXPECT_EQ(0, logo.bHideIcon);
    EXPECT_EQ(0, logo.bHideShortcut);
    EXPECT_EQ("", logo.CusIconName);
    EXPECT_EQ("", logo.subAboutInfo);
    EXPECT_EQ("", logo.subTitle);
    CusUninstallInfo un;
    EXPECT_EQ(0u, un.uninstall);
    EXPECT_EQ("", un.uninstallPass);
}

// ---- Documents that cannot be read, and missing sections ----

TEST_F(CustomDoc, MissingOrMalformedDocumentKeepsTheRecords)
{
    const std::string aBad[] = {"", "<msg><content>", std::string(kDecl) + "<msg><content></msg>", "not xml"};
    std::vector<std::string> paths = {m_strDir + "\\absent.xml"};
    int i = 0;
    for (const std::string& strBad : aBad)
        paths.push_back(Put(strBad, "bad" + std::to_string(i++) + ".xml"));
    for (const std::string& strPath : paths) {
        CusFunctionsInfo fn;
        CusLogoInfo logo;
        CusUninstallInfo un;
        CCustomXmlParse p1, p2, p3;
        EXPECT_EQ(0, p1.ReadFunctions(strPath.c_str(), fn)) << strPath;
        EXPECT_EQ(0, p2.ReadLogoOptions(strPath.c_str(), logo)) << strPath;
        EXPECT_EQ(0, p3.ReadUninstallInfo(strPath.c_str(), un)) << strPath;
        ExpectInitialFunctions(fn);
        EXPECT_EQ("", logo.CusIconName);
        EXPECT_EQ(0u, un.uninstall);
    }
}

// A well-formed document without the section succeeds and leaves the record
// exactly as the caller had it.
TEST_F(CustomDoc, MissingSectionLeavesTheRecordUntouched)
{
    const std::string aDocs[] = {
        Document(Elem("logoOptions", Elem("customIcon", "1")) + Elem("uninstallInfo", Elem("uninstall", "1"))),
        Document(""),
        std::string(kDecl) + "<msg><functions><arp>1</arp></functions><logoOptions/><uninstallInfo/></msg>",
        std::string(kDecl) + "<other><content><functions><arp>1</arp></functions></content></other>",
        Document(Elem("Functions", Elem("arp", "1")) + Elem("LogoOptions", "") + Elem("UninstallInfo", "")),
    };
    for (const std::string& strDoc : aDocs) {
        const std::string strPath = Put(strDoc);
        CusFunctionsInfo fn;
        fn.arp = 5;
        fn.dynamicVifInfo = 7;
        fn.uninstallPassword = "keep";
        CCustomXmlParse p1;
        EXPECT_EQ(1, p1.ReadFunctions(strPath.c_str(), fn)) << strDoc;
        EXPECT_EQ(5u, fn.arp);
        EXPECT_EQ(7u, fn.dynamicVifInfo);
        EXPECT_EQ("keep", fn.uninstallPassword);
        if (strDoc.find("<logoOptions>") == std::string::npos) {
            CusLogoInfo logo;
            logo.customIcon = -3;
            CCustomXmlParse p2;
            EXPECT_EQ(1, p2.ReadLogoOptions(strPath.c_str(), logo));
            EXPECT_EQ(-3, logo.customIcon);
        }
        if (strDoc.find("<uninstallInfo>") == std::string::npos) {
            CusUninstallInfo un;
            un.uninstall = 9;
            un.uninstallPass = "keep";
            CCustomXmlParse p3;
            EXPECT_EQ(1, p3.ReadUninstallInfo(strPath.c_str(), un));
            EXPECT_EQ(9u, un.uninstall);
            EXPECT_EQ("keep", un.uninstallPass);
        }
    }
}

// ---- functions ----

TEST_F(CustomDoc, EmptyFunctionsSectionOverwritesWithZero)
{
    CusFunctionsInfo fn;
    fn.arp = 5;
    fn.uninstallPassword = "old";
    EXPECT_EQ(1, Functions("", fn));
    EXPECT_EQ(0u, fn.dynamicVifInfo);  // read and absent: 0, not the initial 1
    EXPECT_EQ(1u, fn.msgAuthInfo);     // not read: msgAuthOpt is 0
    EXPECT_EQ(0u, fn.arp);
    EXPECT_EQ("", fn.uninstallPassword);
}

// Every value lands in its own field, whatever the element order and the
// foreign elements around them.
TEST_F(CustomDoc, EveryFunctionsValueInAnyOrder)
{
    std::vector<std::string> elems;
    unsigned int uValue = 100;
    for (const UField& f : kUFields) {
        const unsigned int u = (f.pMember == &CusFunctionsInfo::msgAuthOpt) ? 1 : uValue++;
        elems.push_back(Elem(f.pszName, std::to_string(u)));
    }
    elems.push_back(Elem("uninstallPassword", kSecretText));
    elems.push_back(Elem("userFromExtendPro", "ext-user"));
    elems.push_back(Elem("msgAuthServIP", "10.0.0.1"));
    elems.push_back(Elem("unknownElement", "55"));
    elems.push_back("<!-- a comment -->");
    std::mt19937 rng(7);
    for (int nRound = 0; nRound < 3; ++nRound) {
        std::string strBody;
        for (const std::string& str : elems)
            strBody += str + Elem("noise", "1");
        CusFunctionsInfo fn;
        ASSERT_EQ(1, Functions(strBody, fn));
        uValue = 100;
        for (const UField& f : kUFields) {
            const unsigned int u = (f.pMember == &CusFunctionsInfo::msgAuthOpt) ? 1 : uValue++;
            EXPECT_EQ(u, fn.*f.pMember) << f.pszName << " round " << nRound;
        }
        EXPECT_EQ("Secret#1", fn.uninstallPassword);
        EXPECT_EQ("ext-user", fn.userFromExtendPro);
        EXPECT_EQ("10.0.0.1", fn.msgAuthServIP);
        std::shuffle(elems.begin(), elems.end(), rng);
    }
}

TEST_F(CustomDoc, MessageAuthDetailsOnlyWithTheOption)
{
    const std::string strDetails =
        Elem("msgAuthInfo", "0") + Elem("msgAuthServIP", "1.2.3.4") + Elem("msgAuthServPort", "99");
    struct { const char* pszOpt; bool bRead; } const aCase[] = {
        {"0", false}, {"", false}, {"x", false}, {"1", true}, {"2", true}, {"-1", true},
    };
    for (const auto& c : aCase) {
        CusFunctionsInfo fn;
        ASSERT_EQ(1, Functions(Elem("msgAuthOpt", c.pszOpt) + strDetails, fn));
        EXPECT_EQ(c.bRead ? 0u : 1u, fn.msgAuthInfo) << c.pszOpt;
        EXPECT_EQ(c.bRead ? "1.2.3.4" : "", fn.msgAuthServIP) << c.pszOpt;
        EXPECT_EQ(c.bRead ? 99u : 0u, fn.msgAuthServPort) << c.pszOpt;
    }
    // The option on but details absent: read as 0 and empty.
    CusFunctionsInfo fn;
    ASSERT_EQ(1, Functions(Elem("msgAuthOpt", "1"), fn));
    EXPECT_EQ(0u, fn.msgAuthInfo);
}

TEST_F(CustomDoc, UserFromExtendProIsCutTo32Bytes)
{
    const std::string str40 = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    ASSERT_EQ(40u, str40.size());
    CusFunctionsInfo fn;
    ASSERT_EQ(1, Functions(Elem("userFromExtendPro", str40), fn));
    EXPECT_EQ(str40.substr(0, 32), fn.userFromExtendPro);
}

// The stored password is decrypted into the record; anything the cipher
// refuses gives an empty password and the read still succeeds.
TEST_F(CustomDoc, StoredPasswordIsDecrypted)
{
    struct { std::string strStored; std::string strExpect; } const aCase[] = {
        {kSecretText, "Secret#1"},
        {"8EZNoSA5Gmc=", "\xc4\xe3\xba\xc3"},  // ANSI bytes of the password, as stored
        {kZeroText, "ab"},                      // a zero byte ends the text
        {"", ""},
        {"not base64!", ""},
        {"Vb+8578weTjEf776NzaATw=", ""},        // 23 characters
        {"QUJD", ""},                           // not a whole block
        {kLongText, "abcdefghijklmnopqrstuvwxyzabcdef"},  // cut to 128 characters first
        {" Vb+8578weTjEf776NzaATw== ", "Secret#1"},        // the parser trims white space
    };
    for (const auto& c : aCase) {
        CusFunctionsInfo fn;
        fn.uninstallPassword = "old";
        ASSERT_EQ(1, Functions(Elem("uninstall", "1") + Elem("uninstallPassword", c.strStored), fn)) << c.strStored;
        EXPECT_EQ(c.strExpect, fn.uninstallPassword) << c.strStored;
        EXPECT_EQ(1u, fn.uninstall);
    }
}

// One caller calls Init before reading; it makes no difference.
TEST_F(CustomDoc, InitBeforeReadingChangesNothing)
{
    const std::string strPath = Put(Document(Elem("functions", Elem("uninstall", "1") +
                                                               Elem("uninstallPassword", kSecretText))));
    CusFunctionsInfo a, b;
    CCustomXmlParse p1, p2;
    p2.Init();
    EXPECT_EQ(1, p1.ReadFunctions(strPath.c_str(), a));
    EXPECT_EQ(1, p2.ReadFunctions(strPath.c_str(), b));
    EXPECT_EQ(a.uninstall, b.uninstall);
    EXPECT_EQ(a.uninstallPassword, b.uninstallPassword);
    EXPECT_EQ("Secret#1", b.uninstallPassword);
}

// ---- logoOptions ----

TEST_F(CustomDoc, LogoOptionsInAnyOrderWithLimits)
{
    const std::string strLongName = std::string(296, 'n') + ".ico";  // 300 bytes
    const std::string strAbout(1000, 'b');
    const std::string strTitle(261, 't');
    const std::string aBodies[] = {
        Elem("customIcon", "1") + Elem("CusIconName", strLongName) + Elem("subAboutInfo", strAbout) +
            Elem("subTitle", strTitle) + Elem("bAddTrayIcon", "-2") + Elem("bHideIcon", "3") +
            Elem("bHideShortcut", "4"),
        Elem("bHideShortcut", "4") + Elem("x", "") + Elem("subTitle", strTitle) + "<!-- c -->" +
            Elem("bHideIcon", "3") + Elem("cusIconName", "wrong.ico") + Elem("CusIconName", strLongName) +
            Elem("customIcon", "1") + Elem("bAddTrayIcon", "-2") + Elem("subAboutInfo", strAbout) +
            Elem("customIcon", "8"),
    };
    for (const std::string& strBody : aBodies) {
        CusLogoInfo logo;
        CCustomXmlParse parser;
        const std::string strPath = Put(Document(Elem("functions", "") + Elem("logoOptions", strBody)));
        ASSERT_EQ(1, parser.ReadLogoOptions(strPath.c_str(), logo));
        EXPECT_EQ(1, logo.customIcon);
        EXPECT_EQ(strLongName.substr(0, 260), logo.CusIconName);
        EXPECT_EQ(strAbout, logo.subAboutInfo);
        EXPECT_EQ(strTitle.substr(0, 260), logo.subTitle);
        EXPECT_EQ(-2, logo.bAddTrayIcon);
        EXPECT_EQ(3, logo.bHideIcon);
        EXPECT_EQ(4, logo.bHideShortcut);
    }
}

TEST_F(CustomDoc, LogoOptionsMissingValuesReadAsZero)
{
    CusLogoInfo logo;
    logo.customIcon = 5;
    logo.CusIconName = "old.ico";
    CCustomXmlParse parser;
    ASSERT_EQ(1, parser.ReadLogoOptions(Put(Document(Elem("logoOptions", Elem("bHideIcon", "1")))).c_str(), logo));
    EXPECT_EQ(0, logo.customIcon);
    EXPECT_EQ("", logo.CusIconName);
    EXPECT_EQ(1, logo.bHideIcon);
}

// ---- uninstallInfo ----

TEST_F(CustomDoc, UninstallInfoKeepsTheStoredText)
{
    struct { std::string strBody; unsigned int uUninstall; std::string strPass; } const aCase[] = {
        {Elem("uninstall", "1") + Elem("uninstallPass", kSecretText), 1, kSecretText},
        {Elem("uninstallPass", "") + Elem("uninstall", "1"), 1, ""},
        {Elem("uninstall", "0"), 0, ""},
        {Elem("uninstallPass", kLongText), 0, std::string(kLongText).substr(0, 128)},
        {Elem("uninstallPass", "not decrypted") + Elem("uninstall", "2"), 2, "not decrypted"},
    };
    for (const auto& c : aCase) {
        CusUninstallInfo un;
        un.uninstall = 7;
        un.uninstallPass = "old";
        CCustomXmlParse parser;
        const std::string strPath = Put(Document(Elem("functions", Elem("uninstall", "5")) +
                                                 Elem("uninstallInfo", c.strBody)),
                                        "KavlaUninstallInfo.xml");
        ASSERT_EQ(1, parser.ReadUninstallInfo(strPath.c_str(), un)) << c.strBody;
        EXPECT_EQ(c.uUninstall, un.uninstall) << c.strBody;
        EXPECT_EQ(c.strPass, un.uninstallPass) << c.strBody;
    }
}

// Two readers on one parser object and one path read the file once.
TEST_F(CustomDoc, OneObjectReadsItsFileOnce)
{
    const std::string strPath = Put(Document(Elem("functions", Elem("arp", "1")) +
                                             Elem("logoOptions", Elem("customIcon", "1"))));
    CCustomXmlParse parser;
    CusFunctionsInfo fn;
    ASSERT_EQ(1, parser.ReadFunctions(strPath.c_str(), fn));
    ASSERT_TRUE(kt::WriteBytes(strPath, Document(Elem("logoOptions", Elem("customIcon", "2")))));
    CusLogoInfo logo;
    ASSERT_EQ(1, parser.ReadLogoOptions(strPath.c_str(), logo));
    EXPECT_EQ(1, logo.customIcon);
}
