#pragma once
// The one SQL lexer of the data layer: words, quoted names, literals and
// punctuation, with blanks and comments passed over, as one kind of server
// reads its quotes and comments. The read-only check reads a text in every
// dialect a server may use; the local store reads its table definitions in
// its own. Plain functions, no state: safe on any thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace querlin::data {

// How one kind of server reads quotes and comments.
struct SqlDialect {
    bool backslashEscapes = false;  // '\'' is a quote inside a literal
    bool dollarQuotes = false;      // $tag$ ... $tag$, E'...' with escapes
    bool nestedComments = false;    // /* /* */ */ is one comment
    bool qQuotes = false;           // q'[ ... ]', nq'{ ... }'
    bool hashComments = false;      // # to the end of the line
    bool backtickNames = false;     // `name`
    bool dashNeedsBlank = false;    // "--" opens a comment only before a blank
    bool bangComments = false;      // "/*!" holds text the server runs
    bool bracketNames = false;      // [name]
    bool dotInWords = false;        // owner.table is one word
    bool hashInWords = true;        // '#' belongs to a word (where it opens no comment)
};

struct SqlToken {
    enum Kind { Word, Name, String, Punct, Semicolon } kind;
    std::size_t begin;  // byte offsets in the text, end exclusive
    std::size_t end;
    // Words as written; names and literals without their quotes, a doubled
    // quote standing for itself; punctuation as written ("/*!" is one).
    std::string text;
};

// Never fails: an unclosed quote or comment runs to the end of the text.
std::vector<SqlToken> LexSql(std::string_view text, const SqlDialect& dialect);

} // namespace querlin::data
