// kavlapack's look into PE headers: whether a file is a program, and where
// its Authenticode certificate table lies.
#include "kavlapack.h"
#include "handle.h"
#include <windows.h>
#include <stddef.h>
#include <string.h>

namespace kavlapack {

// The Authenticode certificate table a signing tool appends to a program:
// its file offset and size from the PE headers, 0 and 0 when there is none.
void CertificateTable(const std::string& strPath, DWORD* pdwAt, DWORD* pdwSize)
{
    *pdwAt = *pdwSize = 0;
    std::vector<BYTE> head(4096);
    DWORD dwRead = 0;
    HANDLE h = utl_OpenShared(strPath.c_str(), GENERIC_READ, 0);
    if (h == INVALID_HANDLE_VALUE || !ReadFile(h, head.data(), (DWORD)head.size(), &dwRead, NULL))
        dwRead = 0;
    utl_CloseHandle(h);
    IMAGE_DOS_HEADER dos;
    DWORD dwSig = 0;
    WORD wMagic = 0;
    if (dwRead < sizeof(dos))
        return;
    memcpy(&dos, head.data(), sizeof(dos));
    size_t nOpt = (size_t)dos.e_lfanew + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 || nOpt + sizeof(IMAGE_OPTIONAL_HEADER64) > dwRead)
        return;
    memcpy(&dwSig, &head[dos.e_lfanew], sizeof(dwSig));
    memcpy(&wMagic, &head[nOpt], sizeof(wMagic));
    IMAGE_DATA_DIRECTORY dir = {0, 0};
    if (dwSig == IMAGE_NT_SIGNATURE && wMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        memcpy(&dir, &head[nOpt + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory)
                           + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(dir)], sizeof(dir));
    else if (dwSig == IMAGE_NT_SIGNATURE && wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        memcpy(&dir, &head[nOpt + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                           + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(dir)], sizeof(dir));
    *pdwAt = dir.VirtualAddress;
    *pdwSize = dir.Size;
}

bool StartsWithMz(const std::string& strPath)
{
    char ab[2] = {0, 0};
    DWORD dwRead = 0;
    HANDLE h = utl_OpenShared(strPath.c_str(), GENERIC_READ, 0);
    bool bMz = h != INVALID_HANDLE_VALUE && ReadFile(h, ab, 2, &dwRead, NULL) && dwRead == 2 && ab[0] == 'M'
               && ab[1] == 'Z';
    utl_CloseHandle(h);
    return bMz;
}

} // namespace kavlapack
