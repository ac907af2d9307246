// Replaces the global allocation functions so that a test can make one allocation fail.
#include "support/allocation_failure.h"

#include <cstdlib>
#include <new>

namespace {

thread_local long t_remaining = -1;  // allocations left before the failing one; -1: none fails
thread_local bool t_triggered = false;

bool ShouldFail() noexcept
{
    if (t_remaining < 0) {
        return false;
    }
    if (t_remaining-- == 0) {
        t_triggered = true;
        return true;
    }
    return false;
}

void* Allocate(std::size_t size) noexcept
{
    if (ShouldFail()) {
        return nullptr;
    }
    return std::malloc(size ? size : 1);
}

}  // namespace

namespace testing_support {

FailAllocation::FailAllocation(long n)
{
    t_triggered = false;
    t_remaining = n;
}

FailAllocation::~FailAllocation()
{
    t_remaining = -1;
}

bool FailAllocation::Triggered() const
{
    return t_triggered;
}

}  // namespace testing_support

void* operator new(std::size_t size)
{
    void* p = Allocate(size);
    if (!p) {
        throw std::bad_alloc();
    }
    return p;
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return Allocate(size);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
