// The administrators' tool kavlavrf.exe, run as a process on real files.
#include <gtest/gtest.h>
#include "testutil.h"
#include "verify.h"
#include "vrf_fixture.h"

namespace {

using vt::RunCapture;

std::string Tool(const std::string& strArgs)
{
    return "\"" + kt::DistPath("kavlavrf.exe") + "\" " + strArgs;
}

bool Contains(const std::string& strText, const std::string& strPart)
{
    return strText.find(strPart) != std::string::npos;
}

} // namespace

TEST(KavlaVrfTool, WriteNamesTheVerificationFileAfterTheProtectedFile)
{
    KT_SKIP_IF_EMULATED();
    std::string dir = kt::NewTempFolder("toolw");
    for (const vt::Pair& pair : vt::Pairs()) {
        SCOPED_TRACE(pair.pszProtected);
        std::string strProt = dir + "\\" + pair.pszProtected;
        ASSERT_TRUE(kt::WriteBytes(strProt, pair.eWhich == VRF_CUSTOM_XML ? vt::CustomXml("1", "") : "[Functions]\r\n"));
        std::string strOut;
        EXPECT_EQ(0, RunCapture(Tool("write \"" + strProt + "\""), strOut)) << strOut;
        EXPECT_EQ(256u, kt::ReadBytes(dir + "\\" + pair.pszVrf).size());
        // The program's own check accepts what the tool wrote.
        EXPECT_TRUE(pair.Check(dir.c_str()));
    }
    // Only those four names have a default; any other file needs the second argument.
    ASSERT_TRUE(kt::WriteBytes(dir + "\\other.ini", "x"));
    std::string strOut;
    EXPECT_EQ(2, RunCapture(Tool("write \"" + dir + "\\other.ini\""), strOut));
    EXPECT_TRUE(Contains(strOut, "name the verification file")) << strOut;
    EXPECT_EQ(0, RunCapture(Tool("write \"" + dir + "\\other.ini\" \"" + dir + "\\other.vrf\""), strOut)) << strOut;
    std::string strVrf = kt::ReadBytes(dir + "\\other.vrf");
    ASSERT_EQ(256u, strVrf.size());
    EXPECT_EQ(vt::MakeVrf("x", strVrf.substr(0, 240), vt::DefaultBlock()), strVrf);
}

TEST(KavlaVrfTool, WriteReportsTheWritersErrorNumber)
{
    KT_SKIP_IF_EMULATED();
    std::string dir = kt::NewTempFolder("toole");
    std::string strOut;
    EXPECT_EQ(1, RunCapture(Tool("write \"" + dir + "\\KavlaCustom.ini\""), strOut));
    EXPECT_TRUE(Contains(strOut, "failed with error 301")) << strOut;
    ASSERT_TRUE(kt::WriteBytes(dir + "\\KavlaCustom.ini", std::string(40589, 'a')));
    EXPECT_EQ(1, RunCapture(Tool("write \"" + dir + "\\KavlaCustom.ini\""), strOut));
    EXPECT_TRUE(Contains(strOut, "failed with error 302")) << strOut;
    EXPECT_FALSE(kt::Exists(dir + "\\KavlaCustom.vrf"));
    EXPECT_EQ(2, RunCapture(Tool("write"), strOut));
    EXPECT_TRUE(Contains(strOut, "usage")) << strOut;
    EXPECT_EQ(2, RunCapture(Tool("verify x"), strOut));
}

TEST(KavlaVrfTool, CheckSaysWhichPairsVerify)
{
    KT_SKIP_IF_EMULATED();
    std::string dir = kt::NewTempFolder("toolc");
    std::string strOut;
    // An empty folder has nothing that fails.
    EXPECT_EQ(0, RunCapture(Tool("check \"" + dir + "\""), strOut)) << strOut;
    EXPECT_TRUE(Contains(strOut, "no protected settings files")) << strOut;

    ASSERT_TRUE(vt::WritePair(dir, vt::PairOf(VRF_CUSTOM_XML), vt::CustomXml("1", "")));
    ASSERT_TRUE(vt::WritePair(dir, vt::PairOf(VRF_CUSTOM_INI), vt::Ini("1", "x")));
    EXPECT_EQ(0, RunCapture(Tool("check \"" + dir + "\""), strOut)) << strOut;
    EXPECT_TRUE(Contains(strOut, "KavlaCustom.xml          verified")) << strOut;
    EXPECT_TRUE(Contains(strOut, "KavlaCustom.ini          verified")) << strOut;
    EXPECT_TRUE(Contains(strOut, "KavlaUninstallInfo.xml   absent")) << strOut;
    EXPECT_TRUE(Contains(strOut, "KavlaUninstallInfo.ini   absent")) << strOut;

    // A changed file, and a pair with its verification file missing: exit 1.
    ASSERT_TRUE(kt::WriteBytes(dir + "\\KavlaCustom.ini", vt::Ini("0", "x")));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\KavlaUninstallInfo.xml", vt::UninstallXml("1", "")));
    EXPECT_EQ(1, RunCapture(Tool("check \"" + dir + "\""), strOut)) << strOut;
    EXPECT_TRUE(Contains(strOut, "KavlaCustom.xml          verified")) << strOut;
    EXPECT_TRUE(Contains(strOut, "KavlaCustom.ini          NOT verified")) << strOut;
    EXPECT_TRUE(Contains(strOut, "KavlaUninstallInfo.xml   NOT verified (verification file missing)")) << strOut;

    // A KavlaCustom.xml that verifies only with its icon, which lies in the folder.
    std::string strIcon = vt::Icon(600);
    std::string strDoc = vt::CustomXml("1", "", "brand.ico");
    ASSERT_TRUE(kt::WriteBytes(dir + "\\KavlaCustom.xml", strDoc));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\KavlaCustomXml.vrf", vt::MakeVrf(strDoc, vt::Salt(2), strIcon.substr(512, 32))));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\brand.ico", strIcon));
    RunCapture(Tool("check \"" + dir + "\""), strOut);
    EXPECT_TRUE(Contains(strOut, "KavlaCustom.xml          verified")) << strOut;
    DeleteFileA((dir + "\\brand.ico").c_str());
    RunCapture(Tool("check \"" + dir + "\""), strOut);
    EXPECT_TRUE(Contains(strOut, "KavlaCustom.xml          NOT verified")) << strOut;

    EXPECT_EQ(2, RunCapture(Tool("check \"" + dir + "\\missing\""), strOut));
}

// The writer reads the settings file and then replaces the verification
// file: named twice, the settings file would become its own digest. Every
// spelling of one file is refused, and the file stays as it was.
TEST(KavlaVrfTool, WriteRefusesTheProtectedFileAsItsOwnVerificationFile)
{
    KT_SKIP_IF_EMULATED();
    std::string dir = kt::NewTempFolder("tools");
    std::string strProt = dir + "\\KavlaCustom.ini";
    const std::string strIni = vt::Ini("1", "Vb+8578weTjEf776NzaATw==");
    ASSERT_TRUE(kt::WriteBytes(strProt, strIni));
    char szShort[MAX_PATH] = {0};
    DWORD dwShort = GetShortPathNameA(strProt.c_str(), szShort, sizeof(szShort));
    ASSERT_TRUE(dwShort > 0 && dwShort < sizeof(szShort));
    ASSERT_NE(strProt, std::string(szShort));
    ASSERT_TRUE(CreateHardLinkA((dir + "\\second.ini").c_str(), strProt.c_str(), NULL));
    std::string strUpper = dir + "\\KAVLACUSTOM.INI";
    CharUpperBuffA(&strUpper[0], (DWORD)strUpper.size());

    char szOldDir[MAX_PATH] = {0};
    ASSERT_NE(0u, GetCurrentDirectoryA(sizeof(szOldDir), szOldDir));
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    struct { std::string strProt, strVrf; } const aCase[] = {
        {strProt, strProt},                      // the same text
        {strProt, strUpper},                     // another letter case
        {"KavlaCustom.ini", ".\\KavlaCustom.ini"}, // relative, another spelling
        {strProt, szShort},                      // the short name: the same file only by identity
        {strProt, dir + "\\second.ini"},         // a second name of the same file
    };
    for (const auto& c : aCase) {
        std::string strOut;
        EXPECT_EQ(2, RunCapture(Tool("write \"" + c.strProt + "\" \"" + c.strVrf + "\""), strOut))
            << c.strVrf << ": " << strOut;
        EXPECT_TRUE(Contains(strOut, "are the same file")) << strOut;
        EXPECT_EQ(strIni, kt::ReadBytes(strProt)) << c.strVrf;
    }
    SetCurrentDirectoryA(szOldDir);

    // Another file in the folder is still written, and the settings file verifies with it.
    std::string strOut;
    EXPECT_EQ(0, RunCapture(Tool("write \"" + strProt + "\" \"" + dir + "\\KavlaCustom.vrf\""), strOut)) << strOut;
    EXPECT_EQ(strIni, kt::ReadBytes(strProt));
    EXPECT_EQ(1, CusIniVerify(dir.c_str()));
    EXPECT_EQ(std::vector<std::string>({"KavlaCustom.ini", "KavlaCustom.vrf", "second.ini"}), kt::ListFolder(dir));
}
