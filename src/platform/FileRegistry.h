#pragma once
// The registry kept in one hive file in the regedit text format, the
// machine registry on Linux. The file is what regedit exports as a version 5
// file: UTF-16LE behind a byte-order mark, CR LF line ends, a blank line
// after the header and after every key:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\ODBC\ODBC.INI\site042]
//   "DSN"="site042"
//   "path"=hex(2):25,00,...,00,00
//   "BufferSize"=dword:0000ffff
//
// Text values are "name"="text" (backslash and quote escaped), expandable
// strings hex(2): with their UTF-16LE bytes, other types hex: or hex(N):,
// numbers dword:; hex data wrap at 80 columns with a backslash, as regedit
// wraps them. So any regedit, and any tool that reads a .reg file for what
// its header says, gets every value back.
//
// Read as well: UTF-8 files without a byte-order mark (hives of earlier
// builds, written in the form above at their next change) and REGEDIT4 files
// in the program's 8-bit code page (936), whose hex(1), hex(2) and hex(7)
// data are code page bytes.
//
// Every read looks at the file as it is now, so several programs may share
// one hive. Every write takes an exclusive lock (flock on the file name
// plus ".lock"), reads the file again under the lock, applies its one change
// and replaces the file atomically (write beside, flush, rename), so two
// programs never lose each other's values and a crash never leaves half a
// file. A damaged file raises querlin::Error naming the file and the line,
// and is never written over.
//
// The folder or file cannot be written: the "no rights" case, in which
// OpenOrCreateKey returns nullptr.
//
// GUI thread only; one instance per hive file per process.

#include "platform/Registry.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace querlin::platform {

namespace hive {

struct Value {
    std::string name;  // as first written; compared without regard to case
    RegValue value;
};

struct Key {
    std::string path;  // full path with its root, "HKEY_LOCAL_MACHINE\\SOFTWARE\\..."
    std::vector<Value> values;
};

struct Hive {
    std::vector<Key> keys;  // in file order

    Key* FindKey(const std::string& path);
    const Key* FindKey(const std::string& path) const;
    // Adds the key and each of its missing parents; true when anything was added.
    bool AddKey(const std::string& path);

private:
    // Folded path to place in keys, so that a hive of many or deep keys
    // loads in time proportional to its size. Keys appended to keys are
    // taken in at the next look-up, and a shorter keys, or a place that no
    // longer holds its key, makes the index be built again; a key taken
    // away and another appended before the next look-up would go unseen,
    // so keys is only ever appended to, apart from a hive about to be
    // written.
    mutable std::unordered_map<std::string, std::size_t> index_;
    mutable std::size_t indexed_ = 0;
    void CatchUp() const;
};

Value* FindValue(Key& key, const std::string& name);
const Value* FindValue(const Key& key, const std::string& name);

// Parses the bytes of a hive file in any of the forms above; throws
// querlin::Error naming fileName and the line when the file is damaged
// (text that is not in its encoding included).
Hive Parse(const std::string& bytes, const std::string& fileName);
// The bytes of the hive file, in the version 5 form.
std::string Format(const Hive& hive);

// Case folding used for key paths and value names: the capitals of
// LetterCase::Ordinal(), as Windows compares registry names.
std::string FoldCase(const std::string& text);

} // namespace hive

class FileRegistry : public Registry {
public:
    explicit FileRegistry(std::string fileName);

    std::unique_ptr<RegistryKey> OpenOrCreateKey(const std::string& path) override;

    const std::string& FileName() const { return fileName_; }
    // How many times this instance has replaced the file: one per key
    // created and one per value written.
    int WriteCount() const { return writeCount_; }

    // True when the file (or, while it is absent, its folder, made here
    // when missing) can be written right now.
    bool CanBeWritten() const;

    // Reads a value without asking for write access: nothing when the key
    // or the value is absent. path as OpenOrCreateKey takes it.
    std::optional<RegValue> Peek(const std::string& path, const std::string& name) const;

    // The key operations; keyPath is a full path as hive::Key holds it.
    std::optional<RegValue> Read(const std::string& keyPath, const std::string& name) const;
    // Throws "Failed to set data for '%s'" when the file cannot be replaced.
    void Write(const std::string& keyPath, const std::string& name, const RegValue& value);

private:
    hive::Hive Load() const;
    // Runs change on the hive as it is under the lock and stores the result
    // when change returns true. False when the file cannot be written.
    template <class Change> bool Modify(Change&& change);
    bool StoreLocked(const hive::Hive& before, const hive::Hive& after);

    std::string fileName_;
    int writeCount_ = 0;
};

// Where the machine hive lives: $QUERLIN_REGISTRY, else
// /var/lib/querlin/registry.reg.
std::string MachineRegistryFileName();

} // namespace querlin::platform
