#include <gtest/gtest.h>

#include "platform/AtomicFile.h"
#include "testsupport/WithoutOverrideRights.h"
#include "testsupport/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace querlin::platform;
using querlin::test::ReadFile;
using querlin::test::TempDir;
using querlin::test::WriteFile;

namespace fs = std::filesystem;

namespace {

#ifndef _WIN32 // permission bits, inodes and advisory locks are POSIX's
unsigned ModeOf(const fs::path& file)
{
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

ino_t InodeOf(const fs::path& file)
{
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(AtomicFile, ReplaceTakesTheOldFilesPlaceAndKeepsItsMode)
{
    TempDir dir;
    const fs::path file = dir.File("hive.reg");
    WriteFile(file, "old");
    ::chmod(file.c_str(), 0640);
    const ino_t before = InodeOf(file);

    EXPECT_FALSE(ReplaceFileAtomically(file, std::string("new\0bytes", 9)));
    EXPECT_EQ(ReadFile(file), std::string("new\0bytes", 9));
    EXPECT_NE(InodeOf(file), before) << "a new file was renamed into place";
    EXPECT_EQ(ModeOf(file), 0640u);
    EXPECT_EQ(querlin::test::FilesIn(dir.Path()), std::vector<std::string>{"hive.reg"}) << "no temporary file is left";
}

TEST(AtomicFile, NewFileGetsTheGivenModeOrTheUmasksDefault)
{
    TempDir dir;
    EXPECT_FALSE(ReplaceFileAtomically(dir.File("given"), "x", {Placement::Replace, 0604}));
    EXPECT_EQ(ModeOf(dir.File("given")), 0604u);
    const mode_t old = ::umask(027);
    EXPECT_FALSE(ReplaceFileAtomically(dir.File("default"), "x"));
    ::umask(old);
    EXPECT_EQ(ModeOf(dir.File("default")), 0640u);
}

TEST(AtomicFile, AFolderThatCannotBeWrittenLeavesTheOldFileWhole)
{
    TempDir dir;
    const fs::path file = dir.File("tnsnames.ora");
    WriteFile(file, "old");
    fs::permissions(dir.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    std::error_code error;
    querlin::test::RunWithoutOverrideRights([&] { error = ReplaceFileAtomically(file, "new"); });
    fs::permissions(dir.Path(), fs::perms::owner_all);
    EXPECT_EQ(error, std::errc::permission_denied);
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(querlin::test::FilesIn(dir.Path()), std::vector<std::string>{"tnsnames.ora"});
}
#endif

TEST(AtomicFile, AMissingFolderIsReportedAndNothingIsMade)
{
    TempDir dir;
    const auto error = ReplaceFileAtomically(dir.Path() / "no" / "such" / "file", "x");
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(querlin::test::FilesIn(dir.Path()).empty());
}

TEST(AtomicFile, ABuildThatThrowsLeavesNoTraceAndPassesTheErrorOn)
{
    TempDir dir;
    const fs::path file = dir.File("table.mdb");
    WriteFile(file, "old");
    fs::path seen;
    EXPECT_THROW(PlaceFileAtomically(file,
                                     [&](const fs::path& temporary) {
                                         seen = temporary;
                                         WriteFile(temporary, "half");
                                         throw std::runtime_error("disk full");
                                     }),
                 std::runtime_error);
    EXPECT_EQ(seen.parent_path(), dir.Path()) << "built beside the file";
    EXPECT_EQ(ReadFile(file), "old");
    EXPECT_EQ(querlin::test::FilesIn(dir.Path()), std::vector<std::string>{"table.mdb"});
}

TEST(AtomicFile, CreateNewNeverReplacesAnExistingFile)
{
    TempDir dir;
    const fs::path file = dir.File("table.mdb");
    auto build = [](const std::string& bytes) {
        return [bytes](const fs::path& temporary) { WriteFile(temporary, bytes); };
    };
    EXPECT_FALSE(PlaceFileAtomically(file, build("first"), {Placement::CreateNew, {}}));
    EXPECT_EQ(ReadFile(file), "first");
    EXPECT_EQ(PlaceFileAtomically(file, build("second"), {Placement::CreateNew, {}}), std::errc::file_exists);
    EXPECT_EQ(ReadFile(file), "first");
    EXPECT_EQ(querlin::test::FilesIn(dir.Path()), std::vector<std::string>{"table.mdb"});
}

// Temporary files stranded by killed writers go at the next write of the
// file; those of a writer still at work (locked, or touched a moment ago),
// of other files and of other shapes stay.
TEST(AtomicFile, StrandedTemporaryFilesOfAKilledWriterAreRemovedAtTheNextWrite)
{
    TempDir dir;
    const fs::path file = dir.File("registry.reg");
    auto make = [&](const std::string& name, bool old) {
        WriteFile(dir.File(name), "stranded");
        if (old)
            fs::last_write_time(dir.File(name), fs::file_time_type::clock::now() - std::chrono::hours(1));
    };
    make(".registry.reg.Ab12Cd", true);
    make(".registry.reg.fresh1", false);
    make(".registry.reg.locked", true);
    make(".other.reg.Xy98Zw", true);
    make(".registry.reg.toolong", true);
#ifdef _WIN32
    // A writer at work holds its file open without leave to delete it.
    const HANDLE held = CreateFileW(fs::path(dir.File(".registry.reg.locked")).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReplaceFileAtomically(file, "new"));
    CloseHandle(held);
#else
    const int held = ::open(dir.File(".registry.reg.locked").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    EXPECT_FALSE(ReplaceFileAtomically(file, "new"));
    ::close(held);
#endif
    EXPECT_EQ(ReadFile(file), "new");
    EXPECT_EQ(querlin::test::FilesIn(dir.Path()), (std::vector<std::string>{".other.reg.Xy98Zw", ".registry.reg.fresh1",
                                                           ".registry.reg.locked", ".registry.reg.toolong",
                                                           "registry.reg"}));
}

// A reader going over the file all the while sees the old contents or the
// new, whole, never a part or nothing; on Windows the replacing waits out a
// reader that has the file open, and an open that meets the rename itself
// is refused for that moment (the system's sharing rules) and tried again.
TEST(AtomicFile, ReadersSeeTheOldFileOrTheNewOne)
{
    TempDir dir;
    const fs::path file = dir.File("tnsnames.ora");
    auto contents = [](int generation) { return std::string(20000 + generation, char('a' + generation % 26)); };
    WriteFile(file, contents(0));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> refused{0};
    std::atomic<int> reads{0};
    std::size_t tornSize = 0;
    std::thread reader([&] {
        while (!done) {
            std::ifstream in(file, std::ios::binary);
            if (!in) {
                ++refused;
                continue;
            }
            const std::string seen((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const int generation = int(seen.size()) - 20000;
            if (generation < 0 || seen != contents(generation)) {
                if (torn++ == 0)
                    tornSize = seen.size();
            }
            ++reads;
            in.close();
            // A pause between reads, as any reader makes: one that never
            // lets go of the file would hold the replacing off on Windows.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int generation = 1; generation <= 30; ++generation)
        EXPECT_FALSE(ReplaceFileAtomically(file, contents(generation))) << generation;
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads, the first of " << tornSize << " bytes";
#ifndef _WIN32
    EXPECT_EQ(refused, 0) << "the name always leads to a whole file";
#endif
    EXPECT_GT(reads, 0);
    EXPECT_EQ(ReadFile(file), contents(30));
    EXPECT_EQ(querlin::test::FilesIn(dir.Path()), std::vector<std::string>{"tnsnames.ora"});
}

} // namespace
