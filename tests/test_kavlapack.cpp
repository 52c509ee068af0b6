// The administrators' tool run as a process: a built setup compared byte
// for byte with the tests' own encoder, its listing, extraction and check,
// refusals that leave no half-written output behind, and the checks of a
// payload against what the install driver does with it.
#include <gtest/gtest.h>
#include "driver_runs.h"
#include "pack.h"
#include "pack_bytes.h"
#include "testutil.h"
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int nExit = -1;
    std::string strOut, strErr;
};

// Console output comes in text mode: CR LF line ends, compared here as LF.
std::string NoCr(std::string str)
{
    str.erase(std::remove(str.begin(), str.end(), '\r'), str.end());
    return str;
}

HANDLE InheritableFile(const std::string& strPath)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    return CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       NULL);
}

// Runs kavlapack (or another build of it) with its standard output and
// error captured in files.
ToolRun Tool(const std::string& strArgs, const std::string& strExe = kt::DistPath("kavlapack.exe"))
{
    ToolRun run;
    std::string strDir = kt::NewTempFolder("toolio");
    HANDLE hOut = InheritableFile(strDir + "\\out.txt"), hErr = InheritableFile(strDir + "\\err.txt");
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = hOut;
    si.hStdError = hErr;
    PROCESS_INFORMATION pi;
    std::string strCmd = "\"" + strExe + "\" " + strArgs;
    std::vector<char> cmd(strCmd.begin(), strCmd.end());
    cmd.push_back('\0');
    if (CreateProcessA(NULL, cmd.data(), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        CloseHandle(pi.hThread);
        kt::Proc proc;
        proc.hProcess = pi.hProcess;
        proc.dwPid = pi.dwProcessId;
        run.nExit = kt::Wait(proc, 120000);
    }
    CloseHandle(hOut);
    CloseHandle(hErr);
    run.strOut = NoCr(kt::ReadBytes(strDir + "\\out.txt"));
    run.strErr = NoCr(kt::ReadBytes(strDir + "\\err.txt"));
    kt::RemoveTree(strDir);
    return run;
}

std::string Q(const std::string& strPath) { return "\"" + strPath + "\""; }

std::string SetupBytes()
{
    bool bOk = false;
    std::string str = kt::ReadBytes(kt::DistPath("Setup.exe"), &bOk);
    EXPECT_TRUE(bOk);
    return str;
}

std::string Padded(std::string strProgram)
{
    strProgram.resize(PACK_SETUP_OFFSET, '\0');
    return strProgram;
}

// A payload folder written in an order other than the sorted one.
struct Payload {
    std::string strDir, strBig;
};

Payload MakePayload(const std::string& strDir)
{
    Payload p;
    p.strDir = strDir;
    p.strBig = kp::Pattern(100000, 6);
    EXPECT_TRUE(kt::WriteBytes(strDir + "\\zeta.txt", "last"));
    EXPECT_TRUE(kt::WriteBytes(strDir + "\\Qt.7z", p.strBig));
    EXPECT_TRUE(kt::WriteBytes(strDir + "\\empty.cfg", ""));
    EXPECT_TRUE(kt::WriteBytes(strDir + "\\KavlaComponent.exe", "component"));
    // Subfolders are not part of the payload.
    EXPECT_TRUE(kt::WriteBytes(strDir + "\\sub\\inner.txt", "inner"));
    return p;
}

// A line "kavlapack: <kind>: ..." naming the file and giving the reason.
bool HasFinding(const std::string& strErr, const std::string& strKind, const std::string& strFile,
                const std::string& strReason)
{
    std::istringstream in(strErr);
    std::string strLine;
    while (std::getline(in, strLine))
        if (strLine.rfind("kavlapack: " + strKind + ": ", 0) == 0 && strLine.find(strFile) != std::string::npos
            && strLine.find(strReason) != std::string::npos)
            return true;
    return false;
}

// What the install driver takes without a complaint: both programs, the real
// 7za.exe with real archives, a component container and a profile file.
kt::Payload CompletePayload(const std::string& strTag)
{
    kt::Payload p(strTag);
    p.AddStandins();
    p.AddSevenZa();
    p.AddSevenZip("Qt.7z", "Qt", kt::StandardQtFiles());
    p.AddSevenZip("WebCmdCustomCfg.7z", "WebCmdCustomCfg", kt::StandardCmdCfgFiles());
    p.AddComponentPack(kt::StandardComponentFiles());
    p.Add("office-cfg.xml", "<cfg name=\"office\"/>\r\n");
    return p;
}

} // namespace

// ---------------------------------------------------------------------------
// A built setup

TEST(KavlaPackBuild, SetupIsProgramPaddingAndPayloadByteForByte)
{
    KT_SKIP_IF_EMULATED();
    std::string strDir = kt::NewTempFolder("build");
    Payload p = MakePayload(strDir + "\\payload");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\extra\\readme.txt", "extra file"));
    std::string strOut = strDir + "\\out\\Setup.exe";
    ASSERT_TRUE(kt::MakeDirs(strDir + "\\out"));

    ToolRun run = Tool("build " + Q(kt::DistPath("Setup.exe")) + " " + Q(strOut) + " " + Q(p.strDir) + " "
                       + Q(strDir + "\\extra\\readme.txt") + " --allow-incomplete");
    ASSERT_EQ(0, run.nExit) << run.strErr;
    // Folder files sorted by name (byte order), then the single file.
    std::string strExpected = Padded(SetupBytes()) + kp::Header() + kp::Record("KavlaComponent.exe", "component")
                              + kp::Record("Qt.7z", p.strBig) + kp::Record("empty.cfg", "")
                              + kp::Record("zeta.txt", "last") + kp::Record("readme.txt", "extra file")
                              + kp::EndMarker();
    EXPECT_TRUE(strExpected == kt::ReadBytes(strOut)) << "built setup differs from the expected bytes";
    // Nothing else stands beside the output.
    EXPECT_EQ((std::vector<std::string>{"Setup.exe"}), kt::ListFolder(strDir + "\\out"));

    ToolRun list = Tool("list " + Q(strOut));
    EXPECT_EQ(0, list.nExit) << list.strErr;
    EXPECT_EQ("KavlaComponent.exe\t9\nQt.7z\t100000\nempty.cfg\t0\nzeta.txt\t4\nreadme.txt\t10\n"
              "^Kavla_end^\t(end marker)\n"
              "# 5 files, 100023 bytes, container at offset 3300000, ends with the end marker\n",
              list.strOut);

    ToolRun verify = Tool("verify " + Q(strOut) + " --allow-incomplete");
    EXPECT_EQ(0, verify.nExit) << verify.strErr;
    EXPECT_EQ("# 5 files, 100023 bytes, container at offset 3300000, ends with the end marker\n", verify.strOut);

    ToolRun extract = Tool("extract " + Q(strOut) + " " + Q(strDir + "\\x"));
    EXPECT_EQ(0, extract.nExit) << extract.strErr;
    EXPECT_EQ(list.strOut, extract.strOut);
    EXPECT_EQ((std::vector<std::string>{"KavlaComponent.exe", "Qt.7z", "empty.cfg", "readme.txt", "zeta.txt"}),
              kt::ListFolder(strDir + "\\x"));
    EXPECT_EQ(p.strBig, kt::ReadBytes(strDir + "\\x\\Qt.7z"));
    EXPECT_EQ("extra file", kt::ReadBytes(strDir + "\\x\\readme.txt"));
}

TEST(KavlaPackBuild, NoEndOptionEndsAtTheEndOfTheFile)
{
    KT_SKIP_IF_EMULATED();
    std::string strDir = kt::NewTempFolder("noend");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\a.txt", "alpha"));
    // A program of exactly 3300000 bytes needs no padding.
    std::string strProgram = Padded("MZ small program");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\prog.exe", strProgram));
    ToolRun run = Tool("build " + Q(strDir + "\\prog.exe") + " " + Q(strDir + "\\s.exe") + " " + Q(strDir + "\\a.txt")
                       + " --no-end --allow-incomplete");
    ASSERT_EQ(0, run.nExit) << run.strErr;
    EXPECT_TRUE(strProgram + kp::Header() + kp::Record("a.txt", "alpha") == kt::ReadBytes(strDir + "\\s.exe"));
    ToolRun verify = Tool("verify " + Q(strDir + "\\s.exe") + " --allow-incomplete");
    EXPECT_EQ(0, verify.nExit);
    EXPECT_NE(std::string::npos, verify.strOut.find("no end marker"));
}

// ---------------------------------------------------------------------------
// Refusals: a clear message, a non-zero exit, the old output untouched

TEST(KavlaPackRefusals, ProgramLargerThanThePayloadOffset)
{
    KT_SKIP_IF_EMULATED();
    std::string strDir = kt::NewTempFolder("big");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\prog.exe", std::string(PACK_SETUP_OFFSET + 1, 'P')));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\a.txt", "a"));
    ToolRun run = Tool("build " + Q(strDir + "\\prog.exe") + " " + Q(strDir + "\\s.exe") + " " + Q(strDir + "\\a.txt")
                       + " --allow-incomplete");
    EXPECT_EQ(1, run.nExit);
    EXPECT_NE(std::string::npos, run.strErr.find("is 3300001 bytes, larger than the 3300000 bytes"));
    EXPECT_EQ((std::vector<std::string>{"a.txt", "prog.exe"}), kt::ListFolder(strDir));
}

TEST(KavlaPackRefusals, PayloadNamesTheReaderWouldRefuseOrConfuse)
{
    KT_SKIP_IF_EMULATED();
    struct Case {
        const char* pszWhy;
        std::vector<std::string> files;   // relative to the case folder
        std::vector<std::string> inputs;  // arguments, relative too
        const char* pszMessage;
    };
    const Case cases[] = {
        {"65 bytes", {"p\\" + std::string(65, 'n')}, {"p"}, "is longer than 64 bytes"},
        {"end marker", {"p\\a.txt", "p\\^Kavla_end^"}, {"p"}, "is the end marker's name"},
        {"duplicate", {"p\\a.txt", "q\\A.TXT"}, {"p", "q"}, "two payload files are named a.txt"},
        {"missing", {"p\\a.txt"}, {"p", "nothere.txt"}, "no such file or folder"},
    };
    for (const Case& c : cases) {
        std::string strDir = kt::NewTempFolder("names");
        for (const std::string& strFile : c.files)
            ASSERT_TRUE(kt::WriteBytes(strDir + "\\" + strFile, "x"));
        ASSERT_TRUE(kt::WriteBytes(strDir + "\\s.exe", "OLD"));
        std::string strArgs = "build " + Q(kt::DistPath("Setup.exe")) + " " + Q(strDir + "\\s.exe") + " --allow-incomplete";
        for (const std::string& strIn : c.inputs)
            strArgs += " " + Q(strDir + "\\" + strIn);
        ToolRun run = Tool(strArgs);
        EXPECT_EQ(1, run.nExit) << c.pszWhy;
        EXPECT_NE(std::string::npos, run.strErr.find(c.pszMessage)) << c.pszWhy << ": " << run.strErr;
        EXPECT_EQ("OLD", kt::ReadBytes(strDir + "\\s.exe")) << c.pszWhy;
    }
}

TEST(KavlaPackRefusals, FailureMidwayLeavesNoHalfWrittenOutput)
{
    KT_SKIP_IF_EMULATED();
    std::string strDir = kt::NewTempFolder("midway");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\p\\a.txt", kp::Pattern(50000)));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\p\\b.txt", "held"));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\out\\s.exe", "OLD"));
    // b.txt is written by another program: the writer cannot open it.
    HANDLE h = CreateFileA((strDir + "\\p\\b.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ToolRun run = Tool("build " + Q(kt::DistPath("Setup.exe")) + " " + Q(strDir + "\\out\\s.exe") + " "
                       + Q(strDir + "\\p") + " --allow-incomplete");
    CloseHandle(h);
    EXPECT_EQ(156, run.nExit);
    EXPECT_NE(std::string::npos, run.strErr.find("b.txt: error 156"));
    EXPECT_EQ("OLD", kt::ReadBytes(strDir + "\\out\\s.exe"));
    EXPECT_EQ((std::vector<std::string>{"s.exe"}), kt::ListFolder(strDir + "\\out"));
}

TEST(KavlaPackRefusals, ProgramThatFailsToReadIsNotPaddedOver)
{
    KT_SKIP_IF_EMULATED();
    std::string strDir = kt::NewTempFolder("readfail");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\a.txt", "alpha"));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\out\\s.exe", "OLD"));
    // A file that opens and has a size, but whose first read fails: the
    // memory of the tool's own process, as Wine shows it on drive Z:.
    ToolRun run = Tool("build Z:\\proc\\self\\mem " + Q(strDir + "\\out\\s.exe") + " " + Q(strDir + "\\a.txt")
                       + " --allow-incomplete");
    EXPECT_EQ(1, run.nExit) << run.strOut;
    EXPECT_NE(std::string::npos, run.strErr.find("kavlapack: build: cannot read the setup program Z:\\proc\\self\\mem at byte 0 (error "))
        << run.strErr;
    EXPECT_EQ("", run.strOut);
    EXPECT_EQ("OLD", kt::ReadBytes(strDir + "\\out\\s.exe"));
    EXPECT_EQ((std::vector<std::string>{"s.exe"}), kt::ListFolder(strDir + "\\out"));
    // Without an old output nothing at all is left.
    ASSERT_TRUE(kt::MakeDirs(strDir + "\\new"));
    ToolRun fresh = Tool("build Z:\\proc\\self\\mem " + Q(strDir + "\\new\\s.exe") + " " + Q(strDir + "\\a.txt")
                         + " --allow-incomplete");
    EXPECT_EQ(1, fresh.nExit);
    EXPECT_NE(std::string::npos, fresh.strErr.find("cannot read the setup program")) << fresh.strErr;
    EXPECT_TRUE(kt::ListFolder(strDir + "\\new").empty());
}

TEST(KavlaPackRefusals, CommandLineMistakesExit2)
{
    KT_SKIP_IF_EMULATED();
    const char* const apszArgs[] = {"", "unpack x", "list", "list a b", "list x --offset", "list x --offset abc",
                                    "list x --offset 99999999999", "extract x", "verify x --bogus",
                                    "build a b", "build a b c --bogus"};
    for (const char* pszArgs : apszArgs) {
        ToolRun run = Tool(pszArgs);
        EXPECT_EQ(2, run.nExit) << pszArgs;
        EXPECT_NE(std::string::npos, run.strErr.find("usage:")) << pszArgs;
    }
    EXPECT_EQ(1, kt::Run("\"" + kt::DistPath("kavlapack.exe") + "\" list C:\\nothere.bin", 60000));
}

// ---------------------------------------------------------------------------
// Reading containers anywhere, damaged ones included

TEST(KavlaPackRead, StandAloneContainersAndExplicitOffsets)
{
    KT_SKIP_IF_EMULATED();
    std::string strDir = kt::NewTempFolder("offsets");
    std::string strPak = kp::Header() + kp::Record("a.txt", "alpha") + kp::Record("b.txt", "");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\comp.pak", strPak));
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\host.bin", std::string(100, 'j') + strPak));

    ToolRun list = Tool("list " + Q(strDir + "\\comp.pak"));
    EXPECT_EQ(0, list.nExit) << list.strErr;
    EXPECT_EQ(0u, list.strOut.find("a.txt\t5\nb.txt\t0\n# 2 files, 5 bytes, container at offset 0, ends at the end"));

    ToolRun at100 = Tool("list " + Q(strDir + "\\host.bin") + " --offset 100");
    EXPECT_EQ(0, at100.nExit) << at100.strErr;
    EXPECT_EQ(0u, at100.strOut.find("a.txt\t5\nb.txt\t0\n# 2 files, 5 bytes, container at offset 100,"));
    // Without the offset the junk is no header.
    EXPECT_EQ(160, Tool("verify " + Q(strDir + "\\host.bin")).nExit);
    EXPECT_EQ(155, Tool("verify " + Q(strDir + "\\host.bin") + " --offset " + std::to_string(strPak.size() + 100)).nExit);

    ToolRun extract = Tool("extract " + Q(strDir + "\\host.bin") + " " + Q(strDir + "\\x") + " --offset 100");
    EXPECT_EQ(0, extract.nExit) << extract.strErr;
    EXPECT_EQ("alpha", kt::ReadBytes(strDir + "\\x\\a.txt"));
}

TEST(KavlaPackRead, DamagedAndHostileContainersGiveTheReadersErrorNumber)
{
    KT_SKIP_IF_EMULATED();
    std::string strDir = kt::NewTempFolder("damaged");
    std::string strHost = Padded(SetupBytes()) + kp::Header() + kp::Record("a.txt", "alpha")
                          + kp::Record("b.txt", "bravo") + kp::EndMarker();
    // Cut one byte off the end marker's name: the marker reaches past the end.
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\cut.exe", strHost.substr(0, strHost.size() - 1)));
    ToolRun verify = Tool("verify " + Q(strDir + "\\cut.exe"));
    EXPECT_EQ(163, verify.nExit);
    EXPECT_NE(std::string::npos, verify.strErr.find("error 163: a record reaches past the end of the file"));
    ToolRun list = Tool("list " + Q(strDir + "\\cut.exe"));
    EXPECT_EQ(163, list.nExit);
    EXPECT_EQ("a.txt\t5\nb.txt\t5\n", list.strOut);

    // A climbing name: extract stops with 165 and nothing lands outside.
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\evil.pak", kp::Header() + kp::Record("ok.txt", "ok")
                                                          + kp::Record("..\\evil.txt", "evil")));
    EXPECT_EQ(165, Tool("verify " + Q(strDir + "\\evil.pak")).nExit);
    ToolRun extract = Tool("extract " + Q(strDir + "\\evil.pak") + " " + Q(strDir + "\\x"));
    EXPECT_EQ(165, extract.nExit);
    EXPECT_EQ((std::vector<std::string>{"ok.txt"}), kt::ListFolder(strDir + "\\x"));
    EXPECT_FALSE(kt::Exists(strDir + "\\evil.txt"));
}

TEST(KavlaPackRead, ARunningProgramExtractsItsOwnPayload)
{
    KT_SKIP_IF_EMULATED();
    // As the setup program does: the program file is mapped while it runs,
    // and the reader opens it once more to read the payload behind it.
    std::string strDir = kt::NewTempFolder("self");
    ASSERT_TRUE(kt::WriteBytes(strDir + "\\d.txt", "payload of a running program"));
    ToolRun build = Tool("build " + Q(kt::DistPath("kavlapack.exe")) + " " + Q(strDir + "\\kp.exe") + " "
                         + Q(strDir + "\\d.txt") + " --allow-incomplete");
    ASSERT_EQ(0, build.nExit) << build.strErr;
    ToolRun self = Tool("extract " + Q(strDir + "\\kp.exe") + " " + Q(strDir + "\\x"), strDir + "\\kp.exe");
    EXPECT_EQ(0, self.nExit) << self.strErr;
    EXPECT_EQ("payload of a running program", kt::ReadBytes(strDir + "\\x\\d.txt"));
}


// ---------------------------------------------------------------------------
// Checks against what the install driver does with each payload file

TEST(KavlaPackChecks, EachFindingOnThePayloadThatHasIt)
{
    KT_SKIP_IF_EMULATED();
    kt::Payload good = CompletePayload("checks");
    std::vector<std::string> goodNames = good.Names();
    std::sort(goodNames.begin(), goodNames.end());
    std::string strCmdCfg = kt::ReadBytes(good.PathOf("WebCmdCustomCfg.7z"));
    struct Case {
        const char* pszWhy;
        std::vector<std::string> omitted;                           // files of the complete payload
        std::vector<std::pair<std::string, std::string>> added;     // records after them, in this order
        const char* pszKind;                                        // "error", "warning", "" clean
        const char* pszFile;
        const char* pszReason;
        int nVerifyExit;
        bool bBuild;            // false: no file can carry the record, or build never writes the bytes
        bool bEnd;
        std::string strTail;    // bytes after the end marker
    };
    const Case cases[] = {
        {"complete", {}, {}, "", "", "", 0, true, true, ""},
        {"no service", {"pymApxSvr.exe"}, {}, "error", "pymApxSvr.exe", "missing from the payload; the setup would end with 355", 1, true, true, ""},
        {"no installer", {"KavlaSetup.exe"}, {}, "error", "KavlaSetup.exe", "missing from the payload; the setup would end with 357", 1, true, true, ""},
        {"letter case", {}, {{"KAVLASETUP.EXE", "other"}}, "error", "KAVLASETUP.EXE", "two payload files are named KavlaSetup.exe on Windows", 1, true, true, ""},
        // KavlaSetup.exe, made before it, got that short name; ~2 is nobody's.
        {"short name", {}, {{"KAVLAS~1.EXE", "other"}}, "error", "KAVLAS~1.EXE", "named KAVLAS~1.EXE on Windows (with ", 1, true, true, ""},
        {"free short name", {}, {{"KAVLAS~2.EXE", "other"}}, "", "", "", 0, true, true, ""},
        {"component", {"KavlaComponent.exe"}, {{"KavlaComponent.exe", "a file that is no container"}}, "error", "KavlaComponent.exe", "not a whole container: error 160: no Payload Pack header at this offset; the setup would end with 160", 1, true, true, ""},
        {"climbing name", {}, {{"..\\evil.txt", "x"}}, "error", "Setup.exe", "does not read: error 165", 165, false, true, ""},
        {"no 7za", {"7za.exe"}, {}, "warning", "Qt.7z", "there is no 7za.exe to extract it; the setup would record 112", 0, true, true, ""},
        {"Qt.7z", {"Qt.7z"}, {{"Qt.7z", "no archive"}}, "warning", "Qt.7z", "7za.exe cannot list it (exit 2); the setup would record 112", 0, true, true, ""},
        {"cut archive", {"WebCmdCustomCfg.7z"}, {{"WebCmdCustomCfg.7z", strCmdCfg.substr(0, strCmdCfg.size() / 2)}}, "warning", "WebCmdCustomCfg.7z", "cannot list it (exit 2); the setup would log \"unpack managecfg fail!\"", 0, true, true, ""},
        {"profile", {}, {{"plaincfg.xml", "<cfg/>"}}, "warning", "plaincfg.xml", "holds \"cfg.xml\" but no \"-\"", 0, true, true, ""},
        {"no end marker", {}, {}, "warning", "Setup.exe", "no end marker", 0, true, false, ""},
        {"tail", {}, {}, "warning", "Setup.exe", "4 bytes follow the end marker", 0, false, true, "tail"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhy);
        std::string strDir = kt::NewTempFolder("check");
        struct Record {
            std::string strName, strPath, strBytes;
        };
        std::vector<Record> records;
        for (const std::string& strName : goodNames)
            if (std::find(c.omitted.begin(), c.omitted.end(), strName) == c.omitted.end())
                records.push_back({strName, good.PathOf(strName), kt::ReadBytes(good.PathOf(strName))});
        for (size_t i = 0; i < c.added.size(); ++i) {
            std::string strPath = strDir + "\\add" + std::to_string(i) + "\\" + c.added[i].first;
            ASSERT_TRUE(!c.bBuild || kt::WriteBytes(strPath, c.added[i].second));
            records.push_back({c.added[i].first, strPath, c.added[i].second});
        }
        std::string strKind = *c.pszKind ? c.pszKind : "none";
        bool bError = strKind == "error";
        auto Expect = [&](const ToolRun& run) {
            if (strKind == "none")
                EXPECT_NE(std::string::npos, run.strErr.find("kavlapack: 0 errors, 0 warnings\n")) << run.strErr;
            else
                EXPECT_TRUE(HasFinding(run.strErr, strKind, c.pszFile, c.pszReason)) << run.strErr;
        };

        // build: an error leaves no file, a warning only with --strict.
        std::string strInputs;
        for (const auto& r : records)
            strInputs += " " + Q(r.strPath);
        for (int bStrict = 0; c.bBuild && bStrict < 2; ++bStrict) {
            std::string strOut = strDir + "\\out" + std::to_string(bStrict);
            ASSERT_TRUE(kt::MakeDirs(strOut));
            ToolRun run = Tool("build " + Q(kt::DistPath("Setup.exe")) + " " + Q(strOut + "\\Setup.exe") + strInputs
                               + (c.bEnd ? "" : " --no-end") + (bStrict ? " --strict" : ""));
            bool bRefused = bError || (bStrict && strKind == "warning");
            EXPECT_EQ(bRefused ? 1 : 0, run.nExit) << "build, strict " << bStrict;
            Expect(run);
            EXPECT_EQ(bRefused ? std::vector<std::string>{} : std::vector<std::string>{"Setup.exe"},
                      kt::ListFolder(strOut));
        }

        // verify: the same records in a setup of the tests' own encoder.
        std::string strSetup = Padded(SetupBytes()) + kp::Header();
        for (const auto& r : records)
            strSetup += kp::Record(r.strName, r.strBytes);
        strSetup += (c.bEnd ? kp::EndMarker() : "") + c.strTail;
        ASSERT_TRUE(kt::WriteBytes(strDir + "\\v\\Setup.exe", strSetup));
        ToolRun verify = Tool("verify " + Q(strDir + "\\v\\Setup.exe"));
        EXPECT_EQ(c.nVerifyExit, verify.nExit) << "verify";
        Expect(verify);
        ToolRun strict = Tool("verify " + Q(strDir + "\\v\\Setup.exe") + " --strict");
        EXPECT_EQ(strKind == "warning" ? 1 : c.nVerifyExit, strict.nExit) << "verify --strict";
    }
}

TEST(KavlaPackChecks, ComponentFolderAndTheSameSetupFromTheSameFiles)
{
    KT_SKIP_IF_EMULATED();
    kt::Payload good = CompletePayload("repeat");
    good.Remove("KavlaComponent.exe");
    std::vector<std::string> names = good.Names();
    std::string astrRound[2] = {kt::NewTempFolder("repeat_a"), kt::NewTempFolder("repeat_b")};
    std::string astrSetup[2];
    for (int r = 0; r < 2; ++r) {
        // The same files, made in the opposite order the second time.
        const std::string& strRound = astrRound[r];
        if (r)
            std::reverse(names.begin(), names.end());
        for (const std::string& strName : names)
            ASSERT_TRUE(kt::WriteBytes(strRound + "\\payload\\" + strName, kt::ReadBytes(good.PathOf(strName))));
        for (const auto& kv : kt::StandardComponentFiles())
            ASSERT_TRUE(kt::WriteBytes(strRound + "\\component\\" + kv.first, kv.second));
        ToolRun run = Tool("build " + Q(kt::DistPath("Setup.exe")) + " " + Q(strRound + "\\Setup.exe") + " "
                           + Q(strRound + "\\payload") + " --component " + Q(strRound + "\\component"));
        EXPECT_EQ(0, run.nExit) << run.strErr;
        EXPECT_NE(std::string::npos, run.strErr.find("kavlapack: 0 errors, 0 warnings\n")) << run.strErr;
        // Nothing of the component's making is left beside the output.
        EXPECT_EQ((std::vector<std::string>{"Setup.exe", "component", "payload"}), kt::ListFolder(strRound));
        astrSetup[r] = kt::ReadBytes(strRound + "\\Setup.exe");
    }
    EXPECT_TRUE(astrSetup[0] == astrSetup[1]) << "two builds of the same files differ";
    // The component: the folder's files in name order, a container ending with its file, last before the marker.
    std::string strComponent = kp::Header();
    for (const auto& kv : kt::StandardComponentFiles())
        strComponent += kp::Record(kv.first, kv.second);
    std::string strTail = kp::Record("KavlaComponent.exe", strComponent) + kp::EndMarker();
    EXPECT_EQ(astrSetup[0].size() - strTail.size(), astrSetup[0].rfind(strTail));
    ToolRun verify = Tool("verify " + Q(astrRound[0] + "\\Setup.exe"));
    EXPECT_EQ(0, verify.nExit) << verify.strErr;
    EXPECT_NE(std::string::npos, verify.strErr.find("kavlapack: 0 errors, 0 warnings\n")) << verify.strErr;
}
