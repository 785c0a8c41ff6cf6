#pragma once
// The largest single heap allocation the watching thread makes while a watch
// is alive. Under AddressSanitizer the allocator's hooks report the sizes;
// elsewhere this test program replaces the global operator new (its
// allocations go to malloc, unchanged otherwise). One watch at a time.

#include <cstddef>

namespace enginetest {

class AllocationWatch {
public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;

    size_t Largest() const;
};

}  // namespace enginetest
