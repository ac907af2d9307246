// The confinement's steps, one function each. Nothing here needs more than an unprivileged process
// has: each step is something Windows lets a process do to itself.
#include "renderer/confinement.h"

#include "module/unique_resource.h"

namespace {

StepResult Applied() noexcept
{
    return StepResult{StepOutcome::kApplied, ERROR_SUCCESS};
}

StepResult Failed() noexcept
{
    return StepResult{StepOutcome::kFailed, GetLastError()};
}

// One active process, so that the renderer starts nothing; no UI limits, which would keep the job
// from nesting in one the caller already runs the renderer in (Windows 8 and later nest jobs).
StepResult JoinOwnJob(HANDLE& joined) noexcept
{
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        return Failed();
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_ACTIVE_PROCESS | JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.BasicLimitInformation.ActiveProcessLimit = 1;
    limits.ProcessMemoryLimit = kProcessMemoryLimitBytes;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))
        || !AssignProcessToJobObject(job.get(), GetCurrentProcess())) {
        return Failed();
    }
    // Closing the last handle of a kill-on-close job ends its processes, this one too: the handle
    // stays open until the process ends, and the system closes it then.
    joined = job.release();
    return Applied();
}

bool ReadTokenIntegrityLevel(HANDLE token, DWORD& rid) noexcept
{
    // The label's SID follows the structure in the same buffer.
    alignas(TOKEN_MANDATORY_LABEL) BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size)) {
        return false;
    }
    const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
    const UCHAR count = *GetSidSubAuthorityCount(sid);
    if (count == 0) {
        return false;
    }
    rid = *GetSidSubAuthority(sid, count - 1);
    return true;
}

bool LowerTokenToLow() noexcept
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_DEFAULT, token.put())) {
        return false;
    }
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sid);
    if (!CreateWellKnownSid(WinLowLabelSid, nullptr, sid, &sidSize)) {
        return false;
    }
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Sid = sid;
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    return SetTokenInformation(token.get(), TokenIntegrityLevel, &label, sizeof(label) + GetLengthSid(sid)) != FALSE;
}

using SetPolicyFunction = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

// Windows 8 and later: looked up, so that the renderer still starts on Windows 7 and goes on without.
SetPolicyFunction FindSetPolicy() noexcept
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<SetPolicyFunction>(
                        reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessMitigationPolicy")))
                  : nullptr;
}

// Every policy used here is one DWORD of flags in Windows' own headers, and Windows checks the length.
// mingw-w64 declares the dynamic-code one with 33 bits, 8 bytes: only the flags word is passed.
// A Windows that has the function but not the policy (an earlier build) fails it with
// ERROR_INVALID_PARAMETER.
StepResult SetPolicy(SetPolicyFunction set, PROCESS_MITIGATION_POLICY which, DWORD flags) noexcept
{
    if (!set) {
        return StepResult{StepOutcome::kUnavailable, ERROR_SUCCESS};
    }
    return set(which, &flags, sizeof(flags)) ? Applied() : Failed();
}

// Neither the engine nor the C runtime generates code.
StepResult ProhibitDynamicCode(SetPolicyFunction set) noexcept
{
    PROCESS_MITIGATION_DYNAMIC_CODE_POLICY policy{};
    policy.ProhibitDynamicCode = 1;
    return SetPolicy(set, ProcessDynamicCodePolicy, policy.Flags);
}

StepResult DisableExtensionPoints(SetPolicyFunction set) noexcept
{
    PROCESS_MITIGATION_EXTENSION_POINT_DISABLE_POLICY policy{};
    policy.DisableExtensionPoints = 1;
    return SetPolicy(set, ProcessExtensionPointDisablePolicy, policy.Flags);
}

// Everything the renderer runs is loaded by now; these bound what code a fault could load later.
StepResult RefuseRemoteAndLowLabelImages(SetPolicyFunction set) noexcept
{
    PROCESS_MITIGATION_IMAGE_LOAD_POLICY policy{};
    policy.NoRemoteImages = 1;
    policy.NoLowMandatoryLabelImages = 1;
    return SetPolicy(set, ProcessImageLoadPolicy, policy.Flags);
}

StepResult RequireMicrosoftSignedImages(SetPolicyFunction set) noexcept
{
    PROCESS_MITIGATION_BINARY_SIGNATURE_POLICY policy{};
    policy.MicrosoftSignedOnly = 1;
    return SetPolicy(set, ProcessSignaturePolicy, policy.Flags);
}

// The engine draws its fonts itself; GDI loads none for it.
StepResult DisableNonSystemFonts(SetPolicyFunction set) noexcept
{
    PROCESS_MITIGATION_FONT_DISABLE_POLICY policy{};
    policy.DisableNonSystemFonts = 1;
    return SetPolicy(set, ProcessFontDisablePolicy, policy.Flags);
}

StepResult EnforceStrictHandleChecks(SetPolicyFunction set) noexcept
{
    PROCESS_MITIGATION_STRICT_HANDLE_CHECK_POLICY policy{};
    policy.RaiseExceptionOnInvalidHandleReference = 1;
    policy.HandleExceptionsPermanentlyEnabled = 1;
    return SetPolicy(set, ProcessStrictHandleCheckPolicy, policy.Flags);
}

// Holds only because the renderer never loads user32 or gdi32: a thread that has called into them is
// a GUI thread already, and the policy does not reach it.
StepResult DisallowWin32kCalls(SetPolicyFunction set) noexcept
{
    PROCESS_MITIGATION_SYSTEM_CALL_DISABLE_POLICY policy{};
    policy.DisallowWin32kSystemCalls = 1;
    return SetPolicy(set, ProcessSystemCallDisablePolicy, policy.Flags);
}

}  // namespace

const TokenCalls kProcessToken{ReadIntegrityLevel, LowerTokenToLow};

// Low integrity may read what the user can read, but write to nothing labelled above it, which is
// every file and key of the user's but the few kept for Low processes (LocalLow, AppDataLow); the
// output files' handles were opened for writing before. A caller at Low or below already (the Shell's
// preview surrogate, an app container) leaves nothing to lower, and is not asked to open its token for
// a change it could not make: a token may not be raised, and a sandbox may not grant that access.
StepResult LowerIntegrity(const TokenCalls& token) noexcept
{
    DWORD rid = 0;
    if (token.readLevel(rid) && rid <= SECURITY_MANDATORY_LOW_RID) {
        return Applied();
    }
    return token.lowerToLow() ? Applied() : Failed();
}

bool Confinement::AllowsParsing() const noexcept
{
    return steps[kStepLowIntegrity].outcome == StepOutcome::kApplied;
}

// A sandboxed process's order: in its job, then its token lowered, then the policies, strict handle
// checks and the win32k lockdown last of all, since they turn any later mistake into a fault.
Confinement ConfineProcess() noexcept
{
    Confinement confinement;
    StepResult* steps = confinement.steps;
    steps[kStepJob] = JoinOwnJob(confinement.job);
    steps[kStepLowIntegrity] = LowerIntegrity(kProcessToken);
    const SetPolicyFunction set = FindSetPolicy();
    steps[kStepNoDynamicCode] = ProhibitDynamicCode(set);
    steps[kStepNoExtensionPoints] = DisableExtensionPoints(set);
    steps[kStepImageLoads] = RefuseRemoteAndLowLabelImages(set);
    steps[kStepSignedImages] = RequireMicrosoftSignedImages(set);
    steps[kStepSystemFontsOnly] = DisableNonSystemFonts(set);
    steps[kStepStrictHandles] = EnforceStrictHandleChecks(set);
    steps[kStepNoWin32kCalls] = DisallowWin32kCalls(set);
    return confinement;
}

const char* StepName(ConfinementStep step) noexcept
{
    static const char* const kNames[kStepCount] = {
        "job", "low-integrity", "no-dynamic-code", "no-extension-points", "image-loads",
        "signed-images", "system-fonts-only", "strict-handles", "no-win32k-calls",
    };
    return step >= 0 && step < kStepCount ? kNames[step] : "?";
}

bool ReadIntegrityLevel(DWORD& rid) noexcept
{
    UniqueHandle token;
    return OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) && ReadTokenIntegrityLevel(token.get(), rid);
}
