// Entry routine, class-object exports and module state of the preview handler's server.
#include "preview/preview_module.h"

#include "preview/preview_handler.h"
#include "shared/class_factory.h"
#include "shared/module_file.h"

HINSTANCE g_previewInstance = nullptr;
LONG g_previewObjectCount = 0;

// {DCE41385-8CBA-4016-8DD0-B04B7E46E6B2}
const CLSID CLSID_TorvPreview = {0xdce41385, 0x8cba, 0x4016, {0x8d, 0xd0, 0xb0, 0x4b, 0x7e, 0x46, 0xe6, 0xb2}};
const wchar_t kPreviewClsidString[] = L"{DCE41385-8CBA-4016-8DD0-B04B7E46E6B2}";

std::wstring PreviewClassKeyPath()
{
    return std::wstring(L"Software\\Classes\\CLSID\\") + kPreviewClsidString;
}

std::wstring PreviewDllDir()
{
    return ModuleDirectory(g_previewInstance);
}

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID)
{
    if (fdwReason == DLL_PROCESS_ATTACH) {
        g_previewInstance = hinstDLL;
        DisableThreadLibraryCalls(hinstDLL);
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return g_previewObjectCount == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    return GetClassObject<CTorvPreview>(CLSID_TorvPreview, g_previewObjectCount, rclsid, riid, ppv);
}
