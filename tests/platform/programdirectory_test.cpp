#include <gtest/gtest.h>

#include "platform/Error.h"
#include "platform/ProgramDirectory.h"
#include "testsupport/TestSupport.h"

#include <filesystem>

using namespace querlin::platform;

TEST(ProgramDirectory, IsTheFolderOfTheRunningProgramWithSeparator)
{
    std::string directory = ProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), '/');
    auto exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(directory, exe.parent_path().string() + "/");
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
