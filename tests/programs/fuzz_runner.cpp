// In-process mutation fuzzer of the three readers that take bytes from
// outside the program: the Payload Pack reader, the customisation document
// readers over the XML layer, and the password cipher.
//
//   fuzz_runner <pack|xml|cipher> <corpus-folder> <cases> <seed> <work-folder> [--first N]
//
// Every file of the corpus folder is first run as it is, then <cases>
// mutated cases (numbers N .. N+cases-1, default N 0) follow; case k depends
// only on the seed, k and the corpus, so "--first k" with 1 case replays it.
// Each result is checked against a model of the documented behaviour built
// here, independently of the code under test:
//   pack    the host file is written (sometimes behind a prefix, read at
//           that offset) and unpacked into a fresh folder two levels below
//           the work folder; result and error number must be the model's,
//           the extracted files exactly the model's, and no entry may appear
//           or vanish anywhere above the destination;
//   xml     the input is KavlaCustom.xml and KavlaUninstallInfo.xml for the
//           three section readers (fresh parser objects, once with Init);
//           results 0/1 and equal, untouched records on 0, texts within the
//           limits the readers cut to, no zero bytes; besides, the nesting
//           guard and TinyXML parse the text in front of a no-access page
//           and the UTF-8 conversion reads the bytes in front of one, so a
//           read past the text faults;
//   cipher  DecryptPassword of the mutated text and EncryptPassword of
//           random bytes, buffers in front of no-access pages with guard
//           bytes, results and outputs equal to an own Base64 + DES model.
// A crash is caught here (the input is saved, the exit code is the
// exception's), a case running longer than FUZZ_HANG_S seconds (default 30)
// ends the run with exit code 3 and its input saved. Every finding's input
// goes to <work-folder>\findings with a line in findings.txt.
// Output: one summary line; exit code 0 only when there are no findings.
#include "fuzz_cipher.h"
#include "fuzz_pack.h"
#include "fuzz_xml.h"
#include <exception>

using namespace fuzz;

namespace {

int Usage()
{
    fprintf(stderr, "usage: fuzz_runner <pack|xml|cipher> <corpus-folder> <cases> <seed> <work-folder> [--first N]\n");
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 6 && argc != 8)
        return Usage();
    const std::string strTarget = argv[1], strCorpus = argv[2], strWork = argv[5];
    const uint64_t ullCases = strtoull(argv[3], NULL, 10), ullSeed = strtoull(argv[4], NULL, 10);
    uint64_t ullFirst = 0;
    if (argc == 8) {
        if (strcmp(argv[6], "--first") != 0)
            return Usage();
        ullFirst = strtoull(argv[7], NULL, 10);
    }
    if (strTarget != "pack" && strTarget != "xml" && strTarget != "cipher")
        return Usage();
    const char* pszHang = getenv("FUZZ_HANG_S");
    if (pszHang && atoi(pszHang) > 0)
        g_run.dwHangSeconds = (DWORD)atoi(pszHang);
    g_run.pszTarget = argv[1];
    g_run.strFindings = strWork + "\\findings";
    CreateDirectoryA(strWork.c_str(), NULL);
    CreateDirectoryA(g_run.strFindings.c_str(), NULL);

    std::vector<Bytes> seeds;
    std::vector<std::string> seedNames;
    if (!LoadSeeds(strCorpus, seeds, seedNames)) {
        fprintf(stderr, "fuzz_runner: no seed files in %s\n", strCorpus.c_str());
        return kExitUsage;
    }

    // Room for the crash filter when the stack itself ran out.
    ULONG ulGuarantee = 64 * 1024;
    SetThreadStackGuarantee(&ulGuarantee);
    SetUnhandledExceptionFilter(CrashFilter);
    HANDLE hWatch = CreateThread(NULL, 0, Watchdog, NULL, 0, NULL);
    if (hWatch)
        CloseHandle(hWatch);

    Stats st;
    const double dStart = Seconds();
    // Log files of the pack reader are deleted now and then: a long run
    // writes about a kilobyte of log lines per case.
    const uint64_t kLogPurgeEvery = 5000;
    auto runAll = [&](auto&& runCase) {
        for (size_t i = 0; i < seeds.size(); ++i) {
            FuzzRng rng(0);
            Stats stSeed;
            runCase("seed " + seedNames[i], seeds[i], rng, false, stSeed);
            st.ullFindings += stSeed.ullFindings;
            st.ullOutside += stSeed.ullOutside;
        }
        for (uint64_t k = ullFirst; k < ullFirst + ullCases; ++k) {
            FuzzRng rng = CaseRng(ullSeed, k);
            const Bytes& seed = seeds[rng.Below((uint32_t)seeds.size())];
            try {
                runCase("case " + std::to_string(k), seed, rng, true, st);
            } catch (const std::exception& ex) {
                Finding(st, "exception", std::string("an exception left the code under test: ") + ex.what(), seed);
            }
            // Progress on stderr for long runs, one line per tenth.
            if (++st.ullCases % (ullCases >= 10 ? ullCases / 10 : 1) == 0) {
                fprintf(stderr, "progress %s: %llu/%llu cases, %.0f s\n", g_run.pszTarget,
                        (unsigned long long)st.ullCases, (unsigned long long)ullCases, Seconds() - dStart);
                fflush(stderr);
            }
        }
    };

    int nExit = kExitOk;
    if (strTarget == "pack") {
        PackSetup ps;
        if (!SetUpPack(strWork, ps)) {
            fprintf(stderr, "fuzz_runner: cannot prepare %s\\pack\n", strWork.c_str());
            return kExitUsage;
        }
        uint64_t ullSincePurge = 0;
        runAll([&](const std::string& strName, const Bytes& in, FuzzRng& rng, bool bMutate, Stats& s) {
            RunPackCase(ps, strName, in, rng, bMutate, seeds, s);
            if (++ullSincePurge >= kLogPurgeEvery) {
                utl_DeleteFiles(ps.strLogFolder.c_str(), "stp_UtlFile*.log");
                ullSincePurge = 0;
            }
        });
        utl_DeleteFiles(ps.strLogFolder.c_str(), "stp_UtlFile*.log");
        CheckPackTree(ps, strWork, st);
        utl_DeleteFolderTree(ps.strHostDir.c_str());
    } else if (strTarget == "xml") {
        const std::string strDir = strWork + "\\xml";
        CreateDirectoryA(strDir.c_str(), NULL);
        GuardedArea area(kMaxXmlInput + 4096);
        XmlSetup xs = {strDir + "\\KavlaCustom.xml", strDir + "\\KavlaUninstallInfo.xml", &area};
        if (!area.Ok())
            return kExitUsage;
        runAll([&](const std::string& strName, const Bytes& in, FuzzRng& rng, bool bMutate, Stats& s) {
            RunXmlCase(xs, strName, in, rng, bMutate, seeds, s);
        });
        utl_DeleteFolderTree(strDir.c_str());
    } else {
        GuardedArea text(8192), out(4096), plain(4096);
        CipherModel model;
        CipherSetup cs = {&text, &out, &plain, &model};
        if (!text.Ok() || !out.Ok() || !plain.Ok())
            return kExitUsage;
        runAll([&](const std::string& strName, const Bytes& in, FuzzRng& rng, bool bMutate, Stats& s) {
            RunCipherCase(cs, strName, in, rng, bMutate, seeds, s);
        });
    }
    PrintSummary(g_run.pszTarget, st.ullCases, seeds.size(), st, Seconds() - dStart);
    if (st.ullFindings)
        nExit = kExitFindings;
    return nExit;
}
