// The provider object, the class factory and the module exports, called directly.
#include "module/torvthumb.h"
#include "support/allocation_failure.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <shobjidl.h>
#include <thumbcache.h>

#include <thread>
#include <vector>

using namespace testing_support;

namespace {

void* const kUntouched = reinterpret_cast<void*>(static_cast<uintptr_t>(0x5A5A));

class ComObjects : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DllCanUnloadNow(), S_OK) << "a previous test left an object alive"; }
    void TearDown() override { EXPECT_EQ(DllCanUnloadNow(), S_OK) << "an object or lock outlived the test"; }

    IClassFactory* NewFactory()
    {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(DllGetClassObject(CLSID_TorvThumb, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        return factory;
    }

    // A new provider's primary interface pointer, holding the only reference.
    IInitializeWithFile* NewProvider()
    {
        IClassFactory* factory = NewFactory();
        IInitializeWithFile* provider = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IInitializeWithFile, reinterpret_cast<void**>(&provider)), S_OK);
        factory->Release();
        return provider;
    }
};

TEST_F(ComObjects, ProviderQueriesGiveOneIdentityThroughEitherPointer)
{
    IInitializeWithFile* primary = NewProvider();
    IThumbnailProvider* thumbnail = nullptr;
    ASSERT_EQ(primary->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&thumbnail)), S_OK);
    EXPECT_NE(static_cast<void*>(thumbnail), static_cast<void*>(primary));

    struct Query {
        const IID* iid;
        void* expected;
    };
    const Query queries[] = {
        {&IID_IUnknown, primary},
        {&IID_IInitializeWithFile, primary},
        {&IID_IThumbnailProvider, thumbnail},
    };
    IUnknown* const sources[] = {primary, thumbnail};
    for (IUnknown* source : sources) {
        for (const Query& q : queries) {
            void* out = kUntouched;
            ASSERT_EQ(source->QueryInterface(*q.iid, &out), S_OK);
            EXPECT_EQ(out, q.expected);
            static_cast<IUnknown*>(out)->Release();
        }
    }
    thumbnail->Release();
    EXPECT_EQ(primary->Release(), 0u);
}

TEST_F(ComObjects, ProviderRefusesOtherInterfacesAndNullOut)
{
    IInitializeWithFile* primary = NewProvider();
    IThumbnailProvider* thumbnail = nullptr;
    primary->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&thumbnail));
    IUnknown* const sources[] = {primary, thumbnail};
    for (IUnknown* source : sources) {
        void* out = kUntouched;
        EXPECT_EQ(source->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(source->QueryInterface(IID_IThumbnailProvider, nullptr), E_POINTER);
    }
    // Neither failed query added a reference: two releases end the object.
    EXPECT_EQ(thumbnail->Release(), 1u);
    EXPECT_EQ(primary->Release(), 0u);
}

TEST_F(ComObjects, ReferenceCountIsSharedByBothPointers)
{
    const LONG before = g_cDllRef;
    IInitializeWithFile* primary = NewProvider();
    EXPECT_EQ(g_cDllRef, before + 1);
    IThumbnailProvider* thumbnail = nullptr;
    primary->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&thumbnail));  // 2
    EXPECT_EQ(thumbnail->AddRef(), 3u);
    EXPECT_EQ(primary->Release(), 2u);
    EXPECT_EQ(thumbnail->Release(), 1u);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(thumbnail->Release(), 0u);
    EXPECT_EQ(g_cDllRef, before);
}

TEST_F(ComObjects, InitializeKeepsLatestPathAndRefusesNull)
{
    ScratchHkcu hkcu;
    UseTestRenderer();
    const std::wstring first = WriteDocument(L"first.pdf", "pattern 3 1\n");
    const std::wstring second = WriteDocument(L"second.pdf", "pattern 5 2\n");

    IInitializeWithFile* primary = NewProvider();
    IThumbnailProvider* thumbnail = nullptr;
    primary->QueryInterface(IID_IThumbnailProvider, reinterpret_cast<void**>(&thumbnail));

    // Renders and reports the bitmap's width, which tells which document was used.
    auto renderedWidth = [&](HRESULT expected) {
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        EXPECT_EQ(thumbnail->GetThumbnail(64, &bitmap, &alpha), expected);
        EXPECT_EQ(alpha, WTSAT_RGB);
        BITMAP info{};
        if (!bitmap) {
            return 0L;
        }
        GetObjectW(bitmap, sizeof(info), &info);
        DeleteObject(bitmap);
        return info.bmWidth;
    };

    EXPECT_EQ(renderedWidth(E_FAIL), 0) << "no path yet";
    EXPECT_EQ(primary->Initialize(first.c_str(), STGM_READ), S_OK);
    EXPECT_EQ(renderedWidth(S_OK), 3);
    EXPECT_EQ(primary->Initialize(second.c_str(), 0xFFFFFFFF), S_OK);
    EXPECT_EQ(renderedWidth(S_OK), 5) << "the second path replaces the first";
    EXPECT_EQ(primary->Initialize(nullptr, STGM_READ), E_INVALIDARG);
    EXPECT_EQ(renderedWidth(S_OK), 5) << "a refused path keeps the earlier one";
    {
        FailAllocation fail(0);
        EXPECT_EQ(primary->Initialize(first.c_str(), STGM_READ), E_OUTOFMEMORY);
    }
    EXPECT_EQ(renderedWidth(S_OK), 5) << "a failed copy keeps the earlier path";
    EXPECT_EQ(primary->Initialize(L"", STGM_READ), S_OK);
    EXPECT_EQ(renderedWidth(E_FAIL), 0) << "an empty path is as good as none";

    thumbnail->Release();
    primary->Release();
    EXPECT_TRUE(ResultFilesLeft().empty());
}

TEST_F(ComObjects, FactoryCreatesDistinctProvidersForEachInterface)
{
    IClassFactory* factory = NewFactory();
    const LONG before = g_cDllRef;
    const IID* iids[] = {&IID_IUnknown, &IID_IInitializeWithFile, &IID_IThumbnailProvider};
    std::vector<IUnknown*> made;
    for (const IID* iid : iids) {
        IUnknown* object = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, *iid, reinterpret_cast<void**>(&object)), S_OK);
        void* self = nullptr;
        object->QueryInterface(*iid, &self);
        EXPECT_EQ(self, static_cast<void*>(object)) << "the pointer handed out is the one asked for";
        static_cast<IUnknown*>(self)->Release();
        made.push_back(object);
    }
    EXPECT_EQ(g_cDllRef, before + 3);
    EXPECT_NE(made[0], made[1]);
    for (IUnknown* object : made) {
        EXPECT_EQ(object->Release(), 0u) << "a new object holds exactly one reference";
    }
    EXPECT_EQ(g_cDllRef, before);
    factory->Release();
}

TEST_F(ComObjects, FactoryCreateInstanceFailures)
{
    IClassFactory* factory = NewFactory();
    const LONG before = g_cDllRef;
    void* out = kUntouched;

    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown, nullptr),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    out = kUntouched;
    {
        FailAllocation fail(0);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &out), E_OUTOFMEMORY);
        EXPECT_TRUE(fail.Triggered());
    }
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(g_cDllRef, before) << "no failed creation leaves an object behind";
    factory->Release();
}

TEST_F(ComObjects, FactoryQueriesAndLockServer)
{
    IClassFactory* factory = NewFactory();
    void* unknown = nullptr;
    void* classFactory = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, &unknown), S_OK);
    ASSERT_EQ(factory->QueryInterface(IID_IClassFactory, &classFactory), S_OK);
    EXPECT_EQ(unknown, static_cast<void*>(factory));
    EXPECT_EQ(classFactory, static_cast<void*>(factory));
    void* out = kUntouched;
    EXPECT_EQ(factory->QueryInterface(IID_IThumbnailProvider, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(factory->Release(), 2u) << "two successful queries added two references";
    factory->Release();

    const LONG before = g_cDllRef;
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(2), S_OK);  // any nonzero value locks
    EXPECT_EQ(g_cDllRef, before + 2);
    // The lock belongs to the module: it outlives the factory and is given back through another.
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    IClassFactory* other = NewFactory();
    EXPECT_EQ(other->LockServer(FALSE), S_OK);
    EXPECT_EQ(other->LockServer(FALSE), S_OK);
    EXPECT_EQ(other->AddRef(), 2u) << "LockServer leaves the factory's own count alone";
    other->Release();
    other->Release();
}

TEST_F(ComObjects, DllGetClassObject)
{
    const LONG before = g_cDllRef;
    void* out = kUntouched;
    EXPECT_EQ(DllGetClassObject(IID_IClassFactory, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(DllGetClassObject(GUID_NULL, IID_IUnknown, nullptr), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(DllGetClassObject(CLSID_TorvThumb, IID_IThumbnailProvider, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(DllGetClassObject(CLSID_TorvThumb, IID_IClassFactory, nullptr), E_POINTER);
    out = kUntouched;
    {
        FailAllocation fail(0);
        EXPECT_EQ(DllGetClassObject(CLSID_TorvThumb, IID_IClassFactory, &out), E_OUTOFMEMORY);
    }
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(g_cDllRef, before);

    IUnknown* first = nullptr;
    IUnknown* second = nullptr;
    ASSERT_EQ(DllGetClassObject(CLSID_TorvThumb, IID_IUnknown, reinterpret_cast<void**>(&first)), S_OK);
    ASSERT_EQ(DllGetClassObject(CLSID_TorvThumb, IID_IClassFactory, reinterpret_cast<void**>(&second)), S_OK);
    EXPECT_NE(first, second) << "every call makes a new factory";
    EXPECT_EQ(g_cDllRef, before + 2);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(second->Release(), 0u);
}

TEST_F(ComObjects, DllMainRecordsOnlyTheProcessAttach)
{
    const HINSTANCE saved = g_hInst;
    const HINSTANCE fake = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x10000));
    const DWORD otherReasons[] = {DLL_THREAD_ATTACH, DLL_THREAD_DETACH, DLL_PROCESS_DETACH};
    for (DWORD reason : otherReasons) {
        EXPECT_TRUE(DllMain(fake, reason, nullptr));
        EXPECT_EQ(g_hInst, saved);
    }
    EXPECT_TRUE(DllMain(fake, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(g_hInst, fake);
    g_hInst = saved;
}

TEST_F(ComObjects, ProvidersOnSeveralThreadsAtOnce)
{
    ScratchHkcu hkcu;
    UseTestRenderer();
    const std::wstring document = WriteDocument(L"threads.pdf", "pattern 7 3\n");
    constexpr int kThreads = 4;
    constexpr int kRounds = 5;
    std::vector<int> successes(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                IClassFactory* factory = nullptr;
                if (DllGetClassObject(CLSID_TorvThumb, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK) {
                    continue;
                }
                IThumbnailProvider* provider = nullptr;
                factory->CreateInstance(nullptr, IID_IThumbnailProvider, reinterpret_cast<void**>(&provider));
                factory->Release();
                IInitializeWithFile* init = nullptr;
                provider->QueryInterface(IID_IInitializeWithFile, reinterpret_cast<void**>(&init));
                init->Initialize(document.c_str(), STGM_READ);
                init->Release();
                HBITMAP bitmap = nullptr;
                WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
                if (provider->GetThumbnail(32, &bitmap, &alpha) == S_OK && bitmap) {
                    ++successes[t];
                    DeleteObject(bitmap);
                }
                provider->Release();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(successes[t], kRounds) << "thread " << t;
    }
    EXPECT_EQ(g_cDllRef, 0);
    EXPECT_TRUE(ResultFilesLeft().empty());
}

}  // namespace
