// The renderer's confinement: what it takes away from itself once its files are open and before the
// engine reads a byte of the document, so that a fault a document steers holds as little power as
// Windows lets an unprivileged process give up.
#pragma once

#include "renderer/limits.h"

#include <windows.h>

#include <cstddef>

// The job's limit on the process's committed memory: the engine's ceiling, and room for the program,
// its stacks and the heap's own bookkeeping on the engine's blocks.
constexpr size_t kProcessMemoryLimitBytes = kMemoryCeilingBytes + (size_t(128) << 20);

// The restrictions, in the order they are applied.
enum ConfinementStep : int {
    kStepJob,                // a job of its own: one active process, the memory limit, killed with its last handle
    kStepLowIntegrity,       // the process token at Low integrity
    kStepNoDynamicCode,      // no new executable memory
    kStepNoExtensionPoints,  // no AppInit DLLs, layered service providers, global hooks or legacy IMEs
    kStepImageLoads,         // no images from remote shares or with the Low label
    kStepSignedImages,       // only images that Microsoft signed
    kStepSystemFontsOnly,    // GDI loads no font from outside the system's fonts folder
    kStepStrictHandles,      // using a handle that is not valid ends the process
    kStepNoWin32kCalls,      // no system call into the window manager or GDI
    kStepCount,
};

enum class StepOutcome {
    kApplied,
    kUnavailable,  // the running Windows does not have it
    kFailed,
};

struct StepResult {
    StepOutcome outcome = StepOutcome::kUnavailable;
    DWORD error = ERROR_SUCCESS;  // the failed call's last error
};

struct Confinement {
    StepResult steps[kStepCount];
    // The process's own job, open until the process ends (closing it would end the process); null
    // unless the job step was applied.
    HANDLE job = nullptr;

    // False when the renderer must not parse: when the token could not be lowered. Every other step
    // may be missing or fail and the renderer goes on.
    bool AllowsParsing() const noexcept;
};

// Applies every step the running Windows has, in the order of ConfinementStep, and says what
// became of each. Irreversible: nothing the process does afterwards can undo a step.
Confinement ConfineProcess() noexcept;

// A short name for the step, as the confinement report writes it.
const char* StepName(ConfinementStep step) noexcept;

// The integrity level of the process's token, a SECURITY_MANDATORY_*_RID; false if it cannot be read.
bool ReadIntegrityLevel(DWORD& rid) noexcept;

// The token step's two calls, apart so that a test can show what the step does at each level (Wine
// lowers nothing and reads every token back at High).
struct TokenCalls {
    bool (*readLevel)(DWORD& rid) noexcept;  // the current level, as ReadIntegrityLevel
    bool (*lowerToLow)() noexcept;           // the token labelled Low; false with the last error set
};
// The calls on this process's own token.
extern const TokenCalls kProcessToken;

// The token step: applied, without a change, for a token at Low or below already; otherwise applied
// once the token was lowered to Low, or failed with the lowering's error.
StepResult LowerIntegrity(const TokenCalls& token) noexcept;
