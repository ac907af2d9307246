// The renderer the benchmark starts: writes a W x H result file as fast as the platform allows,
// so that what the benchmark measures around it is the cost of starting a process and moving
// the pixels, not of drawing them.
//
// Command line: ... --thumb <document> <size> <result file>; the document holds "W H".
// Exit code 3: bad arguments; 4: the document cannot be read; 5: the result cannot be written.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

int Render(const wchar_t* documentPath, const wchar_t* resultPath)
{
    char text[64] = {};
    HANDLE document = CreateFileW(documentPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (document == INVALID_HANDLE_VALUE) {
        return 4;
    }
    DWORD read = 0;
    ReadFile(document, text, sizeof(text) - 1, &read, nullptr);
    CloseHandle(document);
    int32_t edges[2] = {};
    if (std::sscanf(text, "%d %d", &edges[0], &edges[1]) != 2 || edges[0] < 1 || edges[1] < 1) {
        return 4;
    }
    // One buffer and one write: header, then rows of a simple gradient.
    const size_t pixelBytes = static_cast<size_t>(edges[0]) * static_cast<size_t>(edges[1]) * 4;
    std::vector<uint8_t> file(8 + pixelBytes);
    memcpy(file.data(), edges, 8);
    for (size_t i = 0; i < pixelBytes; ++i) {
        file[8 + i] = static_cast<uint8_t>(i / 4 + i % 4);
    }
    HANDLE result = CreateFileW(resultPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (result == INVALID_HANDLE_VALUE) {
        return 5;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(result, file.data(), static_cast<DWORD>(file.size()), &written, nullptr);
    CloseHandle(result);
    return ok && written == file.size() ? 0 : 5;
}

}  // namespace

// The C runtime's arguments, as TorvView.exe takes them: shell32's CommandLineToArgvW would load
// user32 and gdi32, which TorvView.exe does not, and make this floor the heavier of the two.
int wmain(int argc, wchar_t** argv)
{
    for (int i = 0; argv && i + 3 < argc; ++i) {
        if (lstrcmpW(argv[i], L"--thumb") == 0) {
            return Render(argv[i + 1], argv[i + 3]);
        }
    }
    return 3;
}
