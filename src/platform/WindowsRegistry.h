#pragma once
// The machine registry on Windows: HKEY_LOCAL_MACHINE itself, through the
// registry API. Built only for Windows. GUI thread only.

#ifdef _WIN32

#include "platform/Registry.h"

namespace querlin::platform {

class WindowsRegistry : public Registry {
public:
    std::unique_ptr<RegistryKey> OpenOrCreateKey(const std::string& path) override;
};

} // namespace querlin::platform

#endif
