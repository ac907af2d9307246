#include "stress/stress_support.h"

#include "support/pattern.h"
#include "support/test_support.h"

#include <winternl.h>

#include <chrono>
#include <cstdlib>

namespace stress {

uint64_t SeedFrom(const char* variable)
{
    if (const char* text = std::getenv(variable)) {
        return std::strtoull(text, nullptr, 0);
    }
    return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())
        ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32);
}

long CountFrom(const char* variable, long fallback)
{
    if (const char* text = std::getenv(variable)) {
        const long value = std::strtol(text, nullptr, 0);
        if (value > 0) {
            return value;
        }
    }
    return fallback;
}

namespace {

// One 24-byte entry per handle index: kernel object pointer, owner process id, count, upper handle
// bits, type, user pointer. The layout is the same in Windows and Wine, for both bitnesses.
struct GdiHandleEntry {
    uint64_t object;
    uint16_t processId;
    uint16_t count;
    uint16_t upper;
    uint8_t type;
    uint8_t flags;
    uint64_t user;
};
static_assert(sizeof(GdiHandleEntry) == 24, "one GDI handle table entry");

// THREAD_BASIC_INFORMATION, which winternl.h leaves out.
struct ThreadBasics {
    LONG exitStatus;
    void* tebBaseAddress;
    void* clientId[2];
    ULONG_PTR affinityMask;
    LONG priority;
    LONG basePriority;
};

// The table that the 64-bit PEB's GdiSharedHandleTable names. A 32-bit process under WOW64, and
// under Wine, has a 64-bit TEB and PEB beside its own, WowTebOffset bytes from its TEB, and only the
// 64-bit PEB names the table under Wine. Null where there is none (32-bit Windows). The TEB comes
// from the system rather than NtCurrentTeb(), whose i686 form GCC 12 takes for an out-of-bounds read.
const GdiHandleEntry* GdiSharedHandleTable()
{
    ThreadBasics thread{};
    if (NtQueryInformationThread(GetCurrentThread(), ThreadBasicInformation, &thread, sizeof(thread), nullptr) != 0) {
        return nullptr;
    }
    const auto* teb = static_cast<const uint8_t*>(thread.tebBaseAddress);
#ifndef _WIN64
    const int32_t wowTebOffset = *reinterpret_cast<const int32_t*>(teb + 0xFDC);
    if (wowTebOffset == 0) {
        return nullptr;
    }
    teb += wowTebOffset;
#endif
    const uint64_t peb = *reinterpret_cast<const uint64_t*>(teb + 0x60);  // ProcessEnvironmentBlock
    const uint64_t table = *reinterpret_cast<const uint64_t*>(static_cast<uintptr_t>(peb) + 0xF8);
    return table > UINTPTR_MAX ? nullptr : reinterpret_cast<const GdiHandleEntry*>(static_cast<uintptr_t>(table));
}

}  // namespace

size_t CountGdiObjects()
{
    const size_t kEntries = 0x10000;
    const GdiHandleEntry* table = GdiSharedHandleTable();
    if (!table) {
        return 0;
    }
    const uint16_t self = static_cast<uint16_t>(GetCurrentProcessId());
    size_t count = 0;
    for (size_t i = 0; i < kEntries; ++i) {
        count += table[i].type != 0 && (table[i].processId == self || table[i].processId == 0);
    }
    return count;
}

namespace {

bool GdiCountSeesABitmap()
{
    const size_t before = CountGdiObjects();
    const HBITMAP probe = CreateBitmap(1, 1, 1, 32, nullptr);
    const size_t during = CountGdiObjects();
    DeleteObject(probe);
    return probe && during == before + 1 && CountGdiObjects() == before;
}

}  // namespace

bool GdiObjectsObservable()
{
    static const bool observable = GdiCountSeesABitmap();
    return observable;
}

Resources Resources::Now()
{
    Resources r;
    r.handles = testing_support::CountProcessHandles();
    r.gdiObjects = GdiObjectsObservable() ? CountGdiObjects() : 0;
    r.privateBytes = testing_support::PrivateBytes();
    return r;
}

std::string Describe(const Resources& r)
{
    const std::string gdi =
        GdiObjectsObservable() ? std::to_string(r.gdiObjects) + " GDI objects" : "GDI objects not observable";
    return std::to_string(r.handles) + " handles, " + gdi + ", " + std::to_string(r.privateBytes / 1024)
        + " KiB private";
}

std::vector<uint8_t> BitmapBytes(HBITMAP bitmap, LONG& width, LONG& height)
{
    DIBSECTION section{};
    width = height = 0;
    if (GetObjectW(bitmap, sizeof(section), &section) != sizeof(section) || !section.dsBm.bmBits
        || section.dsBm.bmBitsPixel != 32) {
        return {};
    }
    width = section.dsBm.bmWidth;
    height = section.dsBm.bmHeight;
    const auto* bits = static_cast<const uint8_t*>(section.dsBm.bmBits);
    return std::vector<uint8_t>(bits, bits + static_cast<size_t>(width) * height * 4);
}

bool BitmapHoldsPattern(HBITMAP bitmap, int32_t width, int32_t height, uint32_t seed)
{
    DIBSECTION section{};
    if (GetObjectW(bitmap, sizeof(section), &section) != sizeof(section) || !section.dsBm.bmBits
        || section.dsBm.bmBitsPixel != 32 || section.dsBm.bmWidth != width || section.dsBm.bmHeight != height) {
        return false;
    }
    const auto* bits = static_cast<const uint8_t*>(section.dsBm.bmBits);
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
    for (uint64_t i = 0; i < count; ++i) {
        if (bits[i] != testing_support::PatternByte(i, seed)) {
            return false;
        }
    }
    return true;
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

}  // namespace stress
