#pragma once
// Failures travel as exceptions that carry the text the user will see.
// Lower layers throw; only the application's handler guard (and handlers that
// must stay silent) catch.

#include <stdexcept>
#include <string>

namespace querlin {

// An error whose message is shown to the user as it stands.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// The silent abort: unwinds a handler without any report.
class Abort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

} // namespace querlin
