// Finds the handler of a kind (thumbnail, preview) registered for a file extension, the way the Shell's merged view of
// the classes does: per-user classes first, then the machine-wide ones. Wine's COM runtime reads
// only the machine-wide classes, so the host cannot leave this to CoCreateInstance.
#pragma once

#include "tools/host/step_result.h"

#include <windows.h>

#include <string>

// A kind of Shell handler: the ShellEx subkey of an extension that names its class, and how the
// host's messages speak of it.
struct HandlerKind {
    const wchar_t* binding;  // "{e357fccd-...}"
    const wchar_t* noun;     // "thumbnail handler"
    const wchar_t* library;  // the project's DLL of that kind, which the hint to register one names
};
extern const HandlerKind kThumbnailHandlerKind;
extern const HandlerKind kPreviewHandlerKind;

struct ShellHandler {
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
StepResult FindHandler(const std::wstring& extension, const HandlerKind& kind, ShellHandler& handler);
