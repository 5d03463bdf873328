#pragma once
// The net service name file "tnsnames.ora": the one entry that tells the
// database client where the server of the SID lives. The login window writes
// it whole at every Login from its host, port and SID fields and reads those
// fields back from it when it is created.
//
// Plain C++ (no Qt). Texts are bytes as they stand (UTF-8 inside the
// program); nothing is escaped or converted. Any thread may call these
// functions; the login window calls them on the GUI thread.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace querlin::login {

// What a reading found: a field that no line matched stays unset, and the
// window keeps its text; a set field (possibly to the empty text) replaces
// the window's text.
struct NetServiceEntry {
    std::optional<std::string> host;
    std::optional<std::string> port;
    std::optional<std::string> sid;

    bool operator==(const NetServiceEntry&) const = default;
};

// The twelve lines as written, each followed by CR LF, the texts inserted as
// they stand (letter case and blanks kept).
std::string NetServiceText(const std::string& host, const std::string& port, const std::string& sid);

// How a reading treats markers written without blanks ("SID=ORCL",
// "PORT=1521"). The login window reads with Accept; Ignore applies the line
// rules alone and exists so that checks can compare the two readings.
enum class CompactForms { Accept, Ignore };

// Reads the host, port and SID out of the bytes of a file. A pure function of
// its input: it never fails, whatever the bytes.
//
// The bytes are split into lines at CR, LF or CR LF; a NUL byte ends the
// text. Each line, in order, is upper-cased (the ASCII letters a-z only) and
// then:
//  - HOST: from the first "HOST" on (the "H" dropped), the text between the
//    first "=" and the first ")" is the host; no ")", or ")" before "=",
//    gives the empty host, and no "=" leaves the host alone. Then, in the
//    same rest of the line, PORT: behind the first "PORT", the first "=" and
//    the one character after it (just one character when there is no "="),
//    the text up to the first ")" is the port (empty without a ")").
//  - SID, on what HOST left of the line: behind the first "SID" and the one
//    character after it, the text between the first "=" and the first ")" is
//    the SID (empty when there is no ")" after the "=").
// Every value is trimmed of bytes 0..32 at both ends. A later match
// overwrites an earlier one, so the last matching line wins.
//
// The compact form: the character counts above assume the blanks the writer
// puts after "SID" and after the "=" of PORT. Read literally, "(SID=ORCL)"
// would lose its "=" and give nothing, and "(PORT=1521)" would lose the "1".
// With CompactForms::Accept, a line that the writer could not have produced
// keeps an "=" that directly follows "SID", and keeps a non-blank character
// directly behind the "=" of PORT, so both read as meant (ORCL, 1521). Lines
// in the writer's own layout (ending in " =", or starting with the writer's
// ADDRESS or SID prefix) are always read by the rules alone, so every file
// the program writes reads back exactly as the rules give, whatever the texts
// hold (the writer refuses CR, LF and NUL, which would split or end lines).
NetServiceEntry ParseNetServiceText(std::string_view bytes, CompactForms compact = CompactForms::Accept);

// Replaces the file with the twelve lines. The new text goes into a fresh file
// beside it, is flushed to the disk and then renamed over the old one, so a
// failed or interrupted write leaves the old file whole. A text holding a
// line break or NUL is refused before anything is written.
// Throws querlin::Error "Cannot create file "<full path>". <cause>".
void WriteNetServiceFile(const std::filesystem::path& file, const std::string& host, const std::string& port,
                         const std::string& sid);

// Reads the file. A file that does not exist sets nothing. One that exists but
// cannot be opened or read throws querlin::Error
// "Cannot open file "<full path>". <cause>".
NetServiceEntry ReadNetServiceFile(const std::filesystem::path& file);

} // namespace querlin::login
