#include <gtest/gtest.h>

#include "platform/Error.h"
#include "platform/ProgramDirectory.h"
#include "testsupport/TestSupport.h"
#include "testsupport/WithoutOverrideRights.h"

#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace querlin::platform;

TEST(ProgramDirectory, IsTheFolderOfTheRunningProgramWithSeparator)
{
    std::string directory = ProgramDirectory();
    ASSERT_FALSE(directory.empty());
#ifdef _WIN32
    EXPECT_EQ(directory.back(), '\\');
    wchar_t exe[4096];
    const DWORD length = GetModuleFileNameW(nullptr, exe, 4096);
    ASSERT_GT(length, 0u);
    const std::filesystem::path folder = std::filesystem::path(std::wstring(exe, length)).parent_path();
    EXPECT_EQ(std::filesystem::path(directory.substr(0, directory.size() - 1)), folder);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(directory) / "platform_tests.exe"));
#else
    EXPECT_EQ(directory.back(), '/');
    auto exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(directory, exe.parent_path().string() + "/");
#endif
}

TEST(ProgramDirectory, TestsRunInAFolderOfTheirOwn)
{
    querlin::test::TempDir dir;
    auto before = std::filesystem::current_path();
    std::string own = dir.Path().string() + "/";
    SetProgramDirectoryForTesting(own);
    EXPECT_EQ(ProgramDirectory(), own);
    EnterProgramDirectory();
    EXPECT_EQ(std::filesystem::current_path(), dir.Path());
    SetProgramDirectoryForTesting("");
    EXPECT_NE(ProgramDirectory(), own);
    std::filesystem::current_path(before);
}

TEST(ProgramDirectory, AMissingFolderIsAnError)
{
    SetProgramDirectoryForTesting("/nonexistent/querlin/");
    EXPECT_THROW(EnterProgramDirectory(), querlin::Error);
    SetProgramDirectoryForTesting("");
}

#ifndef _WIN32
// (Windows keeps a user's copies through its own virtualisation.)
// An installed program's folder belongs to the machine: the user's own data
// folder stands in for it, for the files and as the current directory.
TEST(ProgramDirectory, UsersDataFolderStandsInForAFolderThatCannotBeWritten)
{
    querlin::test::TempDir dir;
    const auto before = std::filesystem::current_path();
    const std::string program = dir.Path().string() + "/bin/";
    std::filesystem::create_directories(program);
    setenv("XDG_DATA_HOME", (dir.Path() / "data").c_str(), 1);
    SetProgramDirectoryForTesting(program);
    EXPECT_EQ(FilesDirectory(), program) << "a folder that can be written is used as it is";

    std::filesystem::permissions(program, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    std::string files, current;
    querlin::test::RunWithoutOverrideRights([&] {
        files = FilesDirectory();
        EnterProgramDirectory();
        current = std::filesystem::current_path().string() + "/";
    });
    EXPECT_EQ(files, dir.Path().string() + "/data/querlin/");
    EXPECT_EQ(current, files);
    EXPECT_TRUE(std::filesystem::is_directory(files));
    EXPECT_TRUE(std::filesystem::is_empty(program)) << "nothing was left in the program's folder";

    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    SetProgramDirectoryForTesting("");
    unsetenv("XDG_DATA_HOME");
    std::filesystem::current_path(before);
}
#endif
