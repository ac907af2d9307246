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
