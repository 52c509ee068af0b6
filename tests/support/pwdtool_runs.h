// Runs of kavlapwd as administrators run it: a process whose standard input
// is a file or a pipe, never the command line.
#pragma once
#include "testutil.h"
#include <string>

namespace kt {

struct ToolRun {
    int nExit = -1;
    std::string strOut, strErr;  // line ends without "\r"
};

// Runs kavlapwd with the arguments; stdin from a file holding strInput, or
// from a pipe the test writes strInput into when bPipe is set.
ToolRun RunPwdTool(const std::string& strArgs, const std::string& strInput, bool bPipe = false);

} // namespace kt
