// The renderer's time budget on a page that would take hours: it gives up with the limit's code,
// writes nothing, and ends before the DLL's 30-second limit would have to end it. A stack overflow in
// the engine ends it at once with the same code, not at the budget's hard stop.
#include "renderer/limits.h"
#include "renderer/exit_code.h"
#include "support/test_support.h"
#include "thumbnail/thumbnail_request.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using tool_testing::Quote;

struct TimedRun {
    DWORD exitCode;
    ULONGLONG elapsedMs;
    long long resultSize;
};

TimedRun RenderGenerated(const wchar_t* name)
{
    const std::wstring document = tool_testing::DocumentsDir() + L"\\" + name;
    const std::wstring result = testing_support::TempDir() + L"\\result.tmp";
    tool_testing::WriteFileBytes(result, "");

    const ULONGLONG started = GetTickCount64();
    const tool_testing::ProcessResult run = tool_testing::Run(
        Quote(tool_testing::ViewerPath()) + L" " + tool_testing::ThumbArguments(document, L"256", result));
    return TimedRun{run.exitCode, GetTickCount64() - started, tool_testing::FileSize(result)};
}

TEST(TorvViewBudgetTest, EndlessPageEndsWithinTheBudget)
{
    const TimedRun run = RenderGenerated(L"slow-page.pdf");

    EXPECT_EQ(run.exitCode, static_cast<DWORD>(kExitResourceLimit));
    EXPECT_EQ(run.resultSize, 0);
    EXPECT_LT(run.elapsedMs, kRenderTimeoutMs) << "the DLL stops waiting then";
    std::printf("slow page: exit code %lu after %llu ms\n", run.exitCode, run.elapsedMs);
}

// Wine ends a thread whose stack overflowed without calling the unhandled-exception filter; only the
// watchdog is left to end the process.
TEST(TorvViewBudgetTest, StackOverflowEndsBeforeTheBudget)
{
    const TimedRun run = RenderGenerated(L"deep-resources.pdf");

    EXPECT_EQ(run.exitCode, static_cast<DWORD>(kExitResourceLimit));
    EXPECT_EQ(run.resultSize, 0);
    EXPECT_LT(run.elapsedMs, kTimeBudgetMs) << "ended by the time budget, not when the stack ran out";
    std::printf("resources nested past the stack: exit code %lu after %llu ms\n", run.exitCode, run.elapsedMs);
}

}  // namespace
