#pragma once
// What SQL text may run on a read-only connection: a single query and
// nothing after it. The browser builds its SQL from names that anyone with
// a table of their own or a favourites file can choose ("ZED.X;DROP TABLE
// ZED.VICTIM"), and several drivers ignore the read-only request, so the
// text itself is checked before it goes to the driver.
//
// The check does not know which database is behind the driver, so it reads
// the text in each of the quoting dialects a server may use (plain SQL
// quotes and comments; backslash escapes; dollar quotes and nested comments;
// Oracle's q'[...]' literals; hash comments and backtick names) and lets it
// through only when every reading finds one query. Plain functions, no
// state: safe on any thread.

#include <string_view>

namespace querlin::data {

// The message a refused text fails with (the record set puts its name
// before it).
inline constexpr const char* kReadOnlyQueryOnly =
    "only a single SELECT statement can run on a read-only connection";

// True when the text's first word, after blanks and comments, is SELECT or
// WITH (in any letter case), no further statement follows a ';' outside
// quotes, quoted names and comments (a trailing ';' with only blanks or
// comments after it is allowed), and no word that writes (INSERT, UPDATE,
// DELETE, MERGE, INTO) stands outside them: "WITH x AS (DELETE ...)" and
// "SELECT ... INTO t" change data on some servers.
bool IsSingleQuery(std::string_view sql);

} // namespace querlin::data
