#include "data/SqliteProvider.h"

#include "data/ZeroDay.h"
#include "data/ProviderText.h"
#include "data/SqlLexer.h"
#include "platform/AsciiText.h"
#include "platform/AtomicFile.h"
#include "platform/Error.h"

#ifndef QUERLIN_WITHOUT_LOCAL_STORE
#include <sqlite3.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

namespace querlin::data {

namespace {

const char* const kRowNotFound =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";
const char* const kFieldTooSmall =
    "The field is too small to accept the amount of data you attempted to add. "
    "Try inserting or pasting less data.";

// Marks a file as this program's store (in the header's application id), so
// a store can be told from other SQLite files when that ever matters.
const int kStoreApplicationId = 0x514C5331;  // "QLS1"

std::string Lower(std::string_view text)
{
    return platform::AsciiLower(text);
}

} // namespace

#ifdef QUERLIN_WITHOUT_LOCAL_STORE

// A build without SQLite (the Windows build) knows the store's statements
// and columns but cannot open or make a store file.
namespace {
[[noreturn]] void NoLocalStore()
{
    throw Error("The local store (Provider=Microsoft.Jet.OLEDB.4.0) is not part of this build: it needs SQLite.");
}
} // namespace

std::unique_ptr<Connection> OpenLocalStore(const ConnectionString&)
{
    NoLocalStore();
}

void CreateLocalStore(const std::string&)
{
    NoLocalStore();
}

#else

namespace {

[[noreturn]] void ThrowStore(sqlite3* db)
{
    throw Error(sqlite3_errmsg(db));
}

std::string QuoteName(std::string_view name)
{
    return platform::Enclose(name, '"');
}

bool IsBlankTail(const char* tail)
{
    for (; tail && *tail; ++tail) {
        if (*tail == ';' || std::isspace(static_cast<unsigned char>(*tail)))
            continue;
        return false;
    }
    return true;
}

// Owns one prepared statement.
struct Statement {
    sqlite3_stmt* stmt = nullptr;
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(stmt); }
};

void Prepare(sqlite3* db, const std::string& sql, Statement& out)
{
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &out.stmt, &tail) != SQLITE_OK)
        ThrowStore(db);
    if (!out.stmt)
        throw Error("The SQL text holds no statement.");
    if (!IsBlankTail(tail))
        throw Error("Characters found after end of SQL statement.");
}

void Bind(sqlite3* db, sqlite3_stmt* stmt, int index, const ParamValue& value)
{
    int rc = SQLITE_OK;
    switch (value.kind) {
    case ParamValue::Kind::Null: rc = sqlite3_bind_null(stmt, index); break;
    case ParamValue::Kind::Int: rc = sqlite3_bind_int64(stmt, index, value.intValue); break;
    case ParamValue::Kind::Double: rc = sqlite3_bind_double(stmt, index, value.doubleValue); break;
    case ParamValue::Kind::Text:
        rc = sqlite3_bind_text(stmt, index, value.text.data(), static_cast<int>(value.text.size()),
                               SQLITE_TRANSIENT);
        break;
    case ParamValue::Kind::Bytes:
        rc = sqlite3_bind_blob(stmt, index, value.text.data(), static_cast<int>(value.text.size()),
                               SQLITE_TRANSIENT);
        break;
    }
    if (rc != SQLITE_OK)
        ThrowStore(db);
}

bool ParseNumber(const char*& p, int digits, int& out)
{
    out = 0;
    for (int k = 0; k < digits; ++k, ++p) {
        if (*p < '0' || *p > '9')
            return false;
        out = out * 10 + (*p - '0');
    }
    return true;
}

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.fff]]" (or with "T"), "HH:MM[:SS]".
bool ParseStoredDateTime(const char* text, TimestampParts& out)
{
    out = {};
    const char* p = text;
    bool haveDate = false;
    if (std::strlen(p) >= 10 && p[4] == '-' && p[7] == '-') {
        if (!ParseNumber(p, 4, out.date.year) || *p++ != '-' || !ParseNumber(p, 2, out.date.month) ||
            *p++ != '-' || !ParseNumber(p, 2, out.date.day))
            return false;
        haveDate = true;
        if (*p == ' ' || *p == 'T')
            ++p;
    } else {
        // A time alone lies on the zero day, as the store's date-times do.
        out.date = {kZeroDayYear, kZeroDayMonth, kZeroDayDay};
    }
    if (*p == '\0')
        return haveDate;
    if (!ParseNumber(p, 2, out.time.hour) || *p++ != ':' || !ParseNumber(p, 2, out.time.minute))
        return false;
    if (*p == ':') {
        ++p;
        if (!ParseNumber(p, 2, out.time.second))
            return false;
        if (*p == '.') {
            ++p;
            int ms = 0, n = 0;
            while (*p >= '0' && *p <= '9') {
                if (n < 3) {
                    ms = ms * 10 + (*p - '0');
                    ++n;
                }
                ++p;
            }
            while (n++ < 3)
                ms *= 10;
            out.time.millisecond = ms;
        }
    }
    return *p == '\0';
}

// A day count with fraction from the zero day (1899-12-30): how the local
// store's date columns hold their values, the fraction being the time.
TimestampParts FromDayNumber(double value)
{
    double days = std::floor(value);
    long long ms = std::llround((value - days) * 86400000.0);
    if (ms >= 86400000) {
        days += 1;
        ms -= 86400000;
    }
    // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
    long long z = static_cast<long long>(days) - kZeroDayTo1970Days + 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long d = doy - (153 * mp + 2) / 5 + 1;
    long long m = mp < 10 ? mp + 3 : mp - 9;
    TimestampParts out;
    out.date = {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
    out.time = {static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000)};
    return out;
}

std::string FormatDecimal(sqlite3_stmt* stmt, int column, int scale)
{
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER:
        return std::to_string(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT: {
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.*f", std::clamp(scale < 0 ? 4 : scale, 0, 30),
                      sqlite3_column_double(stmt, column));
        return buf;
    }
    default: {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        std::string value = text ? text : "";
        // Only a plain decimal number may pass as such.
        std::size_t i = (!value.empty() && value[0] == '-') ? 1 : 0;
        bool digits = false, point = false, ok = i < value.size();
        for (; i < value.size() && ok; ++i) {
            if (value[i] >= '0' && value[i] <= '9')
                digits = true;
            else if (value[i] == '.' && !point)
                point = true;
            else
                ok = false;
        }
        if (!ok || !digits)
            throw Error("Data type mismatch: '" + ValidUtf8(value) + "' is not a number.");
        return value;
    }
    }
}

class SqliteReader : public ResultReader {
public:
    SqliteReader(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt)
    {
        // The first row is fetched now: a failing statement fails here, and
        // expression columns (which declare no type) are typed from it.
        Step(false);
        const int count = sqlite3_column_count(stmt_);
        columns_.reserve(count);
        for (int c = 0; c < count; ++c) {
            const char* name = sqlite3_column_name(stmt_, c);
            const char* decl = sqlite3_column_decltype(stmt_, c);
            const char* table = sqlite3_column_table_name(stmt_, c);
            const char* origin = sqlite3_column_origin_name(stmt_, c);
            ColumnInfo info;
            if (decl) {
                info = LocalStoreColumnFromDeclaredType(decl);
            } else {
                switch (hasRow_ ? sqlite3_column_type(stmt_, c) : SQLITE_NULL) {
                case SQLITE_INTEGER: info.type = AdoType::Integer; break;
                case SQLITE_FLOAT: info.type = AdoType::Double; break;
                case SQLITE_BLOB: info.type = AdoType::LongVarBinary; info.size = 1073741823; break;
                default: info.type = AdoType::VarWChar; info.size = 255; break;
                }
                info.updatable = false;
            }
            info.name = name ? ValidUtf8(name) : std::string();
            if (table && origin) {
                info.baseTable = table;
                info.baseColumn = origin;
                const char* declared = nullptr;
                const char* collation = nullptr;
                int notNull = 0, primaryKey = 0, autoIncrement = 0;
                if (sqlite3_table_column_metadata(db_, sqlite3_column_database_name(stmt_, c), table,
                                                  origin, &declared, &collation, &notNull, &primaryKey,
                                                  &autoIncrement) == SQLITE_OK) {
                    info.isKey = primaryKey != 0;
                    if (autoIncrement) {
                        info.type = AdoType::Integer;
                        info.autoIncrement = true;
                        info.updatable = false;
                    }
                }
            }
            columns_.push_back(std::move(info));
        }
        // An empty result keeps its statement until its columns are known.
        if (!hasRow_) {
            sqlite3_finalize(stmt_);
            stmt_ = nullptr;
        }
    }

    ~SqliteReader() override { sqlite3_finalize(stmt_); }

    const std::vector<ColumnInfo>& Columns() const override { return columns_; }

    std::size_t Read(RowSink& sink, std::size_t maxRows) override
    {
        std::size_t delivered = 0;
        while (hasRow_ && delivered < maxRows) {
            sink.BeginRow();
            for (int c = 0; c < static_cast<int>(columns_.size()); ++c)
                Deliver(sink, c);
            sink.EndRow();
            ++delivered;
            Step();
        }
        return delivered;
    }

private:
    void Step(bool letGoAtEnd = true)
    {
        if (!stmt_)
            return;
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) {
            hasRow_ = true;
            return;
        }
        hasRow_ = false;
        if (rc == SQLITE_DONE && !letGoAtEnd)
            return;
        std::string message = rc == SQLITE_DONE ? std::string() : sqlite3_errmsg(db_);
        // Done (or failed): let go of the file at once, so other connections
        // to it can write while the rows are being looked at.
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        if (rc != SQLITE_DONE)
            throw Error(message);
    }

    void Deliver(RowSink& sink, int c)
    {
        const ColumnInfo& info = columns_[c];
        const int storage = sqlite3_column_type(stmt_, c);
        if (storage == SQLITE_NULL) {
            sink.Null(c);
            return;
        }
        switch (info.type) {
        case AdoType::TinyInt: case AdoType::SmallInt: case AdoType::Integer: case AdoType::BigInt:
        case AdoType::UnsignedTinyInt: case AdoType::UnsignedSmallInt: case AdoType::UnsignedInt:
        case AdoType::UnsignedBigInt:
            sink.Int(c, sqlite3_column_int64(stmt_, c));
            break;
        case AdoType::Boolean:
            sink.Bool(c, sqlite3_column_int64(stmt_, c) != 0);
            break;
        case AdoType::Single: case AdoType::Double:
            sink.Double(c, sqlite3_column_double(stmt_, c));
            break;
        case AdoType::Currency: case AdoType::Decimal: case AdoType::Numeric: case AdoType::VarNumeric:
            sink.Decimal(c, FormatDecimal(stmt_, c, info.scale));
            break;
        case AdoType::Date: {
            TimestampParts parts;
            if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
                parts = FromDayNumber(sqlite3_column_double(stmt_, c));
            } else {
                const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, c));
                if (!ParseStoredDateTime(text ? text : "", parts))
                    throw Error("Invalid date value '" + ValidUtf8(text ? text : "") + "' in column " +
                                info.name + ".");
            }
            sink.Timestamp(c, parts);
            break;
        }
        case AdoType::Binary: case AdoType::VarBinary: case AdoType::LongVarBinary: {
            const void* blob = sqlite3_column_blob(stmt_, c);
            int size = sqlite3_column_bytes(stmt_, c);
            sink.Bytes(c, std::string_view(static_cast<const char*>(blob), size));
            break;
        }
        default: {
            const char* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, c));
            int size = sqlite3_column_bytes(stmt_, c);
            std::string_view view(text ? text : "", text ? size : 0);
            if (IsValidUtf8(view))
                sink.Text(c, view);
            else
                sink.Text(c, ValidUtf8(view));
            break;
        }
        }
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_;
    bool hasRow_ = false;
    std::vector<ColumnInfo> columns_;
};

class SqliteConnection : public Connection {
public:
    SqliteConnection(sqlite3* db) : db_(db) {}
    // close_v2 waits for readers still alive to finish before closing.
    ~SqliteConnection() override { sqlite3_close_v2(db_); }

    std::unique_ptr<ResultReader> Query(const std::string& sql) override
    {
        Statement statement;
        Prepare(db_, TranslateLocalStoreStatement(sql), statement);
        if (sqlite3_column_count(statement.stmt) == 0) {
            RunToEnd(statement.stmt);
            return nullptr;
        }
        sqlite3_stmt* stmt = statement.stmt;
        statement.stmt = nullptr;
        return std::make_unique<SqliteReader>(db_, stmt);
    }

    std::int64_t Execute(const std::string& sql) override
    {
        Statement statement;
        Prepare(db_, TranslateLocalStoreStatement(sql), statement);
        const sqlite3_int64 before = sqlite3_total_changes64(db_);
        RunToEnd(statement.stmt);
        return sqlite3_total_changes64(db_) - before;
    }

    std::vector<CatalogEntry> Tables() override
    {
        Statement statement;
        Prepare(db_,
                "SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view') "
                "UNION ALL SELECT 'table', 'sqlite_master'",
                statement);
        std::vector<CatalogEntry> entries;
        int rc;
        while ((rc = sqlite3_step(statement.stmt)) == SQLITE_ROW) {
            std::string type = reinterpret_cast<const char*>(sqlite3_column_text(statement.stmt, 0));
            std::string name = ValidUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement.stmt, 1)));
            if (type == "view")
                type = "VIEW";
            else if (Lower(name).rfind("sqlite_", 0) == 0)
                type = "SYSTEM TABLE";
            else
                type = "TABLE";
            entries.push_back({std::move(name), std::move(type)});
        }
        if (rc != SQLITE_DONE)
            ThrowStore(db_);
        // The tables schema comes sorted by type, then name.
        std::stable_sort(entries.begin(), entries.end(), [](const CatalogEntry& a, const CatalogEntry& b) {
            if (a.type != b.type)
                return a.type < b.type;
            return Lower(a.name) < Lower(b.name);
        });
        return entries;
    }

    std::vector<NamedValue> InsertRow(const std::string& table, const std::vector<NamedValue>& values) override
    {
        const std::vector<TableColumn> columns = TableColumns(table);
        std::string sql = "INSERT INTO " + QuoteName(table);
        if (values.empty()) {
            sql += " DEFAULT VALUES";
        } else {
            std::string names, marks;
            for (const NamedValue& v : values) {
                const TableColumn* column = FindColumn(columns, v.column);
                if (column && v.value.kind == ParamValue::Kind::Text && column->maxChars > 0 &&
                    Utf8Length(v.value.text) > static_cast<std::size_t>(column->maxChars))
                    throw Error(kFieldTooSmall);
                if (!names.empty()) {
                    names += ", ";
                    marks += ", ";
                }
                names += QuoteName(v.column);
                marks += "?";
            }
            sql += " (" + names + ") VALUES (" + marks + ")";
        }
        Statement statement;
        Prepare(db_, sql, statement);
        for (std::size_t k = 0; k < values.size(); ++k)
            Bind(db_, statement.stmt, static_cast<int>(k + 1), values[k].value);
        RunToEnd(statement.stmt);

        std::vector<NamedValue> assigned;
        for (const TableColumn& column : columns) {
            if (!column.rowidAlias)
                continue;
            NamedValue v;
            v.column = column.name;
            v.value.kind = ParamValue::Kind::Int;
            v.value.intValue = sqlite3_last_insert_rowid(db_);
            assigned.push_back(std::move(v));
        }
        return assigned;
    }

    void DeleteRow(const std::string& table, const std::vector<NamedValue>& match) override
    {
        if (match.empty())
            throw Error(kRowNotFound);
        // Exactly one row, compared byte for byte: a row that differs from
        // another only in letter case is a different row.
        std::string where;
        for (const NamedValue& v : match) {
            if (!where.empty())
                where += " AND ";
            where += QuoteName(v.column) + " IS ? COLLATE BINARY";
        }
        std::string sql = "DELETE FROM " + QuoteName(table) + " WHERE rowid = (SELECT rowid FROM " +
                          QuoteName(table) + " WHERE " + where + " LIMIT 1)";
        Statement statement;
        Prepare(db_, sql, statement);
        for (std::size_t k = 0; k < match.size(); ++k)
            Bind(db_, statement.stmt, static_cast<int>(k + 1), match[k].value);
        RunToEnd(statement.stmt);
        if (sqlite3_changes(db_) == 0)
            throw Error(kRowNotFound);
    }

private:
    struct TableColumn {
        std::string name;
        std::int64_t maxChars = 0;  // 0: no limit
        bool rowidAlias = false;
    };

    static const TableColumn* FindColumn(const std::vector<TableColumn>& columns, const std::string& name)
    {
        for (const TableColumn& c : columns)
            if (Lower(c.name) == Lower(name))
                return &c;
        return nullptr;
    }

    std::vector<TableColumn> TableColumns(const std::string& table)
    {
        Statement statement;
        Prepare(db_, "SELECT name, type, pk FROM pragma_table_info(?)", statement);
        sqlite3_bind_text(statement.stmt, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
        std::vector<TableColumn> columns;
        int keyColumns = 0;
        int rc;
        while ((rc = sqlite3_step(statement.stmt)) == SQLITE_ROW) {
            TableColumn column;
            column.name = reinterpret_cast<const char*>(sqlite3_column_text(statement.stmt, 0));
            std::string type = reinterpret_cast<const char*>(sqlite3_column_text(statement.stmt, 1));
            bool key = sqlite3_column_int(statement.stmt, 2) != 0;
            ColumnInfo info = LocalStoreColumnFromDeclaredType(type);
            if (info.type == AdoType::VarWChar || info.type == AdoType::WChar)
                column.maxChars = info.size;
            column.rowidAlias = key && Lower(type) == "integer";
            keyColumns += key ? 1 : 0;
            columns.push_back(std::move(column));
        }
        if (rc != SQLITE_DONE)
            ThrowStore(db_);
        if (columns.empty())
            throw Error("The Microsoft Jet database engine cannot find the input table or query '" + table +
                        "'. Make sure it exists and that its name is spelled correctly.");
        if (keyColumns != 1)
            for (TableColumn& c : columns)
                c.rowidAlias = false;
        return columns;
    }

    void RunToEnd(sqlite3_stmt* stmt)
    {
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE)
            ThrowStore(db_);
    }

    sqlite3* db_;
};

std::string DataSourceOf(const ConnectionString& settings)
{
    std::optional<std::string> source = settings.Value("Data Source");
    if (!source || source->empty())
        throw Error("The connection string names no Data Source for the local store.");
    return *source;
}

bool ReadOnlyMode(const ConnectionString& settings)
{
    std::optional<std::string> mode = settings.Value("Mode");
    if (!mode)
        return false;
    std::string m = Lower(*mode);
    return m == "read" || m == "1";
}

} // namespace

std::unique_ptr<Connection> OpenLocalStore(const ConnectionString& settings)
{
    const std::string path = DataSourceOf(settings);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw Error("Could not find file '" + std::filesystem::absolute(path, ec).string() + "'.");
    const int flags = ReadOnlyMode(settings) ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close_v2(db);
        throw Error("Cannot open '" + path + "': " + message);
    }
    auto connection = std::make_unique<SqliteConnection>(db);
    sqlite3_busy_timeout(db, 5000);
    // Reading the schema proves the file is a store, without writing to it.
    char* message = nullptr;
    int rc = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string text = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        if ((rc & 0xFF) == SQLITE_NOTADB)
            throw Error("Unrecognized database format '" + path + "'.");
        throw Error("Cannot open '" + path + "': " + text);
    }
    return connection;
}

void CreateLocalStore(const std::string& connectionString)
{
    const std::string path = DataSourceOf(ConnectionString::ParseAdo(connectionString));
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        throw Error("Database already exists.");
    // Built beside under a temporary name and linked into place, so the
    // name never shows a half-made file and an existing file is never
    // replaced (the link fails when the name is taken meanwhile).
    auto build = [&](const std::filesystem::path& temporary) {
        auto fail = [&](const std::string& message) { throw Error("Cannot create '" + path + "': " + message); };
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(temporary.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            std::string message = db ? sqlite3_errmsg(db) : "out of memory";
            sqlite3_close_v2(db);
            fail(message);
        }
        char* message = nullptr;
        std::string pragma = "PRAGMA application_id = " + std::to_string(kStoreApplicationId);
        int rc = sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, &message);
        std::string text = message ? message : "";
        sqlite3_free(message);
        if (sqlite3_close(db) != SQLITE_OK && rc == SQLITE_OK) {
            rc = SQLITE_ERROR;
            text = "cannot close the new file";
        }
        if (rc != SQLITE_OK)
            fail(text);
    };
    const auto error = platform::PlaceFileAtomically(path, build, {platform::Placement::CreateNew, {}});
    if (error == std::errc::file_exists)
        throw Error("Database already exists.");
    if (error)
        throw Error("Cannot create '" + path + "': " + error.message());
}

#endif

} // namespace querlin::data
