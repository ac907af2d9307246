// Benchmark of the thumbnail server against the least any caller of the renderer must do, and of the
// preview pane against a thumbnail and against itself on a shorter document.
// Prints one table; each figure is a median over repeated runs, and the two sides of each ratio
// are measured alternately in the same run so that a change in the machine's load hits both; a
// ratio's two figures are those of the round whose ratio is the median one.
//
// Usage: torvbench [--quick]   (run by scripts/benchmark; --quick takes fewer repetitions)
#include "shared/com_ptr.h"
#include "shared/result_file.h"
#include "shared/unique_resource.h"
#include "support/private_bytes.h"
#include "tools/previewhost/pane_host.h"

#include <windows.h>
#include <psapi.h>
#include <shobjidl.h>
#include <thumbcache.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// {5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}
const CLSID kClsid = {0x5b1e2c47, 0x93a0, 0x4d8e, {0xa6, 0xf2, 0x0c, 0x71, 0xd4, 0xb9, 0x8e, 0x35}};
const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}";
const IID kIidThumbnailProvider = {0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};
// {DCE41385-8CBA-4016-8DD0-B04B7E46E6B2}
const CLSID kPreviewClsid = {0xdce41385, 0x8cba, 0x4016, {0x8d, 0xd0, 0xb0, 0x4b, 0x7e, 0x46, 0xe6, 0xb2}};
// How long one paint of the pane may take: the renderer's limit and more.
constexpr DWORD kPaintWaitMs = 60000;
const double kMiB = 1024.0 * 1024.0;

using Clock = std::chrono::steady_clock;

// Requests that failed, by the library [0] and the baseline [1]. Wine's CreateProcessW now and
// then fails under load without starting anything; such a run stays in the medians and is counted.
long g_failedRequests[2] = {};
using GetClassObjectFunction = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::wstring OwnDirectory()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L"\\/"));
}

void Fail(const char* what)
{
    std::fprintf(stderr, "torvbench: %s (error %lu)\n", what, GetLastError());
    std::exit(1);
}

// A scratch copy of HKEY_CURRENT_USER in which the benchmark points the per-user render command at
// the renderer it wants, so that the user's own registration is neither used nor changed.
class ScratchRegistry {
public:
    ScratchRegistry() : m_path(L"Software\\TorvThumbBenchmark\\" + std::to_wstring(GetCurrentProcessId()))
    {
        HKEY root = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr)
            != ERROR_SUCCESS) {
            Fail("cannot create the scratch registry key");
        }
        m_root.reset(root);
        RegOverridePredefKey(HKEY_CURRENT_USER, root);
    }
    ~ScratchRegistry()
    {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        m_root.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TorvThumbBenchmark");
    }
    // The library reads the value at every request, so the next request starts this renderer.
    void SetRenderer(const std::wstring& renderer) const
    {
        const std::wstring command = L"\"" + renderer + L"\" --thumb \"%1\" %2 \"%3\"";
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, kClassKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
        const UniqueHKey classKey(key);
        if (RegSetValueExW(key, L"RenderCommand", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                           static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)))
            != ERROR_SUCCESS) {
            Fail("cannot set the render command");
        }
    }

private:
    std::wstring m_path;
    UniqueHKey m_root;
};

// The built DLL, loaded as a host loads it, with a class object per caller.
class Library {
public:
    explicit Library(const std::wstring& path) : m_module(LoadLibraryW(path.c_str()))
    {
        if (!m_module) {
            Fail("cannot load torvthumb.dll");
        }
        m_getClassObject = reinterpret_cast<GetClassObjectFunction>(
            reinterpret_cast<void*>(GetProcAddress(m_module.get(), "DllGetClassObject")));
    }
    IClassFactory* NewFactory() const
    {
        IClassFactory* factory = nullptr;
        if (m_getClassObject(kClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK) {
            Fail("DllGetClassObject failed");
        }
        return factory;
    }

private:
    UniqueModule m_module;
    GetClassObjectFunction m_getClassObject = nullptr;
};

// A whole request as the Shell makes it: new provider, Initialize, GetThumbnail, release. Returns
// the thumbnail's size, 0 x 0 if there was none, and, if asked, a copy of its pixels.
SIZE LibraryRequest(IClassFactory* factory, const std::wstring& document, UINT cx,
                    std::vector<uint8_t>* pixels = nullptr)
{
    IInitializeWithFile* init = nullptr;
    IThumbnailProvider* provider = nullptr;
    if (factory->CreateInstance(nullptr, IID_IInitializeWithFile, reinterpret_cast<void**>(&init)) != S_OK
        || init->Initialize(document.c_str(), STGM_READ) != S_OK
        || init->QueryInterface(kIidThumbnailProvider, reinterpret_cast<void**>(&provider)) != S_OK) {
        Fail("cannot make a provider");
    }
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    const HRESULT hr = provider->GetThumbnail(cx, &bitmap, &alpha);
    if (hr != S_OK) {
        std::fprintf(stderr, "torvbench: GetThumbnail returned 0x%08lX for %ls\n", static_cast<unsigned long>(hr),
                     document.c_str());
        ++g_failedRequests[0];
    }
    BITMAP header{};
    GetObjectW(bitmap, sizeof(header), &header);
    if (pixels && header.bmBits) {
        const auto* bits = static_cast<const uint8_t*>(header.bmBits);
        pixels->assign(bits, bits + size_t(header.bmWidthBytes) * size_t(std::abs(header.bmHeight)));
    }
    DeleteObject(bitmap);
    provider->Release();
    init->Release();
    // A DIB section's height may carry its row order as its sign.
    return SIZE{header.bmWidth, std::abs(header.bmHeight)};
}

// Starts a renderer as the library does: hidden, without a console.
UniqueProcessInformation StartHidden(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    UniqueProcessInformation process;
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                       &info)) {
        process.adopt(info);
    }
    return process;
}

// Names a fresh result file, as the library does, and starts the renderer on it with the library's
// command line, hidden.
UniqueProcessInformation StartRenderer(const std::wstring& renderer, const std::wstring& document, UINT cx,
                                       wchar_t (&resultPath)[MAX_PATH])
{
    wchar_t directory[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, directory);
    if (!GetTempFileNameW(directory, L"tvt", 0, resultPath)) {
        Fail("GetTempFileName failed");
    }
    return StartHidden(L"\"" + renderer + L"\" --thumb \"" + document + L"\" " + std::to_wstring(cx) + L" \""
                       + resultPath + L"\"");
}

// The least a caller of the renderer must do: name a result file, start the same command line
// the same way, wait, read the whole file into a buffer, delete it.
void BaselineRequest(const std::wstring& renderer, const std::wstring& document, UINT cx)
{
    wchar_t resultPath[MAX_PATH] = {};
    const UniqueProcessInformation process = StartRenderer(renderer, document, cx, resultPath);
    if (!process.process) {
        std::fprintf(stderr, "torvbench: the baseline could not start the renderer (error %lu)\n", GetLastError());
        ++g_failedRequests[1];
        DeleteFileW(resultPath);
        return;
    }
    WaitForSingleObject(process.process.get(), INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.process.get(), &exitCode);
    {
        const UniqueFile file(
            CreateFileW(resultPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size{};
        GetFileSizeEx(file.get(), &size);
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(size.QuadPart)]);
        DWORD read = 0;
        if (exitCode != 0 || !ReadFile(file.get(), buffer.get(), static_cast<DWORD>(size.QuadPart), &read, nullptr)
            || read != size.QuadPart) {
            Fail("the baseline read failed");
        }
    }
    DeleteFileW(resultPath);
}

// One round of a side-by-side comparison: the two times and their ratio.
struct Comparison {
    double a = 0;  // seconds
    double b = 0;
    double ratio = 0;  // a over b
};

// Runs a and b alternately, `rounds` times each, a first in even rounds and b first in odd ones.
// The ratio is taken within each round, so that a drift in the machine's load during the run
// (other processes, the page cache) falls on both sides of it alike; the result is the round
// with the median ratio (the lower of the middle two for an even count), so that its two times
// and its ratio agree.
Comparison SideBySide(int rounds, const std::function<void()>& a, const std::function<void()>& b)
{
    std::vector<Comparison> results;
    for (int i = 0; i < rounds; ++i) {
        Comparison round;
        for (int side = 0; side < 2; ++side) {
            const bool runA = (side == 0) == (i % 2 == 0);
            const Clock::time_point start = Clock::now();
            (runA ? a : b)();
            (runA ? round.a : round.b) = Seconds(start);
        }
        round.ratio = round.a / round.b;
        results.push_back(round);
    }
    std::sort(results.begin(), results.end(),
              [](const Comparison& x, const Comparison& y) { return x.ratio < y.ratio; });
    return results[(results.size() - 1) / 2];
}

// The highest private memory seen while work() runs, above the level just before it. The
// sampler is running before that level is taken, so its own stack is not counted.
uint64_t PeakAbove(const std::function<void()>& work)
{
    std::atomic<bool> done{false};
    std::atomic<uint64_t> before{0};
    std::atomic<uint64_t> peak{0};
    std::thread sampler([&] {
        const uint64_t first = testing_support::PrivateBytes();
        peak = first;
        before = first;
        while (!done) {
            const uint64_t now = testing_support::PrivateBytes();
            if (now > peak) {
                peak = now;
            }
        }
    });
    while (before == 0) {
        Sleep(1);
    }
    work();
    done = true;
    sampler.join();
    return peak - before;
}

struct Row {
    std::string measure;
    std::string library;
    std::string baseline;
    double ratio;
    bool higherIsBetter;
    double goal;  // 0: no goal
};

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

void Progress(const Row& row)
{
    std::fprintf(stderr, "%s: %s / %s\n", row.measure.c_str(), row.library.c_str(), row.baseline.c_str());
}

void PrintTable(const std::vector<Row>& rows)
{
    std::printf("\n| Measure | torvthumb | Baseline | Ratio | Goal | Met |\n");
    std::printf("|---|---:|---:|---:|---:|:---:|\n");
    for (const Row& r : rows) {
        std::string goal = "-";
        std::string met = "-";
        std::string ratio = r.ratio > 0 ? Format("%.3f", r.ratio) : "-";
        if (r.goal > 0) {
            goal = (r.higherIsBetter ? ">= " : "<= ") + Format("%.2f", r.goal);
            met = (r.higherIsBetter ? r.ratio >= r.goal : r.ratio <= r.goal) ? "yes" : "no";
        }
        std::printf("| %s | %s | %s | %s | %s | %s |\n", r.measure.c_str(), r.library.c_str(), r.baseline.c_str(),
                    ratio.c_str(), goal.c_str(), met.c_str());
    }
}

void Add(std::vector<Row>& rows, const Row& row)
{
    rows.push_back(row);
    Progress(row);
}

// The trivial renderer's document: the size of the result it writes.
std::wstring WriteDocument(const std::wstring& directory, int width, int height)
{
    const std::wstring path =
        directory + L"\\bench-" + std::to_wstring(width) + L"x" + std::to_wstring(height) + L".txt";
    const std::string text = std::to_string(width) + " " + std::to_string(height) + "\n";
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return path;
}

// A PDF that the build wrote into tests/documents/ (see tests/documents/make-documents).
std::wstring TestDocument(const std::wstring& binDirectory, const wchar_t* name)
{
    const std::wstring relative = binDirectory + L"\\..\\tests\\documents\\" + name;
    wchar_t path[MAX_PATH] = {};
    if (!GetFullPathNameW(relative.c_str(), MAX_PATH, path, nullptr) || GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        Fail("a test document is missing (build the test_documents target)");
    }
    return path;
}

std::string FileKiB(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes);
    return Format("%.1f", attributes.nFileSizeLow / 1024.0);
}

struct Renderers {
    std::wstring real;     // TorvView.exe
    std::wstring trivial;  // benchrender.exe
};

// One request through the library with the given renderer, which must give a thumbnail of this size.
void ExpectThumbnail(IClassFactory* factory, const ScratchRegistry& registry, const std::wstring& renderer,
                     const std::wstring& document, UINT cx, SIZE expected)
{
    registry.SetRenderer(renderer);
    const SIZE size = LibraryRequest(factory, document, cx);
    if (size.cx != expected.cx || size.cy != expected.cy) {
        std::fprintf(stderr, "torvbench: %ls gave %ld x %ld at %u, not %ld x %ld\n", document.c_str(), size.cx, size.cy,
                     cx, expected.cx, expected.cy);
        std::exit(1);
    }
}

// A request with TorvView for a page against the same request with the trivial renderer writing a
// result of the same size: what drawing the page costs above starting a process and moving its pixels.
void AddRealAgainstTrivial(std::vector<Row>& rows, IClassFactory* factory, const ScratchRegistry& registry,
                           const Renderers& renderers, const std::wstring& page, const std::wstring& sameSize, UINT cx,
                           SIZE size, int rounds, double goal)
{
    ExpectThumbnail(factory, registry, renderers.real, page, cx, size);
    ExpectThumbnail(factory, registry, renderers.trivial, sameSize, cx, size);
    const Comparison c = SideBySide(
        rounds,
        [&] {
            registry.SetRenderer(renderers.real);
            LibraryRequest(factory, page, cx);
        },
        [&] {
            registry.SetRenderer(renderers.trivial);
            LibraryRequest(factory, sameSize, cx);
        });
    Add(rows, {"Text page " + std::to_string(size.cx) + " x " + std::to_string(size.cy)
                   + " (ms): TorvView vs trivial renderer",
               Format("%.2f", c.a * 1000), Format("%.2f", c.b * 1000), c.ratio, false, goal});
}

// Two requests with TorvView at 256 whose first pages are the same: a document of 10,000 pages
// against one of a single page, so the ratio is what the other pages cost.
void AddManyPagesAgainstOne(std::vector<Row>& rows, IClassFactory* factory, const ScratchRegistry& registry,
                            const std::wstring& renderer, const std::wstring& manyPages, const std::wstring& onePage,
                            int rounds)
{
    ExpectThumbnail(factory, registry, renderer, manyPages, 256, SIZE{181, 256});
    const Comparison c = SideBySide(rounds, [&] { LibraryRequest(factory, manyPages, 256); },
                                    [&] { LibraryRequest(factory, onePage, 256); });
    Add(rows, {"10,000 pages vs 1 page, TorvView 256 (ms)", Format("%.2f", c.a * 1000),
               Format("%.2f", c.b * 1000), c.ratio, false, 1.2});
}

// The renderer's page mode as the preview DLL starts it: fresh result and page list files, the
// command line, hidden; the page must be drawn.
void PageModeRequest(const std::wstring& renderer, const std::wstring& document, int page, int width)
{
    wchar_t directory[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, directory);
    wchar_t resultPath[MAX_PATH] = {};
    wchar_t pageListPath[MAX_PATH] = {};
    if (!GetTempFileNameW(directory, L"tvt", 0, resultPath) || !GetTempFileNameW(directory, L"tvl", 0, pageListPath)) {
        Fail("GetTempFileName failed");
    }
    const UniqueProcessInformation process =
        StartHidden(L"\"" + renderer + L"\" --page \"" + document + L"\" " + std::to_wstring(page) + L" "
                    + std::to_wstring(width) + L" \"" + resultPath + L"\" \"" + pageListPath + L"\"");
    DWORD exitCode = 1;
    if (process.process) {
        WaitForSingleObject(process.process.get(), INFINITE);
        GetExitCodeProcess(process.process.get(), &exitCode);
    }
    DeleteFileW(resultPath);
    DeleteFileW(pageListPath);
    if (exitCode != 0) {
        Fail("the renderer's page mode did not draw the page");
    }
}

// The last page of a document of 10,000 against the page of a one-page document, in the page mode at
// a preview pane's width: the page mode lists every page's size, so the ratio is what listing the
// other pages and finding the last one cost.
void AddLastOfManyPagesAgainstOne(std::vector<Row>& rows, const std::wstring& renderer, const std::wstring& manyPages,
                                  const std::wstring& onePage, int rounds)
{
    const Comparison c = SideBySide(rounds, [&] { PageModeRequest(renderer, manyPages, 10000, 600); },
                                    [&] { PageModeRequest(renderer, onePage, 1, 600); });
    Add(rows, {"Page 10,000 of 10,000 vs page 1 of 1, TorvView --page 600 (ms)", Format("%.2f", c.a * 1000),
               Format("%.2f", c.b * 1000), c.ratio, false, 0});
}

// A page of CJK text whose font is named and not embedded, drawn with the font installed on the
// machine, against the same page with that font embedded. The named font is not installed, so the
// renderer reads the font list and every listed file's header to choose one by its collection.
void AddInstalledFontAgainstEmbedded(std::vector<Row>& rows, IClassFactory* factory, const ScratchRegistry& registry,
                                     const std::wstring& renderer, const std::wstring& named,
                                     const std::wstring& embedded, int rounds)
{
    registry.SetRenderer(renderer);
    std::vector<uint8_t> fromInstalled;
    std::vector<uint8_t> fromEmbedded;
    LibraryRequest(factory, named, 256, &fromInstalled);
    LibraryRequest(factory, embedded, 256, &fromEmbedded);
    if (fromInstalled.empty() || fromInstalled != fromEmbedded) {
        std::fprintf(stderr, "torvbench: %ls is not drawn as %ls: the font it needs is not installed "
                             "(scripts/benchmark installs it)\n", named.c_str(), embedded.c_str());
        std::exit(1);
    }
    const Comparison c = SideBySide(rounds, [&] { LibraryRequest(factory, named, 256); },
                                    [&] { LibraryRequest(factory, embedded, 256); });
    Add(rows, {"CJK page, installed font vs embedded, TorvView 256 (ms)", Format("%.2f", c.a * 1000),
               Format("%.2f", c.b * 1000), c.ratio, false, 0});
}

// The highest working set of one renderer process, started as the library starts it, from its
// start to its exit. Wine reports the kernel's high-water mark of the process's resident memory
// (VmHWM), which only rises, so the last sample before the process is gone holds the peak; the
// loop samples without pause so that the short time between the last write and the exit is seen.
double RendererPeakBytes(const std::wstring& renderer, const std::wstring& document, UINT cx, DWORD expectedExit)
{
    wchar_t resultPath[MAX_PATH] = {};
    const UniqueProcessInformation process = StartRenderer(renderer, document, cx, resultPath);
    if (!process.process) {
        Fail("cannot start the renderer");
    }
    SIZE_T peak = 0;
    while (WaitForSingleObject(process.process.get(), 0) == WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        if (GetProcessMemoryInfo(process.process.get(), &counters, sizeof(counters))) {
            peak = std::max(peak, counters.PeakWorkingSetSize);
        }
    }
    DWORD exitCode = 1;
    GetExitCodeProcess(process.process.get(), &exitCode);
    DeleteFileW(resultPath);
    if (exitCode != expectedExit) {
        Fail("the renderer's exit code was not the one expected");
    }
    return static_cast<double>(peak);
}

// TorvView's peak memory drawing a page, above Wine's floor: the trivial renderer writing a 1 x 1
// result. The trivial renderer writing the page's result size shows that the measure sees pixels
// (it holds the file in one buffer); TorvView refusing a size of 0 shows what starting it costs
// before it reads the document.
void AddRendererPeakMemory(std::vector<Row>& rows, const Renderers& renderers, const std::wstring& page,
                           const std::wstring& floorDocument, const std::wstring& sameSize, UINT cx, SIZE size,
                           int rounds)
{
    std::vector<double> drawing;
    std::vector<double> trivial;
    std::vector<double> refusing;
    for (int i = 0; i < rounds; ++i) {
        const double floor = RendererPeakBytes(renderers.trivial, floorDocument, cx, 0);
        drawing.push_back(RendererPeakBytes(renderers.real, page, cx, 0) - floor);
        trivial.push_back(RendererPeakBytes(renderers.trivial, sameSize, cx, 0) - floor);
        refusing.push_back(RendererPeakBytes(renderers.real, page, 0, 2) - floor);
    }
    const double pixels = size.cx * size.cy * 4.0;
    Add(rows, {"Renderer peak memory, text page " + std::to_string(size.cx) + " x " + std::to_string(size.cy)
                   + " (MiB above Wine's floor): TorvView vs trivial",
               Format("%.2f", Median(drawing) / kMiB), Format("%.2f", Median(trivial) / kMiB), Median(drawing) / pixels,
               false, 0});
    Add(rows, {"TorvView peak memory refusing size 0 (MiB above Wine's floor)", Format("%.2f", Median(refusing) / kMiB),
               "-", 0, false, 0});
}

// The built preview DLL, loaded as the Shell's preview surrogate loads it; its default render command
// starts TorvView.exe beside it.
class PreviewLibrary {
public:
    explicit PreviewLibrary(const std::wstring& path) : m_module(LoadLibraryW(path.c_str()))
    {
        if (!m_module) {
            Fail("cannot load torvpreview.dll");
        }
        m_getClassObject = reinterpret_cast<GetClassObjectFunction>(
            reinterpret_cast<void*>(GetProcAddress(m_module.get(), "DllGetClassObject")));
    }
    // A new handler initialised with the document, holding the only reference.
    ComPtr<IPreviewHandler> NewHandler(const std::wstring& document) const
    {
        ComPtr<IClassFactory> factory;
        ComPtr<IPreviewHandler> handler;
        ComPtr<IInitializeWithFile> init;
        if (m_getClassObject(kPreviewClsid, IID_IClassFactory, factory.put_void()) != S_OK
            || factory->CreateInstance(nullptr, IID_IPreviewHandler, handler.put_void()) != S_OK
            || handler->QueryInterface(IID_IInitializeWithFile, init.put_void()) != S_OK
            || init->Initialize(document.c_str(), STGM_READ) != S_OK) {
            Fail("cannot make a preview handler");
        }
        return handler;
    }

private:
    UniqueModule m_module;
    GetClassObjectFunction m_getClassObject = nullptr;
};

// From DoPreview until the pane has painted its first page, nothing in view left to draw.
double FirstPaintSeconds(const PreviewLibrary& library, const std::wstring& document, int width, int height)
{
    PaneHost host(width, height);
    ComPtr<IPreviewHandler> handler = library.NewHandler(document);
    host.Attach(handler.get());
    const Clock::time_point start = Clock::now();
    handler->DoPreview();
    const PanePainted painted = host.WaitForPainted(kPaintWaitMs);
    const double seconds = Seconds(start);
    if (!painted.painted || painted.firstPage != 1) {
        Fail("the pane did not paint its first page");
    }
    host.Detach();
    return seconds;
}

// The pane of a document paged through from top to bottom with Page Down, as a reader does.
struct Paging {
    size_t pagesPainted = 0;  // pages that were in view at a paint that left nothing to draw
    size_t pages = 0;
    double longestWait = 0;   // seconds from a Page Down to the paint of what it brought into view
    double seconds = 0;       // the whole way down
    uint64_t peakBytes = 0;   // the highest private memory on the way, above the level before DoPreview
};

Paging PageThrough(const PreviewLibrary& library, const std::wstring& document, size_t pages)
{
    Paging paging;
    paging.pages = pages;
    std::vector<bool> painted(pages + 1, false);
    PaneHost host(600, 800);
    ComPtr<IPreviewHandler> handler = library.NewHandler(document);
    host.Attach(handler.get());
    std::atomic<bool> done{false};
    const uint64_t floor = testing_support::PrivateBytes();
    std::atomic<uint64_t> peak{floor};
    // Bitmaps live as long as their pages are near the view, so a few samples a second see them.
    std::thread sampler([&] {
        while (!done) {
            const uint64_t now = testing_support::PrivateBytes();
            if (now > peak) {
                peak = now;
            }
            Sleep(5);
        }
    });
    const Clock::time_point start = Clock::now();
    handler->DoPreview();
    PanePainted shown = host.WaitForPainted(kPaintWaitMs);
    while (shown.painted && shown.firstPage != 0) {
        for (UINT page = shown.firstPage; page <= shown.lastPage && page <= pages; ++page) {
            painted[page] = true;
        }
        if (shown.lastPage >= pages) {
            break;
        }
        const Clock::time_point pressed = Clock::now();
        host.PressKey(VK_NEXT);
        shown = host.WaitForPainted(kPaintWaitMs);
        paging.longestWait = std::max(paging.longestWait, Seconds(pressed));
    }
    paging.seconds = Seconds(start);
    done = true;
    sampler.join();
    if (!shown.painted) {
        Fail("the pane stopped painting on the way down");
    }
    paging.pagesPainted = static_cast<size_t>(std::count(painted.begin() + 1, painted.end(), true));
    paging.peakBytes = peak - floor;
    host.Detach();
    return paging;
}

// The preview pane's rows: its first page against a thumbnail of the same page at 1024, and a long
// document paged through against a short one.
void AddPreviewRows(std::vector<Row>& rows, IClassFactory* factory, const ScratchRegistry& registry,
                    const Renderers& renderers, const std::wstring& directory, const std::wstring& onePage, int rounds)
{
    const PreviewLibrary library(directory + L"\\torvpreview.dll");
    registry.SetRenderer(renderers.real);
    FirstPaintSeconds(library, onePage, 600, 800);  // loads what the first preview needs
    const Comparison first = SideBySide(rounds, [&] { FirstPaintSeconds(library, onePage, 600, 800); },
                                        [&] { LibraryRequest(factory, onePage, 1024); });
    Add(rows, {"First page in a 600 x 800 pane (ms): DoPreview to painted vs a thumbnail at 1024",
               Format("%.2f", first.a * 1000), Format("%.2f", first.b * 1000), first.ratio, false, 1.2});

    const Paging many = PageThrough(library, TestDocument(directory, L"five-hundred-pages.pdf"), 500);
    const Paging few = PageThrough(library, TestDocument(directory, L"fifty-pages.pdf"), 50);
    Add(rows, {"Paging down 500 pages vs 50: pages painted", std::to_string(many.pagesPainted) + " of 500",
               std::to_string(few.pagesPainted) + " of 50", 0, false, 0});
    Add(rows, {"Paging down 500 pages vs 50: whole way (s)", Format("%.1f", many.seconds), Format("%.1f", few.seconds),
               0, false, 0});
    Add(rows, {"Paging down 500 pages vs 50: longest wait for a page (ms)", Format("%.0f", many.longestWait * 1000),
               Format("%.0f", few.longestWait * 1000), many.longestWait / few.longestWait, false, 0});
    Add(rows, {"Paging down 500 pages vs 50: host's peak private memory above its floor (MiB)",
               Format("%.2f", many.peakBytes / kMiB), Format("%.2f", few.peakBytes / kMiB),
               static_cast<double>(many.peakBytes) / static_cast<double>(std::max<uint64_t>(1, few.peakBytes)), false,
               1.1});
}

}  // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    auto rounds = [quick](int full) { return quick ? std::max(3, full / 6) : full; };
    const std::wstring directory = OwnDirectory();
    const std::wstring dllPath = directory + L"\\torvthumb.dll";
    const std::wstring renderer = directory + L"\\benchrender.exe";
    const Renderers renderers{directory + L"\\TorvView.exe", renderer};
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring document256 = WriteDocument(temp, 256, 256);
    const std::wstring document4096 = WriteDocument(temp, 4096, 4096);
    // The trivial renderer's results in the sizes TorvView gives an A4 page, and the least one.
    const SIZE page256{181, 256};
    const SIZE page1024{724, 1024};
    const std::wstring sameSize256 = WriteDocument(temp, page256.cx, page256.cy);
    const std::wstring sameSize1024 = WriteDocument(temp, page1024.cx, page1024.cy);
    const std::wstring onePixel = WriteDocument(temp, 1, 1);
    const std::wstring onePage = TestDocument(directory, L"one-page-text.pdf");
    const std::wstring tenThousandPages = TestDocument(directory, L"ten-thousand-pages.pdf");
    const std::wstring cjkNamed = TestDocument(directory, L"cjk-chinese-gbk.pdf");
    const std::wstring cjkEmbedded = TestDocument(directory, L"cjk-chinese-gbk-embedded.pdf");
    const double pixels4096 = 4096.0 * 4096.0 * 4.0;
    std::vector<Row> rows;

    ScratchRegistry registry;
    registry.SetRenderer(renderer);

    // 6 first, while nothing else holds the library loaded.
    {
        std::vector<double> times;
        for (int i = 0; i < rounds(150); ++i) {
            const Clock::time_point start = Clock::now();
            {
                Library library(dllPath);
                library.NewFactory()->Release();
            }
            times.push_back(Seconds(start));
        }
        Add(rows, {"Load, class object, unload (ms)", Format("%.3f", Median(times) * 1000), "-", 0, false, 0});
        Add(rows, {"DLL file size (KiB)", FileKiB(dllPath), "-", 0, false, 0});
        Add(rows, {"TorvView file size (KiB)", FileKiB(renderers.real), "-", 0, false, 0});
    }

    Library library(dllPath);
    IClassFactory* factory = library.NewFactory();
    LibraryRequest(factory, document256, 256);  // loads what the first request needs
    BaselineRequest(renderer, document256, 256);

    // 1 and 2: a whole request against the baseline.
    for (const int edge : {256, 4096}) {
        const std::wstring& document = edge == 256 ? document256 : document4096;
        const Comparison c = SideBySide(rounds(edge == 256 ? 60 : 90), [&] { LibraryRequest(factory, document, 256); },
                                        [&] { BaselineRequest(renderer, document, 256); });
        Add(rows, {"Request " + std::to_string(edge) + " x " + std::to_string(edge) + " (ms)",
                   Format("%.2f", c.a * 1000), Format("%.2f", c.b * 1000), c.ratio, false, 1.02});
    }
    // The resolution of the ratios above: the baseline against itself, measured the same way.
    {
        const Comparison c = SideBySide(rounds(90), [&] { BaselineRequest(renderer, document4096, 256); },
                                        [&] { BaselineRequest(renderer, document4096, 256); });
        Add(rows, {"Baseline against itself, 4096 x 4096 (ms)", Format("%.2f", c.a * 1000),
                   Format("%.2f", c.b * 1000), c.ratio, false, 0});
    }

    // 3: reading a 4096 x 4096 result file into the bitmap against a plain read of it.
    {
        wchar_t resultPath[MAX_PATH] = {};
        GetTempFileNameW(temp, L"tvt", 0, resultPath);
        std::wstring commandLine = L"\"" + renderer + L"\" --thumb \"" + document4096 + L"\" 256 \"" + resultPath + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                            &startup, &info)) {
            Fail("cannot start the renderer");
        }
        UniqueProcessInformation process;
        process.adopt(info);
        WaitForSingleObject(process.process.get(), INFINITE);

        auto open = [&] {
            return UniqueFile(CreateFileW(resultPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        };
        const Comparison c = SideBySide(
            rounds(30),
            [&] {
                HBITMAP bitmap = nullptr;
                {
                    const UniqueFile file = open();
                    bitmap = ReadResultFile(file.get());
                }
                if (!bitmap) {
                    Fail("ReadResultFile failed");
                }
                DeleteObject(bitmap);
            },
            [&] {
                const UniqueFile file = open();
                LARGE_INTEGER size{};
                GetFileSizeEx(file.get(), &size);
                std::unique_ptr<uint8_t[]> buffer(new uint8_t[static_cast<size_t>(size.QuadPart)]);
                DWORD read = 0;
                ReadFile(file.get(), buffer.get(), static_cast<DWORD>(size.QuadPart), &read, nullptr);
            });
        DeleteFileW(resultPath);
        // Throughput is the inverse of time: the bitmap's share of the plain read's is b's time over a's.
        Add(rows, {"Read 4096 x 4096 file (MiB/s)", Format("%.0f", pixels4096 / kMiB / c.a),
                   Format("%.0f", pixels4096 / kMiB / c.b), 1 / c.ratio, true, 0.95});
    }

    // 4: peak private memory during a 4096 x 4096 request, bitmap held until it returns.
    {
        std::vector<double> peaks;
        std::vector<double> basePeaks;
        for (int i = 0; i < rounds(9); ++i) {
            peaks.push_back(static_cast<double>(PeakAbove([&] { LibraryRequest(factory, document4096, 256); })));
            basePeaks.push_back(
                static_cast<double>(PeakAbove([&] { BaselineRequest(renderer, document4096, 256); })));
        }
        Add(rows, {"Peak memory, 4096 x 4096 request (MiB above before)", Format("%.1f", Median(peaks) / kMiB),
                        Format("%.1f", Median(basePeaks) / kMiB), Median(peaks) / pixels4096, false, 1.05});
    }

    // 5: two threads, each with its own provider objects, against one thread.
    {
        const int requests = quick ? 10 : 20;
        auto work = [&](int threads) {
            std::vector<std::thread> pool;
            for (int t = 0; t < threads; ++t) {
                pool.emplace_back([&] {
                    IClassFactory* own = library.NewFactory();
                    for (int i = 0; i < requests; ++i) {
                        LibraryRequest(own, document256, 256);
                    }
                    own->Release();
                });
            }
            for (std::thread& thread : pool) {
                thread.join();
            }
        };
        // Two threads do twice the requests: their throughput over one thread's is 2 * t1 / t2.
        const Comparison c = SideBySide(rounds(7), [&] { work(2); }, [&] { work(1); });
        Add(rows, {"Throughput, 256 x 256 (requests/s): 2 threads vs 1", Format("%.1f", 2 * requests / c.a),
                   Format("%.1f", requests / c.b), 2 / c.ratio, true, 1.8});
    }

    // 7 to 9: the real renderer, TorvView.exe.
    AddRealAgainstTrivial(rows, factory, registry, renderers, onePage, sameSize256, 256, page256, rounds(60), 1.5);
    AddRealAgainstTrivial(rows, factory, registry, renderers, onePage, sameSize1024, 1024, page1024, rounds(60), 0);
    AddManyPagesAgainstOne(rows, factory, registry, renderers.real, tenThousandPages, onePage, rounds(60));
    AddLastOfManyPagesAgainstOne(rows, renderers.real, tenThousandPages, onePage, rounds(30));
    AddInstalledFontAgainstEmbedded(rows, factory, registry, renderers.real, cjkNamed, cjkEmbedded, rounds(60));
    AddRendererPeakMemory(rows, renderers, onePage, onePixel, sameSize1024, 1024, page1024, rounds(9));

    // 10 and 11: the preview pane, on the single-threaded apartment a preview host gives it.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    AddPreviewRows(rows, factory, registry, renderers, directory, onePage, rounds(30));

    factory->Release();
    for (const std::wstring& document : {document256, document4096, sameSize256, sameSize1024, onePixel}) {
        DeleteFileW(document.c_str());
    }
    PrintTable(rows);
    std::printf("\nFailed requests (kept in the medians): torvthumb %ld, baseline %ld\n", g_failedRequests[0],
                g_failedRequests[1]);
    return 0;
}
