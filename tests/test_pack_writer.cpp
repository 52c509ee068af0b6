// The mixing transform, the container writer, the size query and the work
// folder. The writer's output is compared byte for byte with the tests' own
// encoder, and with what the reader makes of it.
#include <gtest/gtest.h>
#include "pack.h"
#include "pack_bytes.h"
#include "pack_log_test.h"
#include "testutil.h"
#include <string>
#include <vector>

namespace {

const DWORD kUntouched = 12345;

int Pack(const std::string& strSrcDir, const std::string& strName, const std::string& strDstDir,
         const std::string& strDstName, DWORD* pdwErr, int bAdd)
{
    return utl_FilePack(strSrcDir.c_str(), strName.c_str(), strDstDir.c_str(), strDstName.c_str(), pdwErr, bAdd);
}

// A Linux attribute file seen through the Z: drive: it reports a size of a
// page but gives only a few bytes, or fails every read. Real files whose
// size and content disagree, which no Windows file of the prefix can do.
const char* const kSysNetLo = "Z:\\sys\\class\\net\\lo";

} // namespace

using PackMixing = PackLogTest;
using PackWriter = PackLogTest;
using PackWriterErrors = PackLogTest;
using PackFileSize = PackLogTest;
using PackWorkFolder = PackLogTest;

// ---------------------------------------------------------------------------
// Mixing transform

TEST_F(PackMixing, NegatesEveryByteAndIsItsOwnInverse)
{
    BYTE ab[] = {0x00, 0x01, 0x41, 0x80, 0xFF};
    MixBuffer(ab, sizeof(ab));
    EXPECT_EQ((std::vector<BYTE>{0x00, 0xFF, 0xBF, 0x80, 0x01}), std::vector<BYTE>(ab, ab + sizeof(ab)));
    MixBuffer(ab, sizeof(ab));
    EXPECT_EQ((std::vector<BYTE>{0x00, 0x01, 0x41, 0x80, 0xFF}), std::vector<BYTE>(ab, ab + sizeof(ab)));
    // All 256 values, mixed in two chunks of different sizes: no state.
    BYTE abAll[256];
    for (int i = 0; i < 256; ++i)
        abAll[i] = (BYTE)i;
    MixBuffer(abAll, 100);
    MixBuffer(abAll + 100, 156);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(0, (abAll[i] + i) & 0xFF) << i;
    MixBuffer(NULL, 10);
}

TEST_F(PackMixing, MixAndWriteChangesTheCallersBytesAndReadAndMixNeedsTheFullCount)
{
    std::string strDir = kt::NewTempFolder("mixio");
    std::string strPath = strDir + "\\m.bin";
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    BYTE abOut[] = {0x01, 0x02, 0x41};
    EXPECT_EQ(1, MixAndWrite(h, abOut, sizeof(abOut)));
    EXPECT_EQ((std::vector<BYTE>{0xFF, 0xFE, 0xBF}), std::vector<BYTE>(abOut, abOut + 3));
    SetFilePointer(h, 0, NULL, FILE_BEGIN);
    BYTE abIn[4] = {0x11, 0x22, 0x33, 0x44};
    // Four asked, three there: a failure that leaves the buffer unmixed.
    EXPECT_EQ(0, ReadAndMix(h, abIn, 4));
    EXPECT_EQ((std::vector<BYTE>{0xFF, 0xFE, 0xBF, 0x44}), std::vector<BYTE>(abIn, abIn + 4));
    SetFilePointer(h, 0, NULL, FILE_BEGIN);
    EXPECT_EQ(1, ReadAndMix(h, abIn, 3));
    EXPECT_EQ((std::vector<BYTE>{0x01, 0x02, 0x41}), std::vector<BYTE>(abIn, abIn + 3));
    CloseHandle(h);
    EXPECT_EQ(std::string("\xff\xfe\xbf"), kt::ReadBytes(strPath));
}

// A non-blocking pipe takes no more than its buffer holds and reports the
// write as done with the count it took: a real short write.
TEST_F(PackMixing, MixAndWriteFailsOnAShortWrite)
{
    HANDLE hRead = NULL, hWrite = NULL;
    ASSERT_TRUE(CreatePipe(&hRead, &hWrite, NULL, 64));
    DWORD dwMode = PIPE_NOWAIT;
    ASSERT_TRUE(SetNamedPipeHandleState(hWrite, &dwMode, NULL, NULL));
    // A few bytes fit: written whole and mixed.
    BYTE abSmall[] = {0x01, 0x02, 0x41};
    EXPECT_EQ(1, MixAndWrite(hWrite, abSmall, sizeof(abSmall)));
    BYTE abIn[3] = {0};
    DWORD dwRead = 0;
    ASSERT_TRUE(ReadFile(hRead, abIn, sizeof(abIn), &dwRead, NULL));
    EXPECT_EQ((std::vector<BYTE>{0xFF, 0xFE, 0xBF}), std::vector<BYTE>(abIn, abIn + dwRead));
    // A megabyte does not: the pipe holds less than was asked, and that is a failure.
    std::vector<BYTE> big(1u << 20, 0x01);
    SetLastError(0);
    EXPECT_EQ(0, MixAndWrite(hWrite, big.data(), (DWORD)big.size()));
    EXPECT_EQ((DWORD)ERROR_WRITE_FAULT, GetLastError());
    DWORD dwAvail = 0;
    ASSERT_TRUE(PeekNamedPipe(hRead, NULL, 0, NULL, &dwAvail, NULL));
    EXPECT_LT(dwAvail, (DWORD)big.size());
    CloseHandle(hWrite);
    CloseHandle(hRead);
}

// ---------------------------------------------------------------------------
// Writer output

TEST_F(PackWriter, OutputMatchesTheLayoutByteForByte)
{
    std::string strDir = kt::NewTempFolder("layout");
    std::string strBig = kp::Pattern(4097, 5);
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\src\\first.txt", "hello"));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\src\\empty", ""));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\src\\big.bin", strBig));
    DWORD dwErr = kUntouched;
    EXPECT_EQ(1, Pack(strDir + "\\src", "first.txt", strDir, "c.pak", &dwErr, 0));
    EXPECT_EQ(1, Pack(strDir + "\\src", "empty", strDir, "c.pak", &dwErr, 1));
    EXPECT_EQ(1, Pack(strDir + "\\src", "big.bin", strDir, "c.pak", &dwErr, 1));
    EXPECT_EQ(kUntouched, dwErr);
    EXPECT_EQ(kp::Header() + kp::Record("first.txt", "hello") + kp::Record("empty", "") + kp::Record("big.bin", strBig),
              kt::ReadBytes(strDir + "\\c.pak"));
}

TEST_F(PackWriter, RoundTripThroughTheReader)
{
    std::string strDir = kt::NewTempFolder("roundtrip");
    std::string strSrc = strDir + "\\src", strOut = strDir + "\\out";
    ASSERT_TRUE(kt::MakeDirs(strOut));
    const size_t anSizes[] = {0, 1, 4095, 4096, 4097, 8192, 100000};
    std::vector<std::string> names;
    for (size_t i = 0; i < sizeof(anSizes) / sizeof(anSizes[0]); ++i) {
        names.push_back("file" + std::to_string(i) + ".bin");
        ASSERT_TRUE(kt::WriteBytes(strSrc + "\\" + names.back(), kp::Pattern(anSizes[i], (unsigned)i)));
    }
    // The end marker is packed as an empty file of that name, last.
    ASSERT_TRUE(kt::WriteBytes(strSrc + "\\^Kavla_end^", ""));
    DWORD dwErr = kUntouched;
    for (size_t i = 0; i < names.size(); ++i)
        ASSERT_EQ(1, Pack(strSrc, names[i], strDir, "rt.pak", &dwErr, i > 0)) << names[i];
    ASSERT_EQ(1, Pack(strSrc, "^Kavla_end^", strDir, "rt.pak", &dwErr, 1));
    // Behind the marker, anything: a signature, padding.
    std::string strPak = kt::ReadBytes(strDir + "\\rt.pak");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\rt.pak", strPak + std::string(13, '\x5a')));

    EXPECT_EQ(1, utl_FileUnpack(strDir.c_str(), "rt.pak", strOut.c_str(), &dwErr, 0));
    EXPECT_EQ(kUntouched, dwErr);
    EXPECT_EQ(names, kt::ListFolder(strOut));
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(kp::Pattern(anSizes[i], (unsigned)i), kt::ReadBytes(strOut + "\\" + names[i])) << names[i];
}

TEST_F(PackWriter, LogsEveryStep)
{
    std::string strDir = kt::NewTempFolder("wlog");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\a.txt", "abc"));
    DWORD dwErr = kUntouched;
    ASSERT_EQ(1, Pack(strDir, "a.txt", strDir, "c.pak", &dwErr, 0));
    const std::string Q = "utl_FilePack: ", S = strDir + "\\a.txt";
    EXPECT_EQ((std::vector<std::string>{
                  Q + "pszSrcPath = " + strDir + " pszSrcFile = a.txt pszDstPath = " + strDir + " pszDstFile = c.pak",
                  Q + S + " dwSizeHigh = 0 dwSizeLow = 3",
                  Q + S + " !bAdd.",
                  Q + S + " dwLenSrcFile = 5 sizeof(DWORD) = 4",
                  Q + S + " dwSizeLow = 3 sizeof(DWORD) = 4",
              }),
              PackLog());
    // The joined paths go to the file module's log.
    EXPECT_TRUE(kt::HasLine(FileLog(), Q + "szSrcAbsFile = " + S + " szDstAbsFile = " + strDir + "\\c.pak"));
}

TEST_F(PackWriter, ReadOnlyContainerIsReplacedWithBAdd0)
{
    std::string strDir = kt::NewTempFolder("ro");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\c.pak", kp::Header() + kp::Record("old1", "1111") + kp::Record("old2", "22")
                                                      + std::string(5000, 'z')));
    ASSERT_TRUE(SetFileAttributesA((strDir + "\\c.pak").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\new.txt", "fresh"));
    DWORD dwErr = kUntouched;
    EXPECT_EQ(1, Pack(strDir, "new.txt", strDir, "c.pak", &dwErr, 0));
    EXPECT_EQ(kp::Header() + kp::Record("new.txt", "fresh"), kt::ReadBytes(strDir + "\\c.pak"));
}

TEST_F(PackWriter, LongNamesAreWrittenButTheReaderStopsAt161)
{
    std::string strDir = kt::NewTempFolder("longname");
    std::string strName(65, 'w');
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\ok.txt", "ok"));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\" + strName, "w"));
    DWORD dwErr = kUntouched;
    ASSERT_EQ(1, Pack(strDir, "ok.txt", strDir, "c.pak", &dwErr, 0));
    ASSERT_EQ(1, Pack(strDir, strName, strDir, "c.pak", &dwErr, 1));
    ASSERT_TRUE(kt::MakeDirs(strDir + "\\out"));
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "c.pak", (strDir + "\\out").c_str(), &dwErr, 0));
    EXPECT_EQ(161u, dwErr);
    EXPECT_EQ((std::vector<std::string>{"ok.txt"}), kt::ListFolder(strDir + "\\out"));
}

// ---------------------------------------------------------------------------
// Writer refusals

TEST_F(PackWriterErrors, ArgumentsAndMissingFiles150To153)
{
    std::string strDir = kt::NewTempFolder("werr");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\a.txt", "a"));
    ASSERT_TRUE(kt::MakeDirs(strDir + "\\folder"));
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, utl_FilePack(NULL, "a.txt", strDir.c_str(), "c.pak", &dwErr, 0));
    EXPECT_EQ(150u, dwErr);
    dwErr = kUntouched;
    EXPECT_EQ(0, utl_FilePack(strDir.c_str(), "a.txt", strDir.c_str(), NULL, &dwErr, 0));
    EXPECT_EQ(150u, dwErr);
    // Null arguments are refused before anything is logged.
    EXPECT_TRUE(PackLog().empty());

    dwErr = kUntouched;
    EXPECT_EQ(0, Pack(strDir, std::string(250, 'n'), strDir, "c.pak", &dwErr, 0));
    EXPECT_EQ(151u, dwErr);
    dwErr = kUntouched;
    EXPECT_EQ(0, Pack(strDir, "a.txt", strDir, std::string(250, 'n'), &dwErr, 0));
    EXPECT_EQ(151u, dwErr);

    dwErr = kUntouched;
    EXPECT_EQ(0, Pack(strDir, "missing.txt", strDir, "c.pak", &dwErr, 0));
    EXPECT_EQ(152u, dwErr);
    EXPECT_EQ(0, Pack(strDir, "folder", strDir, "c.pak", &dwErr, 0));
    EXPECT_EQ(152u, dwErr);

    dwErr = kUntouched;
    EXPECT_EQ(0, Pack(strDir, "a.txt", strDir, "missing.pak", &dwErr, 1));
    EXPECT_EQ(153u, dwErr);
    EXPECT_FALSE(kt::Exists(strDir + "\\missing.pak"));
    EXPECT_FALSE(kt::Exists(strDir + "\\c.pak"));
}

TEST_F(PackWriterErrors, ContainerHeldOpenCannotBeReplaced154)
{
    std::string strDir = kt::NewTempFolder("held154");
    std::string strOld = kp::Header() + kp::Record("old", "o");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\c.pak", strOld));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\a.txt", "a"));
    HANDLE h = CreateFileA((strDir + "\\c.pak").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, Pack(strDir, "a.txt", strDir, "c.pak", &dwErr, 0));
    CloseHandle(h);
    EXPECT_EQ(154u, dwErr);
    EXPECT_EQ(strOld, kt::ReadBytes(strDir + "\\c.pak"));
}

TEST_F(PackWriterErrors, SourceOrContainerThatCannotBeOpened156)
{
    std::string strDir = kt::NewTempFolder("open156");
    std::string strOld = kp::Header() + kp::Record("old", "o");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\c.pak", strOld));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\a.txt", "a"));
    DWORD dwErr = kUntouched;
    // Another program writes the source: the writer shares it for reading only.
    HANDLE h = CreateFileA((strDir + "\\a.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(0, Pack(strDir, "a.txt", strDir, "c.pak", &dwErr, 1));
    CloseHandle(h);
    EXPECT_EQ(156u, dwErr);
    EXPECT_TRUE(kt::HasLine(PackLog(), "utl_FilePack: utl_OpenFileForRead failed with err 32"));

    // Another program holds the container without sharing it.
    h = CreateFileA((strDir + "\\c.pak").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    dwErr = kUntouched;
    EXPECT_EQ(0, Pack(strDir, "a.txt", strDir, "c.pak", &dwErr, 1));
    CloseHandle(h);
    EXPECT_EQ(156u, dwErr);
    EXPECT_TRUE(kt::HasLine(PackLog(), "utl_FilePack: utl_NewOrOpenFileForWrite failed with err 32"));
    EXPECT_EQ(strOld, kt::ReadBytes(strDir + "\\c.pak"));
}

TEST_F(PackWriterErrors, SourceOf4GiBOrMoreFails155)
{
    std::string strDir = kt::NewTempFolder("huge");
    HANDLE h = CreateFileA((strDir + "\\huge.bin").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    LARGE_INTEGER li;
    li.QuadPart = 0x100000000LL;
    BOOL bSized = SetFilePointerEx(h, li, NULL, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    if (!bSized)
        GTEST_SKIP() << "the file system of the prefix holds no 4 GiB file";
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, Pack(strDir, "huge.bin", strDir, "c.pak", &dwErr, 0));
    EXPECT_EQ(155u, dwErr);
    EXPECT_TRUE(kt::HasLine(PackLog(), "utl_FilePack: " + strDir + "\\huge.bin dwSizeHigh = 1 dwSizeLow = 0"));
    EXPECT_FALSE(kt::Exists(strDir + "\\c.pak"));
    DeleteFileA((strDir + "\\huge.bin").c_str());
}

// A source that gives fewer bytes than its size, or fails its reads, makes
// the writer fail with 166 and cut the container back to where it was.
TEST_F(PackWriterErrors, ShortSourceFails166AndLeavesNoShortRecord)
{
    std::string strSys = std::string(kSysNetLo) + "\\mtu";
    DWORD dwHigh = 0, dwLow = 0;
    if (!utl_GetFileSize(strSys.c_str(), &dwHigh, &dwLow) || dwLow == 0)
        GTEST_SKIP() << "no " << strSys << " on this machine";
    std::string strContent = kt::ReadBytes(strSys);
    ASSERT_LT(strContent.size(), (size_t)dwLow);

    std::string strDir = kt::NewTempFolder("short");
    std::string strBefore = kp::Header() + kp::Record("kept.txt", "kept");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\c.pak", strBefore));
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, Pack(kSysNetLo, "mtu", strDir, "c.pak", &dwErr, 1));
    EXPECT_EQ(166u, dwErr);
    EXPECT_EQ(strBefore, kt::ReadBytes(strDir + "\\c.pak"));
    EXPECT_TRUE(kt::HasLine(PackLog(), "utl_FilePack: " + strSys + " ended after " + std::to_string(strContent.size())
                                           + " of " + std::to_string(dwLow) + " bytes"));
    // The container still reads to its end.
    ASSERT_TRUE(kt::MakeDirs(strDir + "\\out"));
    EXPECT_EQ(1, utl_FileUnpack(strDir.c_str(), "c.pak", (strDir + "\\out").c_str(), &dwErr, 0));

    // A new container whose only record failed is no container at all.
    dwErr = kUntouched;
    EXPECT_EQ(0, Pack(kSysNetLo, "mtu", strDir, "new.pak", &dwErr, 0));
    EXPECT_EQ(166u, dwErr);
    EXPECT_FALSE(kt::Exists(strDir + "\\new.pak"));
}

TEST_F(PackWriterErrors, SourceWhoseReadsFailFails166)
{
    std::string strSys = std::string(kSysNetLo) + "\\speed";
    DWORD dwHigh = 0, dwLow = 0;
    if (!utl_GetFileSize(strSys.c_str(), &dwHigh, &dwLow) || dwLow == 0)
        GTEST_SKIP() << "no " << strSys << " on this machine";
    std::string strDir = kt::NewTempFolder("readfail");
    std::string strBefore = kp::Header() + kp::Record("kept.txt", "kept");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\c.pak", strBefore));
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, Pack(kSysNetLo, "speed", strDir, "c.pak", &dwErr, 1));
    EXPECT_EQ(166u, dwErr);
    EXPECT_EQ(strBefore, kt::ReadBytes(strDir + "\\c.pak"));
    std::vector<std::string> log = PackLog();
    bool bFound = false;
    for (const std::string& line : log)
        bFound = bFound || line.rfind("utl_FilePack: ReadFile failed with err ", 0) == 0;
    EXPECT_TRUE(bFound);
}

// ---------------------------------------------------------------------------
// Size query and work folder

TEST_F(PackFileSize, FilesOnlyAndNothingWrittenOnFailure)
{
    std::string strDir = kt::NewTempFolder("size");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\five.txt", "12345"));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\zero.txt", ""));
    DWORD dwHigh = 7, dwLow = 7;
    EXPECT_EQ(1, utl_GetFileSize((strDir + "\\five.txt").c_str(), &dwHigh, &dwLow));
    EXPECT_EQ(0u, dwHigh);
    EXPECT_EQ(5u, dwLow);
    EXPECT_EQ(1, utl_GetFileSize((strDir + "\\zero.txt").c_str(), &dwHigh, &dwLow));
    EXPECT_EQ(0u, dwLow);
    dwHigh = dwLow = 7;
    EXPECT_EQ(0, utl_GetFileSize(strDir.c_str(), &dwHigh, &dwLow));
    EXPECT_EQ(0, utl_GetFileSize((strDir + "\\missing").c_str(), &dwHigh, &dwLow));
    EXPECT_EQ(0, utl_GetFileSize(NULL, &dwHigh, &dwLow));
    EXPECT_EQ(7u, dwHigh);
    EXPECT_EQ(7u, dwLow);
}

TEST_F(PackWorkFolder, MakesCleansAndKeepsSubfolders)
{
    kt::RemoveTree("C:\\tmp\\KavlaSetup0");
    char szBuf[260] = {0};
    ASSERT_EQ(1, utl_CreateTmpDir(szBuf, sizeof(szBuf), "KavlaSetup", 0, 1));
    EXPECT_STREQ("C:\\tmp\\KavlaSetup0", szBuf);
    EXPECT_TRUE(kt::IsFolder("C:\\tmp\\KavlaSetup0"));

    ASSERT_TRUE(kt::WriteBytes("C:\\tmp\\KavlaSetup0\\a.txt", "a"));
    ASSERT_TRUE(kt::WriteBytes("C:\\tmp\\KavlaSetup0\\ro.txt", "r"));
    ASSERT_TRUE(SetFileAttributesA("C:\\tmp\\KavlaSetup0\\ro.txt", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(kt::WriteBytes("C:\\tmp\\KavlaSetup0\\component\\c.txt", "c"));

    // Reused without cleaning: everything stays.
    memset(szBuf, 0, sizeof(szBuf));
    ASSERT_EQ(1, utl_CreateTmpDir(szBuf, sizeof(szBuf), "KavlaSetup", 0, 0));
    EXPECT_STREQ("C:\\tmp\\KavlaSetup0", szBuf);
    EXPECT_EQ((std::vector<std::string>{"a.txt", "component", "ro.txt"}), kt::ListFolder("C:\\tmp\\KavlaSetup0"));

    // Cleaned: the files go, read-only ones too; subfolders and their files stay.
    ASSERT_EQ(1, utl_CreateTmpDir(szBuf, sizeof(szBuf), "KavlaSetup", 0, 1));
    EXPECT_EQ((std::vector<std::string>{"component"}), kt::ListFolder("C:\\tmp\\KavlaSetup0"));
    EXPECT_EQ("c", kt::ReadBytes("C:\\tmp\\KavlaSetup0\\component\\c.txt"));
}

TEST_F(PackWorkFolder, BufferSizeAndTickSuffix)
{
    // "C:\tmp\KavlaSetup0" is 18 characters: it needs 19 bytes.
    kt::RemoveTree("C:\\tmp\\KavlaSetup0");
    char szBuf[260];
    strcpy(szBuf, "unchanged");
    EXPECT_EQ(0, utl_CreateTmpDir(szBuf, 18, "KavlaSetup", 0, 1));
    EXPECT_STREQ("unchanged", szBuf);
    EXPECT_FALSE(kt::Exists("C:\\tmp\\KavlaSetup0"));
    EXPECT_EQ(1, utl_CreateTmpDir(szBuf, 19, "KavlaSetup", 0, 1));
    EXPECT_STREQ("C:\\tmp\\KavlaSetup0", szBuf);
    EXPECT_EQ(0, utl_CreateTmpDir(szBuf, sizeof(szBuf), NULL, 0, 1));
    EXPECT_EQ(0, utl_CreateTmpDir(NULL, sizeof(szBuf), "KavlaSetup", 0, 1));

    // With the tick count the suffix is the milliseconds since start.
    DWORD dwBefore = GetTickCount();
    ASSERT_EQ(1, utl_CreateTmpDir(szBuf, sizeof(szBuf), "Tick", 1, 0));
    DWORD dwAfter = GetTickCount();
    std::string strPath = szBuf;
    ASSERT_EQ(0u, strPath.rfind("C:\\tmp\\Tick", 0));
    unsigned long ulTick = strtoul(strPath.c_str() + 11, NULL, 10);
    EXPECT_GE(ulTick, (unsigned long)dwBefore);
    EXPECT_LE(ulTick, (unsigned long)dwAfter);
    EXPECT_TRUE(kt::IsFolder(strPath));
}
