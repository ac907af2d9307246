// Hostile result files: a large seeded corpus of random and mutated headers and lengths, around
// the 1..4096 bounds and the exact pixel byte count, each written to a disk file and read with
// ReadResultFile exactly as the request reads it. The expected outcome is worked out from the
// file's bytes alone: a bitmap holding the pixel bytes when the header has both edges in 1..4096
// and at least width * height * 4 bytes follow it, else no bitmap.
//
// TORV_CORPUS_SEED replays a corpus (the seed is printed); TORV_CORPUS_CASES sets its size.
#include "stress/stress_support.h"
#include "support/test_support.h"
#include "shared/result_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

using namespace testing_support;

namespace {

enum Family { kRandomHeader, kBoundaryHeader, kShortFile, kMutated, kValid, kFamilyCount };
const char* const kFamilyNames[kFamilyCount] = {"random header", "boundary header", "short file", "mutated",
                                                "valid"};

struct CorpusCase {
    Family family = kValid;
    std::vector<uint8_t> prefix;  // bytes before the result file starts; the read begins after them
    std::vector<uint8_t> bytes;   // the result file
};

const int32_t kBoundaries[] = {INT_MIN, INT_MIN + 1, -65536, -4097, -4096, -1, 0, 1, 2, 3, 4095, 4096, 4097,
                               4100, 8192, 0x8000, 0xFFFF, 0x10000, 0x10001, 0x20000000, 0x40000000,
                               0x40000001, 0x7FFFFFFE, INT_MAX};

void PutHeader(std::vector<uint8_t>& bytes, int32_t width, int32_t height)
{
    bytes.resize(std::max<size_t>(bytes.size(), 8));
    std::memcpy(&bytes[0], &width, 4);
    std::memcpy(&bytes[4], &height, 4);
}

void AppendRandom(stress::Random& rng, std::vector<uint8_t>& bytes, size_t count)
{
    const size_t start = bytes.size();
    bytes.resize(start + count);
    for (size_t i = 0; i < count; i += 8) {
        const uint64_t word = rng.Next();
        std::memcpy(&bytes[start + i], &word, std::min<size_t>(8, count - i));
    }
}

// How many pixel bytes to put after a header: mostly at and around the exact count, where an
// off-by-one would show; sometimes far short or far over. Stays small when the exact count is
// huge or meaningless.
size_t PixelLength(stress::Random& rng, int32_t width, int32_t height)
{
    const uint64_t exact = static_cast<uint64_t>(static_cast<uint32_t>(width)) * static_cast<uint32_t>(height) * 4;
    const uint64_t kLargest = 1u << 20;
    if (width <= 0 || height <= 0 || exact > kLargest) {
        return static_cast<size_t>(rng.Between(0, 4096));
    }
    switch (rng.Between(0, 6)) {
    case 0: return static_cast<size_t>(exact - 1);
    case 1: return static_cast<size_t>(exact);
    case 2: return static_cast<size_t>(exact + 1);
    case 3: return static_cast<size_t>(exact - std::min<uint64_t>(exact, rng.Between(1, 8)));
    case 4: return static_cast<size_t>(exact + rng.Between(1, 4096));
    case 5: return static_cast<size_t>(rng.Between(0, static_cast<int64_t>(exact)));
    default: return 0;
    }
}

int32_t SmallEdge(stress::Random& rng)
{
    return static_cast<int32_t>(rng.Chance(80) ? rng.Between(1, 64) : rng.Between(65, 512));
}

CorpusCase MakeCase(stress::Random& rng)
{
    CorpusCase c;
    c.family = static_cast<Family>(rng.Between(0, kFamilyCount - 1));
    switch (c.family) {
    case kRandomHeader: {
        const int32_t width = static_cast<int32_t>(rng.Next());
        const int32_t height = static_cast<int32_t>(rng.Next());
        PutHeader(c.bytes, width, height);
        AppendRandom(rng, c.bytes, static_cast<size_t>(rng.Between(0, 4096)));
        break;
    }
    case kBoundaryHeader: {
        int32_t width = rng.Pick(kBoundaries);
        int32_t height = rng.Chance(50) ? rng.Pick(kBoundaries) : SmallEdge(rng);
        if (rng.Chance(50)) {
            std::swap(width, height);
        }
        PutHeader(c.bytes, width, height);
        AppendRandom(rng, c.bytes, PixelLength(rng, width, height));
        break;
    }
    case kShortFile: {
        PutHeader(c.bytes, SmallEdge(rng), SmallEdge(rng));
        c.bytes.resize(static_cast<size_t>(rng.Between(0, 7)));
        break;
    }
    case kMutated: {
        const int32_t width = SmallEdge(rng);
        const int32_t height = SmallEdge(rng);
        PutHeader(c.bytes, width, height);
        AppendRandom(rng, c.bytes, static_cast<size_t>(width) * height * 4);
        switch (rng.Between(0, 4)) {
        case 0: c.bytes[rng.Between(0, 7)] ^= static_cast<uint8_t>(1u << rng.Between(0, 7)); break;
        case 1: c.bytes[rng.Between(0, 7)] = static_cast<uint8_t>(rng.Next()); break;
        case 2: c.bytes[rng.Chance(50) ? 3 : 7] ^= 0x80; break;  // the sign bit of an edge
        case 3: c.bytes.resize(static_cast<size_t>(rng.Between(0, static_cast<int64_t>(c.bytes.size())))); break;
        default: AppendRandom(rng, c.bytes, static_cast<size_t>(rng.Between(1, 4096))); break;
        }
        break;
    }
    case kValid:
    case kFamilyCount: {
        static const int32_t edges[] = {1, 2, 4095, 4096};
        int32_t width = SmallEdge(rng);
        int32_t height = rng.Chance(20) ? rng.Pick(edges) : SmallEdge(rng);
        if (height > 512) {
            width = static_cast<int32_t>(rng.Between(1, 16));
        }
        if (rng.Chance(50)) {
            std::swap(width, height);
        }
        PutHeader(c.bytes, width, height);
        AppendRandom(rng, c.bytes, static_cast<size_t>(width) * height * 4
                                       + (rng.Chance(30) ? static_cast<size_t>(rng.Between(1, 4096)) : 0));
        break;
    }
    }
    // The read starts at the handle's position, not at the start of the file.
    if (rng.Chance(10)) {
        PutHeader(c.prefix, 1, 1);
        AppendRandom(rng, c.prefix, static_cast<size_t>(rng.Between(0, 12)));
    }
    return c;
}

// A 4096 x 4096 header followed by delta bytes more or fewer than its exact pixel count.
CorpusCase LargestCase(uint64_t seed, int64_t delta)
{
    CorpusCase c;
    c.family = kBoundaryHeader;
    PutHeader(c.bytes, 4096, 4096);
    stress::Random rng(seed);
    AppendRandom(rng, c.bytes, static_cast<size_t>(int64_t{4096} * 4096 * 4 + delta));
    return c;
}

// The contract, from the bytes alone.
bool ExpectBitmap(const std::vector<uint8_t>& bytes, int32_t& width, int32_t& height)
{
    if (bytes.size() < 8) {
        return false;
    }
    std::memcpy(&width, &bytes[0], 4);
    std::memcpy(&height, &bytes[4], 4);
    if (width < 1 || width > 4096 || height < 1 || height > 4096) {
        return false;
    }
    return bytes.size() - 8 >= static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
}

// One disk file, rewritten for every case, read through the same kind of handle the request uses.
class CaseFile {
public:
    CaseFile()
        : m_file(CreateFileW((TempDir() + L"\\corpus.bin").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~CaseFile()
    {
        if (m_file != INVALID_HANDLE_VALUE) {
            CloseHandle(m_file);
        }
        DeleteFileW((TempDir() + L"\\corpus.bin").c_str());
    }
    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }

    // Leaves the position at the start of the result file.
    bool Write(const CorpusCase& c)
    {
        return Seek(0) && WriteAll(c.prefix) && WriteAll(c.bytes) && SetEndOfFile(m_file) && Seek(c.prefix.size());
    }
    uint64_t Position() const
    {
        LARGE_INTEGER position{};
        SetFilePointerEx(m_file, LARGE_INTEGER{}, &position, FILE_CURRENT);
        return static_cast<uint64_t>(position.QuadPart);
    }
    HANDLE Handle() const { return m_file; }

private:
    bool Seek(uint64_t offset)
    {
        LARGE_INTEGER to{};
        to.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(m_file, to, nullptr, FILE_BEGIN) != FALSE;
    }
    bool WriteAll(const std::vector<uint8_t>& bytes)
    {
        DWORD written = 0;
        return bytes.empty()
            || (WriteFile(m_file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)
                && written == bytes.size());
    }

    HANDLE m_file;
};

// Checks one case; returns a description of what went wrong, or an empty string.
std::string CheckCase(CaseFile& file, const CorpusCase& c)
{
    if (!file.Write(c)) {
        return "the case could not be written";
    }
    int32_t width = 0;
    int32_t height = 0;
    const bool expected = ExpectBitmap(c.bytes, width, height);
    HBITMAP bitmap = ReadResultFile(file.Handle());
    std::string problem;
    if (!expected) {
        if (bitmap) {
            problem = "a bitmap for a file that must be refused";
        }
    } else if (!bitmap) {
        problem = "no bitmap for a valid file";
    } else {
        LONG bitmapWidth = 0;
        LONG bitmapHeight = 0;
        const std::vector<uint8_t> pixels = stress::BitmapBytes(bitmap, bitmapWidth, bitmapHeight);
        const size_t pixelBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
        if (bitmapWidth != width || bitmapHeight != height) {
            problem = "bitmap size differs from the header";
        } else if (pixels.size() != pixelBytes || !std::equal(pixels.begin(), pixels.end(), c.bytes.begin() + 8)) {
            problem = "bitmap pixels differ from the file";
        } else if (file.Position() != c.prefix.size() + 8 + pixelBytes) {
            problem = "read past the pixel data";
        }
    }
    if (bitmap && !DeleteObject(bitmap)) {
        problem += "; the handle is not a GDI object";
    }
    return problem;
}

TEST(ResultFileCorpus, EveryOutcomeMatchesTheBytesAndNothingLeaks)
{
    const uint64_t seed = stress::SeedFrom("TORV_CORPUS_SEED");
    const long cases = stress::CountFrom("TORV_CORPUS_CASES", 50000);
    std::printf("corpus seed 0x%016llx (TORV_CORPUS_SEED replays it), %ld cases (TORV_CORPUS_CASES)\n",
                static_cast<unsigned long long>(seed), cases);

    CaseFile file;
    ASSERT_TRUE(file.IsOpen());
    // Both the platform and this test allocate on first use; the baseline comes after one case.
    EXPECT_EQ(CheckCase(file, LargestCase(seed, 0)), "");
    const stress::Resources before = stress::Resources::Now();
    const auto start = std::chrono::steady_clock::now();

    long perFamily[kFamilyCount] = {};
    long valid = 0;
    long mismatches = 0;
    stress::Random rng(seed);
    const long total = cases + 3;
    for (long i = 0; i < total; ++i) {
        // The largest bitmap at and around its exact length, then the random part of the corpus.
        const CorpusCase c = i < 3 ? LargestCase(seed, i - 1) : MakeCase(rng);
        int32_t width = 0;
        int32_t height = 0;
        valid += ExpectBitmap(c.bytes, width, height);
        ++perFamily[c.family];
        const std::string problem = CheckCase(file, c);
        if (!problem.empty() && ++mismatches <= 10) {
            int32_t header[2] = {};
            std::memcpy(header, c.bytes.data(), std::min<size_t>(8, c.bytes.size()));
            ADD_FAILURE() << "case " << i << " (" << kFamilyNames[c.family] << ", header " << header[0] << " x "
                          << header[1] << ", " << c.bytes.size() << " bytes after " << c.prefix.size()
                          << " prefix bytes): " << problem;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const stress::Resources after = stress::Resources::Now();

    std::printf("%ld cases in %.1f s: %ld valid, %ld refused\n", total, seconds, valid, total - valid);
    for (int f = 0; f < kFamilyCount; ++f) {
        std::printf("  %-16s %ld\n", kFamilyNames[f], perFamily[f]);
    }
    std::printf("before: %s\nafter:  %s\n", stress::Describe(before).c_str(), stress::Describe(after).c_str());
    EXPECT_EQ(mismatches, 0) << "seed 0x" << std::hex << seed;
    EXPECT_GT(valid, cases / 10) << "the corpus must exercise the accepting path too";
    EXPECT_EQ(after.handles, before.handles);
    if (stress::GdiObjectsObservable()) {
        EXPECT_EQ(after.gdiObjects, before.gdiObjects);
    }
    // Heap growth from the corpus's own buffers is allowed; a leaked DIB section per case is not.
    EXPECT_LE(after.privateBytes, before.privateBytes + 1024 * 1024);
}

}  // namespace
