// The PDF header check: "%PDF-" within the first 1024 bytes, where ISO 32000 readers accept it
// (some producers put a few bytes before it).
#include "renderer/document_check.h"

#include "module/unique_resource.h"

#include <cstring>

namespace {

constexpr DWORD kHeaderWindow = 1024;
const char kPdfHeader[] = "%PDF-";
constexpr size_t kPdfHeaderLength = sizeof(kPdfHeader) - 1;

bool HoldsPdfHeader(const char* bytes, size_t count) noexcept
{
    for (size_t at = 0; at + kPdfHeaderLength <= count; ++at) {
        if (std::memcmp(bytes + at, kPdfHeader, kPdfHeaderLength) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

ExitCode CheckDocument(const wchar_t* path) noexcept
{
    // Shared with writers: the Shell may ask while another program still has the file open.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const UniqueFile file(
        CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return kExitDocumentUnreadable;
    }
    char bytes[kHeaderWindow];
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes, kHeaderWindow, &read, nullptr)) {
        return kExitDocumentUnreadable;
    }
    return HoldsPdfHeader(bytes, read) ? kExitOk : kExitNotPdf;
}
