// The renderer's time budget on a page that would take hours: it gives up with the limit's code,
// writes nothing, and ends before the DLL's 30-second limit would have to end it.
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

}  // namespace
