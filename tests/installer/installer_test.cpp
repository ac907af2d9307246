// The installer in a fresh Wine prefix of its own: a silent install that makes thumbnails and shows
// the preview pane through the installed DLLs and renderer (through the 32-bit DLLs too where the
// prefix runs 32-bit programs), upgrades over an earlier build while its DLL is loaded, and
// uninstalls that leave the user's registry and local application data as they were.
#include "shared/unique_resource.h"
#include "support/test_support.h"
#include "tools/tool_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

using tool_testing::FileExists;
using tool_testing::Narrow;
using tool_testing::Quote;

const wchar_t kCurrentVersion[] = TORV_VERSION_TEXT;
const wchar_t kEarlierVersion[] = TORV_EARLIER_VERSION_TEXT;

const wchar_t kAppsKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TorvThumb";
const wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kCleanUpValue[] = L"TorvThumb clean-up";
const wchar_t kBindingKey[] = L"Software\\Classes\\.pdf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
const wchar_t kClsid[] = L"{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}";
const wchar_t kServerKey[] = L"Software\\Classes\\CLSID\\{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}\\InprocServer32";
// Where the 32-bit regsvr32 writes the class under WOW64.
const wchar_t kServerKey32[] =
    L"Software\\Classes\\WOW6432Node\\CLSID\\{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}\\InprocServer32";

const wchar_t kPreviewBindingKey[] = L"Software\\Classes\\.pdf\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}";
const wchar_t kPreviewClsid[] = L"{DCE41385-8CBA-4016-8DD0-B04B7E46E6B2}";
const wchar_t kPreviewServerKey[] =
    L"Software\\Classes\\CLSID\\{DCE41385-8CBA-4016-8DD0-B04B7E46E6B2}\\InprocServer32";
const wchar_t kPreviewServerKey32[] =
    L"Software\\Classes\\WOW6432Node\\CLSID\\{DCE41385-8CBA-4016-8DD0-B04B7E46E6B2}\\InprocServer32";
const wchar_t kPreviewHandlersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers";

constexpr DWORD kNotStarted = 0xFFFFFFFEu;
constexpr DWORD kNotFinished = 0xFFFFFFFFu;
constexpr DWORD kRunTimeoutMs = 120000;

std::wstring BuildDir()
{
    const std::wstring tests = testing_support::TestDir();
    return tests.substr(0, tests.find_last_of(L'\\'));
}

std::wstring CurrentInstaller()
{
    return BuildDir() + L"\\installer\\torvthumb-setup-" + kCurrentVersion + L".exe";
}

std::wstring EarlierInstaller()
{
    return BuildDir() + L"\\installer-test\\torvthumb-setup-" + kEarlierVersion + L".exe";
}

// The tests' installer that takes ARM64 as the machine Windows runs on, and the file in which its
// stand-in for the native regsvr32 records each call, one a line.
std::wstring Arm64Installer()
{
    return BuildDir() + L"\\installer-test\\torvthumb-setup-" + kCurrentVersion + L"-arm64.exe";
}

std::wstring NativeRegsvr32Calls()
{
    return BuildDir() + L"\\installer-test\\regsvr32-calls.txt";
}

std::wstring LocalAppData()
{
    wchar_t* path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path))) {
        result = path;
    }
    CoTaskMemFree(path);
    return result;
}

std::wstring InstallDir()
{
    return LocalAppData() + L"\\Programs\\TorvThumb";
}

std::wstring InstalledDll()
{
    return InstallDir() + L"\\torvthumb.dll";
}

std::wstring InstalledDll32()
{
    return InstallDir() + L"\\torvthumb32.dll";
}

std::wstring InstalledPreviewDll()
{
    return InstallDir() + L"\\torvpreview.dll";
}

std::wstring InstalledPreviewDll32()
{
    return InstallDir() + L"\\torvpreview32.dll";
}

// The hosts that 32-bit programs stand for, built in the x86 tree.
std::wstring HostPath32()
{
    return testing_support::TestDir() + L"\\" + TORV_X86_BIN_DIR + L"\\thumbhost.exe";
}

std::wstring PreviewHostPath32()
{
    return testing_support::TestDir() + L"\\" + TORV_X86_BIN_DIR + L"\\previewhost.exe";
}

std::wstring X86BuildFile(const wchar_t* name)
{
    return testing_support::TestDir() + L"\\" + TORV_X86_BIN_DIR + L"\\" + name;
}

std::wstring Arm64BuildFile(const wchar_t* name)
{
    return testing_support::TestDir() + L"\\" + TORV_ARM64_BIN_DIR + L"\\" + name;
}

std::string TextOf(const std::wstring& path)
{
    const std::vector<BYTE> bytes = tool_testing::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// What the build put into the installer, one path under the install folder a line.
std::vector<std::wstring> Manifest()
{
    const std::vector<BYTE> bytes = tool_testing::ReadFileBytes(BuildDir() + L"\\installer\\torvthumb-setup-"
                                                                 + kCurrentVersion + L".files");
    std::vector<std::wstring> names;
    std::wstring name;
    for (const BYTE byte : bytes) {
        if (byte == '\n') {
            names.push_back(name);
            name.clear();
        } else {
            name += static_cast<wchar_t>(byte);
        }
    }
    return names;
}

// Runs a command line and waits, at most two minutes, until it and every process it started have
// ended: the uninstaller hands its work to a copy of itself in the temporary directory and
// returns at once. The first process's exit code.
DWORD RunToCompletion(const std::wstring& commandLine)
{
    const UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    const UniqueHandle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{job.get(), port.get()};
    if (!job || !port
        || !SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation, &association,
                                    sizeof(association))) {
        return kNotStarted;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &info)) {
        return kNotStarted;
    }
    UniqueProcessInformation process;
    process.adopt(info);
    if (!AssignProcessToJobObject(job.get(), process.process.get())) {
        TerminateProcess(process.process.get(), kNotStarted);
        return kNotStarted;
    }
    ResumeThread(process.thread.get());

    const ULONGLONG deadline = GetTickCount64() + kRunTimeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        DWORD message = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        if (now >= deadline
            || !GetQueuedCompletionStatus(port.get(), &message, &key, &overlapped, static_cast<DWORD>(deadline - now))) {
            TerminateJobObject(job.get(), kNotFinished);
            return kNotFinished;
        }
        if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
            break;
        }
    }
    DWORD exitCode = kNotFinished;
    GetExitCodeProcess(process.process.get(), &exitCode);
    return exitCode;
}

DWORD Install(const std::wstring& installer)
{
    return RunToCompletion(Quote(installer) + L" /S");
}

// A REG_SZ value under HKCU (nullptr names the default value); false when it is missing.
bool ReadString(const wchar_t* key, const wchar_t* name, std::wstring& text)
{
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, &buffer[0], &size) != ERROR_SUCCESS) {
        return false;
    }
    text = buffer.c_str();
    return true;
}

std::wstring StringOrEmpty(const wchar_t* key, const wchar_t* name)
{
    std::wstring text;
    return ReadString(key, name, text) ? text : std::wstring();
}

bool ReadDword(const wchar_t* key, const wchar_t* name, DWORD& value)
{
    DWORD size = sizeof(value);
    return RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
}

bool KeyExists(const wchar_t* key)
{
    UniqueHKey opened;
    return RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

// The Apps entry's silent uninstall, as a management tool would run it.
DWORD Uninstall()
{
    std::wstring command;
    if (!ReadString(kAppsKey, L"QuietUninstallString", command)) {
        return kNotStarted;
    }
    return RunToCompletion(command);
}

// The clean-up entry, run as the next sign-in would run it.
DWORD RunCleanUpEntry()
{
    std::wstring command;
    if (!ReadString(kRunOnceKey, kCleanUpValue, command)) {
        return kNotStarted;
    }
    return RunToCompletion(command);
}

// "major.minor.patch" of the file's version resource; empty without one. Read from a copy: a
// process that has a DLL of the same path loaded gets that module's resources instead of the file's.
std::wstring FileVersion(const std::wstring& path)
{
    const std::wstring copy = testing_support::TempDir() + L"\\version-of.dll";
    if (!CopyFileW(path.c_str(), copy.c_str(), FALSE)) {
        return std::wstring();
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(copy.c_str(), &ignored);
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    const bool read = size != 0 && GetFileVersionInfoW(copy.c_str(), 0, size, data.data())
                      && VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length)
                      && length >= sizeof(*info);
    DeleteFileW(copy.c_str());
    if (!read) {
        return std::wstring();
    }
    return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionMS))
           + L"." + std::to_wstring(HIWORD(info->dwFileVersionLS));
}

// Volume and file index: tells a new file from an old one of the same name.
std::pair<DWORD, ULONGLONG> FileIdentity(const std::wstring& path)
{
    const UniqueFile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) {
        return {0, 0};
    }
    return {info.dwVolumeSerialNumber, (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// Copies of the handler that an installation moved aside because they were in use.
std::vector<std::wstring> MovedAside()
{
    std::vector<std::wstring> paths;
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW((InstalledDll() + L".*.old").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            paths.push_back(InstallDir() + L"\\" + entry.cFileName);
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return paths;
}

// Whether this prefix runs 32-bit programs: the 32-bit command interpreter has to start and exit
// with the code it was told. Where Wine is 64-bit only, it cannot.
bool RunsThirtyTwoBitPrograms()
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    return RunToCompletion(Quote(std::wstring(windows) + L"\\SysWOW64\\cmd.exe") + L" /c exit 7") == 7;
}

// A thumbnail of a sample document made by a new host process through the registered DLL; the
// 64-bit host and DLL unless given those of the other bitness.
void ExpectThumbnailThroughInstalledDll(const std::wstring& hostPath = tool_testing::HostPath(),
                                        const std::wstring& dll = InstalledDll())
{
    SCOPED_TRACE(Narrow(hostPath));
    const std::wstring out = testing_support::TempDir() + L"\\thumbnails";
    const tool_testing::ProcessResult host = tool_testing::Run(Quote(hostPath) + L" --verbose --out " + Quote(out)
                                                               + L" "
                                                               + Quote(tool_testing::SamplesDir() + L"\\report.pdf"));
    EXPECT_EQ(host.exitCode, 0u) << host.out << host.err;
    EXPECT_NE(host.err.find("DLL \"" + Narrow(dll) + "\""), std::string::npos) << host.err;
    const tool_testing::DecodedImage image = tool_testing::DecodeImage(out + L"\\report.pdf.png");
    EXPECT_EQ(image.hr, S_OK);
    EXPECT_EQ(image.width, 181u);
    EXPECT_EQ(image.height, 256u);
    tool_testing::DeleteTree(out);
}

// The preview pane of a sample document shown by a new preview host process through the registered
// DLL and the installed renderer: its first page, drawn.
void ExpectPreviewThroughInstalledDll(const std::wstring& hostPath = tool_testing::BinDir() + L"\\previewhost.exe",
                                      const std::wstring& dll = InstalledPreviewDll())
{
    SCOPED_TRACE(Narrow(hostPath));
    const std::wstring out = testing_support::TempDir() + L"\\panes";
    const tool_testing::ProcessResult host = tool_testing::Run(Quote(hostPath) + L" --verbose --size 400x600 --out "
                                                               + Quote(out) + L" "
                                                               + Quote(tool_testing::SamplesDir() + L"\\report.pdf"));
    EXPECT_EQ(host.exitCode, 0u) << host.out << host.err;
    EXPECT_NE(host.err.find("DLL \"" + Narrow(dll) + "\""), std::string::npos) << host.err;
    EXPECT_NE(host.out.find("report.pdf: S_OK 0x00000000 pages 1-"), std::string::npos) << host.out;
    const tool_testing::DecodedImage image = tool_testing::DecodeImage(out + L"\\report.pdf.pane.png");
    EXPECT_EQ(image.hr, S_OK);
    EXPECT_EQ(image.height, 600u);
    tool_testing::DeleteTree(out);
}

// ---------------------------------------------------------------------------------------------
// Snapshots of what an installation may touch: the user's registry and local application data.

struct Snapshot {
    std::set<std::wstring> registry;  // "[key]" for each key, "[key] name=data" for each value
    std::set<std::wstring> files;     // each path under %LOCALAPPDATA%, folders ending in "\"
};

// Wine's own write between two snapshots, not ours: the Shell's notice that file associations
// changed (which registration sends) makes Wine create this key for its export of associations to
// the Linux desktop. Only the bare key is passed: anything recorded in it would still show.
bool IsWineNoise(const std::wstring& entry)
{
    return entry == L"[HKEY_CURRENT_USER\\Software\\Wine\\FileOpenAssociations]";
}

std::set<std::wstring> ExportUserRegistry()
{
    const std::wstring file = testing_support::TempDir() + L"\\hkcu.reg";
    std::set<std::wstring> entries;
    if (RunToCompletion(L"reg.exe export HKCU " + Quote(file) + L" /y") != 0) {
        ADD_FAILURE() << "reg export HKCU failed";
        return entries;
    }
    const std::vector<BYTE> bytes = tool_testing::ReadFileBytes(file);
    DeleteFileW(file.c_str());
    // UTF-16LE after a byte order mark; a line ending in a backslash goes on in the next one.
    std::wstring text(bytes.size() / 2, L'\0');
    memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
    std::wstring key;
    std::wstring logical;
    size_t start = text.find(L'\n') + 1;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == L'\r') {
            line.pop_back();
        }
        logical += line;
        if (!logical.empty() && logical.back() == L'\\') {
            logical.pop_back();
            continue;
        }
        if (!logical.empty() && logical.front() == L'[') {
            key = logical;
            entries.insert(key);
        } else if (!logical.empty()) {
            entries.insert(key + L" " + logical);
        }
        logical.clear();
    }
    for (auto it = entries.begin(); it != entries.end();) {
        it = IsWineNoise(*it) ? entries.erase(it) : std::next(it);
    }
    return entries;
}

void ListTree(const std::wstring& root, const std::wstring& relative, std::set<std::wstring>& paths)
{
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW((root + relative + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            paths.insert(relative + L"\\" + name + L"\\");
            ListTree(root, relative + L"\\" + name, paths);
        } else {
            paths.insert(relative + L"\\" + name);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

Snapshot TakeSnapshot()
{
    Snapshot snapshot;
    snapshot.registry = ExportUserRegistry();
    ListTree(LocalAppData(), L"", snapshot.files);
    return snapshot;
}

std::string Describe(const std::set<std::wstring>& from, const std::set<std::wstring>& without)
{
    std::string text;
    for (const std::wstring& entry : from) {
        if (without.count(entry) == 0) {
            text += "  " + Narrow(entry) + "\n";
        }
    }
    return text;
}

void ExpectSameAs(const Snapshot& before)
{
    const Snapshot after = TakeSnapshot();
    EXPECT_EQ(Describe(after.registry, before.registry), "") << "registry entries left behind";
    EXPECT_EQ(Describe(before.registry, after.registry), "") << "registry entries removed";
    EXPECT_EQ(Describe(after.files, before.files), "") << "files left behind";
    EXPECT_EQ(Describe(before.files, after.files), "") << "files removed";
}

class InstallerTest : public testing::Test {
protected:
    // Wine starts its desktop process (explorer.exe /desktop) from the first process that needs the
    // desktop, and keeps it while any process uses it. Started from an installer, it would join the
    // installer's job and keep it from ever emptying; started from here, it stays outside.
    static void SetUpTestSuite() { GetDesktopWindow(); }

    void SetUp() override
    {
        ASSERT_FALSE(FileExists(InstallDir())) << "an earlier test left an installation behind";
        m_before = TakeSnapshot();
    }

    // Whatever a failed test left, the next one starts without an installation.
    void TearDown() override
    {
        if (KeyExists(kAppsKey)) {
            Uninstall();
        }
        RunCleanUpEntry();
    }

    Snapshot m_before;
};

TEST_F(InstallerTest, SilentInstallServesThumbnailsAndUninstallLeavesNothing)
{
    ASSERT_EQ(Install(CurrentInstaller()), 0u);

    const std::vector<std::wstring> manifest = Manifest();
    ASSERT_FALSE(manifest.empty());
    unsigned long long bytes = 0;
    for (const std::wstring& name : manifest) {
        EXPECT_TRUE(FileExists(InstallDir() + L"\\" + name)) << Narrow(name);
        bytes += tool_testing::FileSize(InstallDir() + L"\\" + name);
    }
    const std::wstring uninstaller = InstallDir() + L"\\Uninstall.exe";
    ASSERT_TRUE(FileExists(uninstaller));
    bytes += tool_testing::FileSize(uninstaller);
    EXPECT_EQ(FileVersion(InstalledDll()), kCurrentVersion);

    struct Value {
        const wchar_t* name;
        std::wstring expected;
    };
    const Value appsEntry[] = {
        {L"DisplayName", L"TorvThumb"},
        {L"DisplayVersion", kCurrentVersion},
        {L"Publisher", L"The torvthumb developers"},
        {L"DisplayIcon", InstallDir() + L"\\TorvView.exe,0"},
        {L"InstallLocation", InstallDir()},
        {L"UninstallString", Quote(uninstaller)},
        {L"QuietUninstallString", Quote(uninstaller) + L" /S"},
    };
    for (const Value& value : appsEntry) {
        EXPECT_EQ(StringOrEmpty(kAppsKey, value.name), value.expected) << Narrow(value.name);
    }
    DWORD flag = 0;
    EXPECT_TRUE(ReadDword(kAppsKey, L"NoModify", flag) && flag == 1);
    EXPECT_TRUE(ReadDword(kAppsKey, L"NoRepair", flag) && flag == 1);
    DWORD estimatedKib = 0;
    EXPECT_TRUE(ReadDword(kAppsKey, L"EstimatedSize", estimatedKib));
    EXPECT_GE(estimatedKib, bytes / 1024);
    EXPECT_LE(estimatedKib, (bytes + 1023) / 1024);

    EXPECT_EQ(StringOrEmpty(kBindingKey, nullptr), kClsid);
    EXPECT_EQ(StringOrEmpty(kServerKey, nullptr), InstalledDll());
    EXPECT_EQ(StringOrEmpty(kPreviewBindingKey, nullptr), kPreviewClsid);
    EXPECT_EQ(StringOrEmpty(kPreviewServerKey, nullptr), InstalledPreviewDll());
    EXPECT_EQ(StringOrEmpty(kPreviewHandlersKey, kPreviewClsid), L"TorvView Preview Handler");
    EXPECT_EQ(FileVersion(InstalledPreviewDll()), kCurrentVersion);
    EXPECT_TRUE(MovedAside().empty());
    EXPECT_EQ(StringOrEmpty(kRunOnceKey, kCleanUpValue), L"");
    ExpectThumbnailThroughInstalledDll();
    ExpectPreviewThroughInstalledDll();

    // A failed 32-bit registration is passed by the installer; it is tolerated here only where the
    // prefix cannot run 32-bit programs at all.
    if (RunsThirtyTwoBitPrograms()) {
        EXPECT_EQ(StringOrEmpty(kServerKey32, nullptr), InstalledDll32());
        EXPECT_EQ(StringOrEmpty(kPreviewServerKey32, nullptr), InstalledPreviewDll32());
        ExpectThumbnailThroughInstalledDll(HostPath32(), InstalledDll32());
        ExpectPreviewThroughInstalledDll(PreviewHostPath32(), InstalledPreviewDll32());
    } else {
        std::printf("note: this prefix runs no 32-bit programs: torvthumb32.dll and torvpreview32.dll installed, "
                    "not registered\n");
    }

    ASSERT_EQ(Uninstall(), 0u);
    ExpectSameAs(m_before);
}

// What deletes the old DLL once the process that held it has let go.
enum class FreedBy { kSignIn, kNextInstall, kUninstall };

class UpgradeTest : public InstallerTest, public testing::WithParamInterface<FreedBy> {};

TEST_P(UpgradeTest, ReplacesTheLoadedDllAndDeletesItOnceFree)
{
    ASSERT_EQ(Install(EarlierInstaller()), 0u);
    const std::wstring dll = InstalledDll();
    ASSERT_EQ(FileVersion(dll), kEarlierVersion);
    ASSERT_EQ(FileVersion(InstalledPreviewDll()), kEarlierVersion);
    const auto earlier = FileIdentity(dll);

    // This process holds the earlier DLL as Explorer would: it can be neither replaced nor deleted.
    UniqueModule holder(LoadLibraryW(dll.c_str()));
    ASSERT_TRUE(holder);
    ASSERT_FALSE(DeleteFileW(dll.c_str()));

    ASSERT_EQ(Install(CurrentInstaller()), 0u);
    EXPECT_EQ(StringOrEmpty(kAppsKey, L"DisplayVersion"), kCurrentVersion);
    EXPECT_EQ(StringOrEmpty(kServerKey, nullptr), dll);
    EXPECT_EQ(FileVersion(dll), kCurrentVersion);
    EXPECT_NE(FileIdentity(dll), earlier);
    EXPECT_EQ(StringOrEmpty(kPreviewServerKey, nullptr), InstalledPreviewDll());
    EXPECT_EQ(FileVersion(InstalledPreviewDll()), kCurrentVersion);
    ExpectThumbnailThroughInstalledDll();
    ExpectPreviewThroughInstalledDll();

    const std::vector<std::wstring> aside = MovedAside();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(FileIdentity(aside[0]), earlier);
    const std::wstring cleanUp = StringOrEmpty(kRunOnceKey, kCleanUpValue);
    EXPECT_EQ(cleanUp.find(Quote(InstallDir() + L"\\Uninstall.exe") + L" /cleanup"), 0u) << Narrow(cleanUp);

    holder.reset();
    switch (GetParam()) {
    case FreedBy::kSignIn:
        EXPECT_EQ(RunCleanUpEntry(), 0u);
        break;
    case FreedBy::kNextInstall:
        EXPECT_EQ(Install(CurrentInstaller()), 0u);
        break;
    case FreedBy::kUninstall:
        EXPECT_EQ(Uninstall(), 0u);
        break;
    }
    EXPECT_TRUE(MovedAside().empty());
    EXPECT_FALSE(FileExists(aside[0]));
    EXPECT_EQ(StringOrEmpty(kRunOnceKey, kCleanUpValue), L"");
    if (GetParam() != FreedBy::kUninstall) {
        EXPECT_EQ(FileVersion(dll), kCurrentVersion);
        ASSERT_EQ(Uninstall(), 0u);
    }
    ExpectSameAs(m_before);
}

std::string FreedByName(const testing::TestParamInfo<FreedBy>& info)
{
    switch (info.param) {
    case FreedBy::kSignIn:
        return "SignIn";
    case FreedBy::kNextInstall:
        return "NextInstall";
    case FreedBy::kUninstall:
        return "Uninstall";
    }
    return "";
}

INSTANTIATE_TEST_SUITE_P(Installer, UpgradeTest,
                         testing::Values(FreedBy::kSignIn, FreedBy::kNextInstall, FreedBy::kUninstall), FreedByName);

TEST_F(InstallerTest, UninstallWhileTheDllIsLoadedFinishesAtTheNextSignIn)
{
    ASSERT_EQ(Install(CurrentInstaller()), 0u);
    UniqueModule holder(LoadLibraryW(InstalledDll().c_str()));
    ASSERT_TRUE(holder);

    ASSERT_EQ(Uninstall(), 0u);
    EXPECT_FALSE(KeyExists(kAppsKey));
    EXPECT_FALSE(KeyExists(kBindingKey));
    EXPECT_FALSE(KeyExists(kServerKey));
    EXPECT_FALSE(KeyExists(kPreviewBindingKey));
    EXPECT_FALSE(KeyExists(kPreviewServerKey));
    EXPECT_EQ(StringOrEmpty(kPreviewHandlersKey, kPreviewClsid), L"");
    EXPECT_TRUE(FileExists(InstalledDll()));
    EXPECT_NE(StringOrEmpty(kRunOnceKey, kCleanUpValue), L"");

    holder.reset();
    EXPECT_EQ(RunCleanUpEntry(), 0u);
    ExpectSameAs(m_before);
}

// On ARM64 Windows the installer places the ARM64 DLLs and renderer under the same names, beside the
// x86 DLLs, and registers the native DLLs with the native regsvr32, since it runs there as an
// emulated x64 process that cannot load an ARM64 DLL. x64 Wine runs no ARM64 code: the tests' installer is
// told the machine and records the native regsvr32's calls instead (the ARM64 tree's tests register
// the same DLL with regsvr32 under emulated ARM64 Wine).
TEST_F(InstallerTest, OnArm64InstallsTheArm64FilesAndRegistersThemWithTheNativeRegsvr32)
{
    DeleteFileW(NativeRegsvr32Calls().c_str());
    ASSERT_EQ(Install(Arm64Installer()), 0u);

    struct Placed {
        const wchar_t* name;
        std::wstring source;
    };
    const Placed placed[] = {
        {L"torvthumb.dll", Arm64BuildFile(L"torvthumb.dll")},
        {L"torvpreview.dll", Arm64BuildFile(L"torvpreview.dll")},
        {L"TorvView.exe", Arm64BuildFile(L"TorvView.exe")},
        {L"torvthumb32.dll", X86BuildFile(L"torvthumb.dll")},
        {L"torvpreview32.dll", X86BuildFile(L"torvpreview.dll")},
    };
    for (const Placed& file : placed) {
        EXPECT_TRUE(tool_testing::ReadFileBytes(InstallDir() + L"\\" + file.name)
                    == tool_testing::ReadFileBytes(file.source))
            << Narrow(file.name) << " is not " << Narrow(file.source);
    }
    const std::string dlls[] = {Narrow(Quote(InstalledDll())), Narrow(Quote(InstalledPreviewDll()))};
    const std::string registered = "/s " + dlls[0] + "\n/s " + dlls[1] + "\n";
    EXPECT_EQ(TextOf(NativeRegsvr32Calls()), registered);
    EXPECT_EQ(StringOrEmpty(kAppsKey, L"DisplayVersion"), kCurrentVersion);

    ASSERT_EQ(Uninstall(), 0u);
    EXPECT_EQ(TextOf(NativeRegsvr32Calls()), registered + "/u /s " + dlls[0] + "\n/u /s " + dlls[1] + "\n");
    ExpectSameAs(m_before);
}

}  // namespace
