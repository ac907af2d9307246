// thumbhost: makes thumbnails through the registered thumbnail handlers, as the Shell would,
// and writes them as PNG files and, if asked, a contact sheet.
#include "tools/host/host_support.h"
#include "tools/host/contact_sheet.h"
#include "tools/host/handler_call.h"
#include "tools/host/handler_registry.h"
#include "tools/host/hresult_text.h"
#include "tools/host/options.h"
#include "tools/host/pixels.h"
#include "tools/host/png_file.h"

#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace {

enum ExitCode : int {
    kExitAllMade = 0,
    kExitSomeFailed = 1,
    kExitUsage = 2,
};

struct FileReport {
    StepResult result;
    long long milliseconds = 0;
    Pixels pixels;
    bool usesAlpha = false;
    WTS_ALPHATYPE alphaType = WTSAT_UNKNOWN;
    std::wstring pngPath;
    StepResult written;  // the PNG; only after a thumbnail was made

    bool Made() const noexcept { return result.ok() && written.ok(); }
};

std::wstring Lowercase(std::wstring text)
{
    if (!text.empty()) {
        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    }
    return text;
}

// "<out>\<name>.png"; a name already used in this run gets " (2)", " (3)", ... so no PNG is overwritten.
std::wstring PngPathFor(const std::wstring& file, const std::wstring& outDir, std::set<std::wstring>& used)
{
    const std::wstring base = FileName(file);
    std::wstring name = base + L".png";
    for (int n = 2; !used.insert(Lowercase(name)).second; ++n) {
        name = base + L" (" + std::to_wstring(n) + L").png";
    }
    return outDir.empty() ? name : outDir + L"\\" + name;
}

bool IsApartmentModel(const std::wstring& model)
{
    return lstrcmpiW(model.c_str(), L"Apartment") == 0 || lstrcmpiW(model.c_str(), L"Both") == 0;
}

// Details and warnings go to standard error, so standard output keeps one line per file.
void Note(const std::wstring& file, const std::wstring& text)
{
    Print(stderr, L"thumbhost: " + file + L": " + text);
}

void ReportHandler(const std::wstring& file, const ShellHandler& handler, bool verbose)
{
    if (verbose) {
        Note(file, L"handler " + handler.clsidText + L" from " + handler.bindingKey);
        Note(file, L"DLL \"" + handler.dllPath + L"\" from " + handler.serverKey + L", ThreadingModel \""
                       + handler.threadingModel + L"\"");
    }
    if (!IsApartmentModel(handler.threadingModel)) {
        Note(file, L"warning: ThreadingModel of " + handler.clsidText + L" is \"" + handler.threadingModel
                       + L"\"; the Shell expects thumbnail handlers to be \"Apartment\"");
    }
}

StepResult ExtractThumbnail(const std::wstring& file, const Options& options, FileReport& report)
{
    const std::wstring fullPath = FullPath(file);
    if (GetFileAttributesW(fullPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        return Failure(hr, L"the file cannot be found: " + SystemMessage(hr));
    }
    ShellHandler handler;
    const StepResult found = FindHandler(FileExtension(fullPath), kThumbnailHandlerKind, handler);
    if (!found.ok()) {
        return found;
    }
    ReportHandler(file, handler, options.verbose);
    ThumbnailOutcome outcome = RequestThumbnail(handler, fullPath, options.size);
    if (outcome.leftLoaded) {
        Note(file, L"warning: \"" + handler.dllPath + L"\" cannot be unloaded after everything was released "
                                                    L"(DllCanUnloadNow is missing or not S_OK); it stays loaded");
    }
    if (!outcome.result.ok()) {
        return outcome.result;
    }
    report.alphaType = outcome.alphaType;
    const HRESULT hr = ReadBitmapPixels(outcome.bitmap.get(), report.pixels);
    if (FAILED(hr)) {
        return Failure(hr, L"the handler's bitmap cannot be read");
    }
    report.usesAlpha = UsesAlpha(report.alphaType, report.pixels);
    return outcome.result;
}

std::wstring WriteFailure(const std::wstring& path, HRESULT hr)
{
    // WIC's factory is the only class a write creates, so "class not registered" can be made specific.
    const std::wstring reason =
        hr == REGDB_E_CLASSNOTREG ? L"the imaging library (WIC) is not registered on this system" : SystemMessage(hr);
    return L"cannot write \"" + path + L"\": " + HResultName(hr) + L" " + HResultHex(hr) + L" " + reason;
}

StepResult SavePng(const FileReport& report)
{
    const HRESULT hr = WritePng(report.pixels, report.usesAlpha, report.pngPath);
    if (FAILED(hr)) {
        return Failure(hr, WriteFailure(report.pngPath, hr));
    }
    return StepResult{};
}

FileReport ThumbnailFile(const std::wstring& file, const Options& options, std::set<std::wstring>& usedNames)
{
    FileReport report;
    // Timed from the handler look-up until the thumbnail is back; writing the PNG is not the handler's time.
    const auto start = std::chrono::steady_clock::now();
    report.result = ExtractThumbnail(file, options, report);
    report.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start).count();
    if (report.result.ok()) {
        report.pngPath = PngPathFor(file, options.outDir, usedNames);
        report.written = SavePng(report);
    }
    return report;
}

std::wstring ReportLine(const std::wstring& file, const FileReport& report)
{
    std::wstring line = file + L": " + HResultName(report.result.hr) + L" " + HResultHex(report.result.hr);
    if (!report.result.ok()) {
        return line + L" " + std::to_wstring(report.milliseconds) + L" ms: " + report.result.message;
    }
    line += L" " + std::to_wstring(report.pixels.width) + L"x" + std::to_wstring(report.pixels.height) + L" "
          + AlphaTypeName(report.alphaType) + L" " + std::to_wstring(report.milliseconds) + L" ms";
    if (!report.written.ok()) {
        return line + L"; " + report.written.message;
    }
    return line + L" -> " + report.pngPath;
}

SheetEntry SheetEntryFor(const std::wstring& file, FileReport& report)
{
    SheetEntry entry;
    entry.name = FileName(file);
    if (report.result.ok()) {
        entry.pixels = std::move(report.pixels);
        entry.usesAlpha = report.usesAlpha;
    } else {
        // The platform's error name is enough in a cell that is only a thumbnail wide.
        std::wstring name = HResultName(report.result.hr);
        const std::wstring win32 = L"HRESULT_FROM_WIN32(";
        if (name.compare(0, win32.size(), win32) == 0) {
            name = name.substr(win32.size(), name.size() - win32.size() - 1);
        }
        entry.failure = name;
        entry.failureCode = HResultHex(report.result.hr);
    }
    return entry;
}

bool WriteSheet(const std::vector<SheetEntry>& entries, const Options& options)
{
    const HRESULT hr = WriteContactSheet(entries, options.size, options.sheetPath);
    if (FAILED(hr)) {
        Print(stdout, L"contact sheet: " + WriteFailure(options.sheetPath, hr));
        return false;
    }
    Print(stdout, L"contact sheet: " + options.sheetPath);
    return true;
}

int Run(int argc, wchar_t** argv)
{
    Options options;
    std::wstring error;
    if (!ParseOptions(argc, argv, options, error)) {
        Print(stderr, L"thumbhost: " + error + L"\nRun \"thumbhost --help\" for usage.");
        return kExitUsage;
    }
    if (options.help) {
        Print(stdout, HelpText());
        return kExitAllMade;
    }
    const ComApartment com;
    if (FAILED(com.Result())) {
        Print(stderr, L"thumbhost: COM cannot be initialised: " + HResultHex(com.Result()));
        return kExitSomeFailed;
    }
    if (!options.outDir.empty()) {
        // A directory that cannot be made shows up as a write failure for each PNG.
        CreateDirectoryW(options.outDir.c_str(), nullptr);
    }
    std::set<std::wstring> usedNames;
    std::vector<SheetEntry> sheet;
    size_t made = 0;
    for (const std::wstring& file : options.files) {
        FileReport report = ThumbnailFile(file, options, usedNames);
        Print(stdout, ReportLine(file, report));
        made += report.Made() ? 1 : 0;
        if (!options.sheetPath.empty()) {
            sheet.push_back(SheetEntryFor(file, report));
        }
    }
    const size_t failed = options.files.size() - made;
    Print(stdout, L"summary: " + std::to_wstring(made) + L" of " + std::to_wstring(options.files.size())
                      + L" thumbnails made, " + std::to_wstring(failed) + L" failed");
    const bool sheetWritten = options.sheetPath.empty() || WriteSheet(sheet, options);
    return failed == 0 && sheetWritten ? kExitAllMade : kExitSomeFailed;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    return HostMain("thumbhost", Run, argc, argv, kExitSomeFailed);
}
