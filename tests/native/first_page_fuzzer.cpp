// libFuzzer target on the renderer's document path: the input is a document, opened from memory,
// whose first page DocumentPage places and draws within the memory ceiling, or whose pages it lists
// and one of which it draws fitted to a width, under a stop request like the renderer's time budget,
// with installed fonts for the fonts it names without embedding them; a drawn page is then checked
// against the size asked for, and the list against the page list's rules.
#include "renderer/document_page.h"
#include "renderer/page_fit.h"
#include "renderer/system_fonts.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// The renderer asks the engine to stop after 20 s and ends the process 5 s later. Here the stop
// request comes after one second, so that slow inputs cost little; libFuzzer's -timeout (set by
// tests/native/run-fuzzer, far above this) then catches only work that the request does not reach.
constexpr std::chrono::milliseconds kStopAfter(1000);

// The sizes asked for: mostly the Shell's usual 256, sometimes the extremes, chosen by a hash of
// the whole input so that the document itself is not changed and a run can be repeated.
constexpr int kSizes[] = {256, 256, 256, 256, 256, 256, 256, 256, 1, 2, 3, 17, 96, 181, 1000, 1024, 4096};

// Every input goes through the thumbnail's first page; one in four also through the page mode, for
// one of its first four pages.
struct Request {
    int size;
    bool pageMode;
    int pageNumber;
};

Request RequestFor(const uint8_t* data, size_t size) noexcept
{
    uint32_t hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 16777619u;
    }
    const uint32_t sizeCount = sizeof(kSizes) / sizeof(kSizes[0]);
    const uint32_t rest = hash / sizeCount;
    return Request{kSizes[hash % sizeCount], rest % 4 == 0, static_cast<int>(1 + (rest / 4) % 4)};
}

// Sets the cookie's abort flag once kStopAfter has passed, unless destroyed first.
class StopRequest {
public:
    explicit StopRequest(fz_cookie& cookie) : m_thread(&StopRequest::Wait, this, std::ref(cookie)) {}
    ~StopRequest()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

private:
    void Wait(fz_cookie& cookie)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_wake.wait_for(lock, kStopAfter, [this] { return m_finished; })) {
            cookie.abort = 1;
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_finished = false;
    std::thread m_thread;
};

volatile uint8_t g_sink;

[[noreturn]] void Fail(const char* what, int a, int b)
{
    std::fprintf(stderr, "first_page_fuzzer: %s (%d, %d)\n", what, a, b);
    std::abort();
}

// The fonts scripts/setup installs from Debian's packages, listed under the names Windows gives them
// in its font list: Japanese, Chinese (a collection of two faces), Korean serif and sans, and Latin.
// Always the same files in the same order, so that a run repeats.
struct ListedFont {
    const char* listing;
    const char* path;
};
constexpr ListedFont kListedFonts[] = {
    {"IPAGothic (TrueType)", "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf"},
    {"IPAMincho (TrueType)", "/usr/share/fonts/opentype/ipafont-mincho/ipam.ttf"},
    {"WenQuanYi Micro Hei & WenQuanYi Micro Hei Mono (TrueType)", "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"},
    {"NanumGothic (TrueType)", "/usr/share/fonts/truetype/nanum/NanumGothic.ttf"},
    {"NanumMyeongjo (TrueType)", "/usr/share/fonts/truetype/nanum/NanumMyeongjo.ttf"},
    {"DejaVu Sans (TrueType)", "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"},
    {"DejaVu Sans Bold (TrueType)", "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"},
    {"DejaVu Serif (TrueType)", "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"},
};

// The listed fonts' files, read once for the whole run; each input gets a lookup of its own over them.
class DebianFonts final : public InstalledFonts {
public:
    DebianFonts()
    {
        for (const ListedFont& font : kListedFonts) {
            std::ifstream file(font.path, std::ios::binary);
            if (!file) {
                std::fprintf(stderr, "first_page_fuzzer: %s is missing (scripts/setup installs it)\n", font.path);
                Fail("an installed font is missing", 0, 0);
            }
            m_listing.emplace_back(font.listing);
            m_files.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        }
    }

    const std::vector<std::string>& Listing() override { return m_listing; }

    FontBytes Bytes(size_t entry) noexcept override
    {
        if (entry >= m_files.size()) {
            return FontBytes{};
        }
        return FontBytes{m_files[entry].data(), m_files[entry].size()};
    }

private:
    std::vector<std::string> m_listing;
    std::vector<std::vector<unsigned char>> m_files;
};

struct Bytes {
    const uint8_t* data;
    size_t size;
};

fz_stream* OpenBytes(fz_context* ctx, const void* what)
{
    const Bytes& bytes = *static_cast<const Bytes*>(what);
    return fz_open_memory(ctx, bytes.data, bytes.size);
}

// The pixels are the size that FitToLongerEdge gives the page.
void CheckFirstPage(const DocumentPage& page, int longerEdge)
{
    const RgbPixels pixels = page.Pixels();
    const fz_rect bounds = page.PageBounds();
    const PixelSize fitted = FitToLongerEdge(bounds.x1 - bounds.x0, bounds.y1 - bounds.y0, longerEdge);
    if (pixels.width != fitted.width || pixels.height != fitted.height) {
        Fail("the pixels are not the size fitted to the page", pixels.width, pixels.height);
    }
    if ((pixels.width > pixels.height ? pixels.width : pixels.height) != longerEdge) {
        Fail("the longer edge is not the size asked for", pixels.width, pixels.height);
    }
}

// Every listed size can be fitted, and the pixels are the size that FitToWidth gives the listed page.
void CheckListedPage(const DocumentPage& page, int pageNumber, int width)
{
    const std::vector<PageSizePt>& pages = page.Pages();
    if (pages.empty() || pages.size() > kMaxPreviewPages || size_t(pageNumber) > pages.size()) {
        Fail("the page list's length", int(pages.size()), pageNumber);
    }
    for (const PageSizePt& listed : pages) {
        if (!(listed.width > 0.0f) || !(listed.height > 0.0f) || !std::isfinite(listed.width)
            || !std::isfinite(listed.height)) {
            Fail("a listed size is not finite and positive", int(listed.width), int(listed.height));
        }
    }
    const PageSizePt listed = pages[size_t(pageNumber) - 1];
    const PixelSize fitted = FitToWidth(listed.width, listed.height, width);
    const RgbPixels pixels = page.Pixels();
    if (pixels.width != fitted.width || pixels.height != fitted.height || pixels.height > kMaxPageWidth) {
        Fail("the pixels are not the size fitted to the listed page", pixels.width, pixels.height);
    }
}

// Every pixel can be read.
void ReadPixels(const DocumentPage& page)
{
    const RgbPixels pixels = page.Pixels();
    if (pixels.stride < ptrdiff_t(pixels.width) * 3) {
        Fail("rows overlap", int(pixels.stride), pixels.width);
    }
    // AddressSanitizer checks each read; the sink keeps the compiler from dropping them.
    uint8_t seen = 0;
    for (int y = 0; y < pixels.height; ++y) {
        const uint8_t* row = pixels.samples + y * pixels.stride;
        for (int x = 0; x < pixels.width * 3; ++x) {
            seen ^= row[x];
        }
    }
    g_sink = seen;
}

ExitCode RenderUnderStopRequest(DocumentPage& page, const Request& request, bool pageMode, const Bytes& bytes)
{
    const DocumentSource source{OpenBytes, &bytes};
    fz_cookie cookie{};
    StopRequest stop(cookie);
    return pageMode ? page.RenderListedPage(source, request.pageNumber, request.size, cookie)
                    : page.RenderFirstPage(source, request.size, cookie);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static DebianFonts installedFonts;
    const Request request = RequestFor(data, size);
    const Bytes bytes{data, size};
    {
        SystemFontLookup systemFonts(installedFonts);
        DocumentPage page(kMemoryCeilingBytes, &systemFonts);
        if (RenderUnderStopRequest(page, request, false, bytes) == kExitOk) {
            CheckFirstPage(page, request.size);
            ReadPixels(page);
        }
    }
    if (request.pageMode) {
        SystemFontLookup systemFonts(installedFonts);
        DocumentPage page(kMemoryCeilingBytes, &systemFonts);
        if (RenderUnderStopRequest(page, request, true, bytes) == kExitOk) {
            CheckListedPage(page, request.pageNumber, request.size);
            ReadPixels(page);
        }
    }
    return 0;
}
