// Helpers shared by the stress tests: a replayable random source, resource figures of the
// process, and the pixels of a bitmap.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace stress {

// splitmix64: the same sequence from the same seed with any compiler and standard library, so
// that a printed seed replays a run exactly.
class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [low, high].
    int64_t Between(int64_t low, int64_t high)
    {
        return low + static_cast<int64_t>(Next() % static_cast<uint64_t>(high - low + 1));
    }
    bool Chance(unsigned percent) { return Next() % 100 < percent; }
    template <typename T, size_t N>
    const T& Pick(const T (&items)[N])
    {
        return items[Next() % N];
    }

private:
    uint64_t m_state;
};

// The seed from the environment variable if set (decimal or 0x-hex), else a fresh one.
uint64_t SeedFrom(const char* variable);
// A positive count from the environment variable if set, else the default.
long CountFrom(const char* variable, long fallback);

// Live GDI objects of this process, from the GDI handle table the PEB points at (GetGuiResources
// is always 0 in Wine). Windows marks each entry with its owner; Wine's table is private to the
// process and leaves the owner 0.
size_t CountGdiObjects();

// Whether CountGdiObjects sees a bitmap come and go in this process (tried once). Where it does
// not, equal GDI figures would prove nothing: the tests then compare them not at all, say so in
// their output, and rely on what they can observe (handles, private memory, DllCanUnloadNow).
bool GdiObjectsObservable();

struct Resources {
    size_t handles = 0;
    size_t gdiObjects = 0;  // 0 where GDI objects are not observable
    uint64_t privateBytes = 0;

    static Resources Now();
};
// "<n> handles, <n> GDI objects, <n> KiB private", or "GDI objects not observable" in the middle.
std::string Describe(const Resources& r);

// The pixel memory of a 32-bit DIB section and its size; empty if it is not one.
std::vector<uint8_t> BitmapBytes(HBITMAP bitmap, LONG& width, LONG& height);

// Reads the whole of a bitmap's pixel memory and compares it with the pattern bytes
// PatternByte(0.., seed); true when equal.
bool BitmapHoldsPattern(HBITMAP bitmap, int32_t width, int32_t height, uint32_t seed);

std::string Narrow(const std::wstring& text);

}  // namespace stress
