#pragma once
// The machine's hive with the user's own copy in front of it, as Windows
// virtualises HKEY_LOCAL_MACHINE for a program that may not write there: a
// key is written in the machine's hive when that can be written, else in the
// user's; reading sees the user's values over the machine's. (On Windows the
// real registry does this itself.)
//
// GUI thread only, like the hives under it; both outlive this object.

#include "platform/FileRegistry.h"

namespace querlin::platform {

class UserOverMachineRegistry : public Registry {
public:
    UserOverMachineRegistry(FileRegistry& machine, FileRegistry& user) : machine_(machine), user_(user) {}

    // nullptr only when neither hive can be written.
    std::unique_ptr<RegistryKey> OpenOrCreateKey(const std::string& path) override;

private:
    FileRegistry& machine_;
    FileRegistry& user_;
};

} // namespace querlin::platform
