// The verification file format on real files of the test's prefix: the key,
// the digest input, tampering, the size limits, the writer with its error
// numbers and the icon block.
#include <gtest/gtest.h>
#include "testutil.h"
#include "verify.h"
#include "vrf_file.h"
#include "vrf_fixture.h"
#include <map>

using vt::Content;
using vt::ProtectedFilesTest;
using vt::WriteCustomXmlWithBlock;

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
