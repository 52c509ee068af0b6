// The container reader on real host files built byte by byte: where a
// container ends, which damage gives which error number, what stays behind,
// and the exact log lines of a run.
#include <gtest/gtest.h>
#include "pack.h"
#include "pack_bytes.h"
#include "pack_log_test.h"
#include "testutil.h"
#include <algorithm>
#include <string>
#include <vector>

namespace {

const DWORD kUntouched = 12345;

struct UnpackRun {
    std::string strDir, strOut;
    int nResult = -1;
    DWORD dwErr = kUntouched;
};

// Writes the host bytes to <tmp>\host.bin, makes <tmp>\out and unpacks.
UnpackRun Unpack(const std::string& strTag, const std::string& strHost, DWORD dwOffset = 0)
{
    UnpackRun run;
    run.strDir = kt::NewTempFolder(strTag);
    run.strOut = run.strDir + "\\out";
    EXPECT_TRUE(kt::WriteBytes(run.strDir + "\\host.bin", strHost));
    EXPECT_TRUE(kt::MakeDirs(run.strOut));
    run.nResult = utl_FileUnpack(run.strDir.c_str(), "host.bin", run.strOut.c_str(), &run.dwErr, dwOffset);
    return run;
}

std::string ErrLine(DWORD dwErr) { return "utl_FileUnpack:Err: " + std::to_string(dwErr) + "."; }

} // namespace

using PackReaderEnd = PackLogTest;
using PackReaderBounds = PackLogTest;
using PackReaderOffset = PackLogTest;
using PackReaderErrors = PackLogTest;
using PackReaderLog = PackLogTest;

// ---------------------------------------------------------------------------
// Where a container ends

TEST_F(PackReaderEnd, HeaderOnlyEndingAtHostEndIsEmpty)
{
    UnpackRun run = Unpack("hdronly", kp::Header());
    EXPECT_EQ(1, run.nResult);
    EXPECT_EQ(kUntouched, run.dwErr);
    EXPECT_TRUE(kt::ListFolder(run.strOut).empty());
}

TEST_F(PackReaderEnd, LastRecordEndingExactlyAtHostEndNeedsNoMarker)
{
    std::string strBig = kp::Pattern(4096 * 2 + 1, 3);
    UnpackRun run = Unpack("exactend", kp::Header() + kp::Record("a.txt", "alpha") + kp::Record("big.bin", strBig));
    EXPECT_EQ(1, run.nResult);
    EXPECT_EQ(kUntouched, run.dwErr);
    EXPECT_EQ((std::vector<std::string>{"a.txt", "big.bin"}), kt::ListFolder(run.strOut));
    EXPECT_EQ("alpha", kt::ReadBytes(run.strOut + "\\a.txt"));
    EXPECT_EQ(strBig, kt::ReadBytes(run.strOut + "\\big.bin"));
}

TEST_F(PackReaderEnd, OneToThreeStrayBytesAfterLastRecordFailWith161)
{
    for (int nStray = 1; nStray <= 3; ++nStray) {
        UnpackRun run = Unpack("stray", kp::Header() + kp::Record("a.txt", "alpha") + std::string(nStray, '\x01'));
        EXPECT_EQ(0, run.nResult) << nStray;
        EXPECT_EQ(161u, run.dwErr) << nStray;
        // The record before the stray bytes is extracted and stays.
        EXPECT_EQ("alpha", kt::ReadBytes(run.strOut + "\\a.txt")) << nStray;
        // The partial name length holds the stray bytes, 0x01 each.
        const char* const apszLen[] = {"", "1", "257", "65793"};
        std::vector<std::string> log = FileLog();
        EXPECT_TRUE(kt::HasLine(log, "utl_FileUnpack: dwBufDataLen = " + std::to_string(nStray)
                                         + " dwCurFileNameLen = " + apszLen[nStray] + " sizeof(DWORD) = 4"))
            << nStray;
    }
    EXPECT_EQ(3u, kt::CountLine(FileLog(), ErrLine(161)));
}

TEST_F(PackReaderEnd, BytesAfterEndMarkerAreIgnoredAndNoMarkerFileIsMade)
{
    // Behind the marker: a well-formed record, then junk that would fail.
    std::string strTail = kp::Record("late.txt", "late") + std::string("\xff\xff\xff\x7f junk", 9);
    UnpackRun run = Unpack("endmark", kp::Header() + kp::Record("a.txt", "alpha") + kp::EndMarker() + strTail);
    EXPECT_EQ(1, run.nResult);
    EXPECT_EQ(kUntouched, run.dwErr);
    EXPECT_EQ((std::vector<std::string>{"a.txt"}), kt::ListFolder(run.strOut));
    EXPECT_TRUE(kt::HasLine(FileLog(), "utl_FileUnpack: The file is end."));
}

TEST_F(PackReaderEnd, EndMarkerContentIsNeverReadButMustLieInsideTheHost)
{
    // A marker declaring 5 content bytes that are present: no file, success.
    UnpackRun ok = Unpack("endcontent", kp::Header() + kp::Record("^Kavla_end^", "12345"));
    EXPECT_EQ(1, ok.nResult);
    EXPECT_TRUE(kt::ListFolder(ok.strOut).empty());
    // A marker declaring content past the host's end: 163, as for any record.
    UnpackRun bad = Unpack("endpast", kp::Header() + kp::RawRecord(11, 6, "^Kavla_end^", "12345"));
    EXPECT_EQ(0, bad.nResult);
    EXPECT_EQ(163u, bad.dwErr);
    // The marker is case-sensitive: another spelling is an ordinary file.
    UnpackRun other = Unpack("endcase", kp::Header() + kp::Record("^kavla_end^", "x") + kp::EndMarker());
    EXPECT_EQ(1, other.nResult);
    EXPECT_EQ((std::vector<std::string>{"^kavla_end^"}), kt::ListFolder(other.strOut));
}

// ---------------------------------------------------------------------------
// Record bounds and name lengths

TEST_F(PackReaderBounds, RecordReachingOneBytePastEndFailsWith163BeforeItsName)
{
    std::string strHost = kp::Header() + kp::Record("first.txt", "one") + kp::RawRecord(6, 4, "second", "abc");
    UnpackRun run = Unpack("pastend", strHost);
    EXPECT_EQ(0, run.nResult);
    EXPECT_EQ(163u, run.dwErr);
    EXPECT_EQ((std::vector<std::string>{"first.txt"}), kt::ListFolder(run.strOut));
    EXPECT_EQ("one", kt::ReadBytes(run.strOut + "\\first.txt"));
    std::vector<std::string> log = FileLog();
    // 17 + (8 + 9 + 3) + (8 + 6 + 4) = 55 against a container of 54 bytes.
    EXPECT_TRUE(kt::HasLine(log, "utl_FileUnpack: dwSizeLow = dwSizeLow - dwOffset= 54"));
    EXPECT_TRUE(kt::HasLine(log, "utl_FileUnpack: dwCurTotalLen = 55"));
    EXPECT_TRUE(kt::HasLine(log, ErrLine(163)));
    EXPECT_FALSE(kt::HasLine(log, "utl_FileUnpack: szDstAbsFile = " + run.strOut + "\\second"));
}

TEST_F(PackReaderBounds, DataLengthNear4GiBDoesNotWrapTheTotal)
{
    // 17 + 8 + 1 + 0xFFFFFFE6 is 2^32: a 32-bit total would wrap to zero.
    UnpackRun run = Unpack("wrap", kp::Header() + kp::RawRecord(1, 0xFFFFFFE6u, "w", "data"));
    EXPECT_EQ(0, run.nResult);
    EXPECT_EQ(163u, run.dwErr);
    EXPECT_TRUE(kt::ListFolder(run.strOut).empty());
}

TEST_F(PackReaderBounds, NamesOf64BytesPassAndOf65Fail161)
{
    std::string str64(64, 'n'), str65(65, 'm');
    UnpackRun ok = Unpack("name64", kp::Header() + kp::Record(str64, "sixty-four"));
    EXPECT_EQ(1, ok.nResult);
    EXPECT_EQ("sixty-four", kt::ReadBytes(ok.strOut + "\\" + str64));

    UnpackRun bad = Unpack("name65", kp::Header() + kp::Record("a.txt", "a") + kp::Record(str65, "x"));
    EXPECT_EQ(0, bad.nResult);
    EXPECT_EQ(161u, bad.dwErr);
    EXPECT_EQ((std::vector<std::string>{"a.txt"}), kt::ListFolder(bad.strOut));
    EXPECT_TRUE(kt::HasLine(FileLog(), "utl_FileUnpack: dwBufDataLen = 4 dwCurFileNameLen = 65 sizeof(DWORD) = 4"));
}

TEST_F(PackReaderBounds, NameThatWouldMakeTheOutputPath260LongFails161)
{
    // Destination folder of 200 characters: 200 + '\' + 59 = 260 is too long,
    // 200 + '\' + 58 = 259 fits.
    std::string strDir = kt::NewTempFolder("longdst");
    std::string strOut = strDir + "\\" + std::string(200 - strDir.size() - 1, 'd');
    ASSERT_EQ(200u, strOut.size());
    ASSERT_TRUE(kt::MakeDirs(strOut));
    std::string strName58(58, 'k'), strName59(59, 'k');
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\ok.bin", kp::Header() + kp::Record(strName58, "fits")));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\long.bin", kp::Header() + kp::Record(strName59, "too long")));
    DWORD dwErr = kUntouched;
    EXPECT_EQ(1, utl_FileUnpack(strDir.c_str(), "ok.bin", strOut.c_str(), &dwErr, 0));
    EXPECT_EQ("fits", kt::ReadBytes(strOut + "\\" + strName58));
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "long.bin", strOut.c_str(), &dwErr, 0));
    EXPECT_EQ(161u, dwErr);
}

TEST_F(PackReaderBounds, EmptyFileRecordsGiveEmptyFiles)
{
    UnpackRun run = Unpack("empty", kp::Header() + kp::Record("empty1.txt", "") + kp::Record("mid.txt", "m")
                                       + kp::Record("empty2.txt", ""));
    EXPECT_EQ(1, run.nResult);
    EXPECT_EQ((std::vector<std::string>{"empty1.txt", "empty2.txt", "mid.txt"}), kt::ListFolder(run.strOut));
    bool bOk = false;
    EXPECT_EQ("", kt::ReadBytes(run.strOut + "\\empty1.txt", &bOk));
    EXPECT_TRUE(bOk);
    EXPECT_EQ("", kt::ReadBytes(run.strOut + "\\empty2.txt", &bOk));
    EXPECT_TRUE(bOk);
}

// ---------------------------------------------------------------------------
// Containers inside a host at an offset

TEST_F(PackReaderOffset, OffsetEqualToHostSizeFails155)
{
    UnpackRun run = Unpack("offeq", std::string(100, 'p') + kp::Header(), 117);
    EXPECT_EQ(0, run.nResult);
    EXPECT_EQ(155u, run.dwErr);
    EXPECT_TRUE(kt::HasLine(FileLog(), "utl_FileUnpack: dwSizeHigh = 0 dwSizeLow = 117"));
    UnpackRun past = Unpack("offpast", std::string(100, 'p') + kp::Header(), 118);
    EXPECT_EQ(155u, past.dwErr);
}

TEST_F(PackReaderOffset, HostOfOffsetPlus17BytesIsAnEmptyContainer)
{
    UnpackRun run = Unpack("off17", std::string(100, 'p') + kp::Header(), 100);
    EXPECT_EQ(1, run.nResult);
    EXPECT_EQ(kUntouched, run.dwErr);
    EXPECT_TRUE(kt::ListFolder(run.strOut).empty());
    EXPECT_TRUE(kt::HasLine(FileLog(), "utl_FileUnpack: dwSizeLow = dwSizeLow - dwOffset= 17"));
}

TEST_F(PackReaderOffset, ContainerAfterTheSetupProgramAt3300000)
{
    bool bOk = false;
    std::string strHost = kt::ReadBytes(kt::DistPath("Setup.exe"), &bOk);
    ASSERT_TRUE(bOk);
    ASSERT_LT(strHost.size(), (size_t)PACK_SETUP_OFFSET);
    strHost.resize(PACK_SETUP_OFFSET, '\0');
    std::string strData = kp::Pattern(70000, 9);
    strHost += kp::Header() + kp::Record("Qt.7z", strData) + kp::Record("KavlaComponent.exe", "comp")
               + kp::EndMarker();
    UnpackRun run = Unpack("setupoff", strHost, PACK_SETUP_OFFSET);
    EXPECT_EQ(1, run.nResult);
    EXPECT_EQ((std::vector<std::string>{"KavlaComponent.exe", "Qt.7z"}), kt::ListFolder(run.strOut));
    EXPECT_EQ(strData, kt::ReadBytes(run.strOut + "\\Qt.7z"));
    // The same host read from offset 0 starts with the program, not the magic.
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack(run.strDir.c_str(), "host.bin", run.strOut.c_str(), &dwErr, 0));
    EXPECT_EQ(160u, dwErr);
}

// ---------------------------------------------------------------------------
// Refusals and damage: one error number each

TEST_F(PackReaderErrors, NullArgumentsFail150)
{
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack(NULL, "h.bin", "C:\\", &dwErr, 0));
    EXPECT_EQ(150u, dwErr);
    dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack("C:\\", NULL, "C:\\", &dwErr, 0));
    EXPECT_EQ(150u, dwErr);
    dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack("C:\\", "h.bin", NULL, &dwErr, 0));
    EXPECT_EQ(150u, dwErr);
    EXPECT_EQ(3u, kt::CountLine(FileLog(), ErrLine(150)));
}

TEST_F(PackReaderErrors, OverlongPathsFail151)
{
    std::string strDir = kt::NewTempFolder("long");
    std::string strLong(250, 'x');
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), strLong.c_str(), strDir.c_str(), &dwErr, 0));
    EXPECT_EQ(151u, dwErr);
    dwErr = kUntouched;
    std::string strLongDst = "C:\\" + std::string(257, 'd');
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "h.bin", strLongDst.c_str(), &dwErr, 0));
    EXPECT_EQ(151u, dwErr);
    EXPECT_TRUE(kt::HasLine(FileLog(), ErrLine(151)));
}

TEST_F(PackReaderErrors, MissingHostOrDestinationFail152And158)
{
    std::string strDir = kt::NewTempFolder("missing");
    ASSERT_TRUE(kt::MakeDirs(strDir + "\\afolder"));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\host.bin", kp::Header()));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\afile", "x"));
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "nothere.bin", strDir.c_str(), &dwErr, 0));
    EXPECT_EQ(152u, dwErr);
    // A folder is no host.
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "afolder", strDir.c_str(), &dwErr, 0));
    EXPECT_EQ(152u, dwErr);
    // The destination is never created, and a file is no destination.
    dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "host.bin", (strDir + "\\newdst").c_str(), &dwErr, 0));
    EXPECT_EQ(158u, dwErr);
    EXPECT_FALSE(kt::Exists(strDir + "\\newdst"));
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "host.bin", (strDir + "\\afile").c_str(), &dwErr, 0));
    EXPECT_EQ(158u, dwErr);
    std::vector<std::string> log = FileLog();
    EXPECT_TRUE(kt::HasLine(log, "utl_FileUnpack: szSrcAbsFile = " + strDir + "\\nothere.bin"));
    EXPECT_EQ(2u, kt::CountLine(log, ErrLine(152)));
    EXPECT_EQ(2u, kt::CountLine(log, ErrLine(158)));
}

TEST_F(PackReaderErrors, HostHeldForWritingCannotBeOpened156)
{
    UnpackRun run = Unpack("held", kp::Header() + kp::Record("a.txt", "a"));
    ASSERT_EQ(1, run.nResult);
    // Another program writes the host: the reader shares it for reading only.
    HANDLE h = CreateFileA((run.strDir + "\\host.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack(run.strDir.c_str(), "host.bin", run.strOut.c_str(), &dwErr, 0));
    CloseHandle(h);
    EXPECT_EQ(156u, dwErr);
    EXPECT_TRUE(kt::HasLine(FileLog(), ErrLine(156)));
}

TEST_F(PackReaderErrors, ShortOrWrongHeaderFails159And160)
{
    UnpackRun shortHdr = Unpack("shorthdr", kp::Header().substr(0, 16));
    EXPECT_EQ(0, shortHdr.nResult);
    EXPECT_EQ(159u, shortHdr.dwErr);

    // The magic stored without mixing is not the magic.
    UnpackRun plain = Unpack("plainhdr", std::string("^-=Kavla=-^ Vorn ") + kp::Record("a.txt", "a"));
    EXPECT_EQ(0, plain.nResult);
    EXPECT_EQ(160u, plain.dwErr);
    EXPECT_TRUE(kt::ListFolder(plain.strOut).empty());
    std::vector<std::string> log = FileLog();
    EXPECT_TRUE(kt::HasLine(log, ErrLine(159)));
    // The mismatch line holds only the header length.
    auto it = std::find(log.begin(), log.end(), ErrLine(160));
    ASSERT_NE(log.end(), it);
    ASSERT_NE(log.begin(), it);
    EXPECT_EQ("17", *(it - 1));
}

TEST_F(PackReaderErrors, TruncatedDataLengthFails162)
{
    for (int nBytes = 0; nBytes <= 3; ++nBytes) {
        UnpackRun run = Unpack("datalen", kp::Header() + kp::Record("a.txt", "a") + kp::Le32(3)
                                              + std::string(nBytes, '\0'));
        EXPECT_EQ(0, run.nResult) << nBytes;
        EXPECT_EQ(162u, run.dwErr) << nBytes;
        EXPECT_EQ("a", kt::ReadBytes(run.strOut + "\\a.txt"));
    }
}

TEST_F(PackReaderErrors, OutputThatCannotBeOpenedFails165)
{
    std::string strHost = kp::Header() + kp::Record("first.txt", "1") + kp::Record("held.txt", "new")
                          + kp::Record("sub", "x");
    std::string strDir = kt::NewTempFolder("held");
    std::string strOut = strDir + "\\out";
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\host.bin", strHost));
    ASSERT_TRUE(kt::WriteBytes(strOut + "\\held.txt", "old content"));
    // Another program holds the file without sharing it.
    HANDLE h = CreateFileA((strOut + "\\held.txt").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "host.bin", strOut.c_str(), &dwErr, 0));
    CloseHandle(h);
    EXPECT_EQ(165u, dwErr);
    // The held file keeps its content; the earlier record stays.
    EXPECT_EQ("old content", kt::ReadBytes(strOut + "\\held.txt"));
    EXPECT_EQ("1", kt::ReadBytes(strOut + "\\first.txt"));

    // A folder of the record's name.
    ASSERT_TRUE(kt::MakeDirs(strOut + "\\sub"));
    dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "host.bin", strOut.c_str(), &dwErr, 0));
    EXPECT_EQ(165u, dwErr);
    EXPECT_EQ("new", kt::ReadBytes(strOut + "\\held.txt"));
    EXPECT_TRUE(kt::IsFolder(strOut + "\\sub"));
    EXPECT_EQ(2u, kt::CountLine(FileLog(), ErrLine(165)));
}

// Names that stand in the destination already: an older, longer file keeps
// no tail; a hard link loses its name to a new file and the file it shares
// data with keeps its bytes; a read-only hard link cannot be replaced without
// changing that file, so the record fails with 165 and nothing is written.
TEST_F(PackReaderErrors, ExistingNamesAreReplacedNeverWrittenThrough)
{
    std::string strHost = kp::Header() + kp::Record("long.txt", "new") + kp::Record("linked.txt", "new linked")
                          + kp::Record("ro.txt", "new read-only");
    std::string strDir = kt::NewTempFolder("existing");
    std::string strOut = strDir + "\\out", strOutside = kt::NewTempFolder("existing_outside");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\host.bin", strHost));
    ASSERT_TRUE(kt::WriteBytes(strOut + "\\long.txt", "a longer old content"));
    ASSERT_TRUE(kt::WriteBytes(strOutside + "\\shared.txt", "outside"));
    ASSERT_TRUE(kt::WriteBytes(strOutside + "\\ro.txt", "outside read-only"));
    ASSERT_TRUE(SetFileAttributesA((strOutside + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CreateHardLinkA((strOut + "\\linked.txt").c_str(), (strOutside + "\\shared.txt").c_str(), NULL));
    ASSERT_TRUE(CreateHardLinkA((strOut + "\\ro.txt").c_str(), (strOutside + "\\ro.txt").c_str(), NULL));

    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "host.bin", strOut.c_str(), &dwErr, 0));
    EXPECT_EQ(165u, dwErr);
    EXPECT_EQ("new", kt::ReadBytes(strOut + "\\long.txt"));
    EXPECT_EQ("new linked", kt::ReadBytes(strOut + "\\linked.txt"));
    EXPECT_EQ("outside", kt::ReadBytes(strOutside + "\\shared.txt"));
    EXPECT_EQ("outside read-only", kt::ReadBytes(strOutside + "\\ro.txt"));
    EXPECT_EQ("outside read-only", kt::ReadBytes(strOut + "\\ro.txt"));
}

TEST_F(PackReaderErrors, HostOf4GiBOrMoreFails155)
{
    std::string strDir = kt::NewTempFolder("huge");
    std::string strHost = strDir + "\\huge.bin";
    HANDLE h = CreateFileA(strHost.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    std::string strHdr = kp::Header();
    DWORD dw = 0;
    WriteFile(h, strHdr.data(), (DWORD)strHdr.size(), &dw, NULL);
    // A sparse file: the size is what matters, not the bytes.
    LARGE_INTEGER li;
    li.QuadPart = 0x100000000LL + 17;
    BOOL bSized = SetFilePointerEx(h, li, NULL, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    if (!bSized)
        GTEST_SKIP() << "the file system of the prefix holds no 4 GiB file";
    DWORD dwErr = kUntouched;
    EXPECT_EQ(0, utl_FileUnpack(strDir.c_str(), "huge.bin", strDir.c_str(), &dwErr, 0));
    EXPECT_EQ(155u, dwErr);
    EXPECT_TRUE(kt::HasLine(FileLog(), "utl_FileUnpack: dwSizeHigh = 1 dwSizeLow = 17"));
    DeleteFileA(strHost.c_str());
}

// ---------------------------------------------------------------------------
// The log of a run, line by line

TEST_F(PackReaderLog, SuccessfulRunLogsEveryStep)
{
    UnpackRun run = Unpack("logrun", kp::Header() + kp::Record("a.txt", "abc") + kp::EndMarker());
    ASSERT_EQ(1, run.nResult);
    const std::string P = "utl_FileUnpack: ";
    std::vector<std::string> expected = {
        P + "pszSrcPath = " + run.strDir + " pszSrcFile = host.bin pszDstPath = " + run.strOut,
        P + "szSrcAbsFile = " + run.strDir + "\\host.bin",
        P + "dwSizeHigh = 0 dwSizeLow = 52",
        P + "dwSizeLow = dwSizeLow - dwOffset= 52",
        P + "dwCurTotalLen = 17",
        P + "unpack time = 1",
        P + "dwBufDataLen = 4 dwCurFileNameLen = 5 sizeof(DWORD) = 4",
        P + "dwCurTotalLen = 33",
        P + "szDstAbsFile = " + run.strOut + "\\a.txt",
        P + "unpack time = 2",
        P + "dwBufDataLen = 4 dwCurFileNameLen = 11 sizeof(DWORD) = 4",
        P + "dwCurTotalLen = 52",
        P + "szDstAbsFile = " + run.strOut + "\\^Kavla_end^",
        P + "The file is end.",
    };
    EXPECT_EQ(expected, FileLog());
}

TEST_F(PackReaderLog, FailureAtTheSecondRecordLogsUpToTheErrorLine)
{
    UnpackRun run = Unpack("logfail", kp::Header() + kp::Record("a.txt", "abc") + kp::RawRecord(3, 100, "b.t", ""));
    ASSERT_EQ(0, run.nResult);
    std::vector<std::string> log = FileLog();
    ASSERT_GE(log.size(), 4u);
    std::vector<std::string> tail(log.end() - 4, log.end());
    EXPECT_EQ((std::vector<std::string>{"utl_FileUnpack: unpack time = 2",
                                        "utl_FileUnpack: dwBufDataLen = 4 dwCurFileNameLen = 3 sizeof(DWORD) = 4",
                                        "utl_FileUnpack: dwCurTotalLen = 144", ErrLine(163)}),
              tail);
}
