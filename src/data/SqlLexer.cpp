#include "data/SqlLexer.h"

#include <algorithm>

namespace querlin::data {

namespace {

bool IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Letters, digits and the marks names may hold; '#' opens a comment where
// the server has hash comments, even straight after a word.
bool IsWordByte(unsigned char c, const SqlDialect& d)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || (c == '#' && d.hashInWords && !d.hashComments) || (c == '.' && d.dotInWords) || c >= 0x80;
}

bool IsTagStart(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsTagByte(unsigned char c)
{
    return IsTagStart(c) || (c >= '0' && c <= '9');
}

bool IsPrefix(std::string_view word, std::string_view upper)
{
    if (word.size() != upper.size())
        return false;
    for (std::size_t k = 0; k < word.size(); ++k) {
        char c = word[k];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[k])
            return false;
    }
    return true;
}

class Lexer {
public:
    Lexer(std::string_view text, const SqlDialect& dialect) : s_(text), d_(dialect) {}

    std::vector<SqlToken> Run()
    {
        while (i_ < s_.size()) {
            const unsigned char c = Byte(i_);
            const std::size_t begin = i_;
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
                    i_ += 3;
                    Add(SqlToken::Punct, begin, "/*!");
                } else {
                    SkipBlockComment();
                }
            } else if (c == ';') {
                ++i_;
                Add(SqlToken::Semicolon, begin, ";");
            } else if (c == '\'') {
                Add(SqlToken::String, begin, Quoted('\'', d_.backslashEscapes));
            } else if (c == '"') {
                Add(SqlToken::Name, begin, Quoted('"', d_.backslashEscapes && d_.hashComments));
            } else if (c == '`' && d_.backtickNames) {
                Add(SqlToken::Name, begin, Quoted('`', false));
            } else if (c == '[' && d_.bracketNames) {
                Add(SqlToken::Name, begin, Quoted(']', false));
            } else if (c == '$' && d_.dollarQuotes && !InWord() && DollarTagLength() > 0) {
                Add(SqlToken::String, begin, DollarQuoted());
            } else if (IsWordByte(c, d_)) {
                Word();
            } else {
                ++i_;
                Add(SqlToken::Punct, begin, std::string(1, static_cast<char>(c)));
            }
        }
        return std::move(tokens_);
    }

private:
    unsigned char Byte(std::size_t at) const
    {
        return at < s_.size() ? static_cast<unsigned char>(s_[at]) : 0;
    }
    bool InWord() const { return i_ > 0 && IsWordByte(Byte(i_ - 1), d_); }

    void Add(SqlToken::Kind kind, std::size_t begin, std::string text)
    {
        tokens_.push_back(SqlToken{kind, begin, i_, std::move(text)});
    }

    void Word()
    {
        const std::size_t begin = i_;
        while (i_ < s_.size() && IsWordByte(Byte(i_), d_))
            ++i_;
        const std::string_view word = s_.substr(begin, i_ - begin);
        Add(SqlToken::Word, begin, std::string(word));
        if (Byte(i_) != '\'')
            return;
        // A literal whose opening is a prefix letter: q'[..]', nq'{..}', E'..'.
        const std::size_t quote = i_;
        if (d_.qQuotes && (IsPrefix(word, "Q") || IsPrefix(word, "NQ")))
            Add(SqlToken::String, quote, QQuoted());
        else if (d_.dollarQuotes && IsPrefix(word, "E"))
            Add(SqlToken::String, quote, Quoted('\'', true));
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

    // At the opening quote of a literal or a quoted name; a doubled closing
    // quote stands for itself (not in brackets, where "]]" would be read as
    // the end and a stray "]").
    std::string Quoted(char close, bool escapes)
    {
        std::string text;
        ++i_;
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (escapes && c == '\\') {
                if (i_ + 1 < s_.size())
                    text += s_[i_ + 1];
                i_ += 2;
            } else if (c == close) {
                if (close != ']' && i_ + 1 < s_.size() && s_[i_ + 1] == close) {
                    text += close;
                    i_ += 2;
                } else {
                    ++i_;
                    return text;
                }
            } else {
                text += c;
                ++i_;
            }
        }
        i_ = std::min(i_, s_.size());
        return text;
    }

    // At the quote of q'X...X'; the closing mark is X's partner, or X itself.
    std::string QQuoted()
    {
        ++i_;
        if (i_ >= s_.size())
            return {};
        const char open = s_[i_];
        const char close = open == '[' ? ']' : open == '{' ? '}' : open == '<' ? '>' : open == '(' ? ')' : open;
        ++i_;
        const std::size_t start = i_;
        while (i_ < s_.size()) {
            if (s_[i_] == close && i_ + 1 < s_.size() && s_[i_ + 1] == '\'') {
                std::string text(s_.substr(start, i_ - start));
                i_ += 2;
                return text;
            }
            ++i_;
        }
        return std::string(s_.substr(start));
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

    std::string DollarQuoted()
    {
        const std::size_t length = DollarTagLength();
        const std::string_view tag = s_.substr(i_, length);
        const std::size_t start = i_ + length;
        const std::size_t end = s_.find(tag, start);
        if (end == std::string_view::npos) {
            i_ = s_.size();
            return std::string(s_.substr(start));
        }
        i_ = end + length;
        return std::string(s_.substr(start, end - start));
    }

    std::string_view s_;
    const SqlDialect& d_;
    std::size_t i_ = 0;
    std::vector<SqlToken> tokens_;
};

} // namespace

std::vector<SqlToken> LexSql(std::string_view text, const SqlDialect& dialect)
{
    return Lexer(text, dialect).Run();
}

} // namespace querlin::data
