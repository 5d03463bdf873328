// The catalog class that makes an empty favourites file. The automation
// layer sits below the data layer and cannot reach it, so the class is
// registered from here, the first time a file has to be made.
#include "favourites/Favourites.h"

#include "data/Provider.h"
#include "platform/Automation.h"
#include "platform/Error.h"

#include <mutex>

namespace querlin::favourites {

void RegisterCatalogClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::RegisterAutomationClass(kCatalogProgId, [] {
            auto catalog = std::make_unique<platform::MethodTableObject>();
            catalog->AddMethod(kCatalogCreate, [](const std::vector<std::string>& arguments) {
                if (arguments.size() != 1)
                    throw Error("Invalid number of parameters.");
                data::CreateLocalStore(arguments[0]);
                return std::string();
            });
            return catalog;
        });
    });
}

} // namespace querlin::favourites
