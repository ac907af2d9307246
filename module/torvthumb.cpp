// Entry routine, class-object exports and module state of the thumbnail server.
#include "module/torvthumb.h"

#include "shared/class_factory.h"
#include "thumbnail/thumbnail_provider.h"

HINSTANCE g_hInst = nullptr;
LONG g_cDllRef = 0;

// {5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}
const CLSID CLSID_TorvThumb = {0x5b1e2c47, 0x93a0, 0x4d8e, {0xa6, 0xf2, 0x0c, 0x71, 0xd4, 0xb9, 0x8e, 0x35}};
const wchar_t kClsidString[] = L"{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}";

// mingw's libuuid lacks this identifier; the SDK header only declares it.
extern "C" const IID IID_IThumbnailProvider = {
    0xe357fccd, 0xa995, 0x4576, {0xb0, 0x1f, 0x23, 0x46, 0x30, 0x15, 0x4e, 0x96}};

std::wstring ClassKeyPath()
{
    return std::wstring(L"Software\\Classes\\CLSID\\") + kClsidString;
}

std::wstring DllDir()
{
    return ModuleDirectory(g_hInst);
}

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID)
{
    if (fdwReason == DLL_PROCESS_ATTACH) {
        g_hInst = hinstDLL;
        DisableThreadLibraryCalls(hinstDLL);
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return g_cDllRef == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    return GetClassObject<CTorvThumb>(CLSID_TorvThumb, g_cDllRef, rclsid, riid, ppv);
}
