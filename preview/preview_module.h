// Module-wide state of the preview handler's in-process server, torvpreview.dll.
#pragma once

#include "shared/server_exports.h"

#include <windows.h>

#include <string>

extern HINSTANCE g_previewInstance;  // this library's module handle, stored at process attach
extern LONG g_previewObjectCount;    // live factories, live handlers and outstanding LockServer(TRUE) calls

extern const CLSID CLSID_TorvPreview;

// "{DCE41385-8CBA-4016-8DD0-B04B7E46E6B2}": the class identifier as it appears in the registry.
extern const wchar_t kPreviewClsidString[];

// "Software\Classes\CLSID\{...}" under HKEY_CURRENT_USER; holds RenderCommand.
std::wstring PreviewClassKeyPath();

// Directory of this library's own file, without a trailing separator; empty if the name cannot be
// obtained. Throws std::bad_alloc.
std::wstring PreviewDllDir();
