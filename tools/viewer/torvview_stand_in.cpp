// The stand-in TorvView.exe: only the thumbnail mode of the renderer contract, drawing a blank
// portrait page. It proves the path from the Shell to the renderer and back on machines where the
// real viewer is not installed.
//
//   TorvView.exe --thumb <document> <size> <result file>
//
// Exit codes: 0 result written; 2 wrong arguments; 3 document missing or unreadable; 4 document
// does not begin with the PDF header; 5 result file missing or not writable. Nothing is written to
// the result file unless every check before the write passed.
#include "module/unique_resource.h"

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>
#include <vector>

namespace {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,
    kExitDocumentUnreadable = 3,
    kExitNotPdf = 4,
    kExitResultNotWritable = 5,
};

constexpr int32_t kMaxEdge = 4096;

// A4 portrait: 210 by 297.
constexpr int32_t kPageWidthRatio = 210;
constexpr int32_t kPageHeightRatio = 297;

constexpr uint32_t kPaper = 0xFFFFFFFFu;   // white, fourth byte 0xFF: opaque
constexpr uint32_t kBorder = 0xFF808080u;  // mid grey

const char kPdfHeader[] = "%PDF-";

struct PageSize {
    int32_t width;
    int32_t height;
};

// Decimal digits only; values past the cap saturate instead of overflowing. 0 means invalid.
int32_t ParseSize(const wchar_t* text) noexcept
{
    if (*text == L'\0') {
        return 0;
    }
    int64_t value = 0;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (*p < L'0' || *p > L'9') {
            return 0;
        }
        value = value * 10 + (*p - L'0');
        if (value > kMaxEdge) {
            value = kMaxEdge + 1;
        }
    }
    return value > kMaxEdge ? kMaxEdge : static_cast<int32_t>(value);
}

// The longer edge is the requested size; the width is rounded, and never below one pixel.
PageSize PortraitPage(int32_t longEdge) noexcept
{
    int32_t width = (longEdge * kPageWidthRatio + kPageHeightRatio / 2) / kPageHeightRatio;
    if (width < 1) {
        width = 1;
    }
    return PageSize{width, longEdge};
}

// kExitOk for a document that opens and begins with the PDF header, else the exit code that says why not.
int CheckDocument(const wchar_t* documentPath) noexcept
{
    // Shared with writers: the Shell may ask while another program still has the file open.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const UniqueFile file(
        CreateFileW(documentPath, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return kExitDocumentUnreadable;
    }
    char header[sizeof(kPdfHeader) - 1] = {};
    DWORD read = 0;
    if (!ReadFile(file.get(), header, sizeof(header), &read, nullptr)) {
        return kExitDocumentUnreadable;
    }
    return read == sizeof(header) && std::memcmp(header, kPdfHeader, sizeof(header)) == 0 ? kExitOk : kExitNotPdf;
}

// White paper inside a border about 1/128 of the longer edge thick, at least one pixel.
std::vector<uint32_t> DrawPage(const PageSize& page)
{
    const int32_t border = page.height / 128 > 0 ? page.height / 128 : 1;
    std::vector<uint32_t> pixels(static_cast<size_t>(page.width) * static_cast<size_t>(page.height), kBorder);
    for (int32_t y = border; y < page.height - border; ++y) {
        uint32_t* row = &pixels[static_cast<size_t>(y) * static_cast<size_t>(page.width)];
        for (int32_t x = border; x < page.width - border; ++x) {
            row[x] = kPaper;
        }
    }
    return pixels;
}

bool WriteAll(HANDLE file, const void* data, size_t byteCount) noexcept
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (byteCount > 0) {
        const DWORD chunk = byteCount > 0x1000000 ? 0x1000000 : static_cast<DWORD>(byteCount);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written != chunk) {
            return false;
        }
        bytes += chunk;
        byteCount -= chunk;
    }
    return true;
}

// The caller made the result file; opening it as existing never leaves a stray file behind.
bool WriteResultFile(const wchar_t* resultPath, const PageSize& page, const std::vector<uint32_t>& pixels) noexcept
{
    const UniqueFile file(
        CreateFileW(resultPath, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    // Little-endian, like every Windows target.
    const int32_t header[2] = {page.width, page.height};
    return WriteAll(file.get(), header, sizeof(header))
        && WriteAll(file.get(), pixels.data(), pixels.size() * sizeof(uint32_t));
}

int RunThumbMode(const wchar_t* documentPath, const wchar_t* sizeText, const wchar_t* resultPath)
{
    const int32_t size = ParseSize(sizeText);
    if (size == 0 || *documentPath == L'\0' || *resultPath == L'\0') {
        return kExitUsage;
    }
    const int documentCheck = CheckDocument(documentPath);
    if (documentCheck != kExitOk) {
        return documentCheck;
    }
    const PageSize page = PortraitPage(size);
    const std::vector<uint32_t> pixels = DrawPage(page);
    return WriteResultFile(resultPath, page, pixels) ? kExitOk : kExitResultNotWritable;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    // Hidden and unattended: the platform must not put up a dialog on its behalf either.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    if (argc != 5 || std::wcscmp(argv[1], L"--thumb") != 0) {
        return kExitUsage;
    }
    try {
        return RunThumbMode(argv[2], argv[3], argv[4]);
    } catch (const std::bad_alloc&) {
        // No memory for the page: nothing was written, and the result cannot be.
        return kExitResultNotWritable;
    }
}
