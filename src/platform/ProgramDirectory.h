#pragma once
// The program directory: the directory of the program's own executable,
// ending in the platform's separator. The relative names "tnsnames.ora" and
// "table.mdb" refer to it once it is the current directory.

#include <string>

namespace querlin::platform {

std::string ProgramDirectory();
// Makes the program directory the process's current directory.
void EnterProgramDirectory();
// Tests run the program's logic in a folder of their own.
void SetProgramDirectoryForTesting(const std::string& directoryWithSeparator);

} // namespace querlin::platform
