// libFuzzer target on the renderer's document path: the input is a document, opened from memory,
// whose first page FirstPage places and draws within the memory ceiling, under a stop request like
// the renderer's time budget, with installed fonts for the fonts it names without embedding them;
// a drawn page is then checked against the size asked for.
#include "renderer/first_page.h"
#include "renderer/page_fit.h"
#include "renderer/system_fonts.h"

#include <chrono>
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

int SizeFor(const uint8_t* data, size_t size) noexcept
{
    uint32_t hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 16777619u;
    }
    return kSizes[hash % (sizeof(kSizes) / sizeof(kSizes[0]))];
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

// The pixels are the size that FitToLongerEdge gives the page, and every one of them can be read.
void CheckPage(const FirstPage& page, int longerEdge)
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static DebianFonts installedFonts;
    const int longerEdge = SizeFor(data, size);
    const Bytes bytes{data, size};
    SystemFontLookup systemFonts(installedFonts);
    FirstPage page(kMemoryCeilingBytes, &systemFonts);
    fz_cookie cookie{};
    ExitCode rendered;
    {
        StopRequest stop(cookie);
        rendered = page.Render(DocumentSource{OpenBytes, &bytes}, longerEdge, cookie);
    }
    if (rendered == kExitOk) {
        CheckPage(page, longerEdge);
    }
    return 0;
}
