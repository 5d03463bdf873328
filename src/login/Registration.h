#pragma once
// The client registration done at every Login: the database client's
// environment (character set, home and configuration directory, search path)
// in the machine-wide environment, and a machine-wide ODBC data source named
// after the SID that uses the driver "Microsoft ODBC for Oracle".
//
// Plain C++ (no Qt). GUI thread only, like the registry it writes.

#include "platform/Registry.h"

#include <string>

namespace querlin::login {

// Registers the client environment and the data source in registry.
// programDirectory is the program's own folder ending in the platform's
// separator; it becomes the client's home and configuration directory and is
// appended to the search path.
//
// A value is written only when it is missing or holds another text, so a
// second run with the same SID and user name writes nothing. A key that can
// be neither opened nor created (no rights) is passed over without a word and
// the next one is tried. A refused write ("Failed to set data for '%s'") or a
// value of a non-string type ("Invalid data type for '%s'") leaves at once,
// as querlin::Error, keeping what was already written.
//
// The password is stored nowhere: the data source's PWD is only ever created
// empty.
void RegisterClient(platform::Registry& registry, const std::string& sid, const std::string& userName,
                    const std::string& programDirectory);

} // namespace querlin::login
