// Command-line parsing for the host; every mistake is a usage error (exit code 2).
#include "tools/host/options.h"

#include "tools/host/host_support.h"

#include <cwchar>

namespace {

// Decimal digits only, 1..kMaxThumbnailSize.
bool ParseSize(const std::wstring& text, UINT& size)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
        return false;
    }
    const unsigned long value = std::wcstoul(text.c_str(), nullptr, 10);
    if (value < 1 || value > kMaxThumbnailSize) {
        return false;
    }
    size = static_cast<UINT>(value);
    return true;
}

}  // namespace

bool ParseOptions(int argc, wchar_t** argv, Options& options, std::wstring& error)
{
    options = Options{};
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        std::wstring value;
        if (onlyFiles || argument.empty() || argument[0] != L'-') {
            options.files.push_back(argument);
        } else if (argument == L"--") {
            onlyFiles = true;
        } else if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
            options.help = true;
        } else if (argument == L"--verbose" || argument == L"-v") {
            options.verbose = true;
        } else if (argument == L"--size") {
            if (!TakeValue(argc, argv, i, value, error)) {
                return false;
            }
            if (!ParseSize(value, options.size)) {
                error = L"--size must be a whole number from 1 to 4096, not \"" + value + L"\"";
                return false;
            }
        } else if (argument == L"--out") {
            if (!TakeValue(argc, argv, i, options.outDir, error)) {
                return false;
            }
        } else if (argument == L"--sheet") {
            if (!TakeValue(argc, argv, i, options.sheetPath, error)) {
                return false;
            }
        } else {
            error = L"unknown option " + argument;
            return false;
        }
    }
    if (!options.help && options.files.empty()) {
        error = L"no files given";
        return false;
    }
    return true;
}

const wchar_t* HelpText()
{
    return L"Usage: thumbhost [options] FILE...\n"
           L"\n"
           L"Makes a thumbnail of each FILE through the thumbnail handler registered for its extension,\n"
           L"exactly as the Windows Shell does, and writes it as a PNG file.\n"
           L"\n"
           L"For each file the handler is found in the registry: the class under\n"
           L"  Software\\Classes\\<ext>\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}\n"
           L"and that class's Software\\Classes\\CLSID\\{...}\\InprocServer32 DLL and ThreadingModel,\n"
           L"per-user (HKCU) first, then machine-wide (HKLM). The DLL is loaded, its class object creates\n"
           L"the provider, which is initialised with the file's full path (IInitializeWithFile) and asked\n"
           L"for a thumbnail (IThumbnailProvider::GetThumbnail). Everything is released, and the DLL is\n"
           L"unloaded when DllCanUnloadNow allows it.\n"
           L"\n"
           L"Options:\n"
           L"  --size N       the size asked for, 1..4096 (default 256)\n"
           L"  --out DIR      where the PNG files go, created if its parent exists (default: the\n"
           L"                 current directory); each is named after its file: report.pdf ->\n"
           L"                 report.pdf.png, and a name used twice gets \" (2)\"\n"
           L"  --sheet FILE   also write a contact sheet: all thumbnails in a grid, each file's name\n"
           L"                 under it, failures marked with their result\n"
           L"  --verbose, -v  also tell where each handler was found (on standard error)\n"
           L"  --help, -h     this text\n"
           L"\n"
           L"Output: one line per file, then a summary line:\n"
           L"  FILE: S_OK 0x00000000 181x256 WTSAT_RGB 120 ms -> PNG\n"
           L"  FILE: RESULT 0xHHHHHHHH 95 ms: what went wrong\n"
           L"  summary: M of N thumbnails made, F failed\n"
           L"Warnings (a handler that is not \"Apartment\", a DLL that will not unload) and --verbose\n"
           L"details go to standard error.\n"
           L"PNGs keep the alpha channel only when the handler reports WTSAT_ARGB (or WTSAT_UNKNOWN with\n"
           L"some alpha set); WTSAT_RGB thumbnails are written opaque.\n"
           L"\n"
           L"Failures, each with its own message: no handler registered for the extension (register one\n"
           L"with regsvr32), a registered DLL that is missing or does not load, a class the DLL does not\n"
           L"provide, a thumbnail request that failed, an output file that cannot be written.\n"
           L"\n"
           L"Exit codes: 0 every thumbnail made and written; 1 some failed; 2 usage error.\n";
}
