// The checks of the four protected pairs on real files of the test's prefix:
// each pair with its own files, and the icon a document names, taken from
// the system folder when missing and refused when it is no bare file name.
#include <gtest/gtest.h>
#include "reginfo.h"
#include "testutil.h"
#include "verify.h"
#include "vrf_fixture.h"

using vt::Content;
using vt::ProtectedFilesTest;
using vt::WriteCustomXmlWithBlock;

// ------------------------------------------------------------------ pairs

TEST_F(ProtectedFilesTest, EachCheckTakesItsOwnPairAndDefaultBlock)
{
    std::string dir = kt::NewTempFolder("pairs");
    for (const vt::Pair& pair : vt::Pairs()) {
        SCOPED_TRACE(pair.pszProtected);
        EXPECT_FALSE(pair.Check(dir.c_str()));
        ASSERT_TRUE(vt::WritePair(dir, pair, Content(300, (unsigned char)pair.eWhich)));
        EXPECT_TRUE(pair.Check(dir.c_str()));
    }
    // Each pair on its own: with the other three gone, the others fail.
    for (const vt::Pair& pair : vt::Pairs()) {
        std::string solo = kt::NewTempFolder("solo");
        ASSERT_TRUE(vt::WritePair(solo, pair, "x"));
        for (const vt::Pair& other : vt::Pairs())
            EXPECT_EQ(&other == &pair, other.Check(solo.c_str()) == 1) << pair.pszProtected << " / "
                                                                         << other.pszProtected;
    }
    // A hand-made file with the same digest input verifies: nothing else enters the digest.
    std::string strContent = Content(77);
    ASSERT_TRUE(kt::WriteBytes(dir + "\\KavlaCustom.ini", strContent));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\KavlaCustom.vrf", vt::MakeVrf(strContent, vt::Salt(3), vt::DefaultBlock())));
    EXPECT_TRUE(CusIniVerify(dir.c_str()));
    EXPECT_FALSE(CusIniVerify(NULL));
}

// --------------------------------------------------------------- the icon

TEST_F(ProtectedFilesTest, MissingIconIsTakenFromTheSystemFolder)
{
    std::string dir = kt::NewTempFolder("iconbak");
    std::string strDoc = vt::CustomXml("1", "", "kt_logo.ico");
    std::string strIcon = vt::Icon(600, 0x55);
    std::string strBackupIcon = vt::Backup() + "\\kt_logo.ico";
    WriteCustomXmlWithBlock(dir, strDoc, strIcon.substr(512, 32));
    ASSERT_TRUE(kt::WriteBytes(strBackupIcon, strIcon));
    EXPECT_TRUE(CusXmlVerify(dir.c_str(), 1, "kt_logo.ico"));
    EXPECT_EQ(strIcon, kt::ReadBytes(dir + "\\kt_logo.ico"));
    DeleteFileA(strBackupIcon.c_str());
    // Neither here nor there: the default block, which this pair was not written with.
    DeleteFileA((dir + "\\kt_logo.ico").c_str());
    EXPECT_FALSE(CusXmlVerify(dir.c_str(), 1, "kt_logo.ico"));
    EXPECT_FALSE(kt::Exists(dir + "\\kt_logo.ico"));
}

// CusIconName comes from a document that is not trusted yet: a value that is
// not a bare file name counts as no icon, reads nothing outside reginfo and
// copies nothing.
TEST_F(ProtectedFilesTest, IconNameThatIsNoBareFileNameCountsAsNoIcon)
{
    const std::string reg = vt::RegInfo();
    const std::string orvane = vt::CommonFiles() + "\\Kavla\\Orvane";
    ASSERT_TRUE(kt::MakeDirs(reg + "\\sub"));
    std::string strIcon = vt::Icon(700, 0x61);
    // Icons lying where each hostile name would lead, under reginfo and in the system folders.
    ASSERT_TRUE(kt::WriteBytes(orvane + "\\x.ico", strIcon));
    ASSERT_TRUE(kt::WriteBytes("C:\\x.ico", strIcon));
    ASSERT_TRUE(kt::WriteBytes("C:\\windows\\x.ico", strIcon));
    ASSERT_TRUE(kt::WriteBytes(vt::Backup() + "\\sub\\x.ico", strIcon));

    struct Case {
        const char* pszName;
        const char* pszWhy;
    } const aCases[] = {
        {"..\\x.ico", "parent folder"},
        {"C:\\x.ico", "absolute path"},
        {"sub\\x.ico", "subfolder"},
        {"x.ico:s", "stream"},
        {"../x.ico", "forward slash"},
        {"..", "dot dot"},
        {"CON", "device"},
        {"nul.ico", "device with extension"},
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(c.pszWhy);
        for (int bIconPair : {0, 1}) {
            // A pair over the icon's block must fail, one over the default block pass.
            std::string strDoc = vt::CustomXml("1", "", c.pszName);
            WriteCustomXmlWithBlock(reg, strDoc, bIconPair ? strIcon.substr(512, 32) : vt::DefaultBlock());
            std::vector<std::string> before = kt::ListFolder(reg);
            std::vector<std::string> beforeSub = kt::ListFolder(reg + "\\sub");
            EXPECT_EQ(!bIconPair, CusXmlVerify(reg.c_str(), 1, c.pszName) == 1);
            EXPECT_EQ(!bIconPair, utl_LoadCusXmlFile("setup") == 1);
            std::string strMsg;
            kt::WriteBytes(vt::Backup() + "\\KavlaCustom.xml", strDoc);
            kt::WriteBytes(vt::Backup() + "\\KavlaCustomXml.vrf", kt::ReadBytes(reg + "\\KavlaCustomXml.vrf"));
            EXPECT_EQ(!bIconPair, RestoreAndVerify(VRF_CUSTOM_XML, strMsg) == 1) << strMsg;
            // Nothing was copied anywhere.
            EXPECT_EQ(before, kt::ListFolder(reg));
            EXPECT_TRUE(kt::ListFolder(reg + "\\sub").empty()) << beforeSub.size();
            EXPECT_EQ(strIcon, kt::ReadBytes(orvane + "\\x.ico"));
            EXPECT_FALSE(kt::Exists(vt::Backup() + "\\x.ico"));
            EXPECT_FALSE(kt::Exists(vt::Backup() + "\\x.ico:s"));
        }
    }
    // The same icon under a bare name keeps working, copied from the system folder.
    ASSERT_TRUE(kt::WriteBytes(vt::Backup() + "\\kt_bare.ico", strIcon));
    std::string strDoc = vt::CustomXml("1", "", "kt_bare.ico");
    WriteCustomXmlWithBlock(reg, strDoc, strIcon.substr(512, 32));
    EXPECT_TRUE(utl_LoadCusXmlFile("setup"));
    EXPECT_EQ(strIcon, kt::ReadBytes(reg + "\\kt_bare.ico"));
    for (const char* psz : {"C:\\x.ico", "C:\\windows\\x.ico", "C:\\windows\\system32\\kt_bare.ico"})
        DeleteFileA(psz);
    kt::RemoveTree(vt::Backup() + "\\sub");
}
