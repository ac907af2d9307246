// The confinement report: one line per step as it was applied, then what Windows answers when asked
// about the job, the token, each policy and the modules that a GUI thread needs.
#include "renderer/confinement_report.h"

#include "module/unique_resource.h"
#include "renderer/confinement.h"

#include <cstdio>
#include <string>

namespace {

// The policy each step after the token sets, for reading it back.
struct PolicyStep {
    ConfinementStep step;
    PROCESS_MITIGATION_POLICY policy;
};

const PolicyStep kPolicySteps[] = {
    {kStepNoDynamicCode, ProcessDynamicCodePolicy},
    {kStepNoExtensionPoints, ProcessExtensionPointDisablePolicy},
    {kStepImageLoads, ProcessImageLoadPolicy},
    {kStepSignedImages, ProcessSignaturePolicy},
    {kStepSystemFontsOnly, ProcessFontDisablePolicy},
    {kStepStrictHandles, ProcessStrictHandleCheckPolicy},
    {kStepNoWin32kCalls, ProcessSystemCallDisablePolicy},
};

std::string Hex(unsigned long long value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "0x%08llx", value);
    return text;
}

const char* YesNo(bool value)
{
    return value ? "yes" : "no";
}

std::string OutcomeText(const StepResult& result)
{
    switch (result.outcome) {
    case StepOutcome::kApplied:
        return "applied";
    case StepOutcome::kUnavailable:
        return "not in this Windows";
    case StepOutcome::kFailed:
        break;
    }
    return "failed, error " + std::to_string(result.error);
}

void DescribeSteps(const Confinement& confinement, std::string& report)
{
    for (int step = 0; step < kStepCount; ++step) {
        report += std::string("step ") + StepName(static_cast<ConfinementStep>(step)) + ": "
            + OutcomeText(confinement.steps[step]) + "\r\n";
    }
    report += confinement.AllowsParsing() ? "parsing: allowed\r\n"
                                          : "parsing: refused, exit code " + std::to_string(kExitNotConfined) + "\r\n";
}

// Asked through its handle: Wine answers for "the calling process's job" (a null handle) with empty
// limits only.
void DescribeJob(HANDLE job, std::string& report)
{
    BOOL inJob = FALSE;
    report += std::string("in a job: ")
        + (IsProcessInJob(GetCurrentProcess(), nullptr, &inJob) ? YesNo(inJob != FALSE) : "unknown") + "\r\n";
    if (!job) {
        return;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    if (QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits), nullptr)) {
        report += "job limits: flags " + Hex(limits.BasicLimitInformation.LimitFlags) + ", active processes "
            + std::to_string(limits.BasicLimitInformation.ActiveProcessLimit) + ", process memory "
            + std::to_string(limits.ProcessMemoryLimit) + " bytes\r\n";
    }
    // Room for a few more than the one process the job allows.
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST list;
        ULONG_PTR more[7];
    } ids{};
    if (QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof(ids), nullptr)) {
        bool self = false;
        for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList && i < 8; ++i) {
            self = self || ids.list.ProcessIdList[i] == GetCurrentProcessId();
        }
        report += "job processes: " + std::to_string(ids.list.NumberOfAssignedProcesses) + ", this one among them: "
            + YesNo(self) + "\r\n";
    }
}

void DescribeToken(std::string& report)
{
    DWORD rid = 0;
    report += "integrity level: " + (ReadIntegrityLevel(rid) ? Hex(rid) : std::string("unknown")) + "\r\n";
}

using GetPolicyFunction = BOOL(WINAPI*)(HANDLE, PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);

void DescribePolicies(std::string& report)
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto get = kernel ? reinterpret_cast<GetPolicyFunction>(
                                  reinterpret_cast<void*>(GetProcAddress(kernel, "GetProcessMitigationPolicy")))
                            : nullptr;
    for (const PolicyStep& entry : kPolicySteps) {
        // Every policy used here is one flags word.
        DWORD flags = 0;
        std::string value = "not in this Windows";
        if (get) {
            value = get(GetCurrentProcess(), entry.policy, &flags, sizeof(flags))
                ? "flags " + Hex(flags)
                : "failed, error " + std::to_string(GetLastError());
        }
        report += std::string("policy ") + StepName(entry.step) + ": " + value + "\r\n";
    }
}

// A thread becomes a GUI thread on its first call into these; the win32k lockdown reaches no thread
// that did.
void DescribeGuiModules(std::string& report)
{
    report += std::string("user32.dll loaded: ") + YesNo(GetModuleHandleW(L"user32.dll") != nullptr) + "\r\n";
    report += std::string("gdi32.dll loaded: ") + YesNo(GetModuleHandleW(L"gdi32.dll") != nullptr) + "\r\n";
}

bool WriteReport(HANDLE file, const std::string& report) noexcept
{
    DWORD written = 0;
    return WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr)
        && written == report.size();
}

}  // namespace

ExitCode RunConfinementMode(const wchar_t* reportPath)
{
    // Created before the confinement, which would forbid it.
    const UniqueFile file(
        CreateFileW(reportPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return kExitResultNotWritable;
    }
    const Confinement confinement = ConfineProcess();
    std::string report = "TorvView.exe confinement\r\n";
    DescribeSteps(confinement, report);
    report += "read back:\r\n";
    DescribeJob(confinement.job, report);
    DescribeToken(report);
    DescribePolicies(report);
    DescribeGuiModules(report);
    if (!WriteReport(file.get(), report)) {
        return kExitResultNotWritable;
    }
    return confinement.AllowsParsing() ? kExitOk : kExitNotConfined;
}
