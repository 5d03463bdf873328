#include "data/QueryText.h"

#include "platform/AsciiText.h"

#include <array>
#include <string>

namespace querlin::data {

namespace {

// How one kind of server reads quotes and comments. A reading that a server
// does not use can only make the check stricter, never let more through,
// since the text must pass every reading.
struct Dialect {
    bool backslashEscapes = false;  // '\'' is a quote inside a literal
    bool dollarQuotes = false;      // $tag$ ... $tag$, E'...' with escapes
    bool nestedComments = false;    // /* /* */ */ is one comment
    bool qQuotes = false;           // q'[ ... ]', nq'{ ... }'
    bool hashComments = false;      // # to the end of the line
    bool backtickNames = false;     // `name`
    bool dashNeedsBlank = false;    // "--" opens a comment only before a blank
    bool bangComments = false;      // "/*!" holds text the server runs
};

constexpr std::array<Dialect, 6> kDialects{{
    {},                                                   // plain SQL
    {true},                                               // backslash escapes
    {false, true, true},                                  // dollar quotes, nested comments
    {true, true, true},                                   // the same with backslash escapes
    {false, false, false, true},                          // q-quotes
    {true, false, false, false, true, true, true, true},  // hash comments, backticks
}};

// Letters, digits and the marks names may hold; '#' opens a comment where
// the server has hash comments, even straight after a word.
bool IsWordByte(unsigned char c, const Dialect& dialect)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || (c == '#' && !dialect.hashComments) || c >= 0x80;
}

bool IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool IsTagStart(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsTagByte(unsigned char c)
{
    return IsTagStart(c) || (c >= '0' && c <= '9');
}

bool WritesData(const std::string& upperWord)
{
    return upperWord == "INSERT" || upperWord == "UPDATE" || upperWord == "DELETE" || upperWord == "MERGE" ||
           upperWord == "INTO";
}

class Reader {
public:
    Reader(std::string_view text, const Dialect& dialect) : s_(text), d_(dialect) {}

    bool SingleQuery()
    {
        while (i_ < s_.size()) {
            const unsigned char c = Byte(i_);
            if (IsBlank(c)) {
                ++i_;
            } else if (c == '-' && Byte(i_ + 1) == '-' && (!d_.dashNeedsBlank || i_ + 2 >= s_.size() ||
                                                          IsBlank(Byte(i_ + 2)) || Byte(i_ + 2) < 0x20)) {
                SkipLine();
            } else if (c == '#' && d_.hashComments) {
                SkipLine();
            } else if (c == '/' && Byte(i_ + 1) == '*') {
                if (d_.bangComments && Byte(i_ + 2) == '!') {
                    // Not a comment to this server: what follows is read as text.
                    Content();
                    i_ += 3;
                } else {
                    SkipBlockComment();
                }
            } else if (c == ';') {
                ended_ = true;
                ++i_;
            } else if (c == '\'') {
                Content();
                SkipQuoted('\'', d_.backslashEscapes);
            } else if (c == '"') {
                Content();
                SkipQuoted('"', d_.backslashEscapes && d_.hashComments);
            } else if (c == '`' && d_.backtickNames) {
                Content();
                SkipQuoted('`', false);
            } else if (c == '$' && d_.dollarQuotes && !InWord() && DollarTagLength() > 0) {
                Content();
                SkipDollarQuote();
            } else if (IsWordByte(c, d_)) {
                Word();
            } else {
                Content();
                ++i_;
            }
            if (failed_)
                return false;
        }
        return first_ == "SELECT" || first_ == "WITH";
    }

private:
    unsigned char Byte(std::size_t at) const
    {
        return at < s_.size() ? static_cast<unsigned char>(s_[at]) : 0;
    }
    bool InWord() const { return i_ > 0 && IsWordByte(Byte(i_ - 1), d_); }

    // Anything that is not a blank or a comment; the first of these must
    // be the word SELECT or WITH.
    void Content(const std::string& word = {})
    {
        if (ended_)
            failed_ = true;  // a further statement after the ';'
        if (!seen_) {
            seen_ = true;
            first_ = word;
        }
    }

    void Word()
    {
        const std::size_t start = i_;
        while (i_ < s_.size() && IsWordByte(Byte(i_), d_))
            ++i_;
        const std::string upper = platform::AsciiUpper(s_.substr(start, i_ - start));
        Content(upper);
        if (Byte(i_) == '\'') {
            // A literal whose opening is a prefix letter: q'[..]', nq'{..}', E'..'.
            if (d_.qQuotes && (upper == "Q" || upper == "NQ")) {
                SkipQQuote();
                return;
            }
            if (d_.dollarQuotes && upper == "E") {
                SkipQuoted('\'', true);
                return;
            }
        }
        if (WritesData(upper))
            failed_ = true;
    }

    void SkipLine()
    {
        while (i_ < s_.size() && Byte(i_) != '\n')
            ++i_;
    }

    void SkipBlockComment()
    {
        i_ += 2;
        int depth = 1;
        while (i_ < s_.size()) {
            if (Byte(i_) == '*' && Byte(i_ + 1) == '/') {
                i_ += 2;
                if (--depth == 0 || !d_.nestedComments)
                    return;
            } else if (d_.nestedComments && Byte(i_) == '/' && Byte(i_ + 1) == '*') {
                i_ += 2;
                ++depth;
            } else {
                ++i_;
            }
        }
    }

    // At the opening quote of a literal or a quoted name; a doubled quote
    // stands for itself.
    void SkipQuoted(char quote, bool escapes)
    {
        ++i_;
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (escapes && c == '\\') {
                i_ += 2;
            } else if (c == quote) {
                if (i_ + 1 < s_.size() && s_[i_ + 1] == quote) {
                    i_ += 2;
                } else {
                    ++i_;
                    return;
                }
            } else {
                ++i_;
            }
        }
    }

    // At the quote of q'X...X'; the closing mark is X's partner, or X itself.
    void SkipQQuote()
    {
        ++i_;
        if (i_ >= s_.size())
            return;
        const char open = s_[i_];
        const char close = open == '[' ? ']' : open == '{' ? '}' : open == '<' ? '>' : open == '(' ? ')' : open;
        ++i_;
        while (i_ < s_.size()) {
            if (s_[i_] == close && i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
                i_ += 2;
                return;
            }
            ++i_;
        }
    }

    // Length of "$tag$" at the current position, 0 when there is none.
    std::size_t DollarTagLength() const
    {
        std::size_t j = i_ + 1;
        if (j < s_.size() && s_[j] == '$')
            return 2;
        if (!IsTagStart(Byte(j)))
            return 0;
        while (j < s_.size() && IsTagByte(Byte(j)))
            ++j;
        return j < s_.size() && s_[j] == '$' ? j - i_ + 1 : 0;
    }

    void SkipDollarQuote()
    {
        const std::size_t length = DollarTagLength();
        const std::string_view tag = s_.substr(i_, length);
        const std::size_t end = s_.find(tag, i_ + length);
        i_ = end == std::string_view::npos ? s_.size() : end + length;
    }

    std::string_view s_;
    const Dialect& d_;
    std::size_t i_ = 0;
    bool ended_ = false;     // a ';' outside quotes and comments was passed
    bool seen_ = false;      // anything but blanks and comments was passed
    bool failed_ = false;
    std::string first_;
};

} // namespace

bool IsSingleQuery(std::string_view sql)
{
    for (const Dialect& dialect : kDialects)
        if (!Reader(sql, dialect).SingleQuery())
            return false;
    return true;
}

} // namespace querlin::data
