// Test helper: a process that stays for the given milliseconds (default 60 s),
// so that tests can look for it by executable name.
#include <windows.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    Sleep(argc > 1 ? (DWORD)strtoul(argv[1], NULL, 10) : 60000);
    return 0;
}
