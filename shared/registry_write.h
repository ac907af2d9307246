// The registry steps both DLLs' per-user self-registration takes, and the views it takes them in.
#pragma once

#include "shared/unique_resource.h"

#include <windows.h>

#include <string>

// Each bitness keeps its class key in its own registry view (on 64-bit Windows a 32-bit process's
// HKCU\Software\Classes\CLSID is Software\Classes\Wow6432Node\CLSID), while both share the .pdf
// bindings. Shared keys are addressed in the 64-bit view: on Windows that is the same shared key, and
// Wine, which gives 32-bit processes their own copy of everything below a key that has a
// Wow6432Node subkey, .pdf included, then also keeps one binding. 32-bit Windows ignores the flags.
constexpr REGSAM kOwnView = 0;
constexpr REGSAM kSharedView = KEY_WOW64_64KEY;
#ifdef _WIN64
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

// Opens the key for writing, creating it and any missing parent; empty on failure.
UniqueHKey CreateKeyForWriting(HKEY root, const wchar_t* subkey, REGSAM view) noexcept;

// Stores text as REG_SZ with its terminator; a key that cannot be created leaves the value unwritten.
// Takes the text as a pointer so that no string is built between two writes: an allocation that
// fails must fail before the first write, not leave half a registration behind.
void SetSz(HKEY root, const wchar_t* subkey, REGSAM view, const wchar_t* valueName, const wchar_t* data) noexcept;

// Whether the key exists in the given view of HKEY_CURRENT_USER.
bool UserKeyExists(const wchar_t* subkey, REGSAM view) noexcept;

// Tells the Shell that handlers of file types changed.
void NotifyAssociationsChanged() noexcept;

// The module's own file, so that a copy under another name (torvthumb32.dll beside torvthumb.dll)
// registers itself and not its sibling; fallback when the module cannot name a file of its own.
// Throws std::bad_alloc.
std::wstring RegisteredModulePath(HMODULE module, const wchar_t* fallback);

// Deletes the class's InprocServer32 key and then its class key in this DLL's own view (a missing
// key, or a class key that still has another subkey, is left as it is). True when the other view
// holds no InprocServer32 of the class either: this was the last registration, so what both
// bitnesses share may go too. Throws std::bad_alloc.
bool DeleteOwnClassKeys(const std::wstring& classKey);

// Runs a registration step as an export does: registry failures are not reported (a key that cannot
// be written only leaves its own values missing); without memory for the key paths nothing further
// is attempted and E_OUTOFMEMORY is returned. S_OK otherwise.
HRESULT RunRegistrationStep(void (*step)()) noexcept;
