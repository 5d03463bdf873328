// The row budget (its setting, the control group's limits) and the cache
// file that takes the rows past it.

#include <gtest/gtest.h>

#include "platform/CacheFile.h"
#include "platform/RowMemory.h"
#include "testsupport/TestSupport.h"

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace querlin::platform;
using querlin::test::FilesIn;
using querlin::test::TempDir;
using querlin::test::WriteFile;

namespace fs = std::filesystem;

namespace {

TEST(RowMemory, SizesAreReadWithTheirUnitsAndNonsenseIsRefused)
{
    struct Case {
        const char* text;
        std::optional<std::uint64_t> bytes;
    };
    const Case cases[] = {
        {"4096", 4096},
        {"64K", 64ull << 10},
        {" 64m ", 64ull << 20},
        {"2G", 2ull << 30},
        {"2GiB", 2ull << 30},
        {"2gb", 2ull << 30},
        {"1T", 1ull << 40},
        {"100B", 100},
        {"", std::nullopt},
        {"M", std::nullopt},
        {"0", std::nullopt},
        {"-4M", std::nullopt},
        {"4X", std::nullopt},
        {"4MM", std::nullopt},
        {"1.5G", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"20000000000T", std::nullopt},  // past 64 bits once multiplied
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseMemorySize(c.text), c.bytes) << '"' << c.text << '"';
}

TEST(RowMemory, TheSmallestLimitOfTheGroupAndItsParentsCounts)
{
    TempDir root;
    auto put = [&](const std::string& file, const std::string& text) {
        fs::create_directories((root.Path() / file).parent_path());
        WriteFile(root.Path() / file, text + "\n");
    };
    // cgroup v2: the group's own memory.max is "max", its high mark and its
    // parent's limit are lower; the smaller wins.
    put("user.slice/app.scope/memory.max", "max");
    put("user.slice/app.scope/memory.high", "3000000000");
    put("user.slice/memory.max", "2000000000");
    put("memory.max", "max");
    EXPECT_EQ(ControlGroupMemoryLimit("0::/user.slice/app.scope\n", root.Path().string()), 2000000000u);
    // cgroup v1: the memory controller's own folder, among other controllers.
    put("memory/job/memory.limit_in_bytes", "734003200");
    put("memory/memory.limit_in_bytes", "9223372036854771712");
    EXPECT_EQ(ControlGroupMemoryLimit("5:cpu,cpuacct:/job\n4:memory:/job\n1:name=systemd:/\n",
                                      root.Path().string()),
              734003200u);
    // A group whose folder is not there (a container's own view) falls back
    // on the root's files; nothing set is no limit.
    put("memory.high", "1500000000");
    EXPECT_EQ(ControlGroupMemoryLimit("0::/elsewhere/job\n", root.Path().string()), 1500000000u);
    EXPECT_EQ(ControlGroupMemoryLimit("0::/\n", (root.Path() / "none").string()), std::nullopt);
    EXPECT_EQ(ControlGroupMemoryLimit("garbage\n", root.Path().string()), std::nullopt);
}

TEST(RowMemory, TheBudgetIsSharedAndNeverPassed)
{
    SetRowMemoryBudgetForTesting(1000 + RowMemoryInUse());
    EXPECT_TRUE(ReserveRowMemory(600));
    EXPECT_FALSE(ReserveRowMemory(600));
    EXPECT_TRUE(ReserveRowMemory(400));
    EXPECT_FALSE(ReserveRowMemory(1));
    ReleaseRowMemory(1000);
    EXPECT_TRUE(ReserveRowMemory(1000));
    ReleaseRowMemory(1000);
    SetRowMemoryBudgetForTesting(0);
    EXPECT_GT(RowMemoryBudget(), 0u);
}

TEST(CacheFile, GrowingKeepsWhatIsWrittenAndLeavesNoTrace)
{
    TempDir dir;
    const fs::path folder = dir.Path() / "cache";  // made by the file
    {
        CacheFile file(folder.string());
        std::vector<unsigned char*> parts;
        for (int i = 0; i < 40; ++i) {
            unsigned char* part = file.Extend(i == 7 ? 3 * 1024 * 1024 + 5 : 100);
            EXPECT_EQ(part[0], 0);
            std::memset(part, i + 1, 100);
            parts.push_back(part);
        }
        EXPECT_EQ(file.Size(), 39 * CacheFile::kGrain + 49 * CacheFile::kGrain);
        for (int i = 0; i < 40; ++i)
            EXPECT_EQ(parts[static_cast<std::size_t>(i)][99], i + 1) << i;
#ifndef _WIN32
        // Nameless while open: nothing to leave behind.
        EXPECT_TRUE(FilesIn(folder).empty());
#endif
    }
    EXPECT_TRUE(FilesIn(folder).empty());
}

TEST(CacheFile, AFolderThatCannotBeMadeIsAClearError)
{
    TempDir dir;
    WriteFile(dir.Path() / "plain", "a file, not a folder");
    try {
        CacheFile file((dir.Path() / "plain" / "cache").string());
        FAIL() << "made a cache file below a plain file";
    } catch (const CacheFileError& e) {
        EXPECT_FALSE(e.DiskFull());
        EXPECT_EQ(std::string(e.what()).rfind(kCacheUnwritableText, 0), 0u) << e.what();
    }
}

#ifndef _WIN32

TEST(CacheFile, AFullFileSystemIsAnErrorNeverAFaultOnAPage)
{
    if (geteuid() != 0)
        GTEST_FAIL() << "mounting the small file system needs root";
    TempDir dir;
    ASSERT_EQ(::mount("tmpfs", dir.Path().c_str(), "tmpfs", 0, "size=2m"), 0) << std::strerror(errno);
    {
        CacheFile file(dir.Path().string());
        unsigned char* first = file.Extend(1024 * 1024);
        std::memset(first, 1, 1024 * 1024);
        try {
            file.Extend(2 * 1024 * 1024);
            FAIL() << "the file grew past the file system";
        } catch (const CacheFileError& e) {
            EXPECT_TRUE(e.DiskFull());
            EXPECT_EQ(std::string(e.what()).rfind(kCacheDiskFullText, 0), 0u) << e.what();
        }
        // What was there stays usable, and room still left can be taken.
        EXPECT_EQ(first[1024 * 1024 - 1], 1);
        std::memset(file.Extend(512 * 1024), 2, 512 * 1024);
    }
    EXPECT_TRUE(FilesIn(dir.Path()).empty());
    ::umount(dir.Path().c_str());
}

// The process's file size limit: a full disk as well, and never SIGXFSZ
// (left to end the test program here, as it would end the program).
TEST(CacheFile, AFileSizeLimitIsAFullDiskNotASignal)
{
    TempDir dir;
    CacheFile file(dir.Path().string());
    file.Extend(CacheFile::kGrain);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1024 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool diskFull = false;
    try {
        file.Extend(2 * 1024 * 1024);
    } catch (const CacheFileError& e) {
        diskFull = e.DiskFull();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(diskFull);
}

TEST(CacheFile, AKilledProgramLeavesNothingBehind)
{
    TempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only what a forked child may do: no test framework here.
        CacheFile file(dir.Path().string());
        std::memset(file.Extend(4 * 1024 * 1024), 7, 4 * 1024 * 1024);
        const char byte = 'r';
        if (::write(ready[1], &byte, 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(FilesIn(dir.Path()).empty());
}

#endif

} // namespace
