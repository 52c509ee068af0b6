// Where the protected files live and how the setup comes to trust them, on
// real files of the test's prefix: the Common Files, reginfo and backup
// folders, the two loaders with the legacy migration, and the restore from
// the system folder's backups.
#include <gtest/gtest.h>
#include "reginfo.h"
#include "testutil.h"
#include "vrf_fixture.h"
#include <vector>

using vt::ProtectedFilesTest;
using vt::WriteCustomXmlWithBlock;

// ------------------------------------------------------------------ folders

TEST(CommonFiles, FromTheEnvironmentAndCached)
{
    const char* psz = utl_GetCommonProgramFiles();
    ASSERT_NE(nullptr, psz);
    char szEnv[261] = {0};
    GetEnvironmentVariableA("CommonProgramFiles", szEnv, sizeof(szEnv));
    EXPECT_STREQ(szEnv, psz);
#ifdef _WIN64
    EXPECT_STREQ("C:\\Program Files\\Common Files", psz);
#else
    // A 32-bit process on 64-bit Windows gets the x86 folder.
    EXPECT_STREQ("C:\\Program Files (x86)\\Common Files", psz);
#endif
    // Later calls return the first answer.
    SetEnvironmentVariableA("CommonProgramFiles", "D:\\Elsewhere");
    EXPECT_EQ(psz, utl_GetCommonProgramFiles());
    EXPECT_STREQ(szEnv, utl_GetCommonProgramFiles());
    SetEnvironmentVariableA("CommonProgramFiles", szEnv);

    char szReg[UTL_MAX_PATH];
    ASSERT_TRUE(utl_GetRegInfoFolder(szReg, sizeof(szReg)));
    EXPECT_EQ(std::string(szEnv) + "\\Kavla\\Orvane\\reginfo", szReg);
    EXPECT_FALSE(utl_GetRegInfoFolder(szReg, 20));
}

TEST(CommonFiles, FallsBackOnTheSystemDrive)
{
    // A 32-bit process under WOW64 gets the variable set again by the
    // system whatever its parent passed, so only the 64-bit run shows this.
    KT_SKIP_IF_EMULATED();
    // The path is cached at the first call of a process: a child started
    // without "CommonProgramFiles" shows the fallback.
    std::string strEnv = vt::EnvironmentWithout("CommonProgramFiles");
    ASSERT_EQ(std::string::npos, strEnv.find("CommonProgramFiles="));
    std::string strOut;
    EXPECT_EQ(0, vt::RunCapture("\"" + kt::TestBinPath("commonfiles_probe.exe") + "\"", strOut, &strEnv[0]));
    while (!strOut.empty() && (strOut.back() == '\n' || strOut.back() == '\r'))
        strOut.pop_back();
    EXPECT_EQ("C:\\Program Files\\Common Files", strOut);
}

TEST(CommonFiles, BackupFolderIsTheSystemFolder)
{
    char szRoot[261] = {0};
    GetEnvironmentVariableA("SystemRoot", szRoot, sizeof(szRoot));
    EXPECT_EQ(vt::Backup(), std::string(szRoot) + "\\system32");
}

// ------------------------------------------------------------------ loaders

TEST_F(ProtectedFilesTest, LoadersMakeTheRegInfoFolder)
{
    ASSERT_FALSE(kt::Exists(vt::CommonFiles() + "\\Kavla"));
    EXPECT_FALSE(utl_LoadCusXmlFile("setup"));
    EXPECT_TRUE(kt::IsFolder(vt::RegInfo()));
    kt::RemoveTree(vt::CommonFiles() + "\\Kavla");
    EXPECT_FALSE(utl_LoadCusIniFile("setup"));
    EXPECT_TRUE(kt::IsFolder(vt::RegInfo()));
    std::vector<std::string> expected = {"utl_LoadCusIniFile:CusIniVerify new failed,try for old.",
                                         "utl_LoadCusIniFile:CusIniVerify old failed,return false."};
    EXPECT_EQ(expected, NewLogLines());
}

TEST_F(ProtectedFilesTest, LoadersLogAFolderThatCannotBeMade)
{
    // A file named like the client's folder blocks the chain.
    ASSERT_TRUE(kt::WriteBytes(vt::CommonFiles() + "\\Kavla", "not a folder"));
    EXPECT_FALSE(utl_LoadCusXmlFile("setup"));
    EXPECT_FALSE(utl_LoadCusIniFile("setup"));
    std::vector<std::string> expected = {
        "utl_LoadCusXmlFile:Create directory \"reginfo\" failed with ErrNo: 183.",
        "utl_LoadCusIniFile:Create directory \"reginfo\" failed with ErrNo: 183."};
    EXPECT_EQ(expected, NewLogLines());
}

TEST_F(ProtectedFilesTest, LoadersTrustAVerifiedPairSilently)
{
    ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_CUSTOM_INI), vt::Ini("1", "abc")));
    ASSERT_TRUE(vt::WritePair(vt::RegInfo(), vt::PairOf(VRF_CUSTOM_XML), vt::CustomXml("1", "")));
    EXPECT_TRUE(utl_LoadCusIniFile("setup"));
    EXPECT_TRUE(utl_LoadCusXmlFile("setup"));
    EXPECT_TRUE(NewLogLines().empty());
}

TEST_F(ProtectedFilesTest, XmlLoaderFallsBackOnTheDocumentsIcon)
{
    std::string strIcon = vt::Icon(2048, 0x10);
    std::string strDoc = vt::CustomXml("1", "", "brand.ico");
    WriteCustomXmlWithBlock(vt::RegInfo(), strDoc, strIcon.substr(512, 32));
    EXPECT_FALSE(utl_LoadCusXmlFile("setup")) << "icon neither in reginfo nor in the system folder";
    ASSERT_TRUE(kt::WriteBytes(vt::RegInfo() + "\\brand.ico", strIcon));
    EXPECT_TRUE(utl_LoadCusXmlFile("setup"));
    // A document that cannot be read names no icon.
    std::string strBroken = "<msg><content><logoOptions><CusIconName>brand.ico</CusIcon";
    WriteCustomXmlWithBlock(vt::RegInfo(), strBroken, strIcon.substr(512, 32));
    EXPECT_FALSE(utl_LoadCusXmlFile("setup"));
    WriteCustomXmlWithBlock(vt::RegInfo(), strBroken, vt::DefaultBlock());
    EXPECT_TRUE(utl_LoadCusXmlFile("setup"));
    // A document too large to verify is not read for its icon at all: the
    // icon stays in the system folder.
    std::string strBig = vt::CustomXml("1", "", "kt_big.ico");
    strBig.insert(strBig.find("<msg>"), "<!--" + std::string(VRF_MAX_CONTENT + 1 - strBig.size() - 7, 'x') + "-->");
    ASSERT_EQ(VRF_MAX_CONTENT + 1, strBig.size());
    ASSERT_TRUE(kt::WriteBytes(vt::Backup() + "\\kt_big.ico", strIcon));
    ASSERT_TRUE(kt::WriteBytes(vt::RegInfo() + "\\KavlaCustom.xml", strBig));
    EXPECT_FALSE(utl_LoadCusXmlFile("setup"));
    EXPECT_FALSE(kt::Exists(vt::RegInfo() + "\\kt_big.ico"));
    strBig.erase(strBig.find("<!--x") + 4, 1);
    ASSERT_TRUE(kt::WriteBytes(vt::RegInfo() + "\\KavlaCustom.xml", strBig));
    EXPECT_FALSE(utl_LoadCusXmlFile("setup"));
    EXPECT_TRUE(kt::Exists(vt::RegInfo() + "\\kt_big.ico")) << "a document of the largest size is read";
    DeleteFileA((vt::Backup() + "\\kt_big.ico").c_str());
    EXPECT_TRUE(NewLogLines().empty());
}

class LegacyMigrationTest : public ProtectedFilesTest {
protected:
    void WriteLegacy(bool bUninstallIni, bool bUninstallVrf)
    {
        ASSERT_TRUE(vt::WritePair(vt::Legacy(), vt::PairOf(VRF_CUSTOM_INI), vt::Ini("1", "legacy")));
        ASSERT_TRUE(vt::WritePair(vt::Legacy(), vt::PairOf(VRF_UNINSTALL_INI), vt::Ini("1", "u")));
        ASSERT_TRUE(kt::WriteBytes(vt::Legacy() + "\\other\\keep.txt", "k"));
        if (!bUninstallIni)
            DeleteFileA((vt::Legacy() + "\\KavlaUninstallInfo.ini").c_str());
        if (!bUninstallVrf)
            DeleteFileA((vt::Legacy() + "\\KavlaUninstallInfo.vrf").c_str());
    }
};

TEST_F(LegacyMigrationTest, MovesTheFourFilesAndRemovesTheLegacyFolder)
{
    WriteLegacy(true, true);
    // A reginfo copy that does not verify is replaced, read-only or not.
    ASSERT_TRUE(kt::WriteBytes(vt::RegInfo() + "\\KavlaCustom.ini", "tampered"));
    ASSERT_TRUE(SetFileAttributesA((vt::RegInfo() + "\\KavlaCustom.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(utl_LoadCusIniFile("setup"));
    std::vector<std::string> files = {"KavlaCustom.ini", "KavlaCustom.vrf", "KavlaUninstallInfo.ini",
                                      "KavlaUninstallInfo.vrf"};
    EXPECT_EQ(files, kt::ListFolder(vt::RegInfo()));
    EXPECT_EQ(vt::Ini("1", "legacy"), kt::ReadBytes(vt::RegInfo() + "\\KavlaCustom.ini"));
    EXPECT_FALSE(kt::Exists(vt::LegacyTop()));
    EXPECT_TRUE(CusIniVerify(vt::RegInfo().c_str()));
    EXPECT_TRUE(UninstallIniVerify(vt::RegInfo().c_str()));
    std::vector<std::string> expected = {"utl_LoadCusIniFile:CusIniVerify new failed,try for old.",
                                         "utl_LoadCusIniFile:CusIniVerify old true,so copy files."};
    EXPECT_EQ(expected, NewLogLines());
    // Afterwards the pair is trusted in place.
    EXPECT_TRUE(utl_LoadCusIniFile("setup"));
    EXPECT_EQ(expected, NewLogLines());
}

TEST_F(LegacyMigrationTest, StopsAtTheFirstMissingFileAndKeepsTheLegacyFolder)
{
    struct Case {
        bool bIni, bVrf;
        const char* pszLine;
        std::vector<std::string> copied;
    } const aCases[] = {
        {false, true, "utl_LoadCusIniFile:CopyFile KavlaUninstallInfo.ini return false!",
         {"KavlaCustom.ini", "KavlaCustom.vrf"}},
        {true, false, "utl_LoadCusIniFile:CopyFile KavlaUninstallInfo.vrf return false!",
         {"KavlaCustom.ini", "KavlaCustom.vrf", "KavlaUninstallInfo.ini"}},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.pszLine);
        Clean();
        m_nLogStart = kt::UtlLogText("setup").size();
        WriteLegacy(c.bIni, c.bVrf);
        EXPECT_FALSE(utl_LoadCusIniFile("setup"));
        std::vector<std::string> expected = {"utl_LoadCusIniFile:CusIniVerify new failed,try for old.",
                                             "utl_LoadCusIniFile:CusIniVerify old true,so copy files.",
                                             c.pszLine};
        EXPECT_EQ(expected, NewLogLines());
        EXPECT_EQ(c.copied, kt::ListFolder(vt::RegInfo()));
        EXPECT_TRUE(kt::Exists(vt::Legacy() + "\\KavlaCustom.ini"));
        EXPECT_TRUE(kt::Exists(vt::Legacy() + "\\other\\keep.txt"));
    }
}

TEST_F(LegacyMigrationTest, UnverifiedLegacyPairIsNotTaken)
{
    WriteLegacy(true, true);
    ASSERT_TRUE(kt::WriteBytes(vt::Legacy() + "\\KavlaCustom.ini", vt::Ini("1", "changed")));
    EXPECT_FALSE(utl_LoadCusIniFile("setup"));
    std::vector<std::string> expected = {"utl_LoadCusIniFile:CusIniVerify new failed,try for old.",
                                         "utl_LoadCusIniFile:CusIniVerify old failed,return false."};
    EXPECT_EQ(expected, NewLogLines());
    EXPECT_TRUE(kt::ListFolder(vt::RegInfo()).empty());
    EXPECT_TRUE(kt::Exists(vt::LegacyTop()));
}

// ------------------------------------------------------------------ restore

struct RestoreText {
    VrfWhich eWhich;
    const char* pszFirst;
    const char* pszCopy1;
    const char* pszCopy2;
    const char* pszAgain;
};

const RestoreText g_aRestore[] = {
    {VRF_CUSTOM_XML, "verifying KavlaCustom xml info FAILED with Err ", "CopyFile KavlaCustom.xml return false!",
     "CopyFile KavlaCustomxml.vrf return false!", "verifying KavlaCustom xml info FAILED again!"},
    {VRF_UNINSTALL_XML, "verifying uninstall info FAILED with Err ", "CopyFile KavlaUninstallInfo.xml return false!",
     "CopyFile KavlaUninstallInfoxml.vrf return false!", "verifying Uninstall xml info FAILED again!"},
    {VRF_CUSTOM_INI, "verifying KavlaCustom ini info FAILED with Err ", "CopyFile KavlaCustom.ini return false!",
     "CopyFile KavlaCustom.vrf return false!", "verifying KavlaCustom ini info FAILED again!"},
    {VRF_UNINSTALL_INI, "verifying uninstall ini info FAILED with Err ", "CopyFile KavlaUninstallInfo.ini return false!",
     "CopyFile KavlaUninstallInfo.vrf return false!", "verifying Uninstall ini info FAILED again!"},
};

TEST_F(ProtectedFilesTest, RestoreFromBackupEveryRowAndOutcome)
{
    ASSERT_TRUE(kt::MakeDirs(vt::RegInfo()));
    for (const RestoreText& row : g_aRestore) {
        const vt::Pair& pair = vt::PairOf(row.eWhich);
        SCOPED_TRACE(pair.pszProtected);
        std::string strF = std::string(row.pszFirst) + " ,So copy bak files!";
        std::string strBakProt = vt::Backup() + "\\" + pair.pszProtected;
        std::string strBakVrf = vt::Backup() + "\\" + pair.pszVrf;
        std::string strRegProt = vt::RegInfo() + "\\" + pair.pszProtected;
        std::string strRegVrf = vt::RegInfo() + "\\" + pair.pszVrf;
        std::string strContent = row.eWhich == VRF_CUSTOM_XML ? vt::CustomXml("1", "") : vt::Ini("1", "b");
        std::string strMsg;

        // Success: the backups overwrite a tampered reginfo pair, read-only too.
        ASSERT_TRUE(vt::WritePair(vt::Backup(), pair, strContent));
        ASSERT_TRUE(kt::WriteBytes(strRegProt, "tampered"));
        ASSERT_TRUE(kt::WriteBytes(strRegVrf, std::string(256, 't')));
        ASSERT_TRUE(SetFileAttributesA(strRegProt.c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_TRUE(SetFileAttributesA(strRegVrf.c_str(), FILE_ATTRIBUTE_READONLY));
        EXPECT_TRUE(RestoreAndVerify(row.eWhich, strMsg));
        EXPECT_EQ(strF, strMsg);
        EXPECT_EQ(strContent, kt::ReadBytes(strRegProt));
        EXPECT_EQ(kt::ReadBytes(strBakVrf), kt::ReadBytes(strRegVrf));
        EXPECT_TRUE(pair.Check(vt::RegInfo().c_str()));

        // Second check fails: the pair is still overwritten.
        ASSERT_TRUE(kt::WriteBytes(strBakProt, strContent + "\r\n"));
        EXPECT_FALSE(RestoreAndVerify(row.eWhich, strMsg));
        EXPECT_EQ(strF + row.pszAgain, strMsg);
        EXPECT_EQ(strContent + "\r\n", kt::ReadBytes(strRegProt));

        // Second copy fails: the first file is copied.
        ASSERT_TRUE(kt::WriteBytes(strBakProt, "third"));
        DeleteFileA(strBakVrf.c_str());
        strMsg = "old text";
        EXPECT_FALSE(RestoreAndVerify(row.eWhich, strMsg));
        EXPECT_EQ(strF + row.pszCopy2, strMsg);
        EXPECT_EQ("third", kt::ReadBytes(strRegProt));

        // First copy fails: nothing changes in reginfo.
        DeleteFileA(strBakProt.c_str());
        ASSERT_TRUE(kt::WriteBytes(strBakVrf, std::string(256, 'v')));
        EXPECT_FALSE(RestoreAndVerify(row.eWhich, strMsg));
        EXPECT_EQ(strF + row.pszCopy1, strMsg);
        EXPECT_EQ("third", kt::ReadBytes(strRegProt));
        EXPECT_NE(std::string(256, 'v'), kt::ReadBytes(strRegVrf));
        vt::RemoveBackups();
    }
    // Restoring writes nothing to the log: the caller logs the text.
    EXPECT_TRUE(NewLogLines().empty());
}

TEST_F(ProtectedFilesTest, RestoredCustomXmlMayVerifyWithItsIcon)
{
    std::string strIcon = vt::Icon(900, 0x77);
    std::string strDoc = vt::CustomXml("1", "", "kt_restore.ico");
    ASSERT_TRUE(kt::WriteBytes(vt::Backup() + "\\KavlaCustom.xml", strDoc));
    ASSERT_TRUE(kt::WriteBytes(vt::Backup() + "\\KavlaCustomXml.vrf",
                               vt::MakeVrf(strDoc, vt::Salt(5), strIcon.substr(512, 32))));
    ASSERT_TRUE(kt::WriteBytes(vt::Backup() + "\\kt_restore.ico", strIcon));
    ASSERT_TRUE(kt::MakeDirs(vt::RegInfo()));
    std::string strMsg;
    EXPECT_TRUE(RestoreAndVerify(VRF_CUSTOM_XML, strMsg));
    EXPECT_EQ("verifying KavlaCustom xml info FAILED with Err  ,So copy bak files!", strMsg);
    EXPECT_EQ(strIcon, kt::ReadBytes(vt::RegInfo() + "\\kt_restore.ico"));
    DeleteFileA((vt::Backup() + "\\kt_restore.ico").c_str());
}

TEST_F(ProtectedFilesTest, RestoreOfMissingUninstallIniGivesTheThreePieces)
{
    std::string strMsg;
    EXPECT_FALSE(RestoreAndVerify(VRF_UNINSTALL_INI, strMsg));
    EXPECT_EQ(std::string("verifying uninstall ini info FAILED with Err ") + " ,So copy bak files!"
                  + "CopyFile KavlaUninstallInfo.ini return false!",
              strMsg);
}
