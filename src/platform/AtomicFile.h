#pragma once
// Putting a whole file in place at once: the new contents are built in a
// fresh file beside the old one (same folder, so the rename stays on one
// file system), flushed to the disk, and only then renamed over the old
// name; the folder is flushed last so the rename itself survives a crash.
// A reader sees the old file or the new one, never half of either, and a
// failure at any step leaves the old file as it was and no temporary file
// behind; one stranded by a writer killed half-way is removed by the next
// write of the file. The one way the program replaces the files that
// matter: the registry hive, tnsnames.ora, the local store and an export.
//
// Plain functions, any thread. Writers that may race each other over one
// file (the registry hive) hold their own lock around the call.

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <system_error>

namespace querlin::platform {

enum class Placement {
    Replace,    // the new file takes the old one's place
    CreateNew,  // an existing file is never replaced: EEXIST instead
};

struct AtomicFileOptions {
    Placement placement = Placement::Replace;
    // Permission bits of a file that did not exist before; unset means
    // 0666 less the process's umask. A replaced file keeps its own bits.
    std::optional<unsigned> newFileMode;
};

// Writes exactly these bytes as the file's new contents. Returns the error
// of the step that failed (an errno value), or an empty code.
std::error_code ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                                      const AtomicFileOptions& options = {});

// As above, with the contents made by build, which gets the temporary
// file's name (the file exists, empty) and fills it by any means, for
// example a database library opening it by name. An exception from build
// removes the temporary file and passes on.
std::error_code PlaceFileAtomically(const std::filesystem::path& file,
                                    const std::function<void(const std::filesystem::path& temporary)>& build,
                                    const AtomicFileOptions& options = {});

} // namespace querlin::platform
