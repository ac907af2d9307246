// A renderer for tests: started by the library as a real process, it does what the document it
// is given says. A GUI-subsystem program, like the real viewer.
//
// Command line: ... --thumb <document> <size> <result file>   (other arguments are ignored)
//           or ... --page <document> <page> <width> <result file> <page list file>
// Document: one command per line, run in order:
//   pattern W H [SEED]  write a valid result: header W, H and W*H*4 pattern bytes
//   header W H          write only the 8-byte header
//   pixels N [SEED]     write N pattern bytes
//   bytes HEX           write the given bytes, e.g. "bytes 0a0b0c"
//   sleep MS            wait
//   exit N              exit code once done (default 0)
//   copy PATH           after writing, copy the result file to PATH (ASCII, rest of the line)
//   delete              after writing, delete the result file
//   hold                keep the result file open, unshared, until the renderer ends
// In the page mode, the document describes the pages instead (the thumbnail's commands above do
// nothing there but sleep and exit):
//   pages N W H         N more pages of W x H points in the page list (one 612 x 792 page if none)
//   fail P [CODE]       drawing page P ends with CODE (default 7), writing nothing
//   sleep-page P MS     drawing page P waits first
// Page P at width W is written W wide and PageHeightForWidth high, as TorvView.exe writes it (at
// most 4096 rows, the width reduced in proportion), its pixels the pattern with seed P and a
// fourth byte of 255; page beyond the list: exit 7.
// If TORV_TEST_RECORD names a file, the startup flags and the exact command line are written to
// it first, as UTF-16: "<dwFlags> <wShowWindow> <stdout handle>\n<command line>". If
// TORV_TEST_PAGE_LOG names a file, the page mode appends "<page> <width>\n" to it as it starts.
// Exit code 3: no --thumb or --page arguments; 4: the document cannot be read; 5: the result cannot
// be written.
#include "renderer/page_list.h"
#include "support/pattern.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

void RecordStart()
{
    wchar_t recordPath[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TORV_TEST_RECORD", recordPath, MAX_PATH) == 0) {
        return;
    }
    STARTUPINFOW startup{};
    GetStartupInfoW(&startup);
    std::wstring record = std::to_wstring(startup.dwFlags) + L" " + std::to_wstring(startup.wShowWindow) + L" "
        + std::to_wstring(reinterpret_cast<uintptr_t>(GetStdHandle(STD_OUTPUT_HANDLE))) + L"\n" + GetCommandLineW();
    HANDLE file = CreateFileW(recordPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
}

bool ReadWholeFile(const std::wstring& path, std::string& content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    CloseHandle(file);
    return true;
}

class Output {
public:
    explicit Output(HANDLE file) : m_file(file) {}
    bool Write(const void* data, size_t size)
    {
        DWORD written = 0;
        return WriteFile(m_file, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
    }
    bool WritePattern(uint64_t count, uint32_t seed)
    {
        std::vector<uint8_t> chunk;
        for (uint64_t done = 0; done < count;) {
            const uint64_t n = count - done < (1u << 20) ? count - done : (1u << 20);
            chunk.resize(static_cast<size_t>(n));
            for (size_t i = 0; i < chunk.size(); ++i) {
                chunk[i] = testing_support::PatternByte(done + i, seed);
            }
            if (!Write(chunk.data(), chunk.size())) {
                return false;
            }
            done += n;
        }
        return true;
    }

private:
    HANDLE m_file;
};

std::vector<uint8_t> ParseHex(const std::string& hex)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    }
    return bytes;
}

int Run(const std::wstring& documentPath, const std::wstring& resultPath)
{
    std::string script;
    if (!ReadWholeFile(documentPath, script)) {
        return 4;
    }
    HANDLE file = CreateFileW(resultPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 5;
    }
    Output out(file);
    bool ok = true;
    int exitCode = 0;
    std::wstring copyPath;
    bool deleteResult = false;
    std::istringstream lines(script);
    std::string line;
    while (ok && std::getline(lines, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        int32_t header[2] = {};
        uint64_t count = 0;
        uint32_t seed = 0;  // optional last argument; stays 0 when absent
        if (command == "pattern") {
            in >> header[0] >> header[1] >> seed;
            count = static_cast<uint64_t>(header[0]) * static_cast<uint64_t>(header[1]) * 4;
            ok = out.Write(header, sizeof(header)) && out.WritePattern(count, seed);
        } else if (command == "header") {
            in >> header[0] >> header[1];
            ok = out.Write(header, sizeof(header));
        } else if (command == "pixels") {
            in >> count >> seed;
            ok = out.WritePattern(count, seed);
        } else if (command == "bytes") {
            std::string hex;
            in >> hex;
            const std::vector<uint8_t> bytes = ParseHex(hex);
            ok = bytes.empty() || out.Write(bytes.data(), bytes.size());
        } else if (command == "sleep") {
            DWORD ms = 0;
            in >> ms;
            Sleep(ms);
        } else if (command == "exit") {
            in >> exitCode;
        } else if (command == "hold") {
            // Deliberately never closed: the handle goes only when the process does.
            CreateFileW(resultPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        } else if (command == "delete") {
            deleteResult = true;
        } else if (command == "copy") {
            std::string path;
            std::getline(in >> std::ws, path);
            copyPath.assign(path.begin(), path.end());
        }
    }
    CloseHandle(file);
    if (!ok) {
        return 5;
    }
    if (!copyPath.empty()) {
        CopyFileW(resultPath.c_str(), copyPath.c_str(), FALSE);
    }
    if (deleteResult) {
        DeleteFileW(resultPath.c_str());
    }
    return exitCode;
}

struct PageScript {
    std::vector<PageSizePt> pages;
    std::vector<std::pair<uint32_t, int>> failures;   // page, exit code
    std::vector<std::pair<uint32_t, DWORD>> sleeps;   // page, milliseconds
    DWORD sleepMs = 0;
    int exitCode = 0;
};

PageScript ParsePageScript(const std::string& script)
{
    PageScript parsed;
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "pages") {
            unsigned count = 0;
            PageSizePt page{};
            in >> count >> page.width >> page.height;
            parsed.pages.insert(parsed.pages.end(), count, page);
        } else if (command == "fail") {
            uint32_t page = 0;
            int code = 7;
            in >> page >> code;
            parsed.failures.emplace_back(page, code);
        } else if (command == "sleep-page") {
            uint32_t page = 0;
            DWORD ms = 0;
            in >> page >> ms;
            parsed.sleeps.emplace_back(page, ms);
        } else if (command == "sleep") {
            in >> parsed.sleepMs;
        } else if (command == "exit") {
            in >> parsed.exitCode;
        }
    }
    if (parsed.pages.empty()) {
        parsed.pages.push_back(PageSizePt{612.0f, 792.0f});
    }
    return parsed;
}

void LogPage(uint32_t page, int32_t width)
{
    wchar_t logPath[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"TORV_TEST_PAGE_LOG", logPath, MAX_PATH) == 0) {
        return;
    }
    HANDLE file = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string line = std::to_string(page) + " " + std::to_string(width) + "\n";
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

bool WritePageList(HANDLE file, const std::vector<PageSizePt>& pages)
{
    const std::vector<uint8_t> bytes = EncodePageList(pages);
    return Output(file).Write(bytes.data(), bytes.size());
}

bool WritePage(HANDLE file, const PageSizePt& page, uint32_t pageNumber, int32_t width)
{
    int64_t height = PageHeightForWidth(page.width, page.height, width);
    if (height > 4096) {
        width = std::max<int32_t>(1, static_cast<int32_t>(static_cast<double>(width) * 4096.0 / height));
        height = 4096;
    }
    const int32_t header[2] = {width, static_cast<int32_t>(height)};
    Output out(file);
    if (!out.Write(header, sizeof(header))) {
        return false;
    }
    std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
    uint64_t index = 0;
    for (int64_t y = 0; y < height; ++y) {
        for (size_t i = 0; i < row.size(); ++i, ++index) {
            row[i] = testing_support::PageByte(index, pageNumber);
        }
        if (!out.Write(row.data(), row.size())) {
            return false;
        }
    }
    return true;
}

int RunPage(const std::wstring& documentPath, const std::wstring& pageText, const std::wstring& widthText,
            const std::wstring& resultPath, const std::wstring& listPath)
{
    const uint32_t pageNumber = static_cast<uint32_t>(std::wcstoul(pageText.c_str(), nullptr, 10));
    const int32_t width = static_cast<int32_t>(std::wcstol(widthText.c_str(), nullptr, 10));
    if (pageNumber == 0 || width < 1 || width > 4096) {
        return 2;
    }
    LogPage(pageNumber, width);
    std::string script;
    if (!ReadWholeFile(documentPath, script)) {
        return 3;
    }
    const PageScript parsed = ParsePageScript(script);
    Sleep(parsed.sleepMs);
    for (const auto& sleep : parsed.sleeps) {
        if (sleep.first == pageNumber) {
            Sleep(sleep.second);
        }
    }
    for (const auto& failure : parsed.failures) {
        if (failure.first == pageNumber) {
            return failure.second;
        }
    }
    if (parsed.exitCode != 0) {
        return parsed.exitCode;
    }
    if (pageNumber > parsed.pages.size()) {
        return 7;
    }
    HANDLE result = CreateFileW(resultPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE list = CreateFileW(listPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool written = result != INVALID_HANDLE_VALUE && list != INVALID_HANDLE_VALUE
        && WritePage(result, parsed.pages[pageNumber - 1], pageNumber, width) && WritePageList(list, parsed.pages);
    if (result != INVALID_HANDLE_VALUE) {
        CloseHandle(result);
    }
    if (list != INVALID_HANDLE_VALUE) {
        CloseHandle(list);
    }
    return written ? 0 : 5;
}

}  // namespace

int wmain()
{
    RecordStart();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 0; argv && i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"--thumb" && i + 3 < argc) {
            return Run(argv[i + 1], argv[i + 3]);
        }
        if (argument == L"--page" && i + 5 < argc) {
            return RunPage(argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4], argv[i + 5]);
        }
    }
    return 3;
}
