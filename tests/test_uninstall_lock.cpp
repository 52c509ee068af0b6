// The uninstall-lock decision on real protected files and registry values of
// the test's prefix: the source order, each source's flag and password
// rules, the installed-client keys, the registry fallback and every log line.
#include <gtest/gtest.h>
#include "cipher.h"
#include "testutil.h"
#include "uninstall_lock.h"
#include "verify.h"
#include "vrf_fixture.h"

using vt::ProtectedFilesTest;

namespace {

const char* const PLAIN_PWD = "Unlock-2024";

std::string Encrypted(const std::string& strPlain)
{
    char sz[129] = {0};
    if (EncryptPassword(sz, 128, (const BYTE*)strPlain.data(), (DWORD)strPlain.size()) != CIPHER_OK)
        return "";
    return sz;
}

enum Client { CLIENT_NONE, CLIENT_NEW, CLIENT_OLD, CLIENT_BOTH };

void SetClient(Client eClient)
{
    if (eClient == CLIENT_NEW || eClient == CLIENT_BOTH) {
        ASSERT_TRUE(kt::RegSetString(vt::KEY_CLIENT_NEW, "DisplayVersion", "7.2.1"));
    }
    if (eClient == CLIENT_OLD || eClient == CLIENT_BOTH) {
        ASSERT_TRUE(kt::RegSetString(vt::KEY_CLIENT_OLD, "DisplayVersion", "6.0.3"));
    }
    // A key without the value marks nothing.
    if (eClient == CLIENT_NONE || eClient == CLIENT_OLD) {
        ASSERT_TRUE(kt::RegSetString(vt::KEY_CLIENT_NEW, "DisplayName", "Kavla"));
    }
}

// The log lines of the decision step for a set flag.
std::vector<std::string> DecisionLines(Client eClient)
{
    if (eClient == CLIENT_NEW || eClient == CLIENT_BOTH)
        return {"IsUninstallPrompt:Get Version from reg succ. 7.2.1",
                "IsUninstallPrompt:Need prompt uninstall password Dlg"};
    if (eClient == CLIENT_OLD)
        return {"IsUninstallPrompt:Get Version from new reg failed, try old.",
                "IsUninstallPrompt:Get Version from old reg succ, return true."};
    return {"IsUninstallPrompt:Get Version from new reg failed, try old.",
            "IsUninstallPrompt:Get Version from old reg failed, return false."};
}

// Lines of the steps that find no trusted file (no backups either).
const std::vector<std::string>& NoFileLines()
{
    static const std::vector<std::string> s_lines = {
        "IsUninstallPrompt:verifying KavlaCustom xml info FAILED with Err  ,So copy bak files!"
        "CopyFile KavlaCustom.xml return false!",
        "IsUninstallPrompt:verifying uninstall info FAILED with Err  ,So copy bak files!"
        "CopyFile KavlaUninstallInfo.xml return false!",
        "utl_LoadCusIniFile:CusIniVerify new failed,try for old.",
        "utl_LoadCusIniFile:CusIniVerify old failed,return false.",
        "IsUninstallPrompt:verifying KavlaCustom ini info FAILED with Err  ,So copy bak files!"
        "CopyFile KavlaCustom.ini return false!",
        "IsUninstallPrompt:verifying uninstall ini info FAILED with Err  ,So copy bak files!"
        "CopyFile KavlaUninstallInfo.ini return false!",
    };
    return s_lines;
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class UninstallLockTest : public ProtectedFilesTest {
protected:
    // The registry says "protected" in every test that shows a file wins.
    void SetRegistryLock()
    {
        ASSERT_TRUE(kt::RegSetDword(vt::KEY_KAVLA, "Uninstall", 1));
        ASSERT_TRUE(kt::RegSetString(vt::KEY_KAVLA, "UninstallPwd", "REGISTRYTEXT"));
    }
    // A clean prefix for one case of a table, its log lines counted from here.
    void StartCase(Client eClient, bool bRegistryLock)
    {
        Clean();
        m_nLogStart = kt::UtlLogText("setup").size();
        if (bRegistryLock)
            SetRegistryLock();
        SetClient(eClient);
    }
    // The decision's last lines: a flag of 0 (or none) ends it at once; any
    // other flag goes on to the installed-client keys.
    static std::vector<std::string> Ending(std::vector<std::string> lines, bool bNoLock, Client eClient)
    {
        if (bNoLock) {
            lines.push_back("IsUninstallPrompt:!dwResult, return false.");
            return lines;
        }
        return Concat(lines, DecisionLines(eClient));
    }
    int Decide()
    {
        memset(m_szPwd, 0, sizeof(m_szPwd));
        return IsUninstallPrompt("setup", m_szPwd);
    }
    // Neither form of the password may ever reach the log.
    void ExpectNoPasswordLogged()
    {
        std::string strLog = kt::UtlLogText("setup");
        EXPECT_EQ(std::string::npos, strLog.find(PLAIN_PWD));
        EXPECT_EQ(std::string::npos, strLog.find(Encrypted(PLAIN_PWD)));
        EXPECT_EQ(std::string::npos, strLog.find("REGISTRYTEXT"));
        EXPECT_EQ(std::string::npos, strLog.find("INITEXT"));
    }
    char m_szPwd[132];
};

} // namespace

TEST_F(UninstallLockTest, NullBufferIsRefusedWithOneLine)
{
    SetRegistryLock();
    SetClient(CLIENT_BOTH);
    EXPECT_EQ(0, IsUninstallPrompt("setup", NULL));
    std::vector<std::string> expected = {"IsUninstallPrompt:parameter err."};
    EXPECT_EQ(expected, NewLogLines());
    EXPECT_FALSE(kt::Exists(vt::RegInfo())) << "nothing else ran";
}

TEST_F(UninstallLockTest, CipherRoundTripGivesTheKnownText)
{
    // The stored form the documents below carry (DES-ECB, key "mervo273", Base64).
    EXPECT_EQ("B6tqY06owSyWtTUT7/mP8w==", Encrypted(PLAIN_PWD));
}

// Registry source: flag 0, 1, 2 or missing, with each combination of the installed-client keys.
TEST_F(UninstallLockTest, RegistryFlagAndInstalledClientKeys)
{
    struct Case {
        int nFlag;        // -1: no "Uninstall" value
        Client eClient;
        int nExpected;
    } const aCases[] = {
        {0, CLIENT_BOTH, 0}, {0, CLIENT_NONE, 0},
        {1, CLIENT_NONE, 0}, {1, CLIENT_NEW, 1}, {1, CLIENT_OLD, 1}, {1, CLIENT_BOTH, 1},
        {2, CLIENT_NONE, 0}, {2, CLIENT_NEW, 1}, {2, CLIENT_OLD, 1},
        {-1, CLIENT_BOTH, 0},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(testing::Message() << "flag " << c.nFlag << " client " << c.eClient);
        StartCase(c.eClient, false);
        if (c.nFlag >= 0) {
            ASSERT_TRUE(kt::RegSetDword(vt::KEY_KAVLA, "Uninstall", (DWORD)c.nFlag));
        }
        ASSERT_TRUE(kt::RegSetString(vt::KEY_KAVLA, "UninstallPwd", "REGISTRYTEXT/+=="));
        EXPECT_EQ(c.nExpected, Decide());
        EXPECT_STREQ("REGISTRYTEXT/+==", m_szPwd) << "the registry's text, unchanged";

        std::vector<std::string> expected = NoFileLines();
        if (c.nFlag >= 0)
            expected.push_back("IsUninstallPrompt:Get Uninstall from reg succ");
        else {
            expected.push_back("IsUninstallPrompt:Get Uninstall from reg failed");
            expected.push_back("IsUninstallPrompt:Get Uninstall from old reg failed");
        }
        expected.push_back("IsUninstallPrompt:Get UninstallPwd from reg Succ.");
        EXPECT_EQ(Ending(expected, c.nFlag <= 0, c.eClient), NewLogLines());
    }
    ExpectNoPasswordLogged();
}

TEST_F(UninstallLockTest, RegistryFallsBackToTheOlderKey)
{
    ASSERT_TRUE(kt::RegSetString(vt::KEY_KAVLA, "UninstallPwd", "NEWKEYTEXT"));
    ASSERT_TRUE(kt::RegSetDword(vt::KEY_DRAVIK_KAVLA, "Uninstall", 1));
    ASSERT_TRUE(kt::RegSetString(vt::KEY_DRAVIK_KAVLA, "UninstallPwd", "OLDKEYTEXT"));
    SetClient(CLIENT_OLD);
    EXPECT_EQ(1, Decide());
    EXPECT_STREQ("OLDKEYTEXT", m_szPwd) << "the password of the key whose flag was read";
    std::vector<std::string> expected = Concat(NoFileLines(), {"IsUninstallPrompt:Get Uninstall from reg failed",
                                                               "IsUninstallPrompt:Get UninstallPwd from reg Succ."});
    EXPECT_EQ(Concat(expected, DecisionLines(CLIENT_OLD)), NewLogLines());
}

TEST_F(UninstallLockTest, RegistryWithoutAnyFlag)
{
    // Neither key has "Uninstall": the password comes from SOFTWARE\Kavla.
    ASSERT_TRUE(kt::RegSetString(vt::KEY_DRAVIK_KAVLA, "UninstallPwd", "OLDKEYTEXT"));
    SetClient(CLIENT_BOTH);
    EXPECT_EQ(0, Decide());
    EXPECT_STREQ("", m_szPwd);
    std::vector<std::string> expected =
        Concat(NoFileLines(), {"IsUninstallPrompt:Get Uninstall from reg failed",
                               "IsUninstallPrompt:Get Uninstall from old reg failed",
                               "IsUninstallPrompt:Get UninstallPwd from reg fail,Return true.",
                               "IsUninstallPrompt:!dwResult, return false."});
    EXPECT_EQ(expected, NewLogLines());
}

TEST_F(UninstallLockTest, RegistryPasswordOfMoreThan128CharactersCountsAsMissing)
{
    ASSERT_TRUE(kt::RegSetDword(vt::KEY_KAVLA, "Uninstall", 1));
    SetClient(CLIENT_NEW);
    for (size_t nLen : {128u, 129u, 200u}) {
        SCOPED_TRACE(nLen);
        m_nLogStart = kt::UtlLogText("setup").size();
        std::string strText(nLen, 'Q');
        ASSERT_TRUE(kt::RegSetString(vt::KEY_KAVLA, "UninstallPwd", strText));
        EXPECT_EQ(1, Decide()) << "the flag still asks for the dialog";
        EXPECT_EQ(nLen == 128 ? strText : "", std::string(m_szPwd));
        EXPECT_EQ(0, m_szPwd[129]);
        EXPECT_TRUE(kt::HasLine(NewLogLines(), nLen == 128 ? "IsUninstallPrompt:Get UninstallPwd from reg Succ."
                                                           : "IsUninstallPrompt:Get UninstallPwd from reg fail,Return true."));
    }
}

// KavlaCustom.xml: only the flag 1 hands over the password, encrypted again.
TEST_F(UninstallLockTest, CustomXmlSource)
{
    struct Case {
        const char* pszFlag;
        Client eClient;
        int nExpected;
        bool bPwd;
    } const aCases[] = {
        {"0", CLIENT_BOTH, 0, false}, {"1", CLIENT_NEW, 1, true}, {"1", CLIENT_OLD, 1, true},
        {"1", CLIENT_NONE, 0, true},  {"2", CLIENT_NEW, 1, false}, {"2", CLIENT_NONE, 0, false},
        {"", CLIENT_BOTH, 0, false},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(testing::Message() << "flag '" << c.pszFlag << "' client " << c.eClient);
        StartCase(c.eClient, true);
        ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_CUSTOM_XML),
                                  vt::CustomXml(c.pszFlag, Encrypted(PLAIN_PWD))));
        // A trusted uninstall document saying otherwise comes later in the order.
        ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_UNINSTALL_XML), vt::UninstallXml("1", "OTHER")));
        EXPECT_EQ(c.nExpected, Decide());
        EXPECT_EQ(c.bPwd ? Encrypted(PLAIN_PWD) : "", std::string(m_szPwd));
        std::vector<std::string> expected;
        if (c.bPwd)
            expected.push_back("IsUninstallPrompt:Get UninstallPwd from KavlCustom.xml succ.");
        EXPECT_EQ(Ending(expected, !*c.pszFlag || c.pszFlag[0] == '0', c.eClient), NewLogLines());
    }
    ExpectNoPasswordLogged();
}

TEST_F(UninstallLockTest, CustomXmlWithoutPasswordStillLocks)
{
    SetClient(CLIENT_NEW);
    ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_CUSTOM_XML), vt::CustomXml("1", "")));
    EXPECT_EQ(1, Decide());
    EXPECT_STREQ("", m_szPwd);
    EXPECT_EQ(DecisionLines(CLIENT_NEW), NewLogLines());
}

// KavlaUninstallInfo.xml: the stored text is handed over as it stands.
TEST_F(UninstallLockTest, UninstallXmlSource)
{
    struct Case {
        const char* pszFlag;
        Client eClient;
        int nExpected;
        bool bPwd;
    } const aCases[] = {
        {"0", CLIENT_BOTH, 0, false}, {"1", CLIENT_NEW, 1, true},  {"1", CLIENT_OLD, 1, true},
        {"1", CLIENT_NONE, 0, true},  {"2", CLIENT_BOTH, 1, false}, {"2", CLIENT_NONE, 0, false},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(testing::Message() << "flag " << c.pszFlag << " client " << c.eClient);
        StartCase(c.eClient, true);
        ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_UNINSTALL_XML),
                                  vt::UninstallXml(c.pszFlag, Encrypted(PLAIN_PWD))));
        ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_CUSTOM_INI), vt::Ini("1", "INITEXT")));
        EXPECT_EQ(c.nExpected, Decide());
        EXPECT_EQ(c.bPwd ? Encrypted(PLAIN_PWD) : "", std::string(m_szPwd));
        std::vector<std::string> expected = {NoFileLines()[0]};
        if (c.bPwd)
            expected.push_back("IsUninstallPrompt:Get UninstallPwd from KavlaUninstallInfo.xml succ.");
        EXPECT_EQ(Ending(expected, c.pszFlag[0] == '0', c.eClient), NewLogLines());
    }
    ExpectNoPasswordLogged();
}

// The INI files: any flag other than 0 locks, and the "Install" text is taken whatever the flag.
TEST_F(UninstallLockTest, IniSources)
{
    struct Case {
        VrfWhich eWhich;
        const char* pszFlag;
        Client eClient;
        int nExpected;
    } const aCases[] = {
        {VRF_CUSTOM_INI, "0", CLIENT_BOTH, 0},    {VRF_CUSTOM_INI, "1", CLIENT_NEW, 1},
        {VRF_CUSTOM_INI, "1", CLIENT_NONE, 0},    {VRF_CUSTOM_INI, "2", CLIENT_OLD, 1},
        {VRF_UNINSTALL_INI, "0", CLIENT_BOTH, 0}, {VRF_UNINSTALL_INI, "1", CLIENT_OLD, 1},
        {VRF_UNINSTALL_INI, "1", CLIENT_NONE, 0}, {VRF_UNINSTALL_INI, "2", CLIENT_NEW, 1},
    };
    for (const Case& c : aCases) {
        const vt::Pair& pair = vt::PairOf(c.eWhich);
        SCOPED_TRACE(testing::Message() << pair.pszProtected << " flag " << c.pszFlag << " client " << c.eClient);
        StartCase(c.eClient, true);
        ASSERT_TRUE(vt::WritePair(vt::RegInfo(), pair, vt::Ini(c.pszFlag, "INITEXT")));
        EXPECT_EQ(c.nExpected, Decide());
        EXPECT_STREQ("INITEXT", m_szPwd);
        std::vector<std::string> expected(NoFileLines().begin(), NoFileLines().begin() + 2);
        if (c.eWhich == VRF_UNINSTALL_INI)
            expected = Concat(expected, {NoFileLines()[2], NoFileLines()[3], NoFileLines()[4]});
        expected.push_back(std::string("IsUninstallPrompt:Get UninstallPwd from ") + pair.pszProtected + " succ.");
        EXPECT_EQ(Ending(expected, c.pszFlag[0] == '0', c.eClient), NewLogLines());
    }
    ExpectNoPasswordLogged();
}

TEST_F(UninstallLockTest, IniWithoutFlagOrPassword)
{
    SetRegistryLock();
    SetClient(CLIENT_BOTH);
    // No "Uninstall" key: 0, whatever the registry holds; no "Install": nothing logged for it.
    ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_CUSTOM_INI), "[Functions]\r\nOther=1\r\n"));
    EXPECT_EQ(0, Decide());
    EXPECT_STREQ("", m_szPwd);
    std::vector<std::string> lines = NewLogLines();
    EXPECT_EQ("IsUninstallPrompt:!dwResult, return false.", lines.back());
    EXPECT_FALSE(kt::HasLine(lines, "IsUninstallPrompt:Get Uninstall from reg succ"));
    // A 128-character stored text is taken whole.
    std::string strLong(128, 'L');
    ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_CUSTOM_INI), vt::Ini("1", strLong)));
    EXPECT_EQ(1, Decide());
    EXPECT_EQ(strLong, std::string(m_szPwd));
}

TEST_F(UninstallLockTest, UntrustedFilesFallThroughToTheNextSource)
{
    SetClient(CLIENT_NEW);
    // The custom XML says "no lock" but its digest does not match: not trusted.
    ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_CUSTOM_XML), vt::CustomXml("1", "")));
    ASSERT_TRUE(kt::WriteBytes(vt::RegInfo() + "\\KavlaCustom.xml", vt::CustomXml("0", "")));
    ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_UNINSTALL_XML),
                              vt::UninstallXml("1", Encrypted(PLAIN_PWD))));
    EXPECT_EQ(1, Decide());
    EXPECT_EQ(Encrypted(PLAIN_PWD), m_szPwd);
    EXPECT_EQ(Concat({NoFileLines()[0], "IsUninstallPrompt:Get UninstallPwd from KavlaUninstallInfo.xml succ."},
                     DecisionLines(CLIENT_NEW)),
              NewLogLines());
}

TEST_F(UninstallLockTest, BackupRestoresTheFirstSource)
{
    SetRegistryLock();
    SetClient(CLIENT_NEW);
    // reginfo's copy is tampered; the backup pair in the system folder is good.
    std::string strDoc = vt::CustomXml("1", Encrypted(PLAIN_PWD));
    ASSERT_TRUE(vt::WritePair(vt::Backup(), vt::PairOf(VRF_CUSTOM_XML), strDoc));
    ASSERT_TRUE(kt::WriteBytes(vt::RegInfo() + "\\KavlaCustom.xml", vt::CustomXml("0", "")));
    EXPECT_EQ(1, Decide());
    EXPECT_EQ(Encrypted(PLAIN_PWD), m_szPwd);
    EXPECT_EQ(strDoc, kt::ReadBytes(vt::RegInfo() + "\\KavlaCustom.xml"));
    EXPECT_EQ(Concat({"IsUninstallPrompt:verifying KavlaCustom xml info FAILED with Err  ,So copy bak files!",
                      "IsUninstallPrompt:Get UninstallPwd from KavlCustom.xml succ."},
                     DecisionLines(CLIENT_NEW)),
              NewLogLines());
    ExpectNoPasswordLogged();
}

TEST_F(UninstallLockTest, LegacyIniIsMigratedAndUsed)
{
    SetClient(CLIENT_NEW);
    ASSERT_TRUE(vt::WritePair(vt::Legacy(), vt::PairOf(VRF_CUSTOM_INI), vt::Ini("1", "INITEXT")));
    ASSERT_TRUE(vt::WritePair(vt::Legacy(), vt::PairOf(VRF_UNINSTALL_INI), vt::Ini("0", "")));
    EXPECT_EQ(1, Decide());
    EXPECT_STREQ("INITEXT", m_szPwd);
    EXPECT_FALSE(kt::Exists(vt::LegacyTop()));
    std::vector<std::string> expected = {NoFileLines()[0], NoFileLines()[1], NoFileLines()[2],
                                         "utl_LoadCusIniFile:CusIniVerify old true,so copy files.",
                                         "IsUninstallPrompt:Get UninstallPwd from KavlaCustom.ini succ."};
    EXPECT_EQ(Concat(expected, DecisionLines(CLIENT_NEW)), NewLogLines());
}
