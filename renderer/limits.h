// The renderer's bounds, so that it ends cleanly well before the DLL's 30-second limit. Plain
// values: the tests and the process's own confinement use them without the engine.
#pragma once

#include <cstddef>
#include <cstdint>

// Engine allocations beyond this many bytes in use at once are refused.
constexpr size_t kMemoryCeilingBytes = size_t(512) << 20;
// What the engine may keep of decoded fonts and images for reuse; well under the ceiling, so that a
// refusal always means the page itself needs too much.
constexpr size_t kEngineStoreBytes = size_t(64) << 20;

// From the start of the render: the engine is asked to stop at the first, and the process ends at
// the second if the engine has not come back.
constexpr uint32_t kTimeBudgetMs = 20000;
constexpr uint32_t kHardStopMs = 25000;
