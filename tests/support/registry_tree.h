// The per-user registry as the registration tests compare it: every key and value below a key.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace testing_support {

struct Value {
    DWORD type;
    std::vector<uint8_t> bytes;
    bool operator==(const Value& other) const { return type == other.type && bytes == other.bytes; }
};

std::ostream& operator<<(std::ostream& os, const Value& value);

using Tree = std::map<std::wstring, Value>;  // "key path|value name" -> value; "key path|<key>" for a key

// Every key and value below a key, so a test can compare the whole layout, not just what it expects.
// The view is the process's own unless given.
void DumpTree(HKEY root, const std::wstring& path, Tree& tree, REGSAM view = 0);
Tree DumpKey(const std::wstring& path, REGSAM view);
Tree DumpHkcu(REGSAM view = 0);

// REG_SZ text with its terminator, as the libraries store it.
Value Sz(const std::wstring& text);

// Creates a key of HKEY_CURRENT_USER in the given view.
void CreateKey(const std::wstring& path, REGSAM view = 0);

// Runs a program and waits for it (at most 60 s); its exit code, or the error of its start with the top bit set.
DWORD RunAndWait(const std::wstring& commandLine);

// The full form of a path (MAX_PATH characters at most).
std::wstring FullPath(const std::wstring& path);

}  // namespace testing_support
