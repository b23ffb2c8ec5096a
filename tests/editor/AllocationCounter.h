#pragma once

namespace vyx::test
{

/** Counts the heap allocations (malloc, calloc, realloc, and so every operator new) that the
    calling thread makes while an instance lives. The C allocator of this test program is
    interposed for that; sanitizer builds keep their own allocator, and then nothing is
    counted (isAvailable is false). */
class AllocationCounter
{
public:
    AllocationCounter();
    ~AllocationCounter();

    long get() const;

    static bool isAvailable();

    AllocationCounter (const AllocationCounter&) = delete;
    AllocationCounter& operator= (const AllocationCounter&) = delete;
};

} // namespace vyx::test
