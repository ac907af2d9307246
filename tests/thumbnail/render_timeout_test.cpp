// The renderer's 30-second limit, waited out for real.
#include "support/test_support.h"
#include "thumbnail/thumbnail_request.h"

#include <gtest/gtest.h>

#include <thread>

using namespace testing_support;

namespace {

TEST(RenderTimeout, OverrunningRendererIsTerminated)
{
    ScratchHkcu hkcu;
    UseTestRenderer();
    const std::wstring document = WriteDocument(L"slow.pdf", "pattern 2 2\nhold\nsleep 120000\n");

    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    HRESULT hr = E_UNEXPECTED;
    ULONGLONG elapsed = 0;
    std::thread request([&] {
        const ULONGLONG started = GetTickCount64();
        hr = RunThumbnailRequest(document, 256, &bitmap, &alpha);
        elapsed = GetTickCount64() - started;
    });
    Sleep(3000);
    EXPECT_EQ(LiveChildren(), 1) << "the renderer should be running by now";
    request.join();

    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_EQ(alpha, WTSAT_RGB);
    EXPECT_GE(elapsed, kRenderTimeoutMs);
    EXPECT_LT(elapsed, kRenderTimeoutMs + 10000u) << "the request must not wait for the terminated renderer";

    // Termination is not awaited by the request, but it must take effect.
    int children = LiveChildren();
    for (int i = 0; i < 50 && children > 0; ++i) {
        Sleep(100);
        children = LiveChildren();
    }
    EXPECT_EQ(children, 0);
    // The renderer held the result file open until it was terminated; here termination closes its
    // handles before TerminateProcess returns, so the request's delete must have succeeded.
    EXPECT_TRUE(ResultFilesLeft().empty()) << "the result file outlived the request";
}

}  // namespace
