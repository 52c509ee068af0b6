// Verification files on real files of the test's prefix: the key, the
// format and digest input, tampering, size limits, the icon block with its
// name check, the writer's error numbers, the folders, the legacy migration
// and the restore from the system folder's backups.
#include <gtest/gtest.h>
#include "file.h"
#include "testutil.h"
#include "verify.h"
#include "vrf_fixture.h"
#include <map>

using vt::ProtectedFilesTest;

namespace {

std::string Content(size_t nLen, unsigned char cSeed = 0x20)
{
    std::string s(nLen, '\0');
    for (size_t i = 0; i < nLen; ++i)
        s[i] = (char)(unsigned char)(cSeed + i * 13 + (i >> 8));
    return s;
}

// KavlaCustom.xml of a folder with a hand-made verification file over the
// given block.
void WriteCustomXmlWithBlock(const std::string& strFolder, const std::string& strDoc,
                             const std::string& strBlock)
{
    ASSERT_TRUE(kt::WriteBytes(strFolder + "\\KavlaCustom.xml", strDoc));
    ASSERT_TRUE(kt::WriteBytes(strFolder + "\\KavlaCustomXml.vrf", vt::MakeVrf(strDoc, vt::Salt(9), strBlock)));
}

} // namespace

// ---------------------------------------------------------------- the key

TEST(VrfKey, RefusesBadArguments)
{
    BYTE abIn[21] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
    BYTE abOut[120];
    DWORD dwLen = sizeof(abOut);
    EXPECT_FALSE(MakeVrfKey(NULL, 6, abOut, &dwLen));
    EXPECT_FALSE(MakeVrfKey(abIn, 6, NULL, &dwLen));
    EXPECT_FALSE(MakeVrfKey(abIn, 6, abOut, NULL));
    EXPECT_FALSE(MakeVrfKey(abIn, 5, abOut, &dwLen));
    EXPECT_FALSE(MakeVrfKey(abIn, 21, abOut, &dwLen));
    // The capacity must hold five bytes per input byte.
    dwLen = 29;
    EXPECT_FALSE(MakeVrfKey(abIn, 6, abOut, &dwLen));
    EXPECT_EQ(29u, dwLen);
    dwLen = 30;
    EXPECT_TRUE(MakeVrfKey(abIn, 6, abOut, &dwLen));
    EXPECT_EQ(30u, dwLen);
    dwLen = 99;
    EXPECT_FALSE(MakeVrfKey(abIn, 20, abOut, &dwLen));
    dwLen = 100;
    EXPECT_TRUE(MakeVrfKey(abIn, 20, abOut, &dwLen));
    EXPECT_EQ(100u, dwLen);
}

TEST(VrfKey, FollowsTheTableWalk)
{
    // The table, learnt through the function itself: with i = 0 every step
    // stays on input[0] AND 0x7F.
    BYTE abTable[128];
    for (int j = 0; j < 128; ++j) {
        BYTE abIn[6] = {(BYTE)(j | ((j & 1) << 7)), 0, 0, 0, 0, 0};
        BYTE abOut[30];
        DWORD dwLen = sizeof(abOut);
        ASSERT_TRUE(MakeVrfKey(abIn, 6, abOut, &dwLen));
        for (int k = 1; k < 5; ++k)
            ASSERT_EQ(abOut[0], abOut[k]);
        abTable[j] = abOut[0];
    }
    std::map<BYTE, int> distinct;
    for (BYTE b : abTable)
        distinct[b]++;
    EXPECT_GT(distinct.size(), 60u) << "the table should not be trivial";

    // For every input byte i: p = input[i], five times p = (p + i) AND 0x7F.
    for (DWORD dwInLen = 6; dwInLen <= 20; ++dwInLen) {
        BYTE abIn[20], abOut[100];
        for (DWORD i = 0; i < dwInLen; ++i)
            abIn[i] = (BYTE)(0xF3 * (i + 1) + dwInLen * 29);
        DWORD dwLen = sizeof(abOut);
        ASSERT_TRUE(MakeVrfKey(abIn, dwInLen, abOut, &dwLen));
        ASSERT_EQ(5 * dwInLen, dwLen);
        for (DWORD i = 0; i < dwInLen; ++i) {
            DWORD p = abIn[i];
            for (int k = 0; k < 5; ++k) {
                p = (p + i) & 0x7F;
                EXPECT_EQ(abTable[p], abOut[5 * i + k]) << "len " << dwInLen << " byte " << i << " step " << k;
            }
        }
    }

    std::string strKey = vt::Key();
    EXPECT_EQ(30u, strKey.size());
    EXPECT_EQ(strKey, vt::Key());
}

// ------------------------------------------------- format and digest input

TEST_F(ProtectedFilesTest, WriterProducesSaltAndDigestOverContentSaltBlockKey)
{
    std::string dir = kt::NewTempFolder("vrffmt");
    std::string strContent = Content(1000);
    ASSERT_TRUE(kt::WriteBytes(dir + "\\p.ini", strContent));
    DWORD dwErr = 77;
    ASSERT_TRUE(CreateVrfFile((dir + "\\p.ini").c_str(), (dir + "\\p.vrf").c_str(), &dwErr));
    EXPECT_EQ(77u, dwErr) << "success leaves the error number alone";
    std::string strVrf = kt::ReadBytes(dir + "\\p.vrf");
    ASSERT_EQ(256u, strVrf.size());
    std::string strSalt = strVrf.substr(0, 240);
    EXPECT_EQ(std::string::npos, strSalt.find('\xff')) << "salt bytes are 0 to 254";
    EXPECT_EQ(vt::Md5(strContent + strSalt + vt::DefaultBlock() + vt::Key()), strVrf.substr(240));
    // The key itself never reaches the file.
    EXPECT_EQ(std::string::npos, strVrf.find(vt::Key()));
    // A salt is random, not constant.
    std::map<char, int> distinct;
    for (char c : strSalt)
        distinct[c]++;
    EXPECT_GT(distinct.size(), 100u);
}

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

TEST_F(ProtectedFilesTest, EverySingleByteChangeOfContentSaltOrDigestFails)
{
    std::string dir = kt::NewTempFolder("tamper");
    const vt::Pair& pair = vt::PairOf(VRF_UNINSTALL_INI);
    std::string strContent = Content(400);
    ASSERT_TRUE(vt::WritePair(dir, pair, strContent));
    std::string strVrf = kt::ReadBytes(dir + "\\" + pair.pszVrf);
    ASSERT_EQ(256u, strVrf.size());
    std::string strProt = dir + "\\" + pair.pszProtected, strVrfPath = dir + "\\" + pair.pszVrf;

    // Every salt and digest byte, and every content byte: 656 positions.
    int nChecked = 0;
    for (size_t i = 0; i < strVrf.size(); ++i) {
        for (unsigned char cXor : {0x01, 0x80}) {
            std::string strBad = strVrf;
            strBad[i] = (char)(strBad[i] ^ cXor);
            ASSERT_TRUE(kt::WriteBytes(strVrfPath, strBad));
            EXPECT_FALSE(UninstallIniVerify(dir.c_str())) << "vrf byte " << i << " xor " << (int)cXor;
            ++nChecked;
        }
    }
    ASSERT_TRUE(kt::WriteBytes(strVrfPath, strVrf));
    for (size_t i = 0; i < strContent.size(); ++i) {
        std::string strBad = strContent;
        strBad[i] = (char)(strBad[i] ^ (i % 2 ? 0x40 : 0x01));
        ASSERT_TRUE(kt::WriteBytes(strProt, strBad));
        EXPECT_FALSE(UninstallIniVerify(dir.c_str())) << "content byte " << i;
        ++nChecked;
    }
    EXPECT_EQ(2 * 256 + 400, nChecked);
    // Longer or shorter content by one byte fails too.
    ASSERT_TRUE(kt::WriteBytes(strProt, strContent + " "));
    EXPECT_FALSE(UninstallIniVerify(dir.c_str()));
    ASSERT_TRUE(kt::WriteBytes(strProt, strContent.substr(0, 399)));
    EXPECT_FALSE(UninstallIniVerify(dir.c_str()));
    // Restored, the pair verifies again.
    ASSERT_TRUE(kt::WriteBytes(strProt, strContent));
    EXPECT_TRUE(UninstallIniVerify(dir.c_str()));
}

// ---------------------------------------------------------------- limits

TEST_F(ProtectedFilesTest, VerificationFileMustBeExactly256Bytes)
{
    std::string dir = kt::NewTempFolder("vrfsize");
    const vt::Pair& pair = vt::PairOf(VRF_CUSTOM_INI);
    ASSERT_TRUE(vt::WritePair(dir, pair, "[Functions]\r\nUninstall=1\r\n"));
    std::string strVrfPath = dir + "\\" + pair.pszVrf;
    std::string strVrf = kt::ReadBytes(strVrfPath);
    ASSERT_TRUE(CusIniVerify(dir.c_str()));
    // One byte more, even after a valid file, or one byte less: rejected.
    ASSERT_TRUE(kt::WriteBytes(strVrfPath, strVrf + '\0'));
    EXPECT_FALSE(CusIniVerify(dir.c_str()));
    ASSERT_TRUE(kt::WriteBytes(strVrfPath, strVrf.substr(0, 255)));
    EXPECT_FALSE(CusIniVerify(dir.c_str()));
    ASSERT_TRUE(kt::WriteBytes(strVrfPath, ""));
    EXPECT_FALSE(CusIniVerify(dir.c_str()));
    // A folder of the verification file's name is no verification file.
    DeleteFileA(strVrfPath.c_str());
    ASSERT_TRUE(kt::MakeDirs(strVrfPath));
    EXPECT_FALSE(CusIniVerify(dir.c_str()));
    // Without a protected file nothing verifies.
    kt::RemoveTree(strVrfPath);
    ASSERT_TRUE(kt::WriteBytes(strVrfPath, strVrf));
    DeleteFileA((dir + "\\" + pair.pszProtected).c_str());
    EXPECT_FALSE(CusIniVerify(dir.c_str()));
}

TEST_F(ProtectedFilesTest, ContentOf40588BytesVerifiesAnd40589NeverDoes)
{
    std::string dir = kt::NewTempFolder("limit");
    const vt::Pair& pair = vt::PairOf(VRF_UNINSTALL_XML);
    std::string strProt = dir + "\\" + pair.pszProtected, strVrf = dir + "\\" + pair.pszVrf;
    ASSERT_TRUE(vt::WritePair(dir, pair, Content(40588)));
    EXPECT_TRUE(UninstallXmlVerify(dir.c_str()));
    EXPECT_EQ(vt::MakeVrf(Content(40588), kt::ReadBytes(strVrf).substr(0, 240), vt::DefaultBlock()),
              kt::ReadBytes(strVrf));

    // The writer refuses one byte more, and leaves the old file alone.
    std::string strOld = kt::ReadBytes(strVrf);
    ASSERT_TRUE(kt::WriteBytes(strProt, Content(40589)));
    DWORD dwErr = 0;
    EXPECT_FALSE(CreateVrfFile(strProt.c_str(), strVrf.c_str(), &dwErr));
    EXPECT_EQ((DWORD)VRF_ERR_TOO_BIG, dwErr);
    EXPECT_EQ(strOld, kt::ReadBytes(strVrf));
    // A verification file with the right digest for 40,589 bytes is still rejected.
    ASSERT_TRUE(kt::WriteBytes(strVrf, vt::MakeVrf(Content(40589), vt::Salt(1), vt::DefaultBlock())));
    EXPECT_FALSE(UninstallXmlVerify(dir.c_str()));
}

TEST_F(ProtectedFilesTest, EmptyProtectedFileVerifies)
{
    std::string dir = kt::NewTempFolder("empty");
    for (const vt::Pair& pair : vt::Pairs()) {
        ASSERT_TRUE(vt::WritePair(dir, pair, ""));
        EXPECT_TRUE(pair.Check(dir.c_str())) << pair.pszProtected;
        std::string strVrf = kt::ReadBytes(dir + "\\" + pair.pszVrf);
        EXPECT_EQ(vt::Md5(strVrf.substr(0, 240) + vt::DefaultBlock() + vt::Key()), strVrf.substr(240));
    }
}

// ---------------------------------------------------------------- writer

TEST_F(ProtectedFilesTest, WriterErrorNumbers)
{
    std::string dir = kt::NewTempFolder("writer");
    std::string strProt = dir + "\\KavlaCustom.ini", strVrf = dir + "\\KavlaCustom.vrf";
    DWORD dwErr = 0;
    // 301: no size for a missing file or a folder.
    EXPECT_FALSE(CreateVrfFile(strProt.c_str(), strVrf.c_str(), &dwErr));
    EXPECT_EQ((DWORD)VRF_ERR_SIZE, dwErr);
    ASSERT_TRUE(kt::MakeDirs(dir + "\\folder.ini"));
    dwErr = 0;
    EXPECT_FALSE(CreateVrfFile((dir + "\\folder.ini").c_str(), strVrf.c_str(), &dwErr));
    EXPECT_EQ((DWORD)VRF_ERR_SIZE, dwErr);
    EXPECT_FALSE(kt::Exists(strVrf));

    // 303: the protected file is held open without read sharing.
    ASSERT_TRUE(kt::WriteBytes(strProt, "[Functions]\r\n"));
    HANDLE hLock = CreateFileA(strProt.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
    dwErr = 0;
    EXPECT_FALSE(CreateVrfFile(strProt.c_str(), strVrf.c_str(), &dwErr));
    CloseHandle(hLock);
    EXPECT_EQ((DWORD)VRF_ERR_OPEN, dwErr);
    EXPECT_FALSE(kt::Exists(strVrf));

    // 304: the verification file cannot be made (missing folder, or a folder in the way).
    dwErr = 0;
    EXPECT_FALSE(CreateVrfFile(strProt.c_str(), (dir + "\\missing\\KavlaCustom.vrf").c_str(), &dwErr));
    EXPECT_EQ((DWORD)VRF_ERR_CREATE, dwErr);
    ASSERT_TRUE(kt::MakeDirs(dir + "\\in_the_way.vrf"));
    dwErr = 0;
    EXPECT_FALSE(CreateVrfFile(strProt.c_str(), (dir + "\\in_the_way.vrf").c_str(), &dwErr));
    EXPECT_EQ((DWORD)VRF_ERR_CREATE, dwErr);
    // Same when the existing one is held open without delete sharing.
    ASSERT_TRUE(kt::WriteBytes(strVrf, "old"));
    hLock = CreateFileA(strVrf.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
    dwErr = 0;
    EXPECT_FALSE(CreateVrfFile(strProt.c_str(), strVrf.c_str(), &dwErr));
    CloseHandle(hLock);
    EXPECT_EQ((DWORD)VRF_ERR_CREATE, dwErr);

    // A read-only verification file is replaced.
    ASSERT_TRUE(kt::WriteBytes(strVrf, "old"));
    SetFileAttributesA(strVrf.c_str(), FILE_ATTRIBUTE_READONLY);
    dwErr = 0;
    EXPECT_TRUE(CreateVrfFile(strProt.c_str(), strVrf.c_str(), &dwErr));
    EXPECT_EQ(0u, dwErr);
    EXPECT_EQ(256u, kt::ReadBytes(strVrf).size());
    EXPECT_TRUE(CusIniVerify(dir.c_str()));
    // No out-parameter: still refuses cleanly.
    EXPECT_FALSE(CreateVrfFile((dir + "\\none").c_str(), strVrf.c_str(), NULL));
    EXPECT_FALSE(CreateVrfFile(NULL, strVrf.c_str(), &dwErr));
}

TEST_F(ProtectedFilesTest, SaltsNeverHoldFF)
{
    // Salts seeded in different seconds; 0xFF would show in about 1 of 255 bytes.
    std::string dir = kt::NewTempFolder("salts");
    ASSERT_TRUE(kt::WriteBytes(dir + "\\p", "p"));
    std::string strSalts;
    for (int n = 0; n < 3; ++n) {
        if (n)
            Sleep(1100);
        DWORD dwErr = 0;
        ASSERT_TRUE(CreateVrfFile((dir + "\\p").c_str(), (dir + "\\v").c_str(), &dwErr));
        strSalts += kt::ReadBytes(dir + "\\v").substr(0, 240);
    }
    EXPECT_EQ(std::string::npos, strSalts.find('\xff'));
    EXPECT_NE(strSalts.substr(0, 240), strSalts.substr(240, 240));
}

// --------------------------------------------------------------- icon block

TEST_F(ProtectedFilesTest, IconBlockIsThe32BytesAtOffset512OfAnIconOfAtLeast544Bytes)
{
    std::string dir = kt::NewTempFolder("icon");
    std::string strDoc = vt::CustomXml("1", "", "logo.ico");
    std::string strIcon = vt::Icon(1000);

    // Written with the default block: passes without icon, fails with a 544-byte icon.
    WriteCustomXmlWithBlock(dir, strDoc, vt::DefaultBlock());
    ASSERT_TRUE(kt::WriteBytes(dir + "\\logo.ico", strIcon.substr(0, 544)));
    EXPECT_TRUE(CusXmlVerify(dir.c_str(), 0, "logo.ico"));
    EXPECT_FALSE(CusXmlVerify(dir.c_str(), 1, "logo.ico"));
    // 543 bytes: too short, the default block stands.
    ASSERT_TRUE(kt::WriteBytes(dir + "\\logo.ico", strIcon.substr(0, 543)));
    EXPECT_TRUE(CusXmlVerify(dir.c_str(), 1, "logo.ico"));
    // An icon whose bytes 512 to 543 are the default block gives the same digest.
    ASSERT_TRUE(kt::WriteBytes(dir + "\\logo.ico", strIcon.substr(0, 512) + vt::DefaultBlock()));
    EXPECT_TRUE(CusXmlVerify(dir.c_str(), 1, "logo.ico"));

    // Written over the icon's block: passes with the icon only, and only at offset 512.
    WriteCustomXmlWithBlock(dir, strDoc, strIcon.substr(512, 32));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\logo.ico", strIcon));
    EXPECT_TRUE(CusXmlVerify(dir.c_str(), 1, "logo.ico"));
    EXPECT_FALSE(CusXmlVerify(dir.c_str(), 0, "logo.ico"));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\logo.ico", strIcon.substr(0, 544)));
    EXPECT_TRUE(CusXmlVerify(dir.c_str(), 1, "logo.ico"));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\logo.ico", strIcon.substr(1, 999)));
    EXPECT_FALSE(CusXmlVerify(dir.c_str(), 1, "logo.ico"));
    WriteCustomXmlWithBlock(dir, strDoc, strIcon.substr(511, 32));
    ASSERT_TRUE(kt::WriteBytes(dir + "\\logo.ico", strIcon));
    EXPECT_FALSE(CusXmlVerify(dir.c_str(), 1, "logo.ico"));
}

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

TEST(FolderChain, CreatesEveryMissingComponent)
{
    std::string dir = kt::NewTempFolder("chain");
    std::string strDeep = dir + "\\a\\b c\\d";
    DWORD dwErr = 5;
    EXPECT_TRUE(utl_CreateFolderChain(strDeep.c_str(), &dwErr));
    EXPECT_EQ(5u, dwErr);
    EXPECT_TRUE(kt::IsFolder(strDeep));
    EXPECT_TRUE(utl_CreateFolderChain(strDeep.c_str(), &dwErr));
    EXPECT_TRUE(utl_CreateFolderChain((dir + "\\e\\\\f\\").c_str(), &dwErr));
    EXPECT_TRUE(kt::IsFolder(dir + "\\e\\f"));
    // A file in the way stops the chain with the system's error number.
    ASSERT_TRUE(kt::WriteBytes(dir + "\\file", "f"));
    EXPECT_FALSE(utl_CreateFolderChain((dir + "\\file\\sub").c_str(), &dwErr));
    EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, dwErr);
    EXPECT_FALSE(kt::Exists(dir + "\\file\\sub"));
    dwErr = 0;
    EXPECT_FALSE(utl_CreateFolderChain("", &dwErr));
    EXPECT_NE(0u, dwErr);
    EXPECT_FALSE(utl_CreateFolderChain(std::string(300, 'a').c_str(), &dwErr));
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
