// Test helper: writes a chosen output to standard output for GetCmd tests.
//   printer text <s>     the text
//   printer nothing      no output at all
//   printer zero         "abc", a zero byte, "def"
//   printer big <n>      n bytes 'x' in one write, then "END"
//   printer stderr <s>   the text on standard error
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <string>

static void Put(DWORD dwStd, const char* pb, DWORD cb)
{
    DWORD dw = 0;
    WriteFile(GetStdHandle(dwStd), pb, cb, &dw, NULL);
}

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "text" && argc > 2)
        Put(STD_OUTPUT_HANDLE, argv[2], (DWORD)strlen(argv[2]));
    else if (mode == "zero")
        Put(STD_OUTPUT_HANDLE, "abc\0def", 7);
    else if (mode == "big" && argc > 2) {
        std::string s(strtoul(argv[2], NULL, 10), 'x');
        s += "END";
        Put(STD_OUTPUT_HANDLE, s.data(), (DWORD)s.size());
    } else if (mode == "stderr" && argc > 2)
        Put(STD_ERROR_HANDLE, argv[2], (DWORD)strlen(argv[2]));
    return 0;
}
