#include "AllocationCounter.h"

#include <cstddef>
#include <cstdlib>

#if defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
  #define VYX_SANITIZED_ALLOCATOR 1
 #endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
 #define VYX_SANITIZED_ALLOCATOR 1
#endif

namespace
{
    thread_local bool counting = false;
    thread_local long count = 0;
} // namespace

#if ! defined(VYX_SANITIZED_ALLOCATOR) && defined(__GLIBC__)
 #define VYX_COUNTS_ALLOCATIONS 1

// glibc's own entry points; the program's malloc family forwards to them and counts.
extern "C" void* __libc_malloc (std::size_t);
extern "C" void* __libc_calloc (std::size_t, std::size_t);
extern "C" void* __libc_realloc (void*, std::size_t);

extern "C" void* malloc (std::size_t size)
{
    if (counting)
        ++count;
    return __libc_malloc (size);
}

extern "C" void* calloc (std::size_t n, std::size_t size)
{
    if (counting)
        ++count;
    return __libc_calloc (n, size);
}

extern "C" void* realloc (void* p, std::size_t size)
{
    if (counting)
        ++count;
    return __libc_realloc (p, size);
}
#endif

namespace vyx::test
{

AllocationCounter::AllocationCounter()
{
    count = 0;
    counting = true;
}

AllocationCounter::~AllocationCounter()
{
    counting = false;
}

long AllocationCounter::get() const
{
    return count;
}

bool AllocationCounter::isAvailable()
{
   #if VYX_COUNTS_ALLOCATIONS
    return true;
   #else
    return false;
   #endif
}

} // namespace vyx::test
