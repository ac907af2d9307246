// Move-only owners for Win32 resources, shared by both DLLs, the renderer and the tools.
#pragma once

#include <windows.h>

#include <utility>

// Owns one resource whose empty value and release function are given by Traits.
template <typename Traits>
class UniqueResource {
public:
    using Handle = typename Traits::Handle;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Handle handle) noexcept : m_handle(handle) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : m_handle(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Handle get() const noexcept { return m_handle; }
    bool valid() const noexcept { return m_handle != Traits::Empty(); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without releasing; the caller now owns the resource.
    Handle release() noexcept { return std::exchange(m_handle, Traits::Empty()); }

    // Releases the owned resource, if any, without disturbing the thread's last error.
    void reset(Handle handle = Traits::Empty()) noexcept
    {
        Handle old = std::exchange(m_handle, handle);
        if (old != Traits::Empty()) {
            const DWORD lastError = GetLastError();
            Traits::Close(old);
            SetLastError(lastError);
        }
    }

    // For APIs that write a new handle through a pointer; releases the current one first.
    Handle* put() noexcept
    {
        reset();
        return &m_handle;
    }

private:
    Handle m_handle = Traits::Empty();
};

struct HandleTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

// CreateFileW reports failure as INVALID_HANDLE_VALUE, not as null.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { CloseHandle(h); }
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { RegCloseKey(h); }
};

struct ModuleTraits {
    using Handle = HMODULE;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { FreeLibrary(h); }
};

// Bitmaps, fonts, pens and brushes are all freed with DeleteObject.
template <typename GdiHandle>
struct GdiObjectTraits {
    using Handle = GdiHandle;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { DeleteObject(h); }
};

// A view of a file mapping, from MapViewOfFile.
struct MappedViewTraits {
    using Handle = const void*;
    static Handle Empty() noexcept { return nullptr; }
    static void Close(Handle view) noexcept { UnmapViewOfFile(view); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueHKey = UniqueResource<RegKeyTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueMappedView = UniqueResource<MappedViewTraits>;

// The two handles CreateProcessW returns. Members are destroyed in reverse order, so the thread
// handle is closed before the process handle.
struct UniqueProcessInformation {
    UniqueHandle process;
    UniqueHandle thread;

    void adopt(const PROCESS_INFORMATION& info) noexcept
    {
        process.reset(info.hProcess);
        thread.reset(info.hThread);
    }
};
