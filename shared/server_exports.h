// The entry points of an in-process COM server: each DLL defines them and its module-definition
// file exports them (ordinals 1 to 4; DllMain is the entry routine, not exported).
#pragma once

#include <windows.h>

extern "C" {
BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);
STDAPI DllCanUnloadNow();
STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
}
