#include "platform/Registry.h"

#include "platform/Error.h"

#ifdef _WIN32
#include "platform/WindowsRegistry.h"
#else
#include "platform/FileRegistry.h"
#include "platform/UserFolders.h"
#include "platform/UserOverMachineRegistry.h"
#endif

namespace querlin::platform {

namespace {
Registry* testingRegistry = nullptr;
}

Registry& MachineRegistry()
{
    if (testingRegistry)
        return *testingRegistry;
#ifdef _WIN32
    static WindowsRegistry machine;
    return machine;
#else
    static FileRegistry machine(MachineRegistryFileName());
    static FileRegistry user(UserConfigFolder() + "registry.reg");
    static UserOverMachineRegistry layered(machine, user);
    return layered;
#endif
}

void SetMachineRegistryForTesting(Registry* registry)
{
    testingRegistry = registry;
}

std::string ReadRegString(RegistryKey& key, const std::string& name)
{
    std::optional<RegValue> value = key.ReadValue(name);
    if (!value || value->data.empty())
        return {};
    if (value->type != RegType::Sz && value->type != RegType::ExpandSz)
        throw Error("Invalid data type for '" + name + "'");
    // Cut at the first NUL, as a writer may have padded the text.
    return value->data.substr(0, value->data.find('\0'));
}

} // namespace querlin::platform
