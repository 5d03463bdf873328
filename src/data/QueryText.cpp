#include "data/QueryText.h"

#include "data/SqlLexer.h"
#include "platform/AsciiText.h"

#include <array>
#include <string>

namespace querlin::data {

namespace {

// The kinds of server a text may reach. A reading that a server does not
// use can only make the check stricter, never let more through, since the
// text must pass every reading.
constexpr std::array<SqlDialect, 6> kDialects{{
    {},                                                   // plain SQL
    {true},                                               // backslash escapes
    {false, true, true},                                  // dollar quotes, nested comments
    {true, true, true},                                   // the same with backslash escapes
    {false, false, false, true},                          // q-quotes
    {true, false, false, false, true, true, true, true},  // hash comments, backticks
}};

bool WritesData(const std::string& upperWord)
{
    return upperWord == "INSERT" || upperWord == "UPDATE" || upperWord == "DELETE" || upperWord == "MERGE" ||
           upperWord == "INTO";
}

// One reading: anything but blanks and comments is content; the first
// content must be the word SELECT or WITH, nothing may follow a ';', and no
// word may write.
bool SingleQueryIn(std::string_view sql, const SqlDialect& dialect)
{
    bool ended = false;  // a ';' outside quotes and comments was passed
    bool seen = false;   // any content was passed
    std::string first;
    for (const SqlToken& token : LexSql(sql, dialect)) {
        if (token.kind == SqlToken::Semicolon) {
            ended = true;
            continue;
        }
        if (ended)
            return false;  // a further statement after the ';'
        const std::string upper = token.kind == SqlToken::Word ? platform::AsciiUpper(token.text) : std::string();
        if (!seen) {
            seen = true;
            first = upper;
        }
        if (WritesData(upper))
            return false;
    }
    return first == "SELECT" || first == "WITH";
}

} // namespace

bool IsSingleQuery(std::string_view sql)
{
    for (const SqlDialect& dialect : kDialects)
        if (!SingleQueryIn(sql, dialect))
            return false;
    return true;
}

} // namespace querlin::data
