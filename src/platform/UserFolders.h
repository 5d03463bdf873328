#pragma once
// Where a user's own copies live when the machine's places cannot be
// written, as Windows stands a user's copy in for a program that writes into
// its protected folder or into the machine's registry: the user's
// configuration folder (the hive) and data folder (the files the program
// keeps beside itself).
//
// On Linux: $XDG_CONFIG_HOME and $XDG_DATA_HOME when set to absolute paths,
// else ~/.config and ~/.local/share, the home being $HOME or, without it, the
// account's home. Each ends in "querlin/". Plain functions; any thread.

#include <string>

namespace querlin::platform {

std::string UserConfigFolder();
std::string UserDataFolder();

// True when a file can be created in the existing folder right now, tried
// for real: permission bits alone do not tell, for root or on a read-only
// mount.
bool CanWriteInFolder(const std::string& folder);

} // namespace querlin::platform
