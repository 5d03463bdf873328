#include "platform/ProgramDirectory.h"

#include "platform/Error.h"
#include "platform/UserFolders.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace querlin::platform {

namespace {
std::string testingDirectory;
}

std::string ProgramDirectory()
{
    if (!testingDirectory.empty())
        return testingDirectory;
#ifdef _WIN32
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0)
            throw Error("Cannot find the program's own file");
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(buffer.rfind(L'\\') + 1);
    int size = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), int(buffer.size()), nullptr, 0, nullptr, nullptr);
    std::string directory(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer.data(), int(buffer.size()), directory.data(), size, nullptr, nullptr);
    return directory;
#else
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        throw Error("Cannot find the program's own file: " + ec.message());
    std::string directory = exe.parent_path().string();
    if (directory.empty() || directory.back() != '/')
        directory += '/';
    return directory;
#endif
}

std::string FilesDirectory()
{
    std::string directory = ProgramDirectory();
    // A folder that is not there is no folder of the machine's to stand in
    // for: entering it fails with its own error.
    std::error_code missing;
    if (!std::filesystem::is_directory(directory, missing) || CanWriteInFolder(directory))
        return directory;
    std::string user = UserDataFolder();
    std::error_code ec;
    std::filesystem::create_directories(user, ec);
    return user;
}

void EnterProgramDirectory()
{
    std::string directory = FilesDirectory();
#ifdef _WIN32
    int size = MultiByteToWideChar(CP_UTF8, 0, directory.data(), int(directory.size()), nullptr, 0);
    std::wstring wide(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, directory.data(), int(directory.size()), wide.data(), size);
    if (!SetCurrentDirectoryW(wide.c_str()))
        throw Error("Cannot change to the program directory '" + directory + "'");
#else
    // The files the program keeps beside itself are named relative to it, so
    // going on in another directory would read and write the wrong ones.
    if (::chdir(directory.c_str()) != 0)
        throw Error("Cannot change to the program directory '" + directory + "': " + std::strerror(errno));
#endif
}

void SetProgramDirectoryForTesting(const std::string& directoryWithSeparator)
{
    testingDirectory = directoryWithSeparator;
}

} // namespace querlin::platform
