// Owns one COM interface pointer; released exactly once, on every path (the DLLs and the tools).
#pragma once

#include <unknwn.h>

#include <utility>

template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }

    ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_ptr = std::exchange(other.m_ptr, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    void reset() noexcept
    {
        if (T* old = std::exchange(m_ptr, nullptr)) {
            old->Release();
        }
    }

    // Holds a reference of its own to pointer (which may be null), releasing the one held before.
    void share(T* pointer) noexcept
    {
        if (pointer) {
            pointer->AddRef();
        }
        reset();
        m_ptr = pointer;
    }

    // For factory functions that return a new reference through a pointer.
    T** put() noexcept
    {
        reset();
        return &m_ptr;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    template <typename U>
    HRESULT As(ComPtr<U>& other) const noexcept
    {
        return m_ptr->QueryInterface(__uuidof(U), other.put_void());
    }

private:
    T* m_ptr = nullptr;
};
