#pragma once
// The program directory: the directory of the program's own executable,
// ending in the platform's separator. The relative names "tnsnames.ora" and
// "table.mdb" refer to it once it is the current directory.

#include <string>

namespace querlin::platform {

std::string ProgramDirectory();
// The folder that holds the files the program keeps beside itself
// ("tnsnames.ora", "table.mdb", the database client's home): the program
// directory where it can be written; an installed program's folder belongs
// to the machine, and then the user's own data folder stands in for it.
// Ends in the separator; asked afresh at each call.
std::string FilesDirectory();
// Makes FilesDirectory() the process's current directory.
void EnterProgramDirectory();
// Tests run the program's logic in a folder of their own.
void SetProgramDirectoryForTesting(const std::string& directoryWithSeparator);

} // namespace querlin::platform
