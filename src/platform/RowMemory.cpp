#include "platform/RowMemory.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <new>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace querlin::platform {

namespace {

std::atomic<std::uint64_t> inUse{0};
std::atomic<std::uint64_t> budgetForTesting{0};
std::atomic<std::uint64_t> failLimit{0};
std::atomic<std::uint64_t> askedSinceLimit{0};

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// A file's first line as a number of bytes; "max" and anything else that is
// no number mean no limit.
std::optional<std::uint64_t> LimitIn(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return std::nullopt;
    const std::string_view text = Trimmed(line);
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9')
            return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(ch - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// The limits in one group's folder and in each folder above it, up to root.
std::optional<std::uint64_t> SmallestUpwards(const std::string& root, std::string group,
                                             std::initializer_list<const char*> files)
{
    std::optional<std::uint64_t> smallest;
    for (;;) {
        while (group.size() > 1 && group.back() == '/')
            group.pop_back();
        // Inside a container the group's own path may not be there: its
        // namespace shows it as the root.
        for (const char* file : files) {
            const std::optional<std::uint64_t> limit = LimitIn(root + (group == "/" ? "" : group) + "/" + file);
            if (limit && (!smallest || *limit < *smallest))
                smallest = limit;
        }
        if (group.empty() || group == "/")
            break;
        const std::size_t slash = group.rfind('/');
        group = slash == 0 || slash == std::string::npos ? "/" : group.substr(0, slash);
    }
    return smallest;
}

std::uint64_t DefaultBudget()
{
    std::uint64_t usable = PhysicalMemory();
#ifndef _WIN32
    std::ifstream in("/proc/self/cgroup");
    std::stringstream text;
    text << in.rdbuf();
    if (const std::optional<std::uint64_t> limit = ControlGroupMemoryLimit(text.str(), "/sys/fs/cgroup");
        limit && *limit < usable)
        usable = *limit;
#endif
    return usable / 4;
}

std::uint64_t ProcessBudget()
{
    if (const char* value = std::getenv("QUERLIN_ROW_MEMORY"); value && *value) {
        if (const std::optional<std::uint64_t> size = ParseMemorySize(value))
            return *size;
        std::fprintf(stderr, "QUERLIN_ROW_MEMORY=%s is not a size (such as 64M or 2G); the default is used\n",
                     value);
    }
    return DefaultBudget();
}

} // namespace

std::optional<std::uint64_t> ParseMemorySize(std::string_view text)
{
    text = Trimmed(text);
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (i == 0)
        return std::nullopt;
    std::string_view unit = Trimmed(text.substr(i));
    int shift = 0;
    if (!unit.empty()) {
        switch (std::toupper(static_cast<unsigned char>(unit.front()))) {
        case 'K': shift = 10; break;
        case 'M': shift = 20; break;
        case 'G': shift = 30; break;
        case 'T': shift = 40; break;
        case 'B': shift = 0; break;
        default: return std::nullopt;
        }
        if (std::toupper(static_cast<unsigned char>(unit.front())) != 'B') {
            unit.remove_prefix(1);
            if (!unit.empty() && (unit.front() == 'i' || unit.front() == 'I'))
                unit.remove_prefix(1);
        }
        if (!unit.empty() && (unit.front() == 'b' || unit.front() == 'B'))
            unit.remove_prefix(1);
        if (!unit.empty())
            return std::nullopt;
    }
    if (value == 0 || (shift > 0 && value > (std::numeric_limits<std::uint64_t>::max() >> shift)))
        return std::nullopt;
    return value << shift;
}

std::optional<std::uint64_t> ControlGroupMemoryLimit(const std::string& cgroupText, const std::string& root)
{
    std::optional<std::uint64_t> smallest;
    auto take = [&](std::optional<std::uint64_t> limit) {
        if (limit && (!smallest || *limit < *smallest))
            smallest = limit;
    };
    std::istringstream lines(cgroupText);
    std::string line;
    while (std::getline(lines, line)) {
        // "id:controllers:path"; the path may itself hold colons.
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (path.empty() || path.front() != '/')
            continue;
        if (line.compare(0, first, "0") == 0 && controllers.empty()) {
            take(SmallestUpwards(root, path, {"memory.max", "memory.high"}));
        } else {
            std::istringstream names(controllers);
            std::string name;
            while (std::getline(names, name, ',')) {
                if (name == "memory")
                    take(SmallestUpwards(root + "/memory", path, {"memory.limit_in_bytes"}));
            }
        }
    }
    return smallest;
}

std::uint64_t PhysicalMemory()
{
#ifdef _WIN32
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status))
        return status.ullTotalPhys;
    return std::uint64_t(1) << 32;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return std::uint64_t(1) << 32;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
#endif
}

std::uint64_t RowMemoryBudget()
{
    if (const std::uint64_t forTesting = budgetForTesting.load(std::memory_order_relaxed))
        return forTesting;
    static const std::uint64_t budget = ProcessBudget();
    return budget;
}

bool ReserveRowMemory(std::size_t bytes)
{
    const std::uint64_t budget = RowMemoryBudget();
    std::uint64_t used = inUse.load(std::memory_order_relaxed);
    do {
        if (used > budget || bytes > budget - used)
            return false;
    } while (!inUse.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
    return true;
}

void ReleaseRowMemory(std::size_t bytes)
{
    inUse.fetch_sub(bytes, std::memory_order_relaxed);
}

std::uint64_t RowMemoryInUse()
{
    return inUse.load(std::memory_order_relaxed);
}

void ShareOneHeap()
{
#ifdef __GLIBC__
    mallopt(M_ARENA_MAX, 1);
#endif
}

void SetRowMemoryBudgetForTesting(std::uint64_t bytes)
{
    budgetForTesting.store(bytes, std::memory_order_relaxed);
}

void FailRowAllocationsBeyondForTesting(std::uint64_t limit)
{
    askedSinceLimit.store(0, std::memory_order_relaxed);
    failLimit.store(limit, std::memory_order_relaxed);
}

void CheckRowAllocation(std::size_t bytes)
{
    const std::uint64_t limit = failLimit.load(std::memory_order_relaxed);
    if (limit == 0)
        return;
    if (askedSinceLimit.fetch_add(bytes, std::memory_order_relaxed) + bytes > limit)
        throw std::bad_alloc();
}

} // namespace querlin::platform
