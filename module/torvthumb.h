// Module-wide state of the in-process server and the helpers every subsystem shares.
#pragma once

#include "shared/module_file.h"
#include "shared/server_exports.h"

#include <windows.h>

#include <string>

extern HINSTANCE g_hInst;  // this library's module handle, stored at process attach
extern LONG g_cDllRef;     // live factories, live providers and outstanding LockServer(TRUE) calls

extern const CLSID CLSID_TorvThumb;

// "{5B1E2C47-93A0-4D8E-A6F2-0C71D4B98E35}": the class identifier as it appears in the registry.
extern const wchar_t kClsidString[];

// "Software\Classes\CLSID\{...}" under HKEY_CURRENT_USER; holds RenderCommand.
std::wstring ClassKeyPath();

// Directory of this library's own file, without a trailing separator; empty if the name
// cannot be obtained or holds no separator. Throws std::bad_alloc.
std::wstring DllDir();
