// The local store's own statement text and column types: a CREATE TABLE
// turned into what SQLite runs (Counter columns, table-level primary keys,
// text compared without regard to letter case), and a declared type read
// back as the Jet provider described its columns.

#include "data/SqliteProvider.h"

#include "data/SqlLexer.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

namespace querlin::data {

namespace {

std::string Lower(std::string_view text)
{
    return platform::AsciiLower(text);
}

// ---------------------------------------------------------------------------
// Statement translation, enough for table definitions, on the data layer's
// SQL lexer.

// How the local store reads its statements: [names] and `names` beside
// "names", owner.table as one word, no escapes in literals.
constexpr SqlDialect kLocalStoreDialect{.backtickNames = true, .bracketNames = true, .dotInWords = true,
                                        .hashInWords = false};

using Token = SqlToken;

bool IsWord(const Token& t, std::string_view lowerWord)
{
    return t.kind == Token::Word && Lower(t.text) == lowerWord;
}

bool IsPunct(const Token& t, char c)
{
    return (t.kind == Token::Punct || t.kind == Token::Semicolon) && t.text[0] == c;
}

bool IsConstraintWord(const Token& t)
{
    static const char* const words[] = {"not", "null", "primary", "unique", "default", "check",
                                        "references", "collate", "constraint", "generated", "as"};
    if (t.kind != Token::Word)
        return false;
    std::string w = Lower(t.text);
    return std::any_of(std::begin(words), std::end(words), [&](const char* k) { return w == k; });
}

bool IsCounterType(std::string_view lowerType)
{
    return lowerType == "counter" || lowerType == "autoincrement" || lowerType == "identity";
}

bool IsTextType(std::string_view lowerType)
{
    static const char* const types[] = {"char", "varchar", "nchar", "nvarchar", "text", "memo",
                                        "longtext", "longchar", "note", "string", "character",
                                        "ntext", "alphanumeric", "clob"};
    return std::any_of(std::begin(types), std::end(types), [&](const char* k) { return lowerType == k; });
}

struct ColumnItem {
    std::string name;       // unquoted
    std::string typeWord;   // lower case, first word of the type
    std::size_t nameEnd = 0;  // within the item text
    std::size_t typeEnd = 0;
    bool primaryKey = false;
    bool hasCollate = false;
    std::vector<std::pair<std::size_t, std::size_t>> primaryKeySpans;
};

// Splits the text between the table's parentheses at its top-level commas.
std::vector<std::pair<std::size_t, std::size_t>> SplitItems(const std::vector<Token>& tokens,
                                                            std::size_t first, std::size_t last)
{
    std::vector<std::pair<std::size_t, std::size_t>> items;  // token ranges [a, b)
    int depth = 0;
    std::size_t start = first;
    for (std::size_t k = first; k < last; ++k) {
        if (IsPunct(tokens[k], '('))
            ++depth;
        else if (IsPunct(tokens[k], ')'))
            --depth;
        else if (depth == 0 && IsPunct(tokens[k], ',')) {
            items.emplace_back(start, k);
            start = k + 1;
        }
    }
    if (start < last)
        items.emplace_back(start, last);
    return items;
}

} // namespace

namespace {

// One definition between a table's parentheses: a column, or a table-level
// constraint (with the columns of its PRIMARY KEY).
struct Item {
    std::size_t a = 0, b = 0;  // token range
    bool isColumn = true;
    ColumnItem column;
    std::vector<std::string> tableKey;
    bool isTableKey = false;
};

// The parentheses around a CREATE TABLE's definitions: false for any other
// statement (CREATE TABLE ... AS SELECT among them) and for an unbalanced
// one, which the store is left to report.
bool FindDefinitions(const std::vector<Token>& tokens, std::size_t& open, std::size_t& close)
{
    std::size_t k = 0;
    if (tokens.size() < 4 || !IsWord(tokens[k], "create"))
        return false;
    ++k;
    if (IsWord(tokens[k], "temp") || IsWord(tokens[k], "temporary"))
        ++k;
    if (k >= tokens.size() || !IsWord(tokens[k], "table"))
        return false;
    // The column list is the first parenthesis after the table's name.
    open = k + 1;
    while (open < tokens.size() && !IsPunct(tokens[open], '(')) {
        if (IsWord(tokens[open], "as"))
            return false;
        ++open;
    }
    if (open >= tokens.size())
        return false;
    close = open + 1;
    for (int depth = 1; close < tokens.size(); ++close) {
        if (IsPunct(tokens[close], '('))
            ++depth;
        else if (IsPunct(tokens[close], ')') && --depth == 0)
            break;
    }
    return close < tokens.size();
}

// A column's name, the first word of its type (past a parenthesised size),
// and whether it says PRIMARY KEY or COLLATE.
ColumnItem ParseColumn(const std::vector<Token>& tokens, std::size_t a, std::size_t b)
{
    ColumnItem col;
    col.name = tokens[a].text;
    col.nameEnd = a + 1;
    std::size_t t = a + 1;
    if (t < b && tokens[t].kind == Token::Word && !IsConstraintWord(tokens[t])) {
        col.typeWord = Lower(tokens[t].text);
        ++t;
        while (t < b && tokens[t].kind == Token::Word && !IsConstraintWord(tokens[t]))
            ++t;
        if (t < b && IsPunct(tokens[t], '(')) {
            int depth = 0;
            for (; t < b; ++t) {
                if (IsPunct(tokens[t], '('))
                    ++depth;
                else if (IsPunct(tokens[t], ')') && --depth == 0) {
                    ++t;
                    break;
                }
            }
        }
    }
    col.typeEnd = t;
    for (; t < b; ++t) {
        if (IsWord(tokens[t], "collate"))
            col.hasCollate = true;
        if (t + 1 < b && IsWord(tokens[t], "primary") && IsWord(tokens[t + 1], "key")) {
            col.primaryKey = true;
            col.primaryKeySpans.emplace_back(t, t + 2);
        }
    }
    return col;
}

Item ParseItem(const std::vector<Token>& tokens, std::size_t a, std::size_t b)
{
    Item item;
    item.a = a;
    item.b = b;
    const Token& first = tokens[a];
    if (!(IsWord(first, "primary") || IsWord(first, "constraint") || IsWord(first, "unique") ||
          IsWord(first, "check") || IsWord(first, "foreign"))) {
        item.column = ParseColumn(tokens, a, b);
        return item;
    }
    item.isColumn = false;
    for (std::size_t t = a; t + 1 < b; ++t) {
        if (IsWord(tokens[t], "primary") && IsWord(tokens[t + 1], "key")) {
            item.isTableKey = true;
            for (std::size_t c = t + 2; c < b; ++c)
                if (tokens[c].kind == Token::Word || tokens[c].kind == Token::Name)
                    item.tableKey.push_back(Lower(tokens[c].text));
            break;
        }
    }
    return item;
}

// Which column, if any, becomes the auto-numbered key, and whether a
// table-level PRIMARY KEY naming it alone goes (the column carries it).
const Item* ChooseCounter(const std::vector<Item>& items, const Item*& tableKey, bool& dropTableKey)
{
    const Item* counter = nullptr;
    for (const Item& item : items) {
        if (item.isColumn && IsCounterType(item.column.typeWord)) {
            if (counter)
                throw Error("A table can have only one Counter column.");
            counter = &item;
        }
    }
    tableKey = nullptr;
    for (const Item& item : items)
        if (item.isTableKey)
            tableKey = &item;
    dropTableKey = false;
    if (!counter)
        return nullptr;
    const std::string counterName = Lower(counter->column.name);
    if (tableKey) {
        if (tableKey->tableKey.size() == 1 && tableKey->tableKey[0] == counterName)
            dropTableKey = true;
        else
            throw Error("A Counter column must be the table's only primary key column.");
    }
    for (const Item& item : items)
        if (item.isColumn && &item != counter && item.column.primaryKey)
            throw Error("A Counter column must be the table's only primary key column.");
    return counter;
}

} // namespace

std::string TranslateLocalStoreStatement(std::string_view sql)
{
    const std::vector<Token> tokens = LexSql(sql, kLocalStoreDialect);
    std::size_t open = 0;
    std::size_t close = 0;
    if (!FindDefinitions(tokens, open, close))
        return std::string(sql);
    std::vector<Item> items;
    for (auto [a, b] : SplitItems(tokens, open + 1, close)) {
        if (a != b)
            items.push_back(ParseItem(tokens, a, b));
    }
    const Item* tableKey = nullptr;
    bool dropTableKey = false;
    const Item* counter = ChooseCounter(items, tableKey, dropTableKey);

    auto textOf = [&](std::size_t a, std::size_t b) {
        return std::string(sql.substr(tokens[a].begin, tokens[b - 1].end - tokens[a].begin));
    };
    std::string out(sql.substr(0, tokens[open].end));
    bool firstItem = true;
    for (const Item& item : items) {
        if (dropTableKey && &item == tableKey)
            continue;
        if (!firstItem)
            out += ", ";
        firstItem = false;
        if (!item.isColumn) {
            out += textOf(item.a, item.b);
            continue;
        }
        const ColumnItem& col = item.column;
        if (&item == counter) {
            out += textOf(item.a, col.nameEnd);
            out += " INTEGER PRIMARY KEY AUTOINCREMENT";
            // The rest of the definition, without a PRIMARY KEY of its own.
            for (std::size_t t = col.typeEnd; t < item.b; ++t) {
                bool inKey = std::any_of(col.primaryKeySpans.begin(), col.primaryKeySpans.end(),
                                         [&](auto span) { return t >= span.first && t < span.second; });
                if (!inKey) {
                    out += ' ';
                    out += std::string(sql.substr(tokens[t].begin, tokens[t].end - tokens[t].begin));
                }
            }
            continue;
        }
        out += textOf(item.a, item.b);
        if (IsTextType(col.typeWord) && !col.hasCollate)
            out += " COLLATE NOCASE";
    }
    out += sql.substr(tokens[close].begin);
    return out;
}

ColumnInfo LocalStoreColumnFromDeclaredType(std::string_view declaredType)
{
    ColumnInfo info;
    std::string decl = Lower(declaredType);
    // The first word and the numbers in parentheses.
    std::size_t i = 0;
    while (i < decl.size() && std::isspace(static_cast<unsigned char>(decl[i])))
        ++i;
    std::size_t wordStart = i;
    while (i < decl.size() && (std::isalnum(static_cast<unsigned char>(decl[i])) || decl[i] == '_'))
        ++i;
    std::string word = decl.substr(wordStart, i - wordStart);
    std::vector<long long> args;
    std::size_t paren = decl.find('(');
    if (paren != std::string::npos) {
        const char* p = decl.c_str() + paren + 1;
        while (*p) {
            char* end = nullptr;
            long long v = std::strtoll(p, &end, 10);
            if (end == p)
                break;
            args.push_back(v);
            p = end;
            while (*p == ' ' || *p == ',')
                ++p;
        }
    }
    auto sizeOr = [&](std::int64_t fallback) { return args.empty() ? fallback : args[0]; };

    if (IsCounterType(word)) {
        info.type = AdoType::Integer;
        info.autoIncrement = true;
        info.updatable = false;
    } else if (word == "varchar" || word == "nvarchar" || word == "string" || word == "alphanumeric" ||
               word == "character" || (word == "text" && !args.empty())) {
        info.type = AdoType::VarWChar;
        info.size = sizeOr(255);
    } else if (word == "char" || word == "nchar") {
        info.type = AdoType::WChar;
        info.size = sizeOr(255);
    } else if (word == "text" || word == "memo" || word == "longtext" || word == "longchar" ||
               word == "note" || word == "ntext" || word == "clob") {
        info.type = AdoType::LongVarWChar;
        info.size = 536870910;
    } else if (word == "integer" || word == "int" || word == "long" || word == "int4") {
        info.type = AdoType::Integer;
    } else if (word == "smallint" || word == "short" || word == "int2") {
        info.type = AdoType::SmallInt;
    } else if (word == "byte" || word == "tinyint") {
        info.type = AdoType::UnsignedTinyInt;
    } else if (word == "bigint" || word == "int8") {
        info.type = AdoType::BigInt;
    } else if (word == "real" || word == "single" || word == "float4") {
        info.type = AdoType::Single;
    } else if (word == "float" || word == "double" || word == "float8" || word == "number") {
        info.type = AdoType::Double;
    } else if (word == "money" || word == "currency") {
        info.type = AdoType::Currency;
        info.precision = 19;
        info.scale = 4;
    } else if (word == "decimal" || word == "numeric" || word == "dec") {
        info.type = AdoType::Numeric;
        info.precision = static_cast<int>(args.size() > 0 ? args[0] : 18);
        info.scale = static_cast<int>(args.size() > 1 ? args[1] : 0);
    } else if (word == "bit" || word == "yesno" || word == "logical" || word == "logical1" ||
               word == "boolean" || word == "bool") {
        info.type = AdoType::Boolean;
    } else if (word == "datetime" || word == "date" || word == "time" || word == "timestamp") {
        info.type = AdoType::Date;
    } else if (word == "binary" || word == "varbinary") {
        info.type = AdoType::VarBinary;
        info.size = sizeOr(255);
    } else if (word == "image" || word == "longbinary" || word == "oleobject" || word == "general" ||
               word == "blob") {
        info.type = AdoType::LongVarBinary;
        info.size = 1073741823;
    } else if (word == "guid" || word == "uniqueidentifier") {
        info.type = AdoType::Guid;
        info.size = 16;
    } else {
        info.type = AdoType::Unsupported;
    }
    return info;
}

} // namespace querlin::data
