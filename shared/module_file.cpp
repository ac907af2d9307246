// The file a module was loaded from.
#include "shared/module_file.h"

std::wstring ModuleFileName(HMODULE module)
{
    // GetModuleFileNameW truncates silently when the buffer is too small (it returns the buffer
    // size), and a cut name would point at another directory, so grow until the name fits.
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, &name[0], static_cast<DWORD>(name.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        // Names are bounded by the 32767-character limit of extended paths.
        if (name.size() > 0x10000) {
            return std::wstring();
        }
        name.resize(name.size() * 2);
    }
}

std::wstring ModuleDirectory(HMODULE module)
{
    std::wstring name = ModuleFileName(module);
    const size_t separator = name.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return std::wstring();
    }
    name.resize(separator);
    return name;
}
