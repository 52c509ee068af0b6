// Test helper: writes numbered lines through a log writer, for tests of
// concurrent writers.   log_writer setup|utl <count> <tag>
#include "log.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    bool bSetup = strcmp(argv[1], "setup") == 0;
    int n = atoi(argv[2]);
    for (int i = 0; i < n; ++i) {
        char sz[128];
        snprintf(sz, sizeof(sz), "%s line %d", argv[3], i);
        if (bSetup)
            SetupLog(sz);
        else
            utl_Log("conc", sz, 0);
    }
    return 0;
}
