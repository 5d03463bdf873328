#include "platform/UserOverMachineRegistry.h"

namespace querlin::platform {

namespace {

class LayeredKey : public RegistryKey {
public:
    LayeredKey(std::unique_ptr<RegistryKey> writable, const FileRegistry& machine, const FileRegistry& user,
               std::string path)
        : writable_(std::move(writable)), machine_(machine), user_(user), path_(std::move(path))
    {
    }

    bool ValueExists(const std::string& name) override { return ReadValue(name).has_value(); }

    std::optional<RegValue> ReadValue(const std::string& name) override
    {
        if (std::optional<RegValue> value = user_.Peek(path_, name))
            return value;
        return machine_.Peek(path_, name);
    }

    void WriteString(const std::string& name, const std::string& text, RegType type) override
    {
        writable_->WriteString(name, text, type);
    }

    void Close() override { writable_->Close(); }

private:
    std::unique_ptr<RegistryKey> writable_;
    const FileRegistry& machine_;
    const FileRegistry& user_;
    std::string path_;
};

} // namespace

UserOverMachineRegistry::UserOverMachineRegistry(FileRegistry& machine, FileRegistry& user)
    : machine_(machine), user_(user), machineWritable_(machine.CanBeWritten())
{
}

std::unique_ptr<RegistryKey> UserOverMachineRegistry::OpenOrCreateKey(const std::string& path)
{
    // A machine hive that could be written at the start is used alone, even
    // if it is refused later: the user's copy is no stand-in for a key the
    // machine's registry would not open.
    if (machineWritable_)
        return machine_.OpenOrCreateKey(path);
    std::unique_ptr<RegistryKey> writable = user_.OpenOrCreateKey(path);
    if (!writable)
        return nullptr;
    return std::make_unique<LayeredKey>(std::move(writable), machine_, user_, path);
}

} // namespace querlin::platform
