// Makes one chosen allocation of the calling thread fail, to test the out-of-memory paths.
#pragma once

namespace testing_support {

// While alive, the n-th (0-based) allocation through operator new on this thread throws
// std::bad_alloc (or yields null for the nothrow forms); the others succeed.
class FailAllocation {
public:
    explicit FailAllocation(long n);
    ~FailAllocation();
    FailAllocation(const FailAllocation&) = delete;
    FailAllocation& operator=(const FailAllocation&) = delete;

    // True once the chosen allocation has been made to fail.
    bool Triggered() const;
};

}  // namespace testing_support
