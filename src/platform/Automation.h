#pragma once
// Late-bound automation: objects created by their programmatic identifier and
// driven by name (methods, property reads, property writes with index
// arguments), as the program drives the catalog object that creates the
// favourites file and the spreadsheet application of the export.
//
// Windows has these objects in its class registry. Here the classes are
// registered in-process by the layer that implements them (the platform
// layer cannot reach the data layer). The class table is shared by all
// threads and guarded; each object belongs to the thread that created it.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace querlin::platform {

class AutomationObject;

// A value passed to or returned from a late-bound call: nothing, an integer,
// a text (UTF-8) or an object.
class OleVariant {
public:
    OleVariant() = default;
    OleVariant(std::int64_t number) : value_(number) {}
    OleVariant(int number) : value_(std::int64_t{number}) {}
    OleVariant(std::string text) : value_(std::move(text)) {}
    OleVariant(const char* text) : value_(std::string(text)) {}
    OleVariant(std::shared_ptr<AutomationObject> object) : value_(std::move(object)) {}

    bool IsEmpty() const { return std::holds_alternative<std::monostate>(value_); }
    bool IsInteger() const { return std::holds_alternative<std::int64_t>(value_); }
    bool IsText() const { return std::holds_alternative<std::string>(value_); }
    bool IsObject() const { return std::holds_alternative<std::shared_ptr<AutomationObject>>(value_); }

    // The value converted as automation converts arguments: an integer reads
    // as its decimal text and a decimal text as its integer. Throws
    // querlin::Error "Type mismatch." when it cannot be converted.
    std::int64_t AsInteger() const;
    std::string AsText() const;
    // The text itself, without a copy; throws "Type mismatch." for other kinds.
    const std::string& Text() const;
    // Throws "Type mismatch." when the value is no object.
    const std::shared_ptr<AutomationObject>& AsObject() const;

private:
    std::variant<std::monostate, std::int64_t, std::string, std::shared_ptr<AutomationObject>> value_;
};

enum class DispatchKind { Method, PropertyGet, PropertyPut };

// The ASCII-only letter-case rule of automation names: other bytes (UTF-8
// included) compare as they are.
bool SameAutomationName(std::string_view a, std::string_view b);

// One automation object. Released by destroying the last reference.
class AutomationObject {
public:
    virtual ~AutomationObject() = default;

    // The one late-bound entry. For PropertyPut the last argument is the
    // value, the ones before it the property's index arguments. Names are
    // compared without regard to ASCII letter case. Throws querlin::Error
    // "Unknown name." for a name the object does not have, or the object's
    // own message.
    virtual OleVariant Dispatch(std::string_view name, DispatchKind kind, std::span<const OleVariant> arguments) = 0;

    OleVariant CallMethod(std::string_view name, std::span<const OleVariant> arguments = {});
    OleVariant GetProperty(std::string_view name, std::span<const OleVariant> index = {});
    void SetProperty(std::string_view name, std::span<const OleVariant> indexAndValue);

    // A method with text arguments and a text result.
    std::string Invoke(const std::string& method, const std::vector<std::string>& arguments);
};

using AutomationFactory = std::function<std::unique_ptr<AutomationObject>()>;

// Makes a class available under its programmatic identifier (compared
// without regard to ASCII letter case). A later registration of the same
// identifier replaces the earlier one.
void RegisterAutomationClass(const std::string& progId, AutomationFactory factory);
bool AutomationClassRegistered(const std::string& progId);

// Creates an object of the class registered under the identifier. Throws
// querlin::Error "Invalid class string" when no such class is registered or
// the class is hidden.
std::unique_ptr<AutomationObject> CreateOleObject(const std::string& progId);

// Test switch: a hidden identifier is unknown to CreateOleObject and
// AutomationClassRegistered, as on a machine where the application behind
// it is not installed. Registering it again does not show it.
void SetAutomationClassHidden(const std::string& progId, bool hidden);

// A ready-made object whose methods are plain functions of text arguments,
// for classes that need no state of their own. A method answers a property
// read of its name too, as a late-bound read may be either.
class MethodTableObject : public AutomationObject {
public:
    using Method = std::function<std::string(const std::vector<std::string>&)>;
    void AddMethod(const std::string& name, Method method);
    OleVariant Dispatch(std::string_view name, DispatchKind kind, std::span<const OleVariant> arguments) override;

private:
    std::vector<std::pair<std::string, Method>> methods_;
};

} // namespace querlin::platform
