// Test helper: prints the Common Files folder as the setup program finds it
// at its first call, so that a test can start it with an environment of its
// choosing (the answer is cached for the life of a process).
#include "reginfo.h"
#include <stdio.h>

int main()
{
    const char* psz = utl_GetCommonProgramFiles();
    printf("%s\n", psz ? psz : "(null)");
    return psz ? 0 : 1;
}
