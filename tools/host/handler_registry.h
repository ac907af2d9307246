// Finds the thumbnail handler registered for a file extension, the way the Shell's merged view of
// the classes does: per-user classes first, then the machine-wide ones. Wine's COM runtime reads
// only the machine-wide classes, so the host cannot leave this to CoCreateInstance.
#pragma once

#include "tools/host/step_result.h"

#include <windows.h>

#include <string>

struct ThumbnailHandler {
    std::wstring extension;       // ".pdf"
    std::wstring bindingKey;      // where the extension names the class: "HKCU\Software\Classes\.pdf\ShellEx\{...}"
    std::wstring clsidText;       // as registered
    CLSID clsid = {};
    std::wstring serverKey;       // "HKCU\Software\Classes\CLSID\{...}\InprocServer32"
    std::wstring dllPath;         // environment variables expanded
    std::wstring threadingModel;  // empty when the value is missing
};

// The extension of a path including its dot, or empty; a dot inside a directory name does not count.
std::wstring FileExtension(const std::wstring& path);

// Fills handler on success. Failures: HRESULT_FROM_WIN32(ERROR_NO_ASSOCIATION) when nothing is
// registered for the extension, CO_E_CLASSSTRING when the binding holds no class identifier,
// REGDB_E_CLASSNOTREG when the class has no InprocServer32 path.
StepResult FindThumbnailHandler(const std::wstring& extension, ThumbnailHandler& handler);
