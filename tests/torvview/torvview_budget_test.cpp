// The renderer's time budget on a page that would take hours: it gives up with the limit's code,
// writes nothing, and ends before the DLL's 30-second limit would have to end it.
#include "renderer/exit_code.h"
#include "support/test_support.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

namespace {

using tool_testing::Quote;

TEST(TorvViewBudgetTest, EndlessPageEndsWithinTheBudget)
{
    const std::wstring document = testing_support::TestDir() + L"\\documents\\slow-page.pdf";
    const std::wstring result = testing_support::TempDir() + L"\\result.tmp";
    tool_testing::WriteFileBytes(result, "");

    const ULONGLONG started = GetTickCount64();
    const tool_testing::ProcessResult run = tool_testing::Run(
        Quote(tool_testing::ViewerPath()) + L" --thumb " + Quote(document) + L" 256 " + Quote(result));
    const ULONGLONG elapsed = GetTickCount64() - started;

    EXPECT_EQ(run.exitCode, static_cast<DWORD>(kExitResourceLimit));
    EXPECT_EQ(tool_testing::FileSize(result), 0);
    EXPECT_LT(elapsed, 30000u) << "the DLL stops waiting at 30 s";
    std::printf("slow page: exit code %lu after %llu ms\n", run.exitCode, elapsed);
}

}  // namespace
