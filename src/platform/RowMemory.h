#pragma once
// The memory budget for the rows that record sets keep, shared by every
// record set of the process. By default a quarter of what the program may
// use: the machine's physical memory, or less where the process's control
// group (cgroup v2 memory.max / memory.high, v1 memory.limit_in_bytes)
// allows less. QUERLIN_ROW_MEMORY ("64M", "2G", bytes without a suffix)
// sets it instead. Rows past the budget go to a cache file (CacheFile.h).
// Plain functions; any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace querlin::platform {

// "4096", "64K", "64M", "2G", "1T" (binary multiples; the letter in either
// case, a trailing "B" or "iB" allowed, blanks around). Nothing for
// anything else, zero, or a size past 64 bits.
std::optional<std::uint64_t> ParseMemorySize(std::string_view text);

// The smallest memory limit of the group named in cgroupText (the text of
// /proc/self/cgroup) and of the groups above it, read below root (where the
// cgroup file systems are mounted, "/sys/fs/cgroup"). Nothing when no
// limit is set or none can be read.
std::optional<std::uint64_t> ControlGroupMemoryLimit(const std::string& cgroupText, const std::string& root);

// The machine's physical memory, in bytes.
std::uint64_t PhysicalMemory();

// The budget in bytes: QUERLIN_ROW_MEMORY when it is a size, else a quarter
// of the smaller of PhysicalMemory and the control group's limit. Read once.
std::uint64_t RowMemoryBudget();

// Takes bytes from the budget: false, and nothing taken, when they would
// pass it. Every byte taken is given back with ReleaseRowMemory.
bool ReserveRowMemory(std::size_t bytes);
void ReleaseRowMemory(std::size_t bytes);
std::uint64_t RowMemoryInUse();

// The record sets' workers come and go by the thousand in a day's use. With
// glibc each new thread may take a heap (an arena) of its own, and memory
// freed in one is never used by another, so the process grows in pieces
// though nothing leaks (a quarter in 2,000 clicks of the soak). Called
// first in main: one heap for every thread. Elsewhere nothing.
void ShareOneHeap();

// For the tests: another budget from now on (0: the process's own again),
// and allocations of rows, in memory or on disk, failing as an exhausted
// memory would (std::bad_alloc) once the bytes asked for since the call
// pass limit (0: never).
void SetRowMemoryBudgetForTesting(std::uint64_t bytes);
void FailRowAllocationsBeyondForTesting(std::uint64_t limit);
// Called by the allocator before each allocation of rows; throws
// std::bad_alloc when the test's limit is passed.
void CheckRowAllocation(std::size_t bytes);

} // namespace querlin::platform
