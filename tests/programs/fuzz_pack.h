// Payload Pack target of fuzz_runner: structure-aware mutation of
// containers, a model of what utl_FileUnpack must do with a host file, and
// one case: write the host, unpack, compare with the model, check that the
// destination holds exactly the records' files and that nothing changed
// above or beside it.
#pragma once
#include "file.h"
#include "fuzz_common.h"
#include "pack.h"

namespace fuzz {

const char* const kHostName = "host.bin";
const size_t kMaxPackInput = 1 << 16;

// Names a record may carry that must never reach outside the destination,
// name no device, or otherwise test the name rules.
const char* const kPackNames[] = {
    "..\\escape.txt", "../escape.txt", "..", ".", "...", "C:escape.txt", "C:\\escape.txt", "\\escape.txt",
    "/escape.txt", "\\\\?\\C:\\escape.txt", "\\\\.\\NUL", "..\\..\\..\\host.bin", "..\\lvl2", "lvl1\\x",
    "CON", "con.txt", "NUL", "nul.tar.gz", "AUX.log", "PRN", "COM1", "LPT9.txt", "CONIN$", "CONOUT$",
    "COM0", "CLOCK$", "a:b", "a::$DATA", "x.", "x ", " ", "x\r\nfake line", "a*", "a?", "a<b", "a|b",
    "a\"b", "host.bin", "dst", "lvl2", "^Kavla_end^", "^kavla_end^", "^Kavla_end^ ", "^Kavla_end",
    "KavlaComponent.exe", "KavlaSetup.exe", "readme.txt", "README.TXT", "\xC4\xE3\xBA\xC3.txt",
    "\x81\x5C", "\x81\x5C.txt", "a\x7F", "\xE4\xB8\xAD\xE6\x96\x87.txt", "%s%s%n", "%TEMP%", "desktop.ini",
    "a..b", " lead", "x.txt:stream", "\xA0", "\xFF"};

// One record, name and content mixed as the writer stores them.
inline Bytes MakeRecord(const std::string& strName, const Bytes& content)
{
    Bytes rec(8 + strName.size() + content.size());
    fuzzmut::Put32(rec, 0, (uint32_t)strName.size());
    fuzzmut::Put32(rec, 4, (uint32_t)content.size());
    if (!strName.empty())
        memcpy(rec.data() + 8, strName.data(), strName.size());
    if (!content.empty())
        memcpy(rec.data() + 8 + strName.size(), content.data(), content.size());
    MixBuffer(rec.data() + 8, (DWORD)(rec.size() - 8));
    return rec;
}

// Where the length fields of a (possibly damaged) container are: every
// record boundary the walk reaches, and the field offsets.
struct PackFields {
    std::vector<size_t> boundaries;     // offsets of record starts, and the end
    std::vector<size_t> nameLenAt, dataLenAt;
};

inline PackFields FindFields(const Bytes& c)
{
    PackFields f;
    size_t nPos = PACK_MAGIC_LEN;
    while (nPos <= c.size()) {
        f.boundaries.push_back(nPos);
        if (nPos + 8 > c.size())
            break;
        f.nameLenAt.push_back(nPos);
        f.dataLenAt.push_back(nPos + 4);
        const uint64_t ullNext = nPos + 8ull + fuzzmut::Get32(c, nPos) + fuzzmut::Get32(c, nPos + 4);
        if (ullNext > c.size() || ullNext == nPos)
            break;
        nPos = (size_t)ullNext;
    }
    return f;
}

inline std::string RandomPackName(FuzzRng& rng)
{
    if (rng.OneIn(3)) {
        std::string s(rng.Range(1, 70), 'a');
        for (char& ch : s)
            ch = rng.OneIn(6) ? (char)rng.Range(1, 255) : (char)('a' + rng.Below(26));
        return s;
    }
    return kPackNames[rng.Below(sizeof(kPackNames) / sizeof(kPackNames[0]))];
}

// Mutations that know the record layout: lengths set to interesting or
// exactly fitting values, records and end markers added at boundaries,
// records removed, trailing bytes, cuts at and around boundaries.
inline void MutatePack(Bytes& c, FuzzRng& rng)
{
    PackFields f = FindFields(c);
    switch (rng.Below(7)) {
    case 0:
        if (!f.nameLenAt.empty()) {
            const size_t i = rng.Below((uint32_t)f.nameLenAt.size());
            const uint32_t aNear[] = {0, 1, 10, 11, 12, 28, 29, 30, 63, 64, 65};
            fuzzmut::Put32(c, f.nameLenAt[i], rng.OneIn(2) ? aNear[rng.Below(11)] : fuzzmut::Interesting32(rng));
        }
        break;
    case 1:
        if (!f.dataLenAt.empty()) {
            const size_t i = rng.Below((uint32_t)f.dataLenAt.size());
            const size_t nAt = f.dataLenAt[i];
            const uint64_t ullFit = c.size() - (nAt + 4) - fuzzmut::Get32(c, nAt - 4);
            uint32_t u = fuzzmut::Interesting32(rng);
            if (rng.OneIn(2) && ullFit < 0xFFFFFFFFull)
                u = (uint32_t)ullFit + (uint32_t)rng.Range(0, 2) - 1;  // exact fit, one less, one more
            fuzzmut::Put32(c, nAt, u);
        }
        break;
    case 2: {
        Bytes content(rng.OneIn(4) ? rng.Range(0, 5000) : rng.Range(0, 40));
        for (BYTE& b : content)
            b = rng.Byte();
        Bytes rec = MakeRecord(RandomPackName(rng), content);
        const size_t nAt = f.boundaries.empty() ? c.size() : f.boundaries[rng.Below((uint32_t)f.boundaries.size())];
        fuzzmut::InsertBytes(c, nAt, rec.data(), rec.size());
        break;
    }
    case 3: {
        // An end marker, sometimes declaring content that is not there.
        Bytes rec = MakeRecord(PACK_END_NAME, Bytes(rng.OneIn(2) ? 0 : rng.Range(1, 8)));
        if (rng.OneIn(3))
            fuzzmut::Put32(rec, 4, fuzzmut::Interesting32(rng));
        const size_t nAt = f.boundaries.empty() ? c.size() : f.boundaries[rng.Below((uint32_t)f.boundaries.size())];
        fuzzmut::InsertBytes(c, nAt, rec.data(), rec.size());
        break;
    }
    case 4:
        if (f.boundaries.size() >= 2) {
            const size_t i = rng.Below((uint32_t)f.boundaries.size() - 1);
            c.erase(c.begin() + (ptrdiff_t)f.boundaries[i], c.begin() + (ptrdiff_t)f.boundaries[i + 1]);
        }
        break;
    case 5: {
        Bytes tail(rng.Range(1, 9));
        for (BYTE& b : tail)
            b = rng.OneIn(2) ? 0 : rng.Byte();
        c.insert(c.end(), tail.begin(), tail.end());
        break;
    }
    default:
        if (!f.boundaries.empty()) {
            // A cut at a boundary or inside one of the two length fields.
            size_t nAt = f.boundaries[rng.Below((uint32_t)f.boundaries.size())] + rng.Below(9);
            if (nAt < c.size())
                c.resize(nAt);
        }
        break;
    }
}

// What utl_FileUnpack must do with a host file, worked out from the
// container format alone.
struct PackExpect {
    int nResult = 1;
    DWORD dwErr = 0;
    std::map<std::wstring, Bytes> files;      // file-system name, upper-cased: final content
    std::vector<std::string> createdNames;    // every record name turned into a file, in order
    // A name the ANSI code page cannot represent exactly (a lone lead byte
    // of a double-byte code page, an unassigned byte): the file system then
    // gets another name or none, so only the safety checks apply.
    bool bLossy = false;
};

// The name as the file system sees it: the ANSI bytes in UTF-16, compared
// without regard to case. false when the conversion is not exact.
inline bool FileSystemName(const std::string& strName, std::wstring& strKey)
{
    strKey.clear();
    WCHAR awName[PACK_MAX_NAME + 1];
    const int nWide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, strName.data(), (int)strName.size(),
                                          awName, PACK_MAX_NAME);
    if (nWide <= 0)
        return false;
    char acBack[PACK_MAX_NAME * 2 + 2];
    BOOL bDefault = FALSE;
    const int nBack = WideCharToMultiByte(CP_ACP, 0, awName, nWide, acBack, sizeof(acBack), NULL, &bDefault);
    if (bDefault || nBack != (int)strName.size() || memcmp(acBack, strName.data(), strName.size()) != 0)
        return false;
    CharUpperBuffW(awName, (DWORD)nWide);
    strKey.assign(awName, (size_t)nWide);
    return true;
}

inline std::string Utf8Of(const std::wstring& w)
{
    char sz[4 * (MAX_PATH + 1)] = {0};
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, sz, sizeof(sz) - 1, NULL, NULL);
    return sz;
}

inline PackExpect ModelUnpack(const Bytes& host, DWORD dwOffset, size_t nDstLen)
{
    PackExpect e;
    auto fail = [&e](DWORD dwErr) {
        e.nResult = 0;
        e.dwErr = dwErr;
    };
    if (dwOffset >= host.size()) {
        fail(PACK_ERR_SIZE);
        return e;
    }
    const BYTE* pc = host.data() + dwOffset;
    const uint64_t ullLen = host.size() - dwOffset;
    if (ullLen < PACK_MAGIC_LEN) {
        fail(PACK_ERR_HEADER_READ);
        return e;
    }
    for (size_t i = 0; i < PACK_MAGIC_LEN; ++i) {
        if ((BYTE)(0u - pc[i]) != (BYTE)PACK_MAGIC[i]) {
            fail(PACK_ERR_MAGIC);
            return e;
        }
    }
    uint64_t ullPos = PACK_MAGIC_LEN;
    while (ullPos < ullLen) {
        if (ullLen - ullPos < 4) {
            fail(PACK_ERR_NAME_LEN);
            return e;
        }
        uint32_t uName = 0, uData = 0;
        memcpy(&uName, pc + ullPos, 4);
        if (uName > PACK_MAX_NAME || nDstLen + 1 + uName >= UTL_MAX_PATH) {
            fail(PACK_ERR_NAME_LEN);
            return e;
        }
        if (ullLen - ullPos < 8) {
            fail(PACK_ERR_DATA_LEN);
            return e;
        }
        memcpy(&uData, pc + ullPos + 4, 4);
        const uint64_t ullNext = ullPos + 8 + uName + uData;
        if (ullNext > ullLen) {
            fail(PACK_ERR_PAST_END);
            return e;
        }
        std::string strName(uName, '\0');
        for (uint32_t i = 0; i < uName; ++i)
            strName[i] = (char)(BYTE)(0u - pc[ullPos + 8 + i]);
        if (strName == PACK_END_NAME)
            return e;
        // Names that are no plain file name would reach outside the folder
        // or something that is no file: refused as an output file that
        // cannot be created.
        if (strName.find('\0') != std::string::npos || !utl_IsPlainFileName(strName.c_str())) {
            fail(PACK_ERR_OUTPUT);
            return e;
        }
        Bytes content(pc + ullPos + 8 + uName, pc + ullNext);
        MixBuffer(content.data(), (DWORD)content.size());
        e.createdNames.push_back(strName);
        std::wstring strKey;
        if (FileSystemName(strName, strKey))
            e.files[strKey] = content;
        else
            e.bLossy = true;
        ullPos = ullNext;
    }
    return e;
}

inline bool IsReaderError(DWORD dwErr)
{
    return dwErr >= PACK_ERR_NULL_ARG && dwErr <= PACK_ERR_CONTENT_READ && dwErr != PACK_ERR_NO_CONTAINER &&
           dwErr != PACK_ERR_DELETE;
}

struct PackSetup {
    std::string strHostDir, strDst, strDstLong;
    std::vector<std::string> watched;                      // folders above and beside the destination
    std::map<std::string, std::vector<std::string>> snap;  // their listings at the start
    std::string strLogFolder;
    std::string strTreeRoot;                               // the work folder's parent
    std::vector<std::string> tree;                         // its whole tree at the start
};

// Every entry below strRoot as a relative path ("/" after folders), sorted;
// the folders in skip (full paths) are left out with their contents.
inline void ListTree(const std::string& strRoot, const std::string& strRel, const std::vector<std::string>& skip,
                     std::vector<std::string>& out)
{
    const std::string strFolder = strRel.empty() ? strRoot : JoinPath(strRoot, strRel);
    for (const std::string& strEntry : ListNames(strFolder)) {
        const bool bFolder = strEntry.back() == '/';
        const std::string strName = bFolder ? strEntry.substr(0, strEntry.size() - 1) : strEntry;
        const std::string strChild = strRel.empty() ? strName : strRel + "\\" + strName;
        const std::string strFull = JoinPath(strRoot, strChild);
        if (std::find(skip.begin(), skip.end(), strFull) != skip.end())
            continue;
        out.push_back(bFolder ? strChild + "/" : strChild);
        if (bFolder)
            ListTree(strRoot, strChild, skip, out);
    }
}

inline std::vector<std::string> TreeSnapshot(const PackSetup& ps, const std::string& strWork)
{
    std::vector<std::string> out;
    // Wine links the user's shell folders under C:\users to the Unix home
    // folder, which is no part of the Windows drive and changes by itself.
    const std::vector<std::string> skip = {ps.strLogFolder, JoinPath(strWork, "findings"),
                                           JoinPath(ps.strTreeRoot, "users")};
    if (!ps.strTreeRoot.empty())
        ListTree(ps.strTreeRoot, "", skip, out);
    std::sort(out.begin(), out.end());
    return out;
}

// At the end of a run: the whole tree around the work folder is as it was.
inline void CheckPackTree(const PackSetup& ps, const std::string& strWork, Stats& st)
{
    const std::vector<std::string> now = TreeSnapshot(ps, strWork);
    std::string strDiff;
    int nDiff = 0;
    for (const std::string& s : now)
        if (!std::binary_search(ps.tree.begin(), ps.tree.end(), s) && ++nDiff <= 10)
            strDiff += " +" + s;
    for (const std::string& s : ps.tree)
        if (!std::binary_search(now.begin(), now.end(), s) && ++nDiff <= 10)
            strDiff += " -" + s;
    st.extra["tree_entries_checked"] = now.size();
    if (nDiff) {
        st.ullOutside += (uint64_t)nDiff;
        g_run.strCaseName = "end";
        Finding(st, "tree", "entries changed below " + ps.strTreeRoot + " during the run:" + strDiff, Bytes());
    }
}

inline std::string ParentOf(const std::string& strPath)
{
    const size_t n = strPath.find_last_of('\\');
    if (n == std::string::npos)
        return "";
    return n == 2 && strPath[1] == ':' ? strPath.substr(0, 3) : strPath.substr(0, n);
}

inline bool SetUpPack(const std::string& strWork, PackSetup& ps)
{
    ps.strHostDir = strWork + "\\pack";
    const std::string strLvl1 = ps.strHostDir + "\\lvl1", strLvl2 = strLvl1 + "\\lvl2";
    ps.strDst = strLvl2 + "\\dst";
    // A destination whose path leaves room for names of up to 28 bytes only,
    // so that the 260-character rule of the output path is reached.
    if (strLvl2.size() + 2 < 230)
        ps.strDstLong = strLvl2 + "\\" + std::string(230 - strLvl2.size() - 1, 'L');
    char szSys[MAX_PATH] = {0};
    GetSystemDirectoryA(szSys, sizeof(szSys));
    ps.strLogFolder = std::string(1, szSys[0] ? szSys[0] : 'C') + ":\\KavlaLog";
    // The log folder appears with the reader's first line; made here so that
    // the listings taken below already hold it.
    CreateDirectoryA(ps.strLogFolder.c_str(), NULL);
    utl_DeleteFolderTree(ps.strHostDir.c_str());
    if (!CreateDirectoryA(ps.strHostDir.c_str(), NULL) || !CreateDirectoryA(strLvl1.c_str(), NULL) ||
        !CreateDirectoryA(strLvl2.c_str(), NULL) || !CreateDirectoryA(ps.strDst.c_str(), NULL))
        return false;
    if (!ps.strDstLong.empty() && !CreateDirectoryA(ps.strDstLong.c_str(), NULL))
        return false;
    if (!WriteWhole(ps.strHostDir + "\\" + kHostName, "", 0))
        return false;
    const std::string strParent = ParentOf(strWork);
    if (!strParent.empty())
        ps.watched.push_back(strParent);
    ps.watched.push_back(strWork);
    ps.watched.push_back(ps.strHostDir);
    ps.watched.push_back(strLvl1);
    ps.watched.push_back(strLvl2);
    for (const std::string& strFolder : ps.watched)
        ps.snap[strFolder] = ListNames(strFolder);
    ps.strTreeRoot = strParent;
    ps.tree = TreeSnapshot(ps, strWork);
    return true;
}

inline void RunPackCase(PackSetup& ps, const std::string& strCaseName, Bytes container, FuzzRng& rng, bool bMutate,
                 const std::vector<Bytes>& seeds, Stats& st)
{
    if (bMutate) {
        const uint32_t nRounds = rng.OneIn(2) ? 1 : rng.Range(2, 5);
        for (uint32_t i = 0; i < nRounds; ++i) {
            if (rng.OneIn(2)) {
                MutatePack(container, rng);
            } else if (rng.OneIn(8) || container.size() <= PACK_MAGIC_LEN) {
                fuzzmut::MutateOnce(container, seeds, rng);
            } else {
                // Mostly behind the header: a broken header ends every case
                // at the same check.
                Bytes body(container.begin() + PACK_MAGIC_LEN, container.end());
                fuzzmut::MutateOnce(body, seeds, rng);
                container.resize(PACK_MAGIC_LEN);
                container.insert(container.end(), body.begin(), body.end());
            }
        }
        if (container.size() > kMaxPackInput)
            container.resize(kMaxPackInput);
    }
    // Behind a prefix of another file's bytes, read at the prefix's end.
    Bytes host;
    DWORD dwOffset = 0;
    if (bMutate && rng.OneIn(3)) {
        host.resize(rng.Range(1, 700));
        const bool bZero = rng.OneIn(2);
        for (BYTE& b : host)
            b = bZero ? 0 : rng.Byte();
        dwOffset = (DWORD)host.size();
    }
    host.insert(host.end(), container.begin(), container.end());
    if (bMutate && rng.OneIn(40))
        dwOffset = rng.OneIn(2) ? (DWORD)host.size() + rng.Below(3) : fuzzmut::Interesting32(rng);
    else if (bMutate && dwOffset && rng.OneIn(16))
        dwOffset = dwOffset + rng.Range(0, 6) - 3;
    const bool bLong = bMutate && !ps.strDstLong.empty() && rng.OneIn(8);
    const std::string& strDst = bLong ? ps.strDstLong : ps.strDst;

    SetCurrent(strCaseName, host, "offset=%lu dst=%s", (unsigned long)dwOffset, bLong ? "long" : "short");
    if (!WriteWhole(ps.strHostDir + "\\" + kHostName, host.data(), host.size())) {
        Finding(st, "setup", "the host file cannot be written", host);
        return;
    }
    const DWORD kUntouched = 0xDEADBEEF;
    DWORD dwErr = kUntouched;
    const double dT0 = Seconds();
    const int nResult = utl_FileUnpack(ps.strHostDir.c_str(), kHostName, strDst.c_str(), &dwErr, dwOffset);
    st.dTargetSeconds += Seconds() - dT0;
    const PackExpect e = ModelUnpack(host, dwOffset, strDst.size());

    char szGot[96], szWant[96];
    snprintf(szGot, sizeof(szGot), "result %d err %lu", nResult, (unsigned long)dwErr);
    snprintf(szWant, sizeof(szWant), "result %d err %lu", e.nResult, (unsigned long)(e.nResult ? kUntouched : e.dwErr));
    bool bCheckFiles = true;
    if (nResult != 0 && nResult != 1) {
        Finding(st, "result", std::string("result neither 0 nor 1: ") + szGot, host);
        bCheckFiles = false;
    } else if (nResult == 0 && !IsReaderError(dwErr)) {
        Finding(st, "errnum", std::string("undocumented error number: ") + szGot, host);
        bCheckFiles = false;
    } else if (nResult == 1 && dwErr != kUntouched) {
        Finding(st, "errnum", std::string("error number written on success: ") + szGot, host);
    } else if (nResult != e.nResult || (nResult == 0 && dwErr != e.dwErr)) {
        // The one outcome the format cannot predict: the file system refusing
        // a name the code page cannot represent.
        if (nResult == 0 && dwErr == PACK_ERR_OUTPUT && e.bLossy) {
            ++st.extra["lossy_name_refused"];
        } else {
            Finding(st, "mismatch", std::string("got ") + szGot + ", the format says " + szWant, host);
        }
        bCheckFiles = false;
    }
    st.hist[nResult == 1 ? "ok" : std::to_string(dwErr)]++;
    if (nResult == 1 && !e.createdNames.empty())
        ++st.extra["ok_with_files"];

    // The destination: only the files the records make, with their contents;
    // then emptied for the next case.
    if (e.bLossy)
        ++st.extra["lossy_name"];
    bCheckFiles = bCheckFiles && !e.bLossy;
    std::map<std::wstring, bool> seen;
    std::wstring strDstW;
    for (char ch : strDst)
        strDstW += (WCHAR)(BYTE)ch;   // the work folder's path is ASCII
    WIN32_FIND_DATAW fd;
    std::vector<std::wstring> entries;
    std::vector<bool> folders;
    HANDLE hFind = FindFirstFileW((strDstW + L"\\*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0) {
                entries.push_back(fd.cFileName);
                folders.push_back((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
            }
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::wstring strPath = strDstW + L"\\" + entries[i];
        if (folders[i]) {
            Finding(st, "folder", "a folder appeared in the destination: " + Utf8Of(entries[i]), host);
            RemoveDirectoryW(strPath.c_str());
            continue;
        }
        if (bCheckFiles) {
            std::wstring strKey = entries[i];
            CharUpperBuffW(&strKey[0], (DWORD)strKey.size());
            auto it = e.files.find(strKey);
            Bytes content;
            bool bRead = false;
            HANDLE h = CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
            if (h != INVALID_HANDLE_VALUE) {
                LARGE_INTEGER li;
                DWORD dwRead = 0;
                if (GetFileSizeEx(h, &li) && li.QuadPart <= (LONGLONG)kMaxPackInput) {
                    content.resize((size_t)li.QuadPart);
                    bRead = content.empty() ||
                            (ReadFile(h, content.data(), (DWORD)content.size(), &dwRead, NULL) && dwRead == content.size());
                }
                CloseHandle(h);
            }
            if (it == e.files.end())
                Finding(st, "extra", "a file no record makes: " + Utf8Of(entries[i]), host);
            else if (!bRead || content != it->second)
                Finding(st, "content", "content differs from the record's: " + Utf8Of(entries[i]), host);
            else
                seen[it->first] = true;
        }
        SetFileAttributesW(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(strPath.c_str()))
            Finding(st, "cleanup", "an extracted file cannot be deleted: " + Utf8Of(entries[i]), host);
    }
    if (bCheckFiles) {
        for (const auto& kv : e.files)
            if (!seen.count(kv.first))
                Finding(st, "missing", "a record's file is missing: " + Utf8Of(kv.first), host);
    }

    // Nothing may appear or vanish above or beside the destination.
    for (const std::string& strFolder : ps.watched) {
        const std::vector<std::string> now = ListNames(strFolder);
        const std::vector<std::string>& before = ps.snap.at(strFolder);
        if (now != before) {
            ++st.ullOutside;
            std::string strDiff;
            for (const std::string& s : now)
                if (std::find(before.begin(), before.end(), s) == before.end())
                    strDiff += " +" + s;
            for (const std::string& s : before)
                if (std::find(now.begin(), now.end(), s) == now.end())
                    strDiff += " -" + s;
            Finding(st, "outside", "entries changed in " + strFolder + ":" + strDiff, host);
            // Back to the state of the snapshot, so that the next cases are
            // judged on their own.
            for (const std::string& s : now) {
                if (std::find(before.begin(), before.end(), s) != before.end())
                    continue;
                const std::string strPath = strFolder + "\\" + (s.back() == '/' ? s.substr(0, s.size() - 1) : s);
                SetFileAttributesA(strPath.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (s.back() == '/')
                    utl_DeleteFolderTree(strPath.c_str());
                else
                    DeleteFileA(strPath.c_str());
            }
            ps.snap[strFolder] = ListNames(strFolder);
        }
    }
}

} // namespace fuzz
