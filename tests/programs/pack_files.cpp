// Demo and test helper: writes a stand-alone Payload Pack (offset 0, no end
// marker: it ends with its file), as the inner component pack is made.
//   pack_files <container> <file>...
// Each file becomes one record named after its bare file name.
#include "pack.h"
#include <stdio.h>
#include <string.h>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: pack_files <container> <file>...\n");
        return 2;
    }
    std::string strOut = argv[1];
    size_t nSep = strOut.find_last_of('\\');
    std::string strOutDir = nSep == std::string::npos ? "." : strOut.substr(0, nSep);
    std::string strOutName = nSep == std::string::npos ? strOut : strOut.substr(nSep + 1);
    for (int i = 2; i < argc; ++i) {
        std::string strSrc = argv[i];
        size_t n = strSrc.find_last_of('\\');
        std::string strDir = n == std::string::npos ? "." : strSrc.substr(0, n);
        std::string strName = n == std::string::npos ? strSrc : strSrc.substr(n + 1);
        DWORD dwErr = 0;
        if (!utl_FilePack(strDir.c_str(), strName.c_str(), strOutDir.c_str(), strOutName.c_str(), &dwErr,
                          i == 2 ? 0 : 1)) {
            fprintf(stderr, "pack_files: %s: error %lu\n", strSrc.c_str(), (unsigned long)dwErr);
            return 1;
        }
    }
    return 0;
}
