#include "platform/UserFolders.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>
#endif

namespace querlin::platform {

namespace {

std::string WithSeparator(std::filesystem::path path)
{
    std::string text = path.make_preferred().string();
    if (text.empty() || text.back() != std::filesystem::path::preferred_separator)
        text += static_cast<char>(std::filesystem::path::preferred_separator);
    return text;
}

std::filesystem::path Home()
{
#ifdef _WIN32
    for (const char* name : {"LOCALAPPDATA", "APPDATA", "USERPROFILE"})
        if (const char* value = std::getenv(name); value && *value)
            return value;
    return ".";
#else
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return home;
    if (const passwd* account = getpwuid(getuid()); account && account->pw_dir)
        return account->pw_dir;
    return "/tmp";
#endif
}

std::string Folder(const char* variable, const char* fallbackBelowHome)
{
    std::filesystem::path base;
    if (const char* value = std::getenv(variable); value && *value && std::filesystem::path(value).is_absolute())
        base = value;
    else
        base = Home() / fallbackBelowHome;
    return WithSeparator(base / "querlin");
}

} // namespace

std::string UserConfigFolder()
{
    return Folder("XDG_CONFIG_HOME", ".config");
}

std::string UserDataFolder()
{
    return Folder("XDG_DATA_HOME", ".local/share");
}

bool CanWriteInFolder(const std::string& folder)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec))
        return false;
#ifdef _WIN32
    const std::filesystem::path probe = std::filesystem::path(folder) / ".querlin-write-probe";
    FILE* file = _wfopen(probe.c_str(), L"wb");
    if (!file)
        return false;
    std::fclose(file);
    std::filesystem::remove(probe, ec);
    return true;
#else
    std::string probe = (std::filesystem::path(folder) / ".querlin-probe-XXXXXX").string();
    int fd = mkstemp(probe.data());
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
#endif
}

} // namespace querlin::platform
