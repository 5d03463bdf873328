#pragma once
// The machine registry on Windows: HKEY_LOCAL_MACHINE itself, through the
// registry API. Built only for Windows. GUI thread only.

#ifdef _WIN32

#include "platform/Registry.h"

#include <string>
#include <utility>

namespace querlin::platform {

class WindowsRegistry : public Registry {
public:
    // Keys below HKEY_LOCAL_MACHINE itself, or below one of its keys (the
    // tests' own, removed afterwards).
    explicit WindowsRegistry(std::string base = {}) : base_(std::move(base)) {}
    std::unique_ptr<RegistryKey> OpenOrCreateKey(const std::string& path) override;

private:
    std::string base_;
};

} // namespace querlin::platform

#endif
