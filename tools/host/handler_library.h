// A handler's DLL in the host, loaded and unloaded as COM does, and its class object.
#pragma once

#include "shared/com_ptr.h"
#include "tools/host/handler_registry.h"
#include "tools/host/step_result.h"

#include <windows.h>
#include <unknwn.h>

#include <string>

// The handler's DLL. Freed only when the DLL agrees: code that still has live objects must stay mapped.
class HandlerLibrary {
public:
    HandlerLibrary() noexcept = default;
    ~HandlerLibrary() { UnloadIfAllowed(); }
    HandlerLibrary(const HandlerLibrary&) = delete;
    HandlerLibrary& operator=(const HandlerLibrary&) = delete;

    HRESULT Load(const std::wstring& path) noexcept;
    FARPROC Export(const char* name) const noexcept { return GetProcAddress(m_module, name); }

    // True when the DLL is no longer loaded; false when it stays because it reported live objects,
    // or, like COM assumes, because it has no DllCanUnloadNow to ask.
    bool UnloadIfAllowed() noexcept;

private:
    HMODULE m_module = nullptr;
};

// Loads the DLL the handler's registration names; fails with a sentence for the user.
StepResult LoadHandlerLibrary(const ShellHandler& handler, HandlerLibrary& library);

// The class object of the handler's class from the loaded DLL.
StepResult GetClassFactory(const ShellHandler& handler, const HandlerLibrary& library, ComPtr<IClassFactory>& factory);
