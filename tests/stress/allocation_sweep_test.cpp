// Allocation-failure sweeps: object creation, a whole request through the provider object, and
// registration. Each run fails one more allocation than the last (the first, then the second, and
// so on) until a run completes with none failed. Every run must end with a defined result code,
// let no exception out, leave no result file, and give back every handle and GDI object.
//
// RunThumbnailRequest on its own is swept in tests/thumbnail/thumbnail_request_test.cpp
// (OutOfMemoryAtEveryAllocation); here the same request comes through the COM objects, so their
// allocations and the request's are failed in one sequence as the Shell would meet them.
#include "module/torvthumb.h"
#include "stress/stress_support.h"
#include "support/allocation_failure.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <shobjidl.h>
#include <thumbcache.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <set>

using namespace testing_support;

namespace {

// What one swept run returned, and the step that returned it when that was not S_OK.
struct StepResult {
    HRESULT hr = S_OK;
    const char* step = "";
};

// One run of a scenario: made before the failure window opens, acted on inside it, checked and
// destroyed after it closes.
class SweptRun {
public:
    virtual ~SweptRun() = default;
    virtual StepResult Act() = 0;
    virtual void Check(const StepResult& result) = 0;
};

// The Shell's sequence for one document: class object, provider, Initialize, and optionally the
// thumbnail itself; the first failure ends it, and everything obtained is released.
class ProviderRun : public SweptRun {
public:
    explicit ProviderRun(bool render)
        : m_render(render), m_document(WriteDocument(L"swept document with a long name.pdf", "pattern 3 2 5\n"))
    {
        UseTestRenderer();
    }
    ~ProviderRun() override
    {
        if (m_bitmap) {
            DeleteObject(m_bitmap);
        }
    }

    StepResult Act() override
    {
        IClassFactory* factory = nullptr;
        HRESULT hr = DllGetClassObject(CLSID_TorvThumb, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (hr != S_OK) {
            return {hr, "DllGetClassObject"};
        }
        IInitializeWithFile* init = nullptr;
        hr = factory->CreateInstance(nullptr, IID_IInitializeWithFile, reinterpret_cast<void**>(&init));
        factory->Release();
        if (hr != S_OK) {
            return {hr, "CreateInstance"};
        }
        StepResult result;
        hr = init->Initialize(m_document.c_str(), STGM_READ);
        if (hr != S_OK) {
            result = {hr, "Initialize"};
        } else if (m_render) {
            IThumbnailProvider* provider = nullptr;
            init->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&provider));
            hr = provider->GetThumbnail(96, &m_bitmap, &m_alpha);
            provider->Release();
            if (hr != S_OK) {
                result = {hr, "GetThumbnail"};
            }
        }
        init->Release();
        return result;
    }

    void Check(const StepResult& result) override
    {
        if (!m_render) {
            return;
        }
        if (result.hr == S_OK) {
            EXPECT_TRUE(stress::BitmapHoldsPattern(m_bitmap, 3, 2, 5));
        } else if (std::string(result.step) == "GetThumbnail") {
            EXPECT_EQ(m_bitmap, nullptr);
            EXPECT_EQ(m_alpha, WTSAT_RGB);
        }
    }

private:
    bool m_render;
    std::wstring m_document;
    HBITMAP m_bitmap = nullptr;
    WTS_ALPHATYPE m_alpha = WTSAT_UNKNOWN;
};

bool KeyExists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::wstring ReadSz(const std::wstring& path, const wchar_t* name)
{
    wchar_t text[1024] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    return text;
}

const wchar_t kHandlerBinding[] = L"Software\\Classes\\.pdf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";

// Registration into the run's scratch HKCU. Without memory for the key paths nothing may be
// written; a completed registration writes the whole layout.
class RegisterRun : public SweptRun {
public:
    StepResult Act() override { return {DllRegisterServer(), "DllRegisterServer"}; }
    void Check(const StepResult& result) override
    {
        const std::wstring inproc = ClassKeyPath() + L"\\InprocServer32";
        if (result.hr == E_OUTOFMEMORY) {
            EXPECT_FALSE(KeyExists(ClassKeyPath())) << "a failed registration wrote the class key";
            EXPECT_FALSE(KeyExists(kHandlerBinding)) << "a failed registration bound the handler";
            return;
        }
        EXPECT_EQ(ReadSz(inproc, nullptr), ModuleFileName(nullptr));
        EXPECT_EQ(ReadSz(inproc, L"ThreadingModel"), L"Apartment");
        EXPECT_EQ(ReadSz(kHandlerBinding, nullptr), kClsidString);
    }
};

// Unregistration of a complete registration: a failed one removes nothing, a completed one all.
class UnregisterRun : public SweptRun {
public:
    UnregisterRun() { EXPECT_EQ(DllRegisterServer(), S_OK); }
    StepResult Act() override { return {DllUnregisterServer(), "DllUnregisterServer"}; }
    void Check(const StepResult& result) override
    {
        const bool removed = result.hr == S_OK;
        EXPECT_EQ(KeyExists(ClassKeyPath() + L"\\InprocServer32"), !removed);
        EXPECT_EQ(KeyExists(ClassKeyPath()), !removed);
        EXPECT_EQ(KeyExists(kHandlerBinding), !removed);
    }
};

struct Scenario {
    const char* name;
    std::function<std::unique_ptr<SweptRun>()> make;
    std::set<std::string> stepsThatAllocate;  // each must be seen failing at least once
};

void PrintTo(const Scenario& s, std::ostream* os)
{
    *os << s.name;
}

class AllocationSweep : public testing::TestWithParam<Scenario> {};

TEST_P(AllocationSweep, EveryFailurePointEndsCleanly)
{
    const Scenario& scenario = GetParam();
    const long kMostFailurePoints = 10000;

    // One run without failures first, so that what the platform and the test framework (its
    // per-thread trace) keep after their first use is in the baseline.
    stress::Resources::Now();
    {
        SCOPED_TRACE("run without failures");
        ScratchHkcu hkcu;
        std::unique_ptr<SweptRun> run = scenario.make();
        const StepResult result = run->Act();
        ASSERT_EQ(result.hr, S_OK) << result.step;
        run->Check(result);
    }
    const stress::Resources baseline = stress::Resources::Now();

    long failurePoints = 0;
    std::set<std::string> failedSteps;
    for (long n = 0; n < kMostFailurePoints; ++n) {
        SCOPED_TRACE(testing::Message() << "failing allocation " << n);
        bool triggered = false;
        {
            ScratchHkcu hkcu;
            std::unique_ptr<SweptRun> run = scenario.make();
            StepResult result{E_UNEXPECTED, "nothing returned"};
            {
                FailAllocation fail(n);
                try {
                    result = run->Act();
                } catch (...) {
                    ADD_FAILURE() << "an exception escaped";
                }
                triggered = fail.Triggered();
            }
            if (triggered) {
                EXPECT_EQ(result.hr, E_OUTOFMEMORY) << result.step;
                failedSteps.insert(result.step);
            } else {
                EXPECT_EQ(result.hr, S_OK) << result.step;
            }
            run->Check(result);
        }
        ASSERT_TRUE(ResultFilesLeft().empty());
        const stress::Resources now = stress::Resources::Now();
        ASSERT_EQ(now.handles, baseline.handles);
        if (stress::GdiObjectsObservable()) {
            ASSERT_EQ(now.gdiObjects, baseline.gdiObjects);
        }
        ASSERT_EQ(DllCanUnloadNow(), S_OK) << "an object outlived the run";
        if (!triggered) {
            break;
        }
        ++failurePoints;
    }
    const stress::Resources after = stress::Resources::Now();
    std::printf("%s: %ld failure points, then a run with none; %s before, %s after\n", scenario.name,
                failurePoints, stress::Describe(baseline).c_str(), stress::Describe(after).c_str());
    EXPECT_LT(failurePoints, kMostFailurePoints) << "the sweep never reached a run without failures";
    EXPECT_EQ(failedSteps, scenario.stepsThatAllocate);
    // Heap pages the allocator keeps are not a leak; a leaked bitmap or buffer of each run would be
    // far more.
    EXPECT_LE(after.privateBytes, baseline.privateBytes + 256 * 1024);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, AllocationSweep,
    testing::Values(
        Scenario{"ObjectCreation", [] { return std::unique_ptr<SweptRun>(new ProviderRun(false)); },
                 {"DllGetClassObject", "CreateInstance", "Initialize"}},
        Scenario{"RequestThroughProvider", [] { return std::unique_ptr<SweptRun>(new ProviderRun(true)); },
                 {"DllGetClassObject", "CreateInstance", "Initialize", "GetThumbnail"}},
        Scenario{"Register", [] { return std::unique_ptr<SweptRun>(new RegisterRun()); }, {"DllRegisterServer"}},
        Scenario{"Unregister", [] { return std::unique_ptr<SweptRun>(new UnregisterRun()); }, {"DllUnregisterServer"}}),
    [](const testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
