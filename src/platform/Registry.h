#pragma once
// The machine-wide registry, root key HKEY_LOCAL_MACHINE, with exactly the
// operations the login window and the client registration need: open or
// create a key with full access, test for a value, read its type and data,
// write REG_SZ and REG_EXPAND_SZ values, close.
//
// On Windows this is the real registry. On Linux it is one machine-wide hive
// file in the regedit text format (see FileRegistry), located by the
// environment variable QUERLIN_REGISTRY or a machine-wide default, with the
// user's own hive in front of it for a run that cannot write it (see
// UserOverMachineRegistry).
// Key paths and value names compare without regard to letter case, as
// Windows compares them (LetterCase::Ordinal()), whatever the user's locale.
// GUI thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace querlin::platform {

enum class RegType : std::uint32_t {
    None = 0, Sz = 1, ExpandSz = 2, Binary = 3, Dword = 4, MultiSz = 7, Qword = 11,
};

struct RegValue {
    RegType type = RegType::None;
    // Text values (Sz, ExpandSz) as UTF-8 without the terminating NUL;
    // other types as their raw bytes.
    std::string data;
};

// An open key. Closing (or destroying) it releases it.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    virtual bool ValueExists(const std::string& name) = 0;
    virtual std::optional<RegValue> ReadValue(const std::string& name) = 0;
    // Throws querlin::Error "Failed to set data for '%s'" when refused.
    virtual void WriteString(const std::string& name, const std::string& text, RegType type) = 0;
    virtual void Close() = 0;
};

class Registry {
public:
    virtual ~Registry() = default;
    // Opens the key (path below HKEY_LOCAL_MACHINE, a leading backslash
    // allowed), creating it when absent. nullptr when it can neither be
    // opened nor created (no rights).
    virtual std::unique_ptr<RegistryKey> OpenOrCreateKey(const std::string& path) = 0;
};

// The process's machine registry.
Registry& MachineRegistry();
// Tests put a registry of their own in its place; nullptr restores the
// machine's. The caller keeps ownership.
void SetMachineRegistryForTesting(Registry* registry);

// The one reading rule for string values: absent or zero-length reads as the
// empty text; REG_SZ and REG_EXPAND_SZ as their text up to the first NUL,
// unexpanded; any other type throws "Invalid data type for '%s'".
std::string ReadRegString(RegistryKey& key, const std::string& name);

} // namespace querlin::platform
