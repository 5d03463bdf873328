#pragma once
// The machine's hive, or the user's own copy in front of it, as Windows shows
// HKEY_LOCAL_MACHINE: a program that may write the machine's registry sees
// and writes the machine's alone; only a program without that right gets the
// user's virtual copy, read over the machine's values and written instead of
// them. Which of the two is decided once, when this object is made (once per
// start), so one run never mixes them, and a user's stale values never
// reach a machine hive that can be written. (On Windows the real registry
// does this itself.)
//
// GUI thread only, like the hives under it; both outlive this object.

#include "platform/FileRegistry.h"

namespace querlin::platform {

class UserOverMachineRegistry : public Registry {
public:
    UserOverMachineRegistry(FileRegistry& machine, FileRegistry& user);

    // nullptr only when the hive chosen at the start cannot be written.
    std::unique_ptr<RegistryKey> OpenOrCreateKey(const std::string& path) override;

    // True when this run sees the machine's hive alone.
    bool MachineWritable() const { return machineWritable_; }

private:
    FileRegistry& machine_;
    FileRegistry& user_;
    bool machineWritable_;
};

} // namespace querlin::platform
