// Stand-in for the installed client's admission service (pymApxSvr.exe):
// records how it was started, stays a moment so that the setup program's
// wait sees it in the process list, and records its end. Default 800 ms.
#include "standin_record.h"

int main()
{
    StandinRecord("pymApxSvr", "start");
    Sleep(StandinDuration("pymApxSvr", 800));
    StandinRecord("pymApxSvr", "end");
    return 0;
}
