// A renderer for tests: started by the library as a real process, it does what the document it
// is given says. A GUI-subsystem program, like the real viewer.
//
// Command line: ... --thumb <document> <size> <result file>   (other arguments are ignored)
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
// If TORV_TEST_RECORD names a file, the startup flags and the exact command line are written to
// it first, as UTF-16: "<dwFlags> <wShowWindow> <stdout handle>\n<command line>".
// Exit code 3: no --thumb arguments; 4: the document cannot be read; 5: the result cannot be written.
#include "support/pattern.h"

#include <windows.h>
#include <shellapi.h>

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

}  // namespace

int wmain()
{
    RecordStart();
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 0; argv && i + 3 < argc; ++i) {
        if (std::wstring(argv[i]) == L"--thumb") {
            return Run(argv[i + 1], argv[i + 3]);
        }
    }
    return 3;
}
