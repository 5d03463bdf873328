#pragma once
// Late-bound automation: objects created by their programmatic identifier and
// driven by method name, with text arguments, as the program drives the
// catalog object that creates the favourites file and, later, the
// spreadsheet application.
//
// Windows has these objects in its class registry. Here the classes are
// registered in-process at start-up by the layer that implements them (the
// platform layer cannot reach the data layer). The class table is shared by
// all threads and guarded; each object belongs to the thread that created it.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace querlin::platform {

// One automation object. Released by destroying it.
class AutomationObject {
public:
    virtual ~AutomationObject() = default;
    // Calls the method of that name (compared without regard to ASCII letter
    // case, as automation names are). Throws querlin::Error "Unknown name."
    // for a method the object does not have, or the object's own message.
    virtual std::string Invoke(const std::string& method, const std::vector<std::string>& arguments) = 0;
};

using AutomationFactory = std::function<std::unique_ptr<AutomationObject>()>;

// Makes a class available under its programmatic identifier (compared
// without regard to ASCII letter case). A later registration of the same
// identifier replaces the earlier one.
void RegisterAutomationClass(const std::string& progId, AutomationFactory factory);
bool AutomationClassRegistered(const std::string& progId);

// Creates an object of the class registered under the identifier. Throws
// querlin::Error "Invalid class string" when no such class is registered.
std::unique_ptr<AutomationObject> CreateOleObject(const std::string& progId);

// A ready-made object whose methods are plain functions, for classes that
// need no state of their own.
class MethodTableObject : public AutomationObject {
public:
    using Method = std::function<std::string(const std::vector<std::string>&)>;
    void AddMethod(const std::string& name, Method method);
    std::string Invoke(const std::string& method, const std::vector<std::string>& arguments) override;

private:
    std::vector<std::pair<std::string, Method>> methods_;
};

} // namespace querlin::platform
