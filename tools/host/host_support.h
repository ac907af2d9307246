// What both hosts (thumbhost, previewhost) need around the handlers: their apartment, their output
// and the names of the files they are given.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

// Shell handlers are apartment objects: the Shell calls them on single-threaded apartments.
class ComApartment {
public:
    ComApartment() noexcept : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(m_hr)) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    HRESULT Result() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};

// Writes the line and a newline as UTF-8, whatever the console code page: output is mostly read
// from pipes and files.
void Print(FILE* stream, const std::wstring& line);

// The full form of a path, or the path as given when the platform cannot make one.
std::wstring FullPath(const std::wstring& path);

// The last part of a path.
std::wstring FileName(const std::wstring& path);

// The value of an option that takes one, from the next argument (i moves on to it); false with a
// reason in error when there is none.
bool TakeValue(int argc, wchar_t** argv, int& i, std::wstring& value, std::wstring& error);

// A host's whole wmain: no error boxes (a handler DLL that fails to load must not put one up), lines
// ending in "\n" alone (as scripts reading the output through Wine expect), and no exception out of
// run: one is told on standard error as "<name>: ..." and ends the host with failureCode.
int HostMain(const char* name, int (*run)(int, wchar_t**), int argc, wchar_t** argv, int failureCode);
