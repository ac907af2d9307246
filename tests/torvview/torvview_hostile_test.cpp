// Hostile documents through TorvView.exe: thousands of seeded mutations of the samples and the
// generated documents, each rendered by the real renderer as a real process, two at a time. Every run
// must end in a complete result file or a documented code with the result file untouched, well within
// the DLL's 30-second limit, and leave no file behind.
//
//   TORV_HOSTILE_CASES  how many documents (default kDefaultCases)
//   TORV_HOSTILE_SEED   the run's seed (default from the clock); case i uses seed + i * kSeedStep, so
//                       TORV_HOSTILE_SEED=<a case's seed> TORV_HOSTILE_CASES=1 replays that case alone.
#include "shared/unique_resource.h"
#include "renderer/exit_code.h"
#include "support/test_support.h"
#include "thumbnail/thumbnail_request.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Random = std::mt19937_64;

// About five minutes on the two-core build machine under Wine.
constexpr unsigned kDefaultCases = 2000;
constexpr uint64_t kSeedStep = 0x9E3779B97F4A7C15ull;
constexpr int kSizes[] = {1, 64, 256, 1024};
// The DLL stops waiting at kRenderTimeoutMs; a renderer still running this long has hung.
constexpr DWORD kHangMs = 60000;
constexpr unsigned kWorkers = 2;
constexpr int kStartAttempts = 3;

enum Kind { kTruncation, kByteFlips, kCrossReference, kStream, kObject, kSplice, kKindCount };
const char* const kKindNames[kKindCount] = {"truncation", "byte flips", "cross-reference", "stream", "object",
                                            "splice"};

struct SeedDocument {
    std::string name;
    std::string bytes;
};

struct Case {
    uint64_t seed = 0;
    Kind kind = kTruncation;
    std::string from;  // the seed document's name
    std::string what;  // the mutation, in words
    int size = 0;
    std::string bytes;
};

struct Outcome {
    Case c;  // without its bytes
    DWORD exitCode = 0;
    ULONGLONG elapsedMs = 0;
    int startFailures = 0;  // Wine now and then fails a process start under load
    std::string fault;      // empty when the run kept the contract
    std::wstring saved;     // where the document of a faulty run was kept
};

// --- the run's parameters -----------------------------------------------------------------------

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[64] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 64);
    return length > 0 && length < 64 ? std::wstring(value) : std::wstring();
}

uint64_t RunSeed()
{
    const std::wstring text = Environment(L"TORV_HOSTILE_SEED");
    if (!text.empty()) {
        return _wcstoui64(text.c_str(), nullptr, 0);
    }
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart) ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 40);
}

unsigned CaseCount()
{
    const std::wstring text = Environment(L"TORV_HOSTILE_CASES");
    return text.empty() ? kDefaultCases : static_cast<unsigned>(wcstoul(text.c_str(), nullptr, 10));
}

// --- the seed documents -------------------------------------------------------------------------

bool IsSeed(const std::wstring& name)
{
    // Rejected before the engine whatever is changed, or slow or huge on purpose.
    static const wchar_t* const kSkipped[] = {L"damaged.pdf", L"slow-page.pdf", L"huge-image.pdf",
                                              L"huge-keyed-image.pdf", L"deep-resources.pdf", L"deep-forms.pdf",
                                              L"ten-thousand-pages.pdf", L"whitespace-bomb.pdf",
                                              L"operator-bomb.pdf", L"image-bomb.pdf", L"type3-glyph-bomb.pdf",
                                              L"tiny-tiles.pdf"};
    const bool isPdf = name.size() > 4 && name.compare(name.size() - 4, 4, L".pdf") == 0;
    return isPdf && std::none_of(std::begin(kSkipped), std::end(kSkipped), [&](const wchar_t* s) { return name == s; });
}

std::vector<SeedDocument> LoadSeedDocuments()
{
    std::vector<SeedDocument> seeds;
    for (const std::wstring& dir : {tool_testing::SamplesDir(), tool_testing::DocumentsDir()}) {
        std::vector<std::wstring> names = tool_testing::ListDirectory(dir);
        std::sort(names.begin(), names.end());
        for (const std::wstring& name : names) {
            if (IsSeed(name)) {
                const std::vector<BYTE> bytes = tool_testing::ReadFileBytes(dir + L"\\" + name);
                seeds.push_back({tool_testing::Narrow(name), std::string(bytes.begin(), bytes.end())});
            }
        }
    }
    return seeds;
}

// --- finding things in a document ---------------------------------------------------------------

size_t Below(Random& random, size_t bound)
{
    return bound == 0 ? 0 : std::uniform_int_distribution<size_t>(0, bound - 1)(random);
}

template <typename T>
const T& OneOf(Random& random, const std::vector<T>& items)
{
    return items[Below(random, items.size())];
}

std::vector<size_t> FindAll(const std::string& text, const std::string& what)
{
    std::vector<size_t> found;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        found.push_back(at);
    }
    return found;
}

bool IsDelimiter(char c)
{
    return std::strchr(" \t\r\n\f/[]<>()%", c) != nullptr || c == '\0';
}

// The end of the token that starts at begin.
size_t TokenEnd(const std::string& doc, size_t begin)
{
    size_t end = begin + 1;
    while (end < doc.size() && !IsDelimiter(doc[end])) {
        ++end;
    }
    return end;
}

// The number token after at, skipping white space; npos when the next token is not a number.
size_t NumberAfter(const std::string& doc, size_t at)
{
    while (at < doc.size() && std::strchr(" \t\r\n", doc[at]) != nullptr) {
        ++at;
    }
    return at < doc.size() && std::strchr("0123456789+-.", doc[at]) != nullptr ? at : std::string::npos;
}

// Where the cross-reference table's keyword is (not the one in "startxref"), or npos.
size_t XrefKeyword(const std::string& doc)
{
    const size_t at = doc.rfind("\nxref");
    return at == std::string::npos ? at : at + 1;
}

// Stream bodies as [begin, end) pairs, between "stream" and its "endstream".
std::vector<std::pair<size_t, size_t>> StreamBodies(const std::string& doc)
{
    std::vector<std::pair<size_t, size_t>> bodies;
    for (size_t at : FindAll(doc, "stream")) {
        if (at >= 3 && doc.compare(at - 3, 3, "end") == 0) {
            continue;
        }
        size_t begin = at + 6;
        begin += doc.compare(begin, 2, "\r\n") == 0 ? 2 : (begin < doc.size() && doc[begin] == '\n' ? 1 : 0);
        const size_t end = doc.find("endstream", begin);
        if (end != std::string::npos) {
            bodies.emplace_back(begin, end);
        }
    }
    return bodies;
}

const std::vector<std::string>& HostileNumbers()
{
    static const std::vector<std::string> numbers = {
        "0", "-1", "-7", "1", "65535", "65536", "2147483647", "2147483648", "-2147483648", "4294967296",
        "9223372036854775807", "99999999999999999999999999", "0.0001", "-0.5", "3.4e38", "1e999", "."};
    return numbers;
}

std::string RandomBytes(Random& random, size_t count)
{
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(Below(random, 256));
    }
    return bytes;
}

// --- the mutations, one function per kind; each changes the document and says how ---------------

std::string Truncate(std::string& doc, Random& random)
{
    // Half the cuts fall in the tail, where the cross-reference table and the trailer are.
    const size_t xref = XrefKeyword(doc);
    const size_t tail = xref == std::string::npos ? std::min<size_t>(doc.size(), 256) : doc.size() - xref + 16;
    const size_t at = Below(random, 2) == 0 ? Below(random, doc.size())
                                             : doc.size() - 1 - Below(random, std::min(tail, doc.size()));
    const std::string what = "cut at " + std::to_string(at) + " of " + std::to_string(doc.size());
    doc.resize(at);
    return what;
}

std::string FlipBytes(std::string& doc, Random& random)
{
    if (Below(random, 2) == 0) {
        const size_t count = 1 + Below(random, 8);
        for (size_t i = 0; i < count; ++i) {
            doc[Below(random, doc.size())] ^= static_cast<char>(1 + Below(random, 255));
        }
        return std::to_string(count) + " bytes flipped";
    }
    const size_t at = Below(random, doc.size());
    const size_t count = std::min(doc.size() - at, 8 + Below(random, 505));
    const std::string burst = Below(random, 3) == 0 ? std::string(count, static_cast<char>(Below(random, 256)))
                                                     : RandomBytes(random, count);
    doc.replace(at, count, burst);
    return std::to_string(count) + " bytes overwritten at " + std::to_string(at);
}

// Each line of the table that starts with a 10-digit offset.
std::vector<size_t> XrefEntries(const std::string& doc)
{
    std::vector<size_t> entries;
    const size_t xref = XrefKeyword(doc);
    const size_t trailer = doc.find("trailer", xref == std::string::npos ? doc.size() : xref);
    for (size_t line = doc.find('\n', xref); line != std::string::npos && line < trailer; line = doc.find('\n', line + 1)) {
        const size_t begin = line + 1;
        if (begin + 10 < doc.size() && doc[begin + 10] == ' '
            && std::all_of(doc.begin() + begin, doc.begin() + begin + 10, [](char c) { return c >= '0' && c <= '9'; })) {
            entries.push_back(begin);
        }
    }
    return entries;
}

std::string DamageCrossReference(std::string& doc, Random& random)
{
    const std::vector<size_t> entries = XrefEntries(doc);
    const size_t startxref = doc.rfind("startxref");
    const size_t trailer = doc.rfind("trailer");
    switch (Below(random, 5)) {
    case 0:
        if (!entries.empty()) {
            const size_t count = 1 + Below(random, 3);
            for (size_t i = 0; i < count; ++i) {
                char offset[16];
                std::snprintf(offset, sizeof(offset), "%010zu", Below(random, doc.size() + 200));
                doc.replace(OneOf(random, entries), 10, offset);
            }
            return std::to_string(count) + " offsets in the table changed";
        }
        break;
    case 1:
        if (startxref != std::string::npos) {
            const size_t number = NumberAfter(doc, startxref + 9);
            if (number != std::string::npos) {
                const std::string value = Below(random, 2) == 0 ? std::to_string(Below(random, doc.size() + 100))
                                                                : OneOf(random, HostileNumbers());
                doc.replace(number, TokenEnd(doc, number) - number, value);
                return "startxref " + value;
            }
        }
        break;
    case 2:
        if (startxref != std::string::npos) {
            const size_t number = NumberAfter(doc, startxref + 9);
            doc.erase(startxref, (number == std::string::npos ? startxref + 9 : TokenEnd(doc, number)) - startxref);
            return "startxref removed";
        }
        break;
    case 3:
        if (trailer != std::string::npos) {
            static const std::vector<std::string> keys = {"/Root", "/Size", "/Info", "/Encrypt", "/ID"};
            const std::string& key = OneOf(random, keys);
            const size_t at = doc.find(key, trailer);
            if (at != std::string::npos) {
                doc[at + 1] = 'X';
                return "trailer key " + key + " renamed";
            }
            const size_t count = std::min(doc.size() - trailer, 1 + Below(random, 40));
            doc.replace(trailer, count, RandomBytes(random, count));
            return "trailer overwritten";
        }
        break;
    default:
        if (!entries.empty()) {
            // The subsection's line "first count" just before the first entry.
            const size_t line = doc.rfind('\n', entries.front() - 2) + 1;
            const std::string value = OneOf(random, HostileNumbers());
            doc.replace(line, entries.front() - 1 - line, Below(random, 2) == 0 ? "0 " + value : value + " 1");
            return "subsection header " + value;
        }
        break;
    }
    doc.erase(doc.size() - std::min<size_t>(doc.size(), 30));
    return "no table: the last 30 bytes cut";
}

std::string DamageStream(std::string& doc, Random& random)
{
    const std::vector<std::pair<size_t, size_t>> bodies = StreamBodies(doc);
    const std::pair<size_t, size_t> body = OneOf(random, bodies);
    const size_t length = body.second - body.first;
    const std::string where = " in the stream at " + std::to_string(body.first);
    switch (Below(random, 4)) {
    case 0: {
        const size_t count = 1 + Below(random, 8);
        for (size_t i = 0; i < count && length > 0; ++i) {
            doc[body.first + Below(random, length)] ^= static_cast<char>(1 + Below(random, 255));
        }
        return std::to_string(count) + " bytes flipped" + where;
    }
    case 1: {
        const size_t at = body.first + Below(random, length);
        const size_t count = std::min(body.second - at, 4 + Below(random, 256));
        doc.replace(at, count, RandomBytes(random, count));
        return std::to_string(count) + " bytes overwritten" + where;
    }
    case 2: {
        const size_t at = body.first + Below(random, length);
        const size_t count = Below(random, body.second - at + 1);
        doc.erase(at, count);
        return std::to_string(count) + " bytes removed" + where;
    }
    default: {
        const size_t object = doc.rfind(" obj", body.first);
        const size_t key = doc.rfind("/Length ", body.first);
        const size_t number = key != std::string::npos && key > object ? NumberAfter(doc, key + 7) : std::string::npos;
        if (number == std::string::npos) {
            doc.erase(body.first, length);
            return "emptied" + where;
        }
        const std::string value = Below(random, 2) == 0 ? std::to_string(Below(random, 2 * length + 10))
                                                        : OneOf(random, HostileNumbers());
        doc.replace(number, TokenEnd(doc, number) - number, value);
        return "/Length " + value + where;
    }
    }
}

// The number of the object that holds at, or "1".
std::string EnclosingObject(const std::string& doc, size_t at)
{
    const size_t obj = doc.rfind(" 0 obj", at);
    if (obj == std::string::npos) {
        return "1";
    }
    size_t begin = obj;
    while (begin > 0 && doc[begin - 1] >= '0' && doc[begin - 1] <= '9') {
        --begin;
    }
    return begin < obj ? doc.substr(begin, obj - begin) : "1";
}

std::string ReplaceKeyValue(std::string& doc, Random& random)
{
    static const std::vector<std::string> keys = {
        "/Count ", "/Width ", "/Height ", "/BitsPerComponent ", "/Length ", "/Size ", "/Rotate ", "/N ",
        "/Columns ", "/Colors ", "/Predictor ", "/FirstChar ", "/LastChar ", "/Length1 ", "/Ascent ", "/Flags "};
    std::vector<size_t> found;
    for (const std::string& key : keys) {
        for (size_t at : FindAll(doc, key)) {
            if (NumberAfter(doc, at + key.size()) != std::string::npos) {
                found.push_back(at);
            }
        }
    }
    if (found.empty()) {
        return std::string();
    }
    const size_t at = OneOf(random, found);
    const size_t number = NumberAfter(doc, doc.find(' ', at));
    const std::string key = doc.substr(at, doc.find(' ', at) - at);
    const std::string& value = OneOf(random, HostileNumbers());
    doc.replace(number, TokenEnd(doc, number) - number, value);
    return key + " " + value;
}

std::string ResizeArray(std::string& doc, Random& random)
{
    const std::vector<size_t> opens = FindAll(doc, "[");
    if (opens.empty()) {
        return std::string();
    }
    const size_t open = OneOf(random, opens);
    const size_t close = doc.find(']', open);
    if (close == std::string::npos) {
        return std::string();
    }
    const std::string items = doc.substr(open + 1, close - open - 1);
    switch (Below(random, 3)) {
    case 0:
        doc.erase(open + 1, close - open - 1);
        return "array at " + std::to_string(open) + " emptied";
    case 1: {
        const size_t keep = Below(random, items.size() + 1);
        doc.erase(open + 1 + keep, items.size() - keep);
        return "array at " + std::to_string(open) + " cut to " + std::to_string(keep) + " bytes";
    }
    default: {
        const size_t times = 2 + Below(random, 200);
        std::string repeated;
        for (size_t i = 0; i < times; ++i) {
            repeated += items + " ";
        }
        doc.replace(open + 1, items.size(), repeated);
        return "array at " + std::to_string(open) + " repeated " + std::to_string(times) + " times";
    }
    }
}

std::string SwapNames(std::string& doc, Random& random)
{
    static const std::vector<std::string> names = {
        "/Page", "/Pages", "/Catalog", "/Font", "/XObject", "/Image", "/Form", "/FlateDecode", "/DCTDecode",
        "/LZWDecode", "/RunLengthDecode", "/CCITTFaxDecode", "/JBIG2Decode", "/JPXDecode", "/ASCII85Decode",
        "/DeviceCMYK", "/DeviceGray", "/Indexed", "/ICCBased", "/Pattern", "/Type3", "/TrueType", "/Type0",
        "/Contents", "/Resources", "/Kids", "/Parent", "/MediaBox", "/Filter", "/DecodeParms"};
    std::vector<size_t> found;
    for (size_t at : FindAll(doc, "/")) {
        if (at + 1 < doc.size() && !IsDelimiter(doc[at + 1])) {
            found.push_back(at);
        }
    }
    if (found.size() < 2) {
        return std::string();
    }
    size_t first = OneOf(random, found);
    const std::string name = doc.substr(first, TokenEnd(doc, first) - first);
    if (Below(random, 2) == 0) {
        const std::string& other = OneOf(random, names);
        doc.replace(first, name.size(), other);
        return name + " made " + other;
    }
    size_t second = OneOf(random, found);
    if (second < first) {
        std::swap(first, second);
    }
    const std::string a = doc.substr(first, TokenEnd(doc, first) - first);
    const std::string b = doc.substr(second, TokenEnd(doc, second) - second);
    if (first == second || first + a.size() > second) {
        return std::string();
    }
    doc.replace(second, b.size(), a);
    doc.replace(first, a.size(), b);
    return a + " and " + b + " swapped";
}

std::string RemoveObjectKeyword(std::string& doc, Random& random)
{
    const std::string keyword = Below(random, 2) == 0 ? " obj" : "endobj";
    const std::vector<size_t> found = FindAll(doc, keyword);
    if (found.empty()) {
        return std::string();
    }
    const size_t at = OneOf(random, found);
    if (Below(random, 2) == 0) {
        doc.erase(at, keyword.size());
    } else {
        doc.replace(at, keyword.size(), std::string(keyword.size(), ' '));
    }
    return "\"" + keyword + "\" at " + std::to_string(at) + " removed";
}

std::string Redirect(std::string& doc, Random& random)
{
    const std::vector<size_t> found = FindAll(doc, " 0 R");
    if (found.empty()) {
        return std::string();
    }
    const size_t at = OneOf(random, found);
    size_t begin = at;
    while (begin > 0 && doc[begin - 1] >= '0' && doc[begin - 1] <= '9') {
        --begin;
    }
    static const std::vector<std::string> elsewhere = {"9999", "0", "2147483647", "-3", "1"};
    const std::string target = Below(random, 2) == 0 ? EnclosingObject(doc, at) : OneOf(random, elsewhere);
    doc.replace(begin, at - begin, target);
    return "reference at " + std::to_string(begin) + " to " + target + " 0 R";
}

std::string DamageObject(std::string& doc, Random& random)
{
    std::string what;
    for (int attempt = 0; what.empty() && attempt < 20; ++attempt) {
        switch (Below(random, 5)) {
        case 0:
            what = ReplaceKeyValue(doc, random);
            break;
        case 1:
            what = ResizeArray(doc, random);
            break;
        case 2:
            what = SwapNames(doc, random);
            break;
        case 3:
            what = RemoveObjectKeyword(doc, random);
            break;
        default:
            what = Redirect(doc, random);
            break;
        }
    }
    return what.empty() ? "unchanged" : what;
}

std::string Splice(std::string& doc, const SeedDocument& other, Random& random)
{
    const bool own = Below(random, 3) == 0;
    const std::string& source = own ? doc : other.bytes;
    const size_t begin = Below(random, source.size());
    const std::string chunk = source.substr(begin, 1 + Below(random, std::min<size_t>(source.size() - begin, 4096)));
    const size_t at = Below(random, doc.size() + 1);
    const std::string from = own ? std::string("itself") : other.name;
    if (Below(random, 2) == 0) {
        doc.insert(at, chunk);
        return std::to_string(chunk.size()) + " bytes of " + from + " inserted at " + std::to_string(at);
    }
    doc.replace(at, std::min(chunk.size(), doc.size() - at), chunk);
    return std::to_string(chunk.size()) + " bytes of " + from + " written over " + std::to_string(at);
}

// --- making and running a case ------------------------------------------------------------------

bool CanMutate(Kind kind, const std::string& doc)
{
    switch (kind) {
    case kCrossReference:
        return doc.find("startxref") != std::string::npos;
    case kStream:
        return !StreamBodies(doc).empty();
    default:
        return doc.size() > 8;
    }
}

Case MakeCase(uint64_t seed, const std::vector<SeedDocument>& seeds)
{
    Random random(seed);
    Case c;
    c.seed = seed;
    c.kind = static_cast<Kind>(Below(random, kKindCount));
    c.size = kSizes[Below(random, std::size(kSizes))];
    std::vector<const SeedDocument*> fitting;
    for (const SeedDocument& s : seeds) {
        if (CanMutate(c.kind, s.bytes)) {
            fitting.push_back(&s);
        }
    }
    const SeedDocument& from = *OneOf(random, fitting);
    c.from = from.name;
    c.bytes = from.bytes;
    switch (c.kind) {
    case kTruncation:
        c.what = Truncate(c.bytes, random);
        break;
    case kByteFlips:
        c.what = FlipBytes(c.bytes, random);
        break;
    case kCrossReference:
        c.what = DamageCrossReference(c.bytes, random);
        break;
    case kStream:
        c.what = DamageStream(c.bytes, random);
        break;
    case kObject:
        c.what = DamageObject(c.bytes, random);
        break;
    default:
        c.what = Splice(c.bytes, seeds[Below(random, seeds.size())], random);
        break;
    }
    return c;
}

struct RendererRun {
    bool started = false;
    bool finished = false;
    DWORD exitCode = 0;
    ULONGLONG elapsedMs = 0;
    int startFailures = 0;
};

// Starts the renderer as the DLL does and waits for it, at most kHangMs.
RendererRun RunRenderer(const std::wstring& document, int size, const std::wstring& result)
{
    using tool_testing::Quote;
    RendererRun run;
    std::wstring line =
        Quote(tool_testing::ViewerPath()) + L" " + tool_testing::ThumbArguments(document, std::to_wstring(size), result);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    const ULONGLONG started = GetTickCount64();
    while (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                           &info)) {
        if (++run.startFailures == kStartAttempts) {
            return run;
        }
    }
    UniqueProcessInformation process;
    process.adopt(info);
    run.started = true;
    run.finished = WaitForSingleObject(process.process.get(), kHangMs) == WAIT_OBJECT_0;
    run.elapsedMs = GetTickCount64() - started;
    if (!run.finished) {
        TerminateProcess(process.process.get(), 0xFFFFFFFF);
        WaitForSingleObject(process.process.get(), kHangMs);
    }
    GetExitCodeProcess(process.process.get(), &run.exitCode);
    return run;
}

// Empty when the result file is complete for the size asked for: a header of 1 to 4096 each way,
// exactly its pixels, the longer edge the size, every fourth byte 255.
std::string CheckResultFile(const std::wstring& path, int size)
{
    const std::vector<BYTE> bytes = tool_testing::ReadFileBytes(path);
    if (bytes.size() < 8) {
        return "exit 0 with " + std::to_string(bytes.size()) + " bytes in the result file";
    }
    int32_t width = 0;
    int32_t height = 0;
    std::memcpy(&width, bytes.data(), 4);
    std::memcpy(&height, bytes.data() + 4, 4);
    const std::string header = std::to_string(width) + "x" + std::to_string(height);
    if (width < 1 || width > 4096 || height < 1 || height > 4096) {
        return "exit 0 with a header of " + header;
    }
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (bytes.size() != 8 + pixels * 4) {
        return "exit 0 with " + std::to_string(bytes.size()) + " bytes for " + header;
    }
    if (std::max(width, height) != size) {
        return "exit 0 with " + header + " for size " + std::to_string(size);
    }
    for (size_t i = 0; i < pixels; ++i) {
        if (bytes[8 + i * 4 + 3] != 0xFF) {
            return "exit 0 with a fourth byte not 255 at pixel " + std::to_string(i);
        }
    }
    return std::string();
}

std::string FaultOf(const RendererRun& run, const std::wstring& result, int size)
{
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08lX", run.exitCode);
    if (!run.started) {
        return "the renderer did not start";
    }
    if (!run.finished) {
        return "still running after " + std::to_string(kHangMs) + " ms";
    }
    if (run.elapsedMs >= kRenderTimeoutMs) {
        return "took " + std::to_string(run.elapsedMs) + " ms, past the DLL's limit (exit " + code + ")";
    }
    if (run.exitCode == kExitOk) {
        return CheckResultFile(result, size);
    }
    if (run.exitCode < kExitUsage || run.exitCode > kExitResourceLimit) {
        return std::string("exit code ") + code;
    }
    const long long written = tool_testing::FileSize(result);
    return written == 0 ? std::string()
                        : "exit " + std::to_string(run.exitCode) + " with " + std::to_string(written)
                              + " bytes in the result file";
}

// Keeps a faulty document beside this program's temporary directory, which is removed at its end.
std::wstring SaveDocument(const Case& c)
{
    const std::wstring temp = testing_support::TempDir();
    wchar_t name[64];
    std::swprintf(name, 64, L"\\torv-hostile-%016llx.pdf", static_cast<unsigned long long>(c.seed));
    const std::wstring path = temp.substr(0, temp.find_last_of(L'\\')) + name;
    tool_testing::WriteFileBytes(path, c.bytes);
    return path;
}

Outcome RunCase(Case c, unsigned worker)
{
    const std::wstring stem = testing_support::TempDir() + L"\\hostile" + std::to_wstring(worker);
    const std::wstring document = stem + L".pdf";
    const std::wstring result = stem + L".tmp";
    tool_testing::WriteFileBytes(document, c.bytes);
    tool_testing::WriteFileBytes(result, std::string());

    const RendererRun run = RunRenderer(document, c.size, result);
    Outcome outcome;
    outcome.exitCode = run.exitCode;
    outcome.elapsedMs = run.elapsedMs;
    outcome.startFailures = run.startFailures;
    outcome.fault = FaultOf(run, result, c.size);
    if (!outcome.fault.empty()) {
        outcome.saved = SaveDocument(c);
    }
    DeleteFileW(document.c_str());
    DeleteFileW(result.c_str());
    c.bytes.clear();
    outcome.c = std::move(c);
    return outcome;
}

std::vector<Outcome> RunCases(uint64_t seed, unsigned count, const std::vector<SeedDocument>& seeds)
{
    std::vector<Outcome> outcomes(count);
    std::atomic<unsigned> next{0};
    std::vector<std::thread> workers;
    for (unsigned worker = 0; worker < kWorkers; ++worker) {
        workers.emplace_back([&, worker] {
            for (unsigned i = next++; i < count; i = next++) {
                outcomes[i] = RunCase(MakeCase(seed + i * kSeedStep, seeds), worker);
            }
        });
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    return outcomes;
}

void PrintSummary(uint64_t seed, const std::vector<Outcome>& outcomes, ULONGLONG totalMs)
{
    unsigned byKind[kKindCount] = {};
    std::map<DWORD, unsigned> byExitCode;
    const Outcome* longest = nullptr;
    int startFailures = 0;
    for (const Outcome& o : outcomes) {
        ++byKind[o.c.kind];
        ++byExitCode[o.exitCode];
        startFailures += o.startFailures;
        if (!longest || o.elapsedMs > longest->elapsedMs) {
            longest = &o;
        }
    }
    std::printf("hostile run: seed 0x%016" PRIx64 ", %zu cases in %.1f s\n", seed, outcomes.size(), totalMs / 1000.0);
    for (int kind = 0; kind < kKindCount; ++kind) {
        std::printf("  %-16s %u\n", kKindNames[kind], byKind[kind]);
    }
    for (const auto& code : byExitCode) {
        std::printf("  exit %-11lu %u\n", code.first, code.second);
    }
    if (longest) {
        std::printf("  longest run %llu ms: seed 0x%016" PRIx64 ", %s, %s, %s, size %d, exit %lu\n",
                    longest->elapsedMs, longest->c.seed, kKindNames[longest->c.kind], longest->c.from.c_str(),
                    longest->c.what.c_str(), longest->c.size, longest->exitCode);
    }
    std::printf("  process starts that Wine failed and were retried: %d\n", startFailures);
}

TEST(TorvViewHostileTest, EveryMutatedDocumentEndsInAResultOrADocumentedCode)
{
    const uint64_t seed = RunSeed();
    const unsigned count = CaseCount();
    std::printf("hostile run: seed 0x%016" PRIx64 ", %u cases\n", seed, count);
    std::fflush(stdout);
    const std::vector<SeedDocument> seeds = LoadSeedDocuments();
    ASSERT_GE(seeds.size(), 8u) << "the samples and the generated documents are the seeds";

    const ULONGLONG started = GetTickCount64();
    const std::vector<Outcome> outcomes = RunCases(seed, count, seeds);
    const ULONGLONG totalMs = GetTickCount64() - started;

    for (const Outcome& o : outcomes) {
        if (!o.fault.empty()) {
            ADD_FAILURE() << o.fault << "\n  case seed 0x" << std::hex << o.c.seed << std::dec << " ("
                          << kKindNames[o.c.kind] << ": " << o.c.from << ", " << o.c.what << "), size " << o.c.size
                          << ", " << o.elapsedMs << " ms\n  document kept as " << tool_testing::Narrow(o.saved)
                          << "\n  replay: TORV_HOSTILE_SEED=0x" << std::hex << o.c.seed << std::dec
                          << " TORV_HOSTILE_CASES=1";
        }
    }
    const std::vector<std::wstring> left = tool_testing::ListDirectory(testing_support::TempDir());
    EXPECT_EQ(left, std::vector<std::wstring>{L"docs"}) << "files left in the temporary directory";
    EXPECT_TRUE(tool_testing::ListDirectory(testing_support::TempDir() + L"\\docs").empty());
    PrintSummary(seed, outcomes, totalMs);
}

}  // namespace
