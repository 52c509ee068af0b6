// kavlalog on a Simplified Chinese system (language 2052, code page 936): the
// verdict on a real failed run comes in Chinese, as GBK bytes.
#include <gtest/gtest.h>
#include "driver_runs.h"
#include "testutil.h"
#include "vrf_fixture.h"

namespace {

// 结论：安装失败，错误号 355。
const char kVerdict[] = "\xbd\xe1\xc2\xdb\xa3\xba\xb0\xb2\xd7\xb0\xca\xa7\xb0\xdc\xa3\xac\xb4\xed\xce\xf3\xba\xc5"
                        " 355\xa1\xa3\r\n";
// 步骤：交给已安装客户端的准入服务
const char kStep[] = "\xb2\xbd\xd6\xe8\xa3\xba\xbd\xbb\xb8\xf8\xd2\xd1\xb0\xb2\xd7\xb0\xbf\xcd\xbb\xa7\xb6\xcb\xb5\xc4"
                     "\xd7\xbc\xc8\xeb\xb7\xfe\xce\xf1\r\n";

} // namespace

TEST(KavlaLogZh, FailedRunIsJudgedInChinese)
{
    KT_SKIP_IF_EMULATED();
    kt::StartWholeRun(300, 600);
    kt::Payload payload("nopym_zh");
    payload.AddStandard();
    payload.Remove("pymApxSvr.exe");
    ASSERT_EQ(0, kt::BuildAndRunSetup(payload, "nopym_zh_out", true));

    std::string strOut;
    EXPECT_EQ(1, vt::RunCapture("\"" + kt::DistPath("kavlalog.exe") + "\"", strOut)) << strOut;
    EXPECT_NE(std::string::npos, strOut.find(std::string("\n") + kVerdict)) << strOut;
    EXPECT_NE(std::string::npos, strOut.find(std::string("\n  ") + kStep)) << strOut;
    EXPECT_EQ(std::string::npos, strOut.find("Verdict")) << strOut;
    // The setup's own lines stay as it wrote them.
    EXPECT_NE(std::string::npos, strOut.find("] install failed with Err 355.")) << strOut;
}
