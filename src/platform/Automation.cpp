#include "platform/Automation.h"

#include "platform/AsciiText.h"
#include "platform/Error.h"

#include <charconv>
#include <map>
#include <mutex>
#include <set>

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
    std::set<std::string> hidden;
};

ClassTable& Classes()
{
    static ClassTable table;
    return table;
}

[[noreturn]] void TypeMismatch()
{
    throw Error("Type mismatch.");
}

} // namespace

bool SameAutomationName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    return EqualsAsciiNoCase(a, b);
}

std::int64_t OleVariant::AsInteger() const
{
    if (auto number = std::get_if<std::int64_t>(&value_))
        return *number;
    if (auto text = std::get_if<std::string>(&value_)) {
        std::int64_t number = 0;
        const char* first = text->data();
        const char* last = first + text->size();
        auto [end, error] = std::from_chars(first, last, number);
        if (error == std::errc() && end == last && first != last)
            return number;
    }
    TypeMismatch();
}

std::string OleVariant::AsText() const
{
    if (auto text = std::get_if<std::string>(&value_))
        return *text;
    if (auto number = std::get_if<std::int64_t>(&value_))
        return std::to_string(*number);
    if (IsEmpty())
        return {};
    TypeMismatch();
}

const std::string& OleVariant::Text() const
{
    if (auto text = std::get_if<std::string>(&value_))
        return *text;
    TypeMismatch();
}

const std::shared_ptr<AutomationObject>& OleVariant::AsObject() const
{
    if (auto object = std::get_if<std::shared_ptr<AutomationObject>>(&value_))
        if (*object)
            return *object;
    TypeMismatch();
}

OleVariant AutomationObject::CallMethod(std::string_view name, std::span<const OleVariant> arguments)
{
    return Dispatch(name, DispatchKind::Method, arguments);
}

OleVariant AutomationObject::GetProperty(std::string_view name, std::span<const OleVariant> index)
{
    return Dispatch(name, DispatchKind::PropertyGet, index);
}

void AutomationObject::SetProperty(std::string_view name, std::span<const OleVariant> indexAndValue)
{
    if (indexAndValue.empty())
        throw Error("Invalid number of parameters.");
    Dispatch(name, DispatchKind::PropertyPut, indexAndValue);
}

std::string AutomationObject::Invoke(const std::string& method, const std::vector<std::string>& arguments)
{
    std::vector<OleVariant> values(arguments.begin(), arguments.end());
    return Dispatch(method, DispatchKind::Method, values).AsText();
}

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
    const std::string key = FoldAscii(progId);
    return table.factories.count(key) != 0 && table.hidden.count(key) == 0;
}

void SetAutomationClassHidden(const std::string& progId, bool hidden)
{
    auto& table = Classes();
    std::lock_guard lock(table.mutex);
    if (hidden)
        table.hidden.insert(FoldAscii(progId));
    else
        table.hidden.erase(FoldAscii(progId));
}

std::unique_ptr<AutomationObject> CreateOleObject(const std::string& progId)
{
    AutomationFactory factory;
    {
        auto& table = Classes();
        std::lock_guard lock(table.mutex);
        const std::string key = FoldAscii(progId);
        auto found = table.factories.find(key);
        if (found == table.factories.end() || table.hidden.count(key) != 0)
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
    methods_.emplace_back(name, std::move(method));
}

OleVariant MethodTableObject::Dispatch(std::string_view name, DispatchKind kind, std::span<const OleVariant> arguments)
{
    if (kind != DispatchKind::PropertyPut)
        for (auto& [methodName, function] : methods_)
            if (SameAutomationName(methodName, name)) {
                std::vector<std::string> texts;
                texts.reserve(arguments.size());
                for (const auto& argument : arguments)
                    texts.push_back(argument.AsText());
                return function(texts);
            }
    throw Error("Unknown name.");
}

} // namespace querlin::platform
