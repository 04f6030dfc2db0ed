#include "AllocationCounter.h"

#include <atomic>
#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>

// glibc's own allocator entry points, which ours forward to.
extern "C" void* __libc_malloc (size_t);
extern "C" void* __libc_calloc (size_t, size_t);
extern "C" void* __libc_realloc (void*, size_t);
extern "C" void __libc_free (void*);
extern "C" void* __libc_memalign (size_t, size_t);

namespace
{
thread_local int counting = 0;
thread_local korvel::testing::Counts threadCounts;
std::atomic<std::int64_t> liveBytes { 0 };

void noteAllocation (void* p)
{
    if (p == nullptr)
        return;
    liveBytes += (std::int64_t) malloc_usable_size (p);
    if (counting > 0)
        ++threadCounts.allocations;
}

void noteFree (void* p)
{
    if (p == nullptr)
        return;
    liveBytes -= (std::int64_t) malloc_usable_size (p);
    if (counting > 0)
        ++threadCounts.frees;
}

void noteLock()
{
    if (counting > 0)
        ++threadCounts.locks;
}

template <typename Function>
Function next (const char* name)
{
    return reinterpret_cast<Function> (dlsym (RTLD_NEXT, name));
}
} // namespace

extern "C"
{
    void* malloc (size_t size)
    {
        auto* p = __libc_malloc (size);
        noteAllocation (p);
        return p;
    }

    void* calloc (size_t n, size_t size)
    {
        auto* p = __libc_calloc (n, size);
        noteAllocation (p);
        return p;
    }

    void* realloc (void* old, size_t size)
    {
        noteFree (old);
        auto* p = __libc_realloc (old, size);
        noteAllocation (p != nullptr ? p : (size == 0 ? nullptr : old));
        return p;
    }

    void free (void* p)
    {
        noteFree (p);
        __libc_free (p);
    }

    void* memalign (size_t alignment, size_t size)
    {
        auto* p = __libc_memalign (alignment, size);
        noteAllocation (p);
        return p;
    }

    void* aligned_alloc (size_t alignment, size_t size)
    {
        return memalign (alignment, size);
    }

    int posix_memalign (void** result, size_t alignment, size_t size)
    {
        *result = memalign (alignment, size);
        return *result != nullptr ? 0 : 12; // ENOMEM
    }

    int pthread_mutex_lock (pthread_mutex_t* m)
    {
        static const auto real = next<int (*) (pthread_mutex_t*)> ("pthread_mutex_lock");
        noteLock();
        return real (m);
    }

    int pthread_mutex_trylock (pthread_mutex_t* m)
    {
        static const auto real = next<int (*) (pthread_mutex_t*)> ("pthread_mutex_trylock");
        noteLock();
        return real (m);
    }

    int pthread_rwlock_rdlock (pthread_rwlock_t* l)
    {
        static const auto real = next<int (*) (pthread_rwlock_t*)> ("pthread_rwlock_rdlock");
        noteLock();
        return real (l);
    }

    int pthread_rwlock_wrlock (pthread_rwlock_t* l)
    {
        static const auto real = next<int (*) (pthread_rwlock_t*)> ("pthread_rwlock_wrlock");
        noteLock();
        return real (l);
    }
}

namespace korvel::testing
{
ScopedCounter::ScopedCounter()
    : before (threadCounts)
{
    ++counting;
}

ScopedCounter::~ScopedCounter()
{
    --counting;
}

Counts ScopedCounter::counts() const
{
    return { threadCounts.allocations - before.allocations, threadCounts.frees - before.frees, threadCounts.locks - before.locks };
}

std::int64_t liveHeapBytes()
{
    return liveBytes.load();
}
} // namespace korvel::testing
