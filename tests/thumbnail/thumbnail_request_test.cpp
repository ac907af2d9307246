// The thumbnail request end to end, with the test renderer as a real process.
#include "support/allocation_failure.h"
#include "support/pattern.h"
#include "support/test_support.h"
#include "thumbnail/thumbnail_request.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

using namespace testing_support;

namespace {

const HBITMAP kUntouchedBitmap = reinterpret_cast<HBITMAP>(static_cast<uintptr_t>(0x1234));
const WTS_ALPHATYPE kUntouchedAlpha = static_cast<WTS_ALPHATYPE>(77);

struct Outcome {
    HRESULT hr = E_UNEXPECTED;
    HBITMAP bitmap = kUntouchedBitmap;
    WTS_ALPHATYPE alpha = kUntouchedAlpha;

    ~Outcome()
    {
        if (hr == S_OK && bitmap) {
            DeleteObject(bitmap);
        }
    }
};

void Request(const std::wstring& document, UINT cx, Outcome& outcome)
{
    outcome.hr = RunThumbnailRequest(document, cx, &outcome.bitmap, &outcome.alpha);
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::vector<uint8_t> Le32(int32_t value)
{
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

std::string Header(int32_t width, int32_t height)
{
    std::vector<uint8_t> bytes = Le32(width);
    const std::vector<uint8_t> h = Le32(height);
    bytes.insert(bytes.end(), h.begin(), h.end());
    return "bytes " + Hex(bytes) + "\n";
}

// The bitmap's pixel memory as a byte vector, with its dimensions.
std::vector<uint8_t> BitmapBytes(HBITMAP bitmap, LONG& width, LONG& height)
{
    DIBSECTION section{};
    if (GetObjectW(bitmap, sizeof(section), &section) != sizeof(section) || !section.dsBm.bmBits) {
        return {};
    }
    width = section.dsBm.bmWidth;
    height = section.dsBm.bmHeight;
    EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
    const auto* bits = static_cast<const uint8_t*>(section.dsBm.bmBits);
    return std::vector<uint8_t>(bits, bits + static_cast<size_t>(width) * height * 4);
}

class ThumbnailRequest : public testing::Test {
protected:
    void SetUp() override { UseTestRenderer(); }
    void TearDown() override { EXPECT_TRUE(ResultFilesLeft().empty()) << "a result file was left behind"; }

    ScratchHkcu m_hkcu;
};

TEST_F(ThumbnailRequest, NullOutParametersWriteNothing)
{
    HBITMAP bitmap = kUntouchedBitmap;
    WTS_ALPHATYPE alpha = kUntouchedAlpha;
    EXPECT_EQ(RunThumbnailRequest(L"C:\\a.pdf", 256, nullptr, &alpha), E_POINTER);
    EXPECT_EQ(alpha, kUntouchedAlpha);
    EXPECT_EQ(RunThumbnailRequest(L"C:\\a.pdf", 256, &bitmap, nullptr), E_POINTER);
    EXPECT_EQ(bitmap, kUntouchedBitmap);
}

TEST_F(ThumbnailRequest, EmptyPathStartsNothing)
{
    RecordRendererStart record;
    Outcome outcome;
    Request(L"", 256, outcome);
    EXPECT_EQ(outcome.hr, E_FAIL);
    EXPECT_EQ(outcome.bitmap, nullptr);
    EXPECT_EQ(outcome.alpha, WTSAT_RGB);
    RendererStart start;
    EXPECT_FALSE(record.Read(start)) << "no renderer may start without a document";
}

struct FailureCase {
    const char* name;
    std::string script;  // the document's content; empty: the document does not exist
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class ThumbnailRequestFailure : public ThumbnailRequest, public testing::WithParamInterface<FailureCase> {};

TEST_P(ThumbnailRequestFailure, FailsAndCleansUp)
{
    const FailureCase& c = GetParam();
    const std::wstring document = c.script.empty() ? TempDir() + L"\\docs\\missing.pdf"
                                                   : WriteDocument(L"failure.pdf", c.script);
    const size_t handlesBefore = CountProcessHandles();
    ASSERT_GT(handlesBefore, 0u) << "the system handle list must show this process";
    Outcome outcome;
    Request(document, 256, outcome);
    EXPECT_EQ(outcome.hr, E_FAIL);
    EXPECT_EQ(outcome.bitmap, nullptr);
    EXPECT_EQ(outcome.alpha, WTSAT_RGB);
    EXPECT_EQ(CountProcessHandles(), handlesBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ThumbnailRequestFailure,
    testing::Values(
        FailureCase{"RendererCannotReadDocument", ""},
        // A complete result does not count when the exit code is not 0.
        FailureCase{"NonzeroExitWithValidResult", "pattern 4 4\nexit 2\n"},
        FailureCase{"NothingWritten", "exit 0\n"},
        // The result file cannot be opened.
        FailureCase{"ResultFileRemoved", "pattern 2 2\ndelete\n"},
        FailureCase{"SevenBytes", "bytes 01000000010000\n"},
        FailureCase{"WidthZero", Header(0, 1) + "pixels 64\n"},
        FailureCase{"HeightZero", Header(1, 0) + "pixels 64\n"},
        FailureCase{"Width4097", Header(4097, 1) + "pixels 16388\n"},
        FailureCase{"Height4097", Header(1, 4097) + "pixels 16388\n"},
        FailureCase{"WidthNegative", Header(-1, 1) + "pixels 64\n"},
        FailureCase{"HeightMostNegative", Header(1, INT_MIN) + "pixels 64\n"},
        FailureCase{"OnePixelByteShort", Header(3, 2) + "pixels 23\n"},
        FailureCase{"HeaderOnly", Header(1, 1)}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(ThumbnailRequest, MissingRendererFails)
{
    SetRenderCommand(L"\"" + TestDir() + L"\\no-such-renderer.exe\" \"%1\" %2 \"%3\"");
    Outcome outcome;
    Request(WriteDocument(L"a.pdf", "pattern 2 2\n"), 256, outcome);
    EXPECT_EQ(outcome.hr, E_FAIL);
    EXPECT_EQ(outcome.bitmap, nullptr);
    EXPECT_EQ(outcome.alpha, WTSAT_RGB);
}

TEST_F(ThumbnailRequest, BitmapEqualsResultFileWithFirstRowOnTop)
{
    const std::wstring copy = TempDir() + L"\\docs\\copy.bin";
    const std::string copyAscii(copy.begin(), copy.end());
    Outcome outcome;
    Request(WriteDocument(L"ok.pdf", "pattern 5 3 7\ncopy " + copyAscii + "\n"), 256, outcome);
    ASSERT_EQ(outcome.hr, S_OK);
    EXPECT_EQ(outcome.alpha, WTSAT_RGB);

    const std::vector<uint8_t> file = ReadBinaryFile(copy);
    ASSERT_EQ(file, PatternFile(5, 3, 7)) << "the renderer's own copy of its result";
    LONG width = 0;
    LONG height = 0;
    const std::vector<uint8_t> pixels = BitmapBytes(outcome.bitmap, width, height);
    EXPECT_EQ(width, 5);
    EXPECT_EQ(height, 3);  // Wine reports the height of a top-down section as positive
    EXPECT_EQ(pixels, std::vector<uint8_t>(file.begin() + 8, file.end()));

    // Orientation by pixels: the file's first pixel must be the image's top-left one.
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, outcome.bitmap);
    const COLORREF topLeft = GetPixel(dc, 0, 0);
    const COLORREF bottomLeft = GetPixel(dc, 0, 2);
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_EQ(topLeft, RGB(file[10], file[9], file[8]));
    const size_t lastRow = 8 + 2 * 5 * 4;
    EXPECT_EQ(bottomLeft, RGB(file[lastRow + 2], file[lastRow + 1], file[lastRow]));
}

TEST_F(ThumbnailRequest, AcceptsBoundsAndIgnoresTrailingBytes)
{
    struct Case {
        int32_t width, height;
        const char* extra;
    };
    const Case cases[] = {
        {1, 1, ""},
        {4096, 1, ""},
        {1, 4096, ""},
        {4096, 10, ""},          // far from the requested 256: taken unchanged
        {2, 2, "bytes ffeeddccbbaa\n"},
        {4096, 4096, "bytes 00\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " " << c.extra);
        const std::string script = "pattern " + std::to_string(c.width) + " " + std::to_string(c.height) + " 3\n" + c.extra;
        Outcome outcome;
        Request(WriteDocument(L"bounds.pdf", script), 256, outcome);
        ASSERT_EQ(outcome.hr, S_OK);
        LONG width = 0;
        LONG height = 0;
        const std::vector<uint8_t> pixels = BitmapBytes(outcome.bitmap, width, height);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        const std::vector<uint8_t> expected = PatternFile(c.width, c.height, 3);
        EXPECT_TRUE(pixels.size() + 8 == expected.size() && std::equal(pixels.begin(), pixels.end(), expected.begin() + 8));
    }
}

// The configured command and the default one (TorvView.exe beside the module, here the test program).
TEST_F(ThumbnailRequest, StartsRendererHiddenWithExactCommandLine)
{
    struct Case {
        bool configured;
        std::wstring program;
    };
    const Case cases[] = {{true, RendererPath()}, {false, TestDir() + L"\\TorvView.exe"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.configured ? "configured" : "default") << " command");
        if (!c.configured) {
            RemoveRenderCommand();
        }
        RecordRendererStart record;
        const std::wstring document = WriteDocument(L"my doc \u00e9 100%20%3A.pdf", "pattern 1 1\n");
        Outcome outcome;
        Request(document, 0, outcome);
        EXPECT_EQ(outcome.hr, S_OK);

        RendererStart start;
        ASSERT_TRUE(record.Read(start));
        EXPECT_TRUE(start.flags & STARTF_USESHOWWINDOW);
        EXPECT_EQ(start.showWindow, static_cast<DWORD>(SW_HIDE));
        const std::wstring prefix = L"\"" + c.program + L"\" --thumb \"" + document + L"\" 0 \"" + TempDir() + L"\\tvt";
        EXPECT_EQ(start.commandLine.substr(0, prefix.size()), prefix);
        EXPECT_EQ(start.commandLine.substr(start.commandLine.size() - 5), L".tmp\"");
    }
}

TEST_F(ThumbnailRequest, CommandLineEndsAtEmbeddedZero)
{
    const std::wstring text = L"\"" + RendererPath() + L"\" --thumb \"%1\" %2 \"%3\"";
    std::wstring stored = text + std::wstring(1, L'\0') + L" junk";
    SetRenderCommandRaw(REG_SZ, stored.c_str(), static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t)));
    RecordRendererStart record;
    Outcome outcome;
    Request(WriteDocument(L"zero.pdf", "pattern 1 1\n"), 8, outcome);
    EXPECT_EQ(outcome.hr, S_OK);
    RendererStart start;
    ASSERT_TRUE(record.Read(start));
    EXPECT_EQ(start.commandLine.find(L"junk"), std::wstring::npos);
}

// The platform cannot name or create the result file: no renderer starts and no path is touched.
TEST_F(ThumbnailRequest, UnusableTemporaryDirectoryFailsWithoutRenderer)
{
    std::wstring tooLong = TempDir();
    while (tooLong.size() <= MAX_PATH) {
        tooLong += L"\\a-directory-name-that-makes-the-temporary-path-too-long";
        ASSERT_TRUE(CreateDirectoryW(tooLong.c_str(), nullptr));
    }
    const std::wstring directories[] = {TempDir() + L"\\no\\such\\dir", tooLong};
    for (const std::wstring& directory : directories) {
        SCOPED_TRACE(testing::Message() << directory.size() << " characters");
        RecordRendererStart record;
        SetEnvironmentVariableW(L"TMP", directory.c_str());
        SetEnvironmentVariableW(L"TEMP", directory.c_str());
        Outcome outcome;
        Request(WriteDocument(L"a.pdf", "pattern 1 1\n"), 256, outcome);
        SetEnvironmentVariableW(L"TMP", TempDir().c_str());
        SetEnvironmentVariableW(L"TEMP", TempDir().c_str());

        EXPECT_EQ(outcome.hr, E_FAIL);
        EXPECT_EQ(outcome.bitmap, nullptr);
        EXPECT_EQ(outcome.alpha, WTSAT_RGB);
        RendererStart start;
        EXPECT_FALSE(record.Read(start));
    }
}

// Fails each allocation of a whole request in turn until one run needs no failure.
TEST_F(ThumbnailRequest, OutOfMemoryAtEveryAllocation)
{
    const std::wstring document = WriteDocument(L"oom.pdf", "pattern 2 2\n");
    const size_t handlesBefore = CountProcessHandles();
    long failures = 0;
    for (long n = 0;; ++n) {
        Outcome outcome;
        bool triggered = false;
        {
            FailAllocation fail(n);
            Request(document, 256, outcome);
            triggered = fail.Triggered();
        }
        ASSERT_TRUE(ResultFilesLeft().empty()) << "allocation " << n;
        if (!triggered) {
            EXPECT_EQ(outcome.hr, S_OK);
            break;
        }
        ++failures;
        EXPECT_EQ(outcome.hr, E_OUTOFMEMORY) << "allocation " << n;
        EXPECT_EQ(outcome.bitmap, nullptr);
        EXPECT_EQ(outcome.alpha, WTSAT_RGB);
    }
    EXPECT_GT(failures, 3);
    EXPECT_EQ(CountProcessHandles(), handlesBefore);
}

}  // namespace
