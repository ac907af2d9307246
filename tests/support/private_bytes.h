// Committed private memory of this process, shared by the tests and the benchmark.
#pragma once

#include <windows.h>

#include <cstdint>

namespace testing_support {

// In bytes; the pixels of a DIB section are counted here, so a leaked bitmap shows.
inline uint64_t PrivateBytes()
{
    uint64_t total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* address = nullptr; VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
    }
    return total;
}

}  // namespace testing_support
