#include "platform/Automation.h"

#include "platform/AsciiText.h"
#include "platform/Error.h"

#include <map>
#include <mutex>

namespace querlin::platform {

namespace {

// Automation names ignore letter case; only ASCII letters fold, so that a
// name's other bytes (UTF-8 included) compare as they are.
std::string FoldAscii(const std::string& text)
{
    return AsciiLower(text);
}

struct ClassTable {
    std::mutex mutex;
    std::map<std::string, AutomationFactory> factories;
};

ClassTable& Classes()
{
    static ClassTable table;
    return table;
}

} // namespace

void RegisterAutomationClass(const std::string& progId, AutomationFactory factory)
{
    auto& table = Classes();
    std::lock_guard lock(table.mutex);
    table.factories[FoldAscii(progId)] = std::move(factory);
}

bool AutomationClassRegistered(const std::string& progId)
{
    auto& table = Classes();
    std::lock_guard lock(table.mutex);
    return table.factories.count(FoldAscii(progId)) != 0;
}

std::unique_ptr<AutomationObject> CreateOleObject(const std::string& progId)
{
    AutomationFactory factory;
    {
        auto& table = Classes();
        std::lock_guard lock(table.mutex);
        auto found = table.factories.find(FoldAscii(progId));
        if (found == table.factories.end())
            throw Error("Invalid class string");
        factory = found->second;
    }
    // The factory runs outside the lock: it may itself create objects.
    auto object = factory();
    if (!object)
        throw Error("Invalid class string");
    return object;
}

void MethodTableObject::AddMethod(const std::string& name, Method method)
{
    methods_.emplace_back(FoldAscii(name), std::move(method));
}

std::string MethodTableObject::Invoke(const std::string& method, const std::vector<std::string>& arguments)
{
    const std::string folded = FoldAscii(method);
    for (auto& [name, function] : methods_)
        if (name == folded)
            return function(arguments);
    throw Error("Unknown name.");
}

} // namespace querlin::platform
