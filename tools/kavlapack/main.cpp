// kavlapack's command line: usage, dispatch, messages, and the paths the
// arguments name.
//
// kavlapack builds a Setup.exe from the setup program and the payload files,
// and lists, extracts and checks the Payload Pack of any file. Runs on the
// administrators' Windows machines and, under Wine, on the build machines.
//
//   kavlapack build <setup.exe> <out.exe> <file-or-folder>... [--component FOLDER]
//                   [--no-end] [--strict] [--allow-incomplete]
//   kavlapack list <file> [--offset N]
//   kavlapack extract <file> <folder> [--offset N]
//   kavlapack verify <file> [--offset N] [--strict] [--allow-incomplete]
//
// list and extract print one "name<TAB>size" line per record and a summary
// line starting with "# "; verify prints the summary only. build and verify
// check the payload against what the install driver does with each file and
// print one "kavlapack: error: FILE: reason" or "kavlapack: warning: ..."
// line per finding on stderr, then "kavlapack: N errors, M warnings".
//
// Exit codes: see kUsage.
#include "kavlapack.h"
#include "file.h"
#include <stdio.h>
#include <string.h>

namespace kavlapack {

const char kUsage[] =
    "usage:\n"
    "  kavlapack build <setup.exe> <out.exe> <file-or-folder>... [--component FOLDER]\n"
    "                  [--no-end] [--strict] [--allow-incomplete]\n"
    "      pads the setup program with zero bytes to 3300000, appends the files\n"
    "      (a folder: its files, sorted by name), KavlaComponent.exe made from the\n"
    "      --component folder's files (sorted by name), and the end marker\n"
    "  kavlapack list <file> [--offset N]\n"
    "  kavlapack extract <file> <folder> [--offset N]\n"
    "  kavlapack verify <file> [--offset N] [--strict] [--allow-incomplete]\n"
    "  The offset defaults to 3300000 when the file holds a container there or is a\n"
    "  program (verify), else 0. A container at 3300000 is checked as a setup's payload.\n"
    "checks (build and verify; one line per finding on stderr, then a summary):\n"
    "  errors: pymApxSvr.exe (355) or KavlaSetup.exe (357) missing, a name that is\n"
    "    no plain file name (165) or longer than 64 bytes (161), two names of one\n"
    "    file on Windows (letter case, or the short name an earlier long name gets),\n"
    "    a KavlaComponent.exe that is no whole container (the reader's number), a\n"
    "    setup program larger than 3300000 bytes; build then writes nothing\n"
    "  warnings: Qt.7z without 7za.exe (112), Qt.7z or WebCmdCustomCfg.7z that the\n"
    "    payload's 7za.exe cannot list (it is run when it starts here), a\n"
    "    \"cfg.xml\" name the setup does not place, no end marker, bytes after the\n"
    "    end marker that are no signature\n"
    "  --strict            warnings count as errors\n"
    "  --allow-incomplete  for test payloads only: missing programs and a\n"
    "                      KavlaComponent.exe that is no container are warnings\n"
    "exit codes: 0 ok (warnings allowed without --strict); 1 refused or failed, or an\n"
    "  error found (build leaves no output); 2 usage; 150-166 the container error\n"
    "  number of the reader (list, extract, verify) or the writer (build)\n";

const char* ErrText(DWORD dwErr)
{
    switch (dwErr) {
    case PACK_ERR_NULL_ARG: return "a path or name argument is missing";
    case PACK_ERR_PATH_LEN: return "a path is 260 characters or longer";
    case PACK_ERR_NO_SOURCE: return "the file does not exist";
    case PACK_ERR_NO_CONTAINER: return "the container to append to does not exist";
    case PACK_ERR_DELETE: return "the existing container cannot be deleted";
    case PACK_ERR_SIZE: return "the size is unavailable, 4 GiB or more, or the offset is not inside the file";
    case PACK_ERR_OPEN: return "the file cannot be opened";
    case PACK_ERR_WRITE: return "writing failed";
    case PACK_ERR_NO_DEST: return "the destination folder does not exist";
    case PACK_ERR_HEADER_READ: return "the 17-byte header cannot be read in full";
    case PACK_ERR_MAGIC: return "no Payload Pack header at this offset";
    case PACK_ERR_NAME_LEN: return "a name length cannot be read in full, exceeds 64 or makes the path too long";
    case PACK_ERR_DATA_LEN: return "a data length cannot be read in full";
    case PACK_ERR_PAST_END: return "a record reaches past the end of the file";
    case PACK_ERR_NAME_READ: return "a name cannot be read in full";
    case PACK_ERR_OUTPUT: return "a record name is no plain file name, or its file cannot be created";
    case PACK_ERR_CONTENT_READ: return "content cannot be read in full";
    default: return "unknown error";
    }
}

void Fail(const char* pszCmd, const std::string& strMsg)
{
    fprintf(stderr, "kavlapack: %s: %s\n", pszCmd, strMsg.c_str());
}

int FailPack(const char* pszCmd, const std::string& strWhat, DWORD dwErr)
{
    fprintf(stderr, "kavlapack: %s: %s: error %lu: %s\n", pszCmd, strWhat.c_str(), (unsigned long)dwErr,
            ErrText(dwErr));
    return dwErr >= PACK_ERR_NULL_ARG && dwErr <= PACK_ERR_CONTENT_READ ? (int)dwErr : kExitFail;
}

// The full path in long names where the entry exists: the link checks of
// what is written compare it with the path a handle leads to.
std::string FullPath(const std::string& strPath)
{
    char sz[UTL_MAX_PATH + 1], szLong[UTL_MAX_PATH + 1];
    DWORD dw = GetFullPathNameA(strPath.c_str(), sizeof(sz), sz, NULL);
    if (dw == 0 || dw >= sizeof(sz))
        return std::string();
    DWORD dwLong = GetLongPathNameA(sz, szLong, sizeof(szLong));
    return std::string(dwLong && dwLong < sizeof(szLong) ? szLong : sz);
}

// "C:\a\b.txt" -> "C:\a" and "b.txt", the two halves the pack functions take.
bool SplitPath(const std::string& strFull, std::string& strFolder, std::string& strName)
{
    char szFolder[UTL_MAX_PATH];
    const char* pszName = NULL;
    if (!utl_SplitPath(strFull.c_str(), szFolder, sizeof(szFolder), &pszName) || !*pszName)
        return false;
    strFolder = szFolder;
    strName = pszName;
    return true;
}

bool IsFolderPath(const std::string& strPath)
{
    DWORD dw = GetFileAttributesA(strPath.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace kavlapack

using namespace kavlapack;

int main(int argc, char** argv)
{
    if (argc < 2) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    const char* pszCmd = argv[1];
    if (strcmp(pszCmd, "build") == 0)
        return Build(argc - 2, argv + 2);
    if (strcmp(pszCmd, "verify") == 0)
        return Verify(argc - 2, argv + 2);
    if (strcmp(pszCmd, "list") == 0 || strcmp(pszCmd, "extract") == 0)
        return ReadCommand(pszCmd, argc - 2, argv + 2);
    if (strcmp(pszCmd, "--help") == 0 || strcmp(pszCmd, "-h") == 0 || strcmp(pszCmd, "help") == 0) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    fprintf(stderr, "kavlapack: unknown command \"%s\"\n", pszCmd);
    fputs(kUsage, stderr);
    return kExitUsage;
}
