// kavlalog's texts, English and Chinese, and the meaning table of the install
// error numbers: what each means, at which step, and what an administrator can do.
#include "kavlalog.h"
#include "driver.h"
#include "log_lines.h"
#include "pack.h"

namespace kavlalog {

const TextPair kReaderStep = {"unpacking a Payload Pack (the payload or the inner component pack)",
    /* 解包安装数据包（安装数据或内部组件包） */ "\275\342\260\374\260\262\327\260\312\375\276\335\260\374\243\250\260\262\327\260\312\375\276\335\273\362\304\332\262\277\327\351\274\376\260\374\243\251"};

namespace {

// The tool's texts; the Chinese ones are code page 936 bytes, as the setup's.
const TextPair g_aTexts[T_COUNT] = {
    /* T_USAGE */ {"usage: kavlalog [FOLDER] [--date YYYYMMDD] [--all]\n"
                   "  Shows one day's log files of the setup (setup, every stp_<module> and the\n"
                   "  IsCurUserAdmin log) as one timeline, each line marked with its file, and\n"
                   "  ends with a verdict on the setup's last run.\n"
                   "  FOLDER    the log folder; default <system drive>:\\KavlaLog\n"
                   "  --date    the day to show; default the latest day present\n"
                   "  --all     every run of the day, each with its verdict\n"
                   "exit codes: 0 installed, 1 install failed, stopped before the install or not\n"
                   "  ended, 2 usage (also after --help), 3 no log files\n",
     /* 用法：kavlalog [文件夹] [--date YYYYMMDD] [--all]\n */ "\323\303\267\250\243\272kavlalog [\316\304\274\376\274\320] [--date YYYYMMDD] [--all]\n"
        /*   把安装程序某一天的日志文件（setup、每个 stp_<模块> 和 IsCurUserAdmin 日志）\n */ "  \260\321\260\262\327\260\263\314\320\362\304\263\322\273\314\354\265\304\310\325\326\276\316\304\274\376\243\250setup\241\242\303\277\270\366 stp_<\304\243\277\351> \272\315 IsCurUserAdmin \310\325\326\276\243\251\n"
        /*   合并成一条时间线，每行标出所属文件，最后给出对安装程序最后一次运行的结论。\n */ "  \272\317\262\242\263\311\322\273\314\365\312\261\274\344\317\337\243\254\303\277\320\320\261\352\263\366\313\371\312\364\316\304\274\376\243\254\327\356\272\363\270\370\263\366\266\324\260\262\327\260\263\314\320\362\327\356\272\363\322\273\264\316\324\313\320\320\265\304\275\341\302\333\241\243\n"
        /*   文件夹    日志文件夹，默认为 <系统盘>:\\KavlaLog\n */ "  \316\304\274\376\274\320    \310\325\326\276\316\304\274\376\274\320\243\254\304\254\310\317\316\252 <\317\265\315\263\305\314>:\\KavlaLog\n"
        /*   --date    要查看的日期，默认为现有的最近一天\n */ "  --date    \322\252\262\351\277\264\265\304\310\325\306\332\243\254\304\254\310\317\316\252\317\326\323\320\265\304\327\356\275\374\322\273\314\354\n"
        /*   --all     显示当天的每一次运行及其结论\n */ "  --all     \317\324\312\276\265\261\314\354\265\304\303\277\322\273\264\316\324\313\320\320\274\260\306\344\275\341\302\333\n"
        /* 退出码：0 已安装，1 安装失败、在安装前停止或未结束，\n */ "\315\313\263\366\302\353\243\2720 \322\321\260\262\327\260\243\2541 \260\262\327\260\312\247\260\334\241\242\324\332\260\262\327\260\307\260\315\243\326\271\273\362\316\264\275\341\312\370\243\254\n"
        /*   2 用法错误（--help 之后也是），3 没有日志文件\n */ "  2 \323\303\267\250\264\355\316\363\243\250--help \326\256\272\363\322\262\312\307\243\251\243\2543 \303\273\323\320\310\325\326\276\316\304\274\376\n"},
    /* T_UNKNOWN_ARG */ {"kavlalog: unexpected argument %s (kavlalog --help shows the usage)\n",
     /* kavlalog：多余的参数 %s（kavlalog --help 显示用法）\n */ "kavlalog\243\272\266\340\323\340\265\304\262\316\312\375 %s\243\250kavlalog --help \317\324\312\276\323\303\267\250\243\251\n"},
    /* T_BAD_DATE */ {"kavlalog: --date needs a day written YYYYMMDD\n",
     /* kavlalog：--date 需要 YYYYMMDD 格式的日期\n */ "kavlalog\243\272--date \320\350\322\252 YYYYMMDD \270\361\312\275\265\304\310\325\306\332\n"},
    /* T_NO_FILES */ {"kavlalog: no log files of the setup in %s\n",
     /* kavlalog：%s 中没有安装程序的日志文件\n */ "kavlalog\243\272%s \326\320\303\273\323\320\260\262\327\260\263\314\320\362\265\304\310\325\326\276\316\304\274\376\n"},
    /* T_NO_FILES_DAY */ {"kavlalog: no log files of the setup of %s in %s\n",
     /* kavlalog：%s 这一天在 %s 中没有安装程序的日志文件\n */ "kavlalog\243\272%s \325\342\322\273\314\354\324\332 %s \326\320\303\273\323\320\260\262\327\260\263\314\320\362\265\304\310\325\326\276\316\304\274\376\n"},
    /* T_CANNOT_READ */ {"kavlalog: %s cannot be read (error %lu); its lines are missing below\n",
     /* kavlalog：无法读取 %s（错误 %lu），下面缺少它的行\n */ "kavlalog\243\272\316\336\267\250\266\301\310\241 %s\243\250\264\355\316\363 %lu\243\251\243\254\317\302\303\346\310\261\311\331\313\374\265\304\320\320\n"},
    /* T_HEADER */ {"Setup log in %s, day %s\n",
     /* %s 中的安装日志，日期 %s\n */ "%s \326\320\265\304\260\262\327\260\310\325\326\276\243\254\310\325\306\332 %s\n"},
    /* T_FILE */ {"  %-*s %6u lines\n",
     /*   %-*s %6u 行\n */ "  %-*s %6u \320\320\n"},
    /* T_RUNS_LAST */ {"The files hold the lines of %u runs; shown: the last one (--all shows every run).\n",
     /* 这些文件中混有 %u 次运行的行；只显示最后一次（--all 显示每一次）。\n */ "\325\342\320\251\316\304\274\376\326\320\273\354\323\320 %u \264\316\324\313\320\320\265\304\320\320\243\273\326\273\317\324\312\276\327\356\272\363\322\273\264\316\243\250--all \317\324\312\276\303\277\322\273\264\316\243\251\241\243\n"},
    /* T_RUNS_ALL */ {"The files hold the lines of %u runs.\n",
     /* 这些文件中混有 %u 次运行的行。\n */ "\325\342\320\251\316\304\274\376\326\320\273\354\323\320 %u \264\316\324\313\320\320\265\304\320\320\241\243\n"},
    /* T_RUN */ {"--- Run %u of %u, from %s ---\n",
     /* --- 第 %u 次运行（共 %u 次），开始于 %s ---\n */ "--- \265\332 %u \264\316\324\313\320\320\243\250\271\262 %u \264\316\243\251\243\254\277\252\312\274\323\332 %s ---\n"},
    /* T_RUN_EARLIER */ {"--- Run %u of %u, begun before the first line of these files ---\n",
     /* --- 第 %u 次运行（共 %u 次），开始于这些文件的第一行之前 ---\n */ "--- \265\332 %u \264\316\324\313\320\320\243\250\271\262 %u \264\316\243\251\243\254\277\252\312\274\323\332\325\342\320\251\316\304\274\376\265\304\265\332\322\273\320\320\326\256\307\260 ---\n"},
    /* T_ORPHANS */ {"Note: %u lines have no time stamp of their own (damaged or foreign lines); each stands"
                     " before the next stamped line of its file, or at the start.\n",
     /* 注意：有 %u 行没有自己的时间戳（损坏或外来的行）；每行显示在其文件中下一个带时间戳的行之前，或显示在开头。\n */ "\327\242\322\342\243\272\323\320 %u \320\320\303\273\323\320\327\324\274\272\265\304\312\261\274\344\264\301\243\250\313\360\273\265\273\362\315\342\300\264\265\304\320\320\243\251\243\273\303\277\320\320\317\324\312\276\324\332\306\344\316\304\274\376\326\320\317\302\322\273\270\366\264\370\312\261\274\344\264\301\265\304\320\320\326\256\307\260\243\254\273\362\317\324\312\276\324\332\277\252\315\267\241\243\n"},
    /* T_NO_STAMP */ {"[no time stamp]",
     /* [无时间戳] */ "[\316\336\312\261\274\344\264\301]"},
    /* T_INSTALLED */ {"Verdict: installed: the installer KavlaSetup.exe started and ended, and Setup.exe ended"
                       " (\"Exit main\").\n",
     /* 结论：已安装：KavlaSetup.exe 已启动并结束，Setup.exe 正常结束（\"Exit main\"）。\n */ "\275\341\302\333\243\272\322\321\260\262\327\260\243\272KavlaSetup.exe \322\321\306\364\266\257\262\242\275\341\312\370\243\254Setup.exe \325\375\263\243\275\341\312\370\243\250\"Exit main\"\243\251\241\243\n"},
    /* T_FAILED */ {"Verdict: install failed with Err %lu.\n",
     /* 结论：安装失败，错误号 %lu。\n */ "\275\341\302\333\243\272\260\262\327\260\312\247\260\334\243\254\264\355\316\363\272\305 %lu\241\243\n"},
    /* T_MEANING */ {"  Meaning: %s\n",
     /*   含义：%s\n */ "  \272\254\322\345\243\272%s\n"},
    /* T_STEP */ {"  Step: %s\n",
     /*   步骤：%s\n */ "  \262\275\326\350\243\272%s\n"},
    /* T_ACTION */ {"  What an administrator can do: %s\n",
     /*   管理员可以：%s\n */ "  \271\334\300\355\324\261\277\311\322\324\243\272%s\n"},
    /* T_PASSWORD */ {"Verdict: stopped before the install: the uninstall password was asked for and not given"
                      " (Cancel, the dialog closed, or three wrong passwords).\n",
     /* 结论：在安装前停止：要求输入卸载密码但未通过（取消、关闭对话框或三次密码错误）。\n */ "\275\341\302\333\243\272\324\332\260\262\327\260\307\260\315\243\326\271\243\272\322\252\307\363\312\344\310\353\320\266\324\330\303\334\302\353\265\253\316\264\315\250\271\375\243\250\310\241\317\373\241\242\271\330\261\325\266\324\273\260\277\362\273\362\310\375\264\316\303\334\302\353\264\355\316\363\243\251\241\243\n"},
    /* T_PASSWORD_ACTION */ {"start Setup.exe again and type the client's uninstall password (set in"
                             " KavlaCustom.xml, KavlaUninstallInfo.xml or the registry).",
     /* 重新运行 Setup.exe 并输入客户端的卸载密码（在 KavlaCustom.xml、KavlaUninstallInfo.xml 或注册表中设置）。 */ "\326\330\320\302\324\313\320\320 Setup.exe \262\242\312\344\310\353\277\315\273\247\266\313\265\304\320\266\324\330\303\334\302\353\243\250\324\332 KavlaCustom.xml\241\242KavlaUninstallInfo.xml \273\362\327\242\262\341\261\355\326\320\311\350\326\303\243\251\241\243"},
    /* T_NOT_ADMIN */ {"Verdict: stopped before the install: refused, the administrator check failed (see the"
                       " IsCurUserAdmin line).\n",
     /* 结论：在安装前停止：被拒绝，管理员权限检查未通过（见 IsCurUserAdmin 行）。\n */ "\275\341\302\333\243\272\324\332\260\262\327\260\307\260\315\243\326\271\243\272\261\273\276\334\276\370\243\254\271\334\300\355\324\261\310\250\317\336\274\354\262\351\316\264\315\250\271\375\243\250\274\373 IsCurUserAdmin \320\320\243\251\241\243\n"},
    /* T_NOT_ADMIN_ACTION */ {"start Setup.exe as an administrator (\"Run as administrator\").",
     /* 以管理员身份运行 Setup.exe。 */ "\322\324\271\334\300\355\324\261\311\355\267\335\324\313\320\320 Setup.exe\241\243"},
    /* T_NO_SPACE */ {"Verdict: stopped before the install: refused, only %ld MB free on the system drive (%ld MB"
                      " needed).\n",
     /* 结论：在安装前停止：被拒绝，系统盘只有 %ld MB 可用空间（需要 %ld MB）。\n */ "\275\341\302\333\243\272\324\332\260\262\327\260\307\260\315\243\326\271\243\272\261\273\276\334\276\370\243\254\317\265\315\263\305\314\326\273\323\320 %ld MB \277\311\323\303\277\325\274\344\243\250\320\350\322\252 %ld MB\243\251\241\243\n"},
    /* T_NO_SPACE_ACTION */ {"free at least %ld MB on the system drive and start Setup.exe again.",
     /* 在系统盘上腾出至少 %ld MB 空间，然后重新运行 Setup.exe。 */ "\324\332\317\265\315\263\305\314\311\317\314\332\263\366\326\301\311\331 %ld MB \277\325\274\344\243\254\310\273\272\363\326\330\320\302\324\313\320\320 Setup.exe\241\243"},
    /* T_UPDATING */ {"Verdict: stopped before the install: refused, a customisation update of the client"
                      " (RenewCusState.exe) was running.\n",
     /* 结论：在安装前停止：被拒绝，客户端正在升级定制信息（RenewCusState.exe 正在运行）。\n */ "\275\341\302\333\243\272\324\332\260\262\327\260\307\260\315\243\326\271\243\272\261\273\276\334\276\370\243\254\277\315\273\247\266\313\325\375\324\332\311\375\274\266\266\250\326\306\320\305\317\242\243\250RenewCusState.exe \325\375\324\332\324\313\320\320\243\251\241\243\n"},
    /* T_UPDATING_ACTION */ {"wait until RenewCusState.exe has ended, then start Setup.exe again.",
     /* 等待 RenewCusState.exe 结束后重新运行 Setup.exe。 */ "\265\310\264\375 RenewCusState.exe \275\341\312\370\272\363\326\330\320\302\324\313\320\320 Setup.exe\241\243"},
    /* T_UNFINISHED */ {"Verdict: the run has no end in the log (no \"Exit main\"): Setup.exe is still running, or"
                        " it was ended abnormally.\n",
     /* 结论：日志中这次运行没有结束（没有 \"Exit main\"）：Setup.exe 仍在运行，或被异常终止。\n */ "\275\341\302\333\243\272\310\325\326\276\326\320\325\342\264\316\324\313\320\320\303\273\323\320\275\341\312\370\243\250\303\273\323\320 \"Exit main\"\243\251\243\272Setup.exe \310\324\324\332\324\313\320\320\243\254\273\362\261\273\322\354\263\243\326\325\326\271\241\243\n"},
    /* T_UNCLEAR */ {"Verdict: these lines do not show how the run ended.\n",
     /* 结论：这些行无法说明这次运行如何结束。\n */ "\275\341\302\333\243\272\325\342\320\251\320\320\316\336\267\250\313\265\303\367\325\342\264\316\324\313\320\320\310\347\272\316\275\341\312\370\241\243\n"},
    /* T_NOTE_7ZIP */ {"Note: 7-Zip did not report \"Everything is Ok\" for %s; the install went on without it.\n",
     /* 注意：7-Zip 没有对 %s 报告 \"Everything is Ok\"；安装在没有它的情况下继续。\n */ "\327\242\322\342\243\2727-Zip \303\273\323\320\266\324 %s \261\250\270\346 \"Everything is Ok\"\243\273\260\262\327\260\324\332\303\273\323\320\313\374\265\304\307\351\277\366\317\302\274\314\320\370\241\243\n"},
    /* T_NOTE_NOT_SEEN */ {"Note: the installer KavlaSetup.exe was not seen running within %d seconds (\""
                           LOGLINE_INSTALLER_STARTED "%d\"); check whether it installed anything.\n",
     /* 注意：%d 秒内未见 KavlaSetup.exe 运行（\"is-stp started at %d\"）；请检查它是否安装了内容。\n */ "\327\242\322\342\243\272%d \303\353\304\332\316\264\274\373 KavlaSetup.exe \324\313\320\320\243\250\"" LOGLINE_INSTALLER_STARTED "%d\"\243\251\243\273\307\353\274\354\262\351\313\374\312\307\267\361\260\262\327\260\301\313\304\332\310\335\241\243\n"},
    /* T_STEP_PAYLOAD */ {"unpacking the payload of %s",
     /* 解包 %s 中的安装数据 */ "\275\342\260\374 %s \326\320\265\304\260\262\327\260\312\375\276\335"},
    /* T_STEP_COMPONENT */ {"unpacking the inner component pack KavlaComponent.exe into the folder component",
     /* 把内部组件包 KavlaComponent.exe 解包到 component 文件夹 */ "\260\321\304\332\262\277\327\351\274\376\260\374 KavlaComponent.exe \275\342\260\374\265\275 component \316\304\274\376\274\320"},
    /* T_STEP_MSI */ {"getting the MSI package for the MSI-based upgrade (see the MSI lines above)",
     /* 获取基于 MSI 的升级所需的 MSI 安装包（见上面的 MSI 行） */ "\273\361\310\241\273\371\323\332 MSI \265\304\311\375\274\266\313\371\320\350\265\304 MSI \260\262\327\260\260\374\243\250\274\373\311\317\303\346\265\304 MSI \320\320\243\251"},
    /* T_UNKNOWN_ERR */ {"a number the setup program does not set",
     /* 安装程序不会设置的错误号 */ "\260\262\327\260\263\314\320\362\262\273\273\341\311\350\326\303\265\304\264\355\316\363\272\305"},
    /* T_UNKNOWN_STEP */ {"unknown",
     /* 未知 */ "\316\264\326\252"},
    /* T_REPORT_IT */ {"keep the log folder and report it.",
     /* 保留日志文件夹并上报。 */ "\261\243\301\364\310\325\326\276\316\304\274\376\274\320\262\242\311\317\261\250\241\243"},
};

// The remedy of every number that means a damaged or cut carrier.
const TextPair kDownloadAgain = {"download Setup.exe again (the file is damaged or cut short); kavlapack verify"
                                 " Setup.exe shows where its container breaks.",
    /* 重新下载 Setup.exe（文件已损坏或不完整）；kavlapack verify Setup.exe 可显示其数据包在何处损坏。 */ "\326\330\320\302\317\302\324\330 Setup.exe\243\250\316\304\274\376\322\321\313\360\273\265\273\362\262\273\315\352\325\373\243\251\243\273kavlapack verify Setup.exe \277\311\317\324\312\276\306\344\312\375\276\335\260\374\324\332\272\316\264\246\313\360\273\265\241\243"};

// Keyed by the program's own constants: a renumbered error keeps its texts.
const ErrInfo g_aErrors[] = {
    {DRV_ERR_NONE, {"making the folder component or Qt in the work folder",
         /* 在工作文件夹中创建 component 或 Qt 文件夹 */ "\324\332\271\244\327\367\316\304\274\376\274\320\326\320\264\264\275\250 component \273\362 Qt \316\304\274\376\274\320"},
     {"a step without a number of its own failed",
      /* 一个没有自己错误号的步骤失败 */ "\322\273\270\366\303\273\323\320\327\324\274\272\264\355\316\363\272\305\265\304\262\275\326\350\312\247\260\334"},
     {"for an MSI-based upgrade make the package named by MsiSourceName reachable or put KavlaSetup.msi beside"
      " Setup.exe; otherwise make sure \\tmp\\KavlaSetup0 on the system drive can be written, then start"
      " Setup.exe again.",
      /* 对于基于 MSI 的升级，确保 MsiSourceName 指向的安装包可以访问，或把 KavlaSetup.msi 放在 Setup.exe 旁边； */ "\266\324\323\332\273\371\323\332 MSI \265\304\311\375\274\266\243\254\310\267\261\243 MsiSourceName \326\270\317\362\265\304\260\262\327\260\260\374\277\311\322\324\267\303\316\312\243\254\273\362\260\321 KavlaSetup.msi \267\305\324\332 Setup.exe \305\324\261\337\243\273"
         /* 否则确保系统盘上的 \\tmp\\KavlaSetup0 可写，然后重新运行 Setup.exe。 */ "\267\361\324\362\310\267\261\243\317\265\315\263\305\314\311\317\265\304 \\tmp\\KavlaSetup0 \277\311\320\264\243\254\310\273\272\363\326\330\320\302\324\313\320\320 Setup.exe\241\243"}},
    {DRV_ERR_QT, {"extracting Qt.7z with 7za.exe",
           /* 用 7za.exe 解压 Qt.7z */ "\323\303 7za.exe \275\342\321\271 Qt.7z"},
     {"7-Zip did not run, or did not report \"Everything is Ok\" for Qt.7z; the install goes on without it",
      /* 7-Zip 未能运行，或没有对 Qt.7z 报告 \"Everything is Ok\"；安装在没有它的情况下继续 */ "7-Zip \316\264\304\334\324\313\320\320\243\254\273\362\303\273\323\320\266\324 Qt.7z \261\250\270\346 \"Everything is Ok\"\243\273\260\262\327\260\324\332\303\273\323\320\313\374\265\304\307\351\277\366\317\302\274\314\320\370"},
     {"rebuild the payload with an intact Qt.7z and 7za.exe (kavlapack build).",
      /* 用完好的 Qt.7z 和 7za.exe 重新制作安装数据（kavlapack build）。 */ "\323\303\315\352\272\303\265\304 Qt.7z \272\315 7za.exe \326\330\320\302\326\306\327\367\260\262\327\260\312\375\276\335\243\250kavlapack build\243\251\241\243"}},
    {PACK_ERR_NULL_ARG, kReaderStep,
     {"a path or name given to the container reader is empty (a fault of the program)",
      /* 传给数据包读取器的路径或名称为空（程序错误） */ "\264\253\270\370\312\375\276\335\260\374\266\301\310\241\306\367\265\304\302\267\276\266\273\362\303\373\263\306\316\252\277\325\243\250\263\314\320\362\264\355\316\363\243\251"},
     g_aTexts[T_REPORT_IT]},
    {PACK_ERR_PATH_LEN, kReaderStep,
     {"the carrier's path or the destination folder is 260 characters or longer",
      /* 载体文件的路径或目标文件夹的长度达到 260 个字符或更长 */ "\324\330\314\345\316\304\274\376\265\304\302\267\276\266\273\362\304\277\261\352\316\304\274\376\274\320\265\304\263\244\266\310\264\357\265\275 260 \270\366\327\326\267\373\273\362\270\374\263\244"},
     {"start Setup.exe from a folder with a shorter path, for example C:\\Setup.",
      /* 从路径较短的文件夹（例如 C:\\Setup）运行 Setup.exe。 */ "\264\323\302\267\276\266\275\317\266\314\265\304\316\304\274\376\274\320\243\250\300\375\310\347 C:\\Setup\243\251\324\313\320\320 Setup.exe\241\243"}},
    {PACK_ERR_NO_SOURCE, kReaderStep,
     {"the carrier file does not exist (removed or renamed while the setup ran)",
      /* 载体文件不存在（在安装过程中被删除或改名） */ "\324\330\314\345\316\304\274\376\262\273\264\346\324\332\243\250\324\332\260\262\327\260\271\375\263\314\326\320\261\273\311\276\263\375\273\362\270\304\303\373\243\251"},
     {"copy Setup.exe to a local folder and start it again.",
      /* 把 Setup.exe 复制到本地文件夹后重新运行。 */ "\260\321 Setup.exe \270\264\326\306\265\275\261\276\265\330\316\304\274\376\274\320\272\363\326\330\320\302\324\313\320\320\241\243"}},
    {PACK_ERR_SIZE, kReaderStep,
     {"the carrier's size cannot be read, is 4 GB or more, or the file ends before its payload",
      /* 无法读取载体文件的大小，或其大小不小于 4 GB，或文件在安装数据之前就结束了 */ "\316\336\267\250\266\301\310\241\324\330\314\345\316\304\274\376\265\304\264\363\320\241\243\254\273\362\306\344\264\363\320\241\262\273\320\241\323\332 4 GB\243\254\273\362\316\304\274\376\324\332\260\262\327\260\312\375\276\335\326\256\307\260\276\315\275\341\312\370\301\313"},
     kDownloadAgain},
    {PACK_ERR_OPEN, kReaderStep,
     {"the carrier cannot be opened for reading",
      /* 无法打开载体文件进行读取 */ "\316\336\267\250\264\362\277\252\324\330\314\345\316\304\274\376\275\370\320\320\266\301\310\241"},
     {"end programs that hold Setup.exe open (antivirus), copy it to a local folder and start it again.",
      /* 结束占用 Setup.exe 的程序（如杀毒软件），把它复制到本地文件夹后重新运行。 */ "\275\341\312\370\325\274\323\303 Setup.exe \265\304\263\314\320\362\243\250\310\347\311\261\266\276\310\355\274\376\243\251\243\254\260\321\313\374\270\264\326\306\265\275\261\276\265\330\316\304\274\376\274\320\272\363\326\330\320\302\324\313\320\320\241\243"}},
    {PACK_ERR_WRITE, kReaderStep,
     {"an extracted file could not be written (is the system drive full?)",
      /* 无法写入解出的文件（系统盘是否已满？） */ "\316\336\267\250\320\264\310\353\275\342\263\366\265\304\316\304\274\376\243\250\317\265\315\263\305\314\312\307\267\361\322\321\302\372\243\277\243\251"},
     {"free space on the system drive and start Setup.exe again.",
      /* 在系统盘上腾出空间，然后重新运行 Setup.exe。 */ "\324\332\317\265\315\263\305\314\311\317\314\332\263\366\277\325\274\344\243\254\310\273\272\363\326\330\320\302\324\313\320\320 Setup.exe\241\243"}},
    {PACK_ERR_NO_DEST, kReaderStep,
     {"the destination folder does not exist",
      /* 目标文件夹不存在 */ "\304\277\261\352\316\304\274\376\274\320\262\273\264\346\324\332"},
     {"make sure \\tmp\\KavlaSetup0 and its folder component can be made on the system drive, then start"
      " Setup.exe again.",
      /* 确保系统盘上可以创建 \\tmp\\KavlaSetup0 及其中的 component 文件夹，然后重新运行 Setup.exe。 */ "\310\267\261\243\317\265\315\263\305\314\311\317\277\311\322\324\264\264\275\250 \\tmp\\KavlaSetup0 \274\260\306\344\326\320\265\304 component \316\304\274\376\274\320\243\254\310\273\272\363\326\330\320\302\324\313\320\320 Setup.exe\241\243"}},
    {PACK_ERR_HEADER_READ, kReaderStep,
     {"the container's header cannot be read in full",
      /* 无法完整读取数据包的头部 */ "\316\336\267\250\315\352\325\373\266\301\310\241\312\375\276\335\260\374\265\304\315\267\262\277"},
     kDownloadAgain},
    {PACK_ERR_MAGIC, kReaderStep,
     {"no Payload Pack header where the payload should start (the file is damaged or was not built with"
      " kavlapack)",
      /* 在安装数据应开始的位置没有数据包头部（文件已损坏或不是用 kavlapack 制作的） */ "\324\332\260\262\327\260\312\375\276\335\323\246\277\252\312\274\265\304\316\273\326\303\303\273\323\320\312\375\276\335\260\374\315\267\262\277\243\250\316\304\274\376\322\321\313\360\273\265\273\362\262\273\312\307\323\303 kavlapack \326\306\327\367\265\304\243\251"},
     {"download Setup.exe again, or rebuild it with kavlapack build.",
      /* 重新下载 Setup.exe，或用 kavlapack build 重新制作。 */ "\326\330\320\302\317\302\324\330 Setup.exe\243\254\273\362\323\303 kavlapack build \326\330\320\302\326\306\327\367\241\243"}},
    {PACK_ERR_NAME_LEN, kReaderStep,
     {"a record's name length cannot be read in full, exceeds 64 bytes or makes the output path too long",
      /* 记录的名称长度无法完整读取、超过 64 字节或使输出路径过长 */ "\274\307\302\274\265\304\303\373\263\306\263\244\266\310\316\336\267\250\315\352\325\373\266\301\310\241\241\242\263\254\271\375 64 \327\326\275\332\273\362\312\271\312\344\263\366\302\267\276\266\271\375\263\244"},
     kDownloadAgain},
    {PACK_ERR_DATA_LEN, kReaderStep,
     {"a record's data length cannot be read in full",
      /* 无法完整读取记录的数据长度 */ "\316\336\267\250\315\352\325\373\266\301\310\241\274\307\302\274\265\304\312\375\276\335\263\244\266\310"},
     kDownloadAgain},
    {PACK_ERR_PAST_END, kReaderStep,
     {"a record reaches past the end of the file: the file is cut short",
      /* 记录超出了文件末尾：文件不完整 */ "\274\307\302\274\263\254\263\366\301\313\316\304\274\376\304\251\316\262\243\272\316\304\274\376\262\273\315\352\325\373"},
     kDownloadAgain},
    {PACK_ERR_NAME_READ, kReaderStep,
     {"a record's name cannot be read in full",
      /* 无法完整读取记录的名称 */ "\316\336\267\250\315\352\325\373\266\301\310\241\274\307\302\274\265\304\303\373\263\306"},
     kDownloadAgain},
    {PACK_ERR_OUTPUT, kReaderStep,
     {"a file in the work folder cannot be created (its name is refused, or a file of that name is in use)",
      /* 无法在工作文件夹中创建文件（名称被拒绝，或同名文件正在使用） */ "\316\336\267\250\324\332\271\244\327\367\316\304\274\376\274\320\326\320\264\264\275\250\316\304\274\376\243\250\303\373\263\306\261\273\276\334\276\370\243\254\273\362\315\254\303\373\316\304\274\376\325\375\324\332\312\271\323\303\243\251"},
     {"end programs that use files in \\tmp\\KavlaSetup0 on the system drive and start Setup.exe again.",
      /* 结束正在使用系统盘上 \\tmp\\KavlaSetup0 中文件的程序，然后重新运行 Setup.exe。 */ "\275\341\312\370\325\375\324\332\312\271\323\303\317\265\315\263\305\314\311\317 \\tmp\\KavlaSetup0 \326\320\316\304\274\376\265\304\263\314\320\362\243\254\310\273\272\363\326\330\320\302\324\313\320\320 Setup.exe\241\243"}},
    {PACK_ERR_CONTENT_READ, kReaderStep,
     {"a file's content cannot be read in full",
      /* 无法完整读取文件的内容 */ "\316\336\267\250\315\352\325\373\266\301\310\241\316\304\274\376\265\304\304\332\310\335"},
     kDownloadAgain},
    {DRV_ERR_WORKDIR, {"making the work folder \\tmp\\KavlaSetup0 on the system drive",
           /* 在系统盘上创建工作文件夹 \\tmp\\KavlaSetup0 */ "\324\332\317\265\315\263\305\314\311\317\264\264\275\250\271\244\327\367\316\304\274\376\274\320 \\tmp\\KavlaSetup0"},
     {"the work folder could not be made, reused or protected",
      /* 工作文件夹无法创建、重用或保护 */ "\271\244\327\367\316\304\274\376\274\320\316\336\267\250\264\264\275\250\241\242\326\330\323\303\273\362\261\243\273\244"},
     {"make sure tmp at the root of the system drive is a real folder (not a file or a link) that"
      " administrators may change, then start Setup.exe again.",
      /* 确保系统盘根目录下的 tmp 是管理员可以修改的真实文件夹（不是文件或链接），然后重新运行 Setup.exe。 */ "\310\267\261\243\317\265\315\263\305\314\270\371\304\277\302\274\317\302\265\304 tmp \312\307\271\334\300\355\324\261\277\311\322\324\320\336\270\304\265\304\325\346\312\265\316\304\274\376\274\320\243\250\262\273\312\307\316\304\274\376\273\362\301\264\275\323\243\251\243\254\310\273\272\363\326\330\320\302\324\313\320\320 Setup.exe\241\243"}},
    {DRV_ERR_CARRIER, {"checking the size of the carrier (Setup.exe, or the MSI copy)",
           /* 检查载体文件（Setup.exe 或 MSI 副本）的大小 */ "\274\354\262\351\324\330\314\345\316\304\274\376\243\250Setup.exe \273\362 MSI \270\261\261\276\243\251\265\304\264\363\320\241"},
     {"the file holds no payload: its size cannot be read, is 4 GB or more, or is not more than 3,300,000 bytes",
      /* 该文件不含安装数据：无法读取其大小，或大小不小于 4 GB，或不超过 3,300,000 字节 */ "\270\303\316\304\274\376\262\273\272\254\260\262\327\260\312\375\276\335\243\272\316\336\267\250\266\301\310\241\306\344\264\363\320\241\243\254\273\362\264\363\320\241\262\273\320\241\323\332 4 GB\243\254\273\362\262\273\263\254\271\375 3,300,000 \327\326\275\332"},
     {"download Setup.exe again: it is cut short or is the bare program without its payload.",
      /* 重新下载 Setup.exe：它不完整，或只是不带安装数据的程序本身。 */ "\326\330\320\302\317\302\324\330 Setup.exe\243\272\313\374\262\273\315\352\325\373\243\254\273\362\326\273\312\307\262\273\264\370\260\262\327\260\312\375\276\335\265\304\263\314\320\362\261\276\311\355\241\243"}},
    {DRV_ERR_NO_PYM, {"handing over to the installed client's admission service",
           /* 交给已安装客户端的准入服务 */ "\275\273\270\370\322\321\260\262\327\260\277\315\273\247\266\313\265\304\327\274\310\353\267\376\316\361"},
     {"pymApxSvr.exe is missing from the work folder; the installer KavlaSetup.exe was not started",
      /* 工作文件夹中缺少 pymApxSvr.exe；没有启动 KavlaSetup.exe */ "\271\244\327\367\316\304\274\376\274\320\326\320\310\261\311\331 pymApxSvr.exe\243\273\303\273\323\320\306\364\266\257 KavlaSetup.exe"},
     {"use a complete Setup.exe, or rebuild it with a payload that holds pymApxSvr.exe (kavlapack list shows"
      " what a Setup.exe holds).",
      /* 使用完整的 Setup.exe，或用包含 pymApxSvr.exe 的安装数据重新制作（kavlapack list 可显示 Setup.exe 中的内容）。 */ "\312\271\323\303\315\352\325\373\265\304 Setup.exe\243\254\273\362\323\303\260\374\272\254 pymApxSvr.exe \265\304\260\262\327\260\312\375\276\335\326\330\320\302\326\306\327\367\243\250kavlapack list \277\311\317\324\312\276 Setup.exe \326\320\265\304\304\332\310\335\243\251\241\243"}},
    {DRV_ERR_LIST, {"placing the customisation files",
           /* 放置定制文件 */ "\267\305\326\303\266\250\326\306\316\304\274\376"},
     {"the work folder could not be listed",
      /* 无法列出工作文件夹的内容 */ "\316\336\267\250\301\320\263\366\271\244\327\367\316\304\274\376\274\320\265\304\304\332\310\335"},
     {"make sure no other program (antivirus) blocks \\tmp\\KavlaSetup0 on the system drive, then start"
      " Setup.exe again.",
      /* 确保没有其他程序（如杀毒软件）阻止访问系统盘上的 \\tmp\\KavlaSetup0，然后重新运行 Setup.exe。 */ "\310\267\261\243\303\273\323\320\306\344\313\373\263\314\320\362\243\250\310\347\311\261\266\276\310\355\274\376\243\251\327\350\326\271\267\303\316\312\317\265\315\263\305\314\311\317\265\304 \\tmp\\KavlaSetup0\243\254\310\273\272\363\326\330\320\302\324\313\320\320 Setup.exe\241\243"}},
    {DRV_ERR_NO_SETUP, {"starting the installer KavlaSetup.exe",
           /* 启动 KavlaSetup.exe */ "\306\364\266\257 KavlaSetup.exe"},
     {"KavlaSetup.exe is missing from the work folder",
      /* 工作文件夹中缺少 KavlaSetup.exe */ "\271\244\327\367\316\304\274\376\274\320\326\320\310\261\311\331 KavlaSetup.exe"},
     {"use a complete Setup.exe, or rebuild it with a payload that holds KavlaSetup.exe.",
      /* 使用完整的 Setup.exe，或用包含 KavlaSetup.exe 的安装数据重新制作。 */ "\312\271\323\303\315\352\325\373\265\304 Setup.exe\243\254\273\362\323\303\260\374\272\254 KavlaSetup.exe \265\304\260\262\327\260\312\375\276\335\326\330\320\302\326\306\327\367\241\243"}},
};

} // namespace

const char* Text(ToolText eText)
{
    return PickText(g_aTexts[eText]);
}

const ErrInfo* FindError(DWORD dwErr)
{
    for (const ErrInfo& info : g_aErrors)
        if (info.dwErr == dwErr)
            return &info;
    return NULL;
}

} // namespace kavlalog
