// The file a module was loaded from: each DLL registers its own file and finds the renderer beside it.
#pragma once

#include <windows.h>

#include <string>

// The whole file name of a module, however long; empty if the platform cannot name it.
// Throws std::bad_alloc.
std::wstring ModuleFileName(HMODULE module);

// Directory of a module's own file, without a trailing separator; empty if the name cannot be
// obtained or holds no separator. Throws std::bad_alloc.
std::wstring ModuleDirectory(HMODULE module);
