#pragma once

#include <cstddef>
#include <cstdint>

// Counts what the calling thread does with the heap and with mutexes while a scope is open,
// by interposing the C allocator and the pthread mutex functions (glibc). Link
// AllocationCounter.cpp into a test or benchmark binary to use it.
namespace korvel::testing
{
struct Counts
{
    std::uint64_t allocations = 0, frees = 0, locks = 0;
};

// Counts on this thread only, from construction to destruction.
class ScopedCounter
{
public:
    ScopedCounter();
    ~ScopedCounter();
    Counts counts() const;

private:
    Counts before;
};

// Bytes currently held on the heap by the whole process.
std::int64_t liveHeapBytes();
} // namespace korvel::testing
