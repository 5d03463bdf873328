#include "data/OdbcProvider.h"

#include "data/ProviderText.h"
#include "data/QueryText.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"

#ifdef _WIN32
// Windows' ODBC headers build on its own types.
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace querlin::data {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC's wide characters are UTF-16 units");

namespace {

const char* const kRowNotFound =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";
const char* const kTooManyRows =
    "Key column information is insufficient or incorrect. Too many rows were affected by update.";

// Text columns up to this many characters are bound and fetched in blocks;
// longer ones (and memos) are read in pieces.
constexpr SQLULEN kLongestBoundText = 4000;
constexpr SQLULEN kLongestBoundBinary = 8000;
// A block of rows is sized to about this many bytes of buffers.
constexpr std::size_t kBlockBytes = 1 << 20;
constexpr std::size_t kMaxBlockRows = 1024;
constexpr int kLoginTimeoutSeconds = 15;
// Connections are made on the GUI thread and on the export worker.
std::atomic<int> loginTimeoutSeconds{kLoginTimeoutSeconds};
// Pieces of long values.
constexpr SQLLEN kPieceBytes = 1 << 16;

SQLWCHAR* Wide(std::u16string& text)
{
    return reinterpret_cast<SQLWCHAR*>(text.data());
}

std::string Narrow(const SQLWCHAR* text, std::size_t units)
{
    std::string out;
    AppendUtf16AsUtf8(out, reinterpret_cast<const char16_t*>(text), units);
    return out;
}

// Every diagnostic record of a handle, one message per line, in the
// driver's own words.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle)
{
    std::string messages;
    for (SQLSMALLINT record = 1; record < 64; ++record) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(1024);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
            text.resize(static_cast<std::size_t>(length) + 1);
            rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                static_cast<SQLSMALLINT>(text.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc))
            break;
        std::size_t units = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)),
                                                  text.size() - 1);
        std::string message = Narrow(text.data(), units);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
            message.pop_back();
        if (message.empty() || messages.find(message) != std::string::npos)
            continue;
        if (!messages.empty())
            messages += '\n';
        messages += message;
    }
    return messages;
}

[[noreturn]] void ThrowDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    std::string messages = Diagnostics(type, handle);
    throw Error(messages.empty() ? std::string(what) : messages);
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* what)
{
    if (!SQL_SUCCEEDED(rc))
        ThrowDiagnostics(type, handle, what);
}

// Servers whose read-only transactions the connection knows how to ask for.
enum class ServerKind { Other, PostgreSql, Oracle };

// The environment and connection handles; shared by the connection and
// the readers it hands out, so a reader outliving its connection object
// still frees its statement before the connection goes.
struct Link {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
    // Asked for with Mode=Read: only single queries run, and no row is
    // stored or deleted, whatever the driver makes of the access mode.
    bool readOnly = false;
    ServerKind server = ServerKind::Other;
    SQLUINTEGER getDataExtensions = 0;
    std::string quote = "\"";

    ~Link()
    {
        if (connected)
            SQLDisconnect(dbc);
        if (dbc != SQL_NULL_HDBC)
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        if (env != SQL_NULL_HENV)
            SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

class StatementHandle {
public:
    explicit StatementHandle(const Link& link)
    {
        Check(SQLAllocHandle(SQL_HANDLE_STMT, link.dbc, &stmt_), SQL_HANDLE_DBC, link.dbc,
              "Cannot allocate a statement.");
    }
    ~StatementHandle() { Free(); }
    StatementHandle(const StatementHandle&) = delete;
    StatementHandle& operator=(const StatementHandle&) = delete;
    SQLHSTMT Get() const { return stmt_; }
    void Free()
    {
        if (stmt_ != SQL_NULL_HSTMT) {
            SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
            stmt_ = SQL_NULL_HSTMT;
        }
    }

private:
    SQLHSTMT stmt_ = SQL_NULL_HSTMT;
};

// How a column's values are read.
enum class Fetch {
    Skip,        // a type with no kind: not read at all
    Int, UInt, Float, Double, Bool, Decimal, Date, Time, Timestamp, Guid,
    Text,        // bounded text, UTF-16
    Binary,      // bounded bytes
    LongText,    // read in pieces
    LongBinary,  // read in pieces
};

struct ColumnPlan {
    Fetch fetch = Fetch::Skip;
    SQLSMALLINT cType = SQL_C_DEFAULT;
    SQLLEN elementBytes = 0;
    bool bound = false;
    std::unique_ptr<char[]> buffer;     // elementBytes per row of a block
    std::unique_ptr<SQLLEN[]> lengths;  // one per row of a block
};

void SetPlan(ColumnPlan& plan, Fetch fetch, SQLSMALLINT cType, std::size_t elementBytes)
{
    plan.fetch = fetch;
    plan.cType = cType;
    plan.elementBytes = static_cast<SQLLEN>(elementBytes);
}

bool IsLong(Fetch f)
{
    return f == Fetch::LongText || f == Fetch::LongBinary;
}

} // namespace

AdoType AdoTypeForSqlType(int sqlType, bool isUnsigned)
{
    switch (sqlType) {
    case SQL_CHAR: return AdoType::Char;
    case SQL_VARCHAR: return AdoType::VarChar;
    case SQL_LONGVARCHAR: return AdoType::LongVarChar;
    case SQL_WCHAR: return AdoType::WChar;
    case SQL_WVARCHAR: return AdoType::VarWChar;
    case SQL_WLONGVARCHAR: return AdoType::LongVarWChar;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return AdoType::Numeric;
    case SQL_SMALLINT: return isUnsigned ? AdoType::UnsignedSmallInt : AdoType::SmallInt;
    case SQL_INTEGER: return isUnsigned ? AdoType::UnsignedInt : AdoType::Integer;
    case SQL_BIGINT: return isUnsigned ? AdoType::UnsignedBigInt : AdoType::BigInt;
    case SQL_TINYINT: return isUnsigned ? AdoType::UnsignedTinyInt : AdoType::TinyInt;
    case SQL_REAL: return AdoType::Single;
    case SQL_FLOAT:
    case SQL_DOUBLE: return AdoType::Double;
    case SQL_BIT: return AdoType::Boolean;
    case SQL_BINARY: return AdoType::Binary;
    case SQL_VARBINARY: return AdoType::VarBinary;
    case SQL_LONGVARBINARY: return AdoType::LongVarBinary;
    case SQL_TYPE_DATE:
    case SQL_DATE: return AdoType::DBDate;
    case SQL_TYPE_TIME:
    case SQL_TIME: return AdoType::DBTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: return AdoType::DBTimeStamp;
    case SQL_GUID: return AdoType::Guid;
    default: return AdoType::Unsupported;
    }
}

namespace {

// A decimal number as the sink wants it: optional "-", digits, optional
// "." and digits. Drivers may send "+1.5", ".5", "1.", "1E+3".
std::optional<std::string> PlainDecimal(std::string_view text)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::string digits;
    long pointAt = -1;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c == '.' && pointAt < 0)
            pointAt = static_cast<long>(digits.size());
        else
            break;
    }
    if (digits.empty())
        return std::nullopt;
    if (pointAt < 0)
        pointAt = static_cast<long>(digits.size());
    if (i < text.size()) {
        if (text[i] != 'e' && text[i] != 'E')
            return std::nullopt;
        long exponent = 0;
        std::size_t e = i + 1;
        if (e < text.size() && text[e] == '+')
            ++e;
        auto [end, ec] = std::from_chars(text.data() + e, text.data() + text.size(), exponent);
        if (ec != std::errc() || end != text.data() + text.size() || exponent > 4000 || exponent < -4000)
            return std::nullopt;
        pointAt += exponent;
    }
    if (pointAt < 0) {
        digits.insert(0, static_cast<std::size_t>(-pointAt), '0');
        pointAt = 0;
    } else if (pointAt > static_cast<long>(digits.size())) {
        digits.append(static_cast<std::size_t>(pointAt) - digits.size(), '0');
    }
    std::string intPart = digits.substr(0, static_cast<std::size_t>(pointAt));
    std::string fracPart = digits.substr(static_cast<std::size_t>(pointAt));
    std::size_t nonZero = intPart.find_first_not_of('0');
    intPart = nonZero == std::string::npos ? "0" : intPart.substr(nonZero);
    std::string out = intPart;
    if (!fracPart.empty())
        out += "." + fracPart;
    bool zero = out.find_first_not_of("0.") == std::string::npos;
    if (negative && !zero)
        out.insert(0, 1, '-');
    return out;
}

std::string FormatGuid(const SQLGUID& g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// A single-precision value as the double the user would read: 1.1 stays 1.1
// instead of becoming 1.10000002384186.
double WidenFloat(float value)
{
    char text[32];
    auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec != std::errc())
        return value;
    *end = '\0';
    return std::strtod(text, nullptr);
}

class OdbcReader : public ResultReader {
public:
    OdbcReader(std::shared_ptr<Link> link, std::unique_ptr<StatementHandle> statement, SQLSMALLINT columnCount)
        : link_(std::move(link)), statement_(std::move(statement))
    {
        Describe(columnCount);
        Plan();
    }

    const std::vector<ColumnInfo>& Columns() const override { return columns_; }

    std::size_t Read(RowSink& sink, std::size_t maxRows) override
    {
        if (failed_)
            throw Error(failure_);
        std::size_t delivered = 0;
        try {
            while (delivered < maxRows) {
                if (blockPos_ >= blockCount_) {
                    if (done_ || !FetchBlock())
                        break;
                }
                DeliverRow(sink, blockPos_++);
                ++delivered;
            }
        } catch (const Error& e) {
            failed_ = true;
            failure_ = e.what();
            statement_->Free();
            throw;
        }
        return delivered;
    }

private:
    SQLHSTMT Stmt() const { return statement_->Get(); }

    std::string StringAttribute(SQLUSMALLINT column, SQLUSMALLINT field)
    {
        SQLWCHAR text[512] = {};
        SQLSMALLINT bytes = 0;
        if (!SQL_SUCCEEDED(SQLColAttributeW(Stmt(), column, field, text, sizeof text, &bytes, nullptr)))
            return {};
        std::size_t units = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)) / 2,
                                                  sizeof text / sizeof text[0] - 1);
        return Narrow(text, units);
    }

    SQLLEN NumberAttribute(SQLUSMALLINT column, SQLUSMALLINT field, SQLLEN fallback)
    {
        SQLLEN value = fallback;
        if (!SQL_SUCCEEDED(SQLColAttributeW(Stmt(), column, field, nullptr, 0, nullptr, &value)))
            return fallback;
        return value;
    }

    void Describe(SQLSMALLINT count)
    {
        columns_.resize(static_cast<std::size_t>(count));
        sqlTypes_.resize(static_cast<std::size_t>(count));
        for (SQLSMALLINT c = 1; c <= count; ++c) {
            std::vector<SQLWCHAR> name(256);
            SQLSMALLINT nameLength = 0, dataType = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            SQLRETURN rc = SQLDescribeColW(Stmt(), c, name.data(), static_cast<SQLSMALLINT>(name.size()),
                                           &nameLength, &dataType, &size, &digits, &nullable);
            if (SQL_SUCCEEDED(rc) && nameLength >= static_cast<SQLSMALLINT>(name.size())) {
                name.resize(static_cast<std::size_t>(nameLength) + 1);
                rc = SQLDescribeColW(Stmt(), c, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength,
                                     &dataType, &size, &digits, &nullable);
            }
            Check(rc, SQL_HANDLE_STMT, Stmt(), "Cannot describe the result's columns.");
            ColumnInfo& info = columns_[static_cast<std::size_t>(c - 1)];
            info.name = Narrow(name.data(), std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)),
                                                                  name.size() - 1));
            const bool isUnsigned = NumberAttribute(c, SQL_DESC_UNSIGNED, SQL_FALSE) == SQL_TRUE;
            info.type = AdoTypeForSqlType(dataType, isUnsigned);
            sqlTypes_[static_cast<std::size_t>(c - 1)] = dataType;
            switch (info.type) {
            case AdoType::Numeric:
                info.precision = static_cast<int>(size);
                info.scale = digits;
                break;
            case AdoType::Char: case AdoType::VarChar: case AdoType::LongVarChar:
            case AdoType::WChar: case AdoType::VarWChar: case AdoType::LongVarWChar:
            case AdoType::Binary: case AdoType::VarBinary: case AdoType::LongVarBinary:
                info.size = static_cast<std::int64_t>(size);
                break;
            case AdoType::Guid:
                info.size = 16;
                break;
            default:
                break;
            }
            info.autoIncrement = NumberAttribute(c, SQL_DESC_AUTO_UNIQUE_VALUE, SQL_FALSE) == SQL_TRUE;
            info.updatable = NumberAttribute(c, SQL_DESC_UPDATABLE, SQL_ATTR_READWRITE_UNKNOWN) != SQL_ATTR_READONLY &&
                             !info.autoIncrement;
            const std::string table = StringAttribute(c, SQL_DESC_BASE_TABLE_NAME);
            const std::string schema = StringAttribute(c, SQL_DESC_SCHEMA_NAME);
            if (!table.empty()) {
                info.baseTable = schema.empty() ? table : schema + "." + table;
                info.baseColumn = StringAttribute(c, SQL_DESC_BASE_COLUMN_NAME);
                if (info.baseColumn.empty())
                    info.baseColumn = info.name;
            }
        }
    }

    void Plan()
    {
        plans_.resize(columns_.size());
        bool anyLong = false;
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            const ColumnInfo& info = columns_[c];
            ColumnPlan& plan = plans_[c];
            const SQLULEN size = static_cast<SQLULEN>(std::max<std::int64_t>(info.size, 0));
            switch (info.type) {
            case AdoType::TinyInt: case AdoType::SmallInt: case AdoType::Integer: case AdoType::BigInt:
                SetPlan(plan, Fetch::Int, SQL_C_SBIGINT, sizeof(SQLBIGINT));
                break;
            case AdoType::UnsignedTinyInt: case AdoType::UnsignedSmallInt: case AdoType::UnsignedInt:
            case AdoType::UnsignedBigInt:
                SetPlan(plan, Fetch::UInt, SQL_C_UBIGINT, sizeof(SQLUBIGINT));
                break;
            case AdoType::Single:
                SetPlan(plan, Fetch::Float, SQL_C_FLOAT, sizeof(SQLREAL));
                break;
            case AdoType::Double:
                SetPlan(plan, Fetch::Double, SQL_C_DOUBLE, sizeof(SQLDOUBLE));
                break;
            case AdoType::Boolean:
                SetPlan(plan, Fetch::Bool, SQL_C_BIT, sizeof(SQLCHAR));
                break;
            case AdoType::Numeric:
                // Sign, digits, point and terminator; unknown precision gets room.
                SetPlan(plan, Fetch::Decimal, SQL_C_CHAR, info.precision > 0 && info.precision <= 60 ? 64 : 160);
                break;
            case AdoType::DBDate:
                // Fixed-size C types are laid out at their own size in a
                // column of a block, whatever buffer length is given.
                SetPlan(plan, Fetch::Date, SQL_C_TYPE_DATE, sizeof(SQL_DATE_STRUCT));
                break;
            case AdoType::DBTime:
                SetPlan(plan, Fetch::Time, SQL_C_TYPE_TIME, sizeof(SQL_TIME_STRUCT));
                break;
            case AdoType::DBTimeStamp:
                SetPlan(plan, Fetch::Timestamp, SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT));
                break;
            case AdoType::Guid:
                SetPlan(plan, Fetch::Guid, SQL_C_GUID, sizeof(SQLGUID));
                break;
            case AdoType::Char: case AdoType::VarChar: case AdoType::WChar: case AdoType::VarWChar:
                if (size > 0 && size <= kLongestBoundText)
                    // Characters may take two UTF-16 units each; one more for the terminator.
                    SetPlan(plan, Fetch::Text, SQL_C_WCHAR, static_cast<SQLLEN>((2 * size + 1) * sizeof(SQLWCHAR)));
                else
                    SetPlan(plan, Fetch::LongText, SQL_C_WCHAR, 0);
                break;
            case AdoType::LongVarChar: case AdoType::LongVarWChar:
                SetPlan(plan, Fetch::LongText, SQL_C_WCHAR, 0);
                break;
            case AdoType::Binary: case AdoType::VarBinary:
                if (size > 0 && size <= kLongestBoundBinary)
                    SetPlan(plan, Fetch::Binary, SQL_C_BINARY, static_cast<SQLLEN>(size));
                else
                    SetPlan(plan, Fetch::LongBinary, SQL_C_BINARY, 0);
                break;
            case AdoType::LongVarBinary:
                SetPlan(plan, Fetch::LongBinary, SQL_C_BINARY, 0);
                break;
            default:
                SetPlan(plan, Fetch::Skip, SQL_C_DEFAULT, 0);
                break;
            }
            anyLong = anyLong || IsLong(plan.fetch);
        }

        // Columns read in pieces are read after the fetch with SQLGetData,
        // which a driver may allow only after the last bound column and
        // only one row at a time. With such columns present, rows come one
        // by one and only the columns before the first piecewise one are
        // bound (unless the driver lets any column be read that way).
        const bool anyColumn = (link_->getDataExtensions & SQL_GD_ANY_COLUMN) != 0;
        bool beforeFirstLong = true;
        std::size_t rowBytes = 0;
        for (ColumnPlan& plan : plans_) {
            if (IsLong(plan.fetch))
                beforeFirstLong = false;
            plan.bound = plan.fetch != Fetch::Skip && !IsLong(plan.fetch) && (beforeFirstLong || anyColumn);
            if (plan.bound)
                rowBytes += static_cast<std::size_t>(plan.elementBytes) + sizeof(SQLLEN);
        }
        blockRows_ = 1;
        if (!anyLong)
            blockRows_ = std::clamp<std::size_t>(kBlockBytes / std::max<std::size_t>(rowBytes, 1), 1, kMaxBlockRows);

        SQLHSTMT stmt = Stmt();
        if (blockRows_ > 1) {
            SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
            if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE,
                                              reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(blockRows_)), 0))) {
                blockRows_ = 1;
            } else {
                // The driver may have settled for another size.
                SQLULEN actual = 1;
                SQLGetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &actual, 0, nullptr);
                blockRows_ = std::max<SQLULEN>(actual, 1);
            }
        }
        rowStatus_.assign(blockRows_, SQL_ROW_SUCCESS);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, rowStatus_.data(), 0);

        for (std::size_t c = 0; c < plans_.size(); ++c) {
            ColumnPlan& plan = plans_[c];
            if (!plan.bound)
                continue;
            plan.buffer = std::make_unique<char[]>(static_cast<std::size_t>(plan.elementBytes) * blockRows_);
            plan.lengths = std::make_unique<SQLLEN[]>(blockRows_);
            Check(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), plan.cType, plan.buffer.get(),
                             plan.elementBytes, plan.lengths.get()),
                  SQL_HANDLE_STMT, stmt, "Cannot bind a result column.");
        }
    }

    bool FetchBlock()
    {
        fetched_ = 0;
        SQLRETURN rc = SQLFetch(Stmt());
        if (rc == SQL_NO_DATA) {
            Finish();
            return false;
        }
        Check(rc, SQL_HANDLE_STMT, Stmt(), "Fetching the rows failed.");
        blockCount_ = blockRows_ == 1 ? 1 : static_cast<std::size_t>(fetched_);
        blockPos_ = 0;
        for (std::size_t r = 0; r < blockCount_; ++r) {
            if (rowStatus_[r] == SQL_ROW_ERROR)
                ThrowDiagnostics(SQL_HANDLE_STMT, Stmt(), "A row of the result could not be fetched.");
            if (rowStatus_[r] == SQL_ROW_NOROW) {
                blockCount_ = r;
                break;
            }
        }
        if (blockCount_ == 0) {
            Finish();
            return false;
        }
        return true;
    }

    // The result is read to its end: the statement goes at once, so the
    // connection is free again.
    void Finish()
    {
        done_ = true;
        statement_->Free();
    }

    void DeliverRow(RowSink& sink, std::size_t row)
    {
        sink.BeginRow();
        for (std::size_t c = 0; c < plans_.size(); ++c) {
            ColumnPlan& plan = plans_[c];
            const int column = static_cast<int>(c);
            if (plan.fetch == Fetch::Skip) {
                sink.Null(column);
            } else if (plan.bound) {
                const SQLLEN length = plan.lengths[row];
                if (length == SQL_NULL_DATA)
                    sink.Null(column);
                else if (Truncated(plan, length))
                    ReadWhole(sink, c, row);
                else
                    Deliver(sink, c, plan.buffer.get() + row * static_cast<std::size_t>(plan.elementBytes), length);
            } else if (IsLong(plan.fetch)) {
                ReadPieces(sink, c);
            } else {
                // A short column after a piecewise one, read on its own.
                std::unique_ptr<char[]> cell(new char[static_cast<std::size_t>(plan.elementBytes)]);
                SQLLEN length = 0;
                Check(SQLGetData(Stmt(), static_cast<SQLUSMALLINT>(c + 1), plan.cType, cell.get(), plan.elementBytes,
                                 &length),
                      SQL_HANDLE_STMT, Stmt(), "Reading a value failed.");
                if (length == SQL_NULL_DATA)
                    sink.Null(column);
                else if (Truncated(plan, length))
                    throw Error("The value of column " + columns_[c].name + " is longer than the column.");
                else
                    Deliver(sink, c, cell.get(), length);
            }
        }
        sink.EndRow();
    }

    static bool Truncated(const ColumnPlan& plan, SQLLEN length)
    {
        switch (plan.fetch) {
        case Fetch::Text:
            return length == SQL_NO_TOTAL || length > plan.elementBytes - static_cast<SQLLEN>(sizeof(SQLWCHAR));
        case Fetch::Decimal:
            return length == SQL_NO_TOTAL || length > plan.elementBytes - 1;
        case Fetch::Binary:
            return length == SQL_NO_TOTAL || length > plan.elementBytes;
        default:
            return false;
        }
    }

    // A bound value longer than the driver declared its column: read the
    // whole of it with SQLGetData when the driver lets a bound column of a
    // block be read that way.
    void ReadWhole(RowSink& sink, std::size_t c, std::size_t row)
    {
        const SQLUINTEGER needed = SQL_GD_BOUND | (blockRows_ > 1 ? SQL_GD_BLOCK : 0);
        if ((link_->getDataExtensions & needed) != needed)
            throw Error("The value of column " + columns_[c].name + " is longer than the driver declared.");
        if (blockRows_ > 1)
            Check(SQLSetPos(Stmt(), static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE),
                  SQL_HANDLE_STMT, Stmt(), "Cannot position on a row.");
        if (plans_[c].fetch == Fetch::Decimal) {
            // Read as text, then delivered as a number.
            struct Collect : RowSink {
                std::string text;
                bool isNull = false;
                void BeginRow() override {}
                void Null(int) override { isNull = true; }
                void Int(int, std::int64_t) override {}
                void UInt(int, std::uint64_t) override {}
                void Double(int, double) override {}
                void Bool(int, bool) override {}
                void Text(int, std::string_view v) override { text = v; }
                void Bytes(int, std::string_view) override {}
                void Decimal(int, std::string_view) override {}
                void Date(int, const DateParts&) override {}
                void Time(int, const TimeParts&) override {}
                void Timestamp(int, const TimestampParts&) override {}
                void EndRow() override {}
            } collect;
            ReadPieces(collect, c, Fetch::LongText);
            if (collect.isNull)
                sink.Null(static_cast<int>(c));
            else
                DeliverDecimal(sink, c, collect.text);
            return;
        }
        ReadPieces(sink, c, plans_[c].fetch == Fetch::Binary ? Fetch::LongBinary : Fetch::LongText);
    }

    void ReadPieces(RowSink& sink, std::size_t c, std::optional<Fetch> as = std::nullopt)
    {
        const Fetch fetch = as.value_or(plans_[c].fetch);
        const int column = static_cast<int>(c);
        const SQLUSMALLINT number = static_cast<SQLUSMALLINT>(c + 1);
        if (piece_.empty())
            piece_.resize(static_cast<std::size_t>(kPieceBytes));
        text_.clear();
        bytes_.clear();
        char16_t carried = 0;  // a high surrogate cut off at the end of a piece
        bool first = true;
        for (;;) {
            SQLLEN length = 0;
            const SQLSMALLINT cType = fetch == Fetch::LongText ? SQL_C_WCHAR : SQL_C_BINARY;
            SQLRETURN rc = SQLGetData(Stmt(), number, cType, piece_.data(), kPieceBytes, &length);
            if (rc == SQL_NO_DATA)
                break;
            Check(rc, SQL_HANDLE_STMT, Stmt(), "Reading a long value failed.");
            if (length == SQL_NULL_DATA) {
                sink.Null(column);
                return;
            }
            const bool more = rc == SQL_SUCCESS_WITH_INFO &&
                              (length == SQL_NO_TOTAL ||
                               length > kPieceBytes - (fetch == Fetch::LongText ? static_cast<SQLLEN>(sizeof(SQLWCHAR)) : 0));
            if (first && length != SQL_NO_TOTAL && length > 0) {
                // Room for the whole value at once.
                if (fetch == Fetch::LongText)
                    text_.reserve(static_cast<std::size_t>(length) / 2 * 3);
                else
                    bytes_.reserve(static_cast<std::size_t>(length));
            }
            first = false;
            std::size_t pieceBytes = more ? static_cast<std::size_t>(kPieceBytes) : static_cast<std::size_t>(length);
            if (fetch == Fetch::LongText) {
                if (more)
                    pieceBytes -= sizeof(SQLWCHAR);  // the terminator
                const auto* units = reinterpret_cast<const char16_t*>(piece_.data());
                std::size_t count = pieceBytes / sizeof(SQLWCHAR);
                std::u16string joined;
                if (carried) {
                    joined.reserve(count + 1);
                    joined += carried;
                    joined.append(units, count);
                    units = joined.data();
                    count = joined.size();
                    carried = 0;
                }
                if (more && count > 0 && units[count - 1] >= 0xD800 && units[count - 1] <= 0xDBFF) {
                    carried = units[count - 1];
                    --count;
                }
                AppendUtf16AsUtf8(text_, units, count);
            } else {
                bytes_.append(piece_.data(), pieceBytes);
            }
            if (!more)
                break;
        }
        if (carried)
            AppendUtf16AsUtf8(text_, &carried, 1);
        if (fetch == Fetch::LongText)
            sink.Text(column, text_);
        else
            sink.Bytes(column, bytes_);
    }

    // Already plain: "-", digits, "." and digits, no blanks or exponent.
    static bool IsPlainDecimal(std::string_view text)
    {
        std::size_t i = (!text.empty() && text[0] == '-') ? 1 : 0;
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        bool point = false;
        for (; i < text.size(); ++i) {
            const char ch = text[i];
            if (ch == '.' && !point && i + 1 < text.size())
                point = true;
            else if (ch < '0' || ch > '9')
                return false;
        }
        return true;
    }

    void DeliverDecimal(RowSink& sink, std::size_t c, std::string_view text)
    {
        if (IsPlainDecimal(text)) {
            sink.Decimal(static_cast<int>(c), text);
            return;
        }
        std::optional<std::string> plain = PlainDecimal(text);
        if (!plain) {
            // A numeric the server holds that is no number ('NaN', and
            // 'Infinity' on newer servers): the cell is unreadable, not the
            // table. As text, the field's kind decides what it holds (the
            // overflow mark for a fixed-point field, a null for an integer).
            sink.Text(static_cast<int>(c), ValidUtf8(text));
            return;
        }
        sink.Decimal(static_cast<int>(c), *plain);
    }

    void Deliver(RowSink& sink, std::size_t c, const char* cell, SQLLEN length)
    {
        const int column = static_cast<int>(c);
        switch (plans_[c].fetch) {
        case Fetch::Int: {
            SQLBIGINT v;
            std::memcpy(&v, cell, sizeof v);
            sink.Int(column, v);
            break;
        }
        case Fetch::UInt: {
            SQLUBIGINT v;
            std::memcpy(&v, cell, sizeof v);
            sink.UInt(column, v);
            break;
        }
        case Fetch::Float: {
            SQLREAL v;
            std::memcpy(&v, cell, sizeof v);
            sink.Double(column, WidenFloat(v));
            break;
        }
        case Fetch::Double: {
            SQLDOUBLE v;
            std::memcpy(&v, cell, sizeof v);
            sink.Double(column, v);
            break;
        }
        case Fetch::Bool:
            sink.Bool(column, cell[0] != 0);
            break;
        case Fetch::Decimal:
            DeliverDecimal(sink, c, std::string_view(cell, static_cast<std::size_t>(length)));
            break;
        case Fetch::Date: {
            SQL_DATE_STRUCT v;
            std::memcpy(&v, cell, sizeof v);
            sink.Date(column, DateParts{v.year, v.month, v.day});
            break;
        }
        case Fetch::Time: {
            SQL_TIME_STRUCT v;
            std::memcpy(&v, cell, sizeof v);
            sink.Time(column, TimeParts{v.hour, v.minute, v.second, 0});
            break;
        }
        case Fetch::Timestamp: {
            SQL_TIMESTAMP_STRUCT v;
            std::memcpy(&v, cell, sizeof v);
            sink.Timestamp(column, TimestampParts{DateParts{v.year, v.month, v.day},
                                                  TimeParts{v.hour, v.minute, v.second,
                                                            static_cast<int>(v.fraction / 1000000)}});
            break;
        }
        case Fetch::Guid: {
            SQLGUID v;
            std::memcpy(&v, cell, sizeof v);
            sink.Text(column, FormatGuid(v));
            break;
        }
        case Fetch::Text: {
            const std::size_t units = static_cast<std::size_t>(length) / sizeof(SQLWCHAR);
            if (text_.size() < units * 3)
                text_.resize(units * 3);
            const std::size_t bytes = Utf16ToUtf8(reinterpret_cast<const char16_t*>(cell), units, text_.data());
            sink.Text(column, std::string_view(text_.data(), bytes));
            break;
        }
        case Fetch::Binary:
            sink.Bytes(column, std::string_view(cell, static_cast<std::size_t>(length)));
            break;
        default:
            sink.Null(column);
            break;
        }
    }

    std::shared_ptr<Link> link_;
    std::unique_ptr<StatementHandle> statement_;
    std::vector<ColumnInfo> columns_;
    std::vector<SQLSMALLINT> sqlTypes_;
    std::vector<ColumnPlan> plans_;
    std::size_t blockRows_ = 1;
    std::vector<SQLUSMALLINT> rowStatus_;
    SQLULEN fetched_ = 0;
    std::size_t blockCount_ = 0;
    std::size_t blockPos_ = 0;
    bool done_ = false;
    bool failed_ = false;
    std::string failure_;
    std::string text_;   // scratch for converted text
    std::string bytes_;  // scratch for long binary values
    std::vector<char> piece_;
};

// Binds the values of an INSERT or a DELETE as parameters.
class Parameters {
public:
    void Bind(SQLHSTMT stmt, const std::vector<const ParamValue*>& values)
    {
        wide_.resize(values.size());
        lengths_.assign(values.size(), 0);
        for (std::size_t k = 0; k < values.size(); ++k) {
            const ParamValue& v = *values[k];
            const auto number = static_cast<SQLUSMALLINT>(k + 1);
            SQLRETURN rc = SQL_SUCCESS;
            switch (v.kind) {
            case ParamValue::Kind::Null:
                lengths_[k] = SQL_NULL_DATA;
                rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1, 0, nullptr, 0,
                                      &lengths_[k]);
                break;
            case ParamValue::Kind::Int:
                rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                                      const_cast<std::int64_t*>(&v.intValue), 0, nullptr);
                break;
            case ParamValue::Kind::Double:
                rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                                      const_cast<double*>(&v.doubleValue), 0, nullptr);
                break;
            case ParamValue::Kind::Text: {
                wide_[k] = Utf8ToUtf16(v.text);
                lengths_[k] = static_cast<SQLLEN>(wide_[k].size() * sizeof(SQLWCHAR));
                const SQLULEN chars = std::max<SQLULEN>(wide_[k].size(), 1);
                rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_WCHAR,
                                      chars > kLongestBoundText ? SQL_WLONGVARCHAR : SQL_WVARCHAR, chars, 0,
                                      wide_[k].data(), lengths_[k], &lengths_[k]);
                break;
            }
            case ParamValue::Kind::Bytes:
                lengths_[k] = static_cast<SQLLEN>(v.text.size());
                rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_BINARY,
                                      v.text.size() > kLongestBoundBinary ? SQL_LONGVARBINARY : SQL_VARBINARY,
                                      std::max<SQLULEN>(v.text.size(), 1), 0, const_cast<char*>(v.text.data()),
                                      lengths_[k], &lengths_[k]);
                break;
            }
            Check(rc, SQL_HANDLE_STMT, stmt, "Cannot bind a value.");
        }
    }

private:
    std::vector<std::u16string> wide_;
    std::vector<SQLLEN> lengths_;
};

ServerKind KindOfServer(SQLHDBC dbc)
{
    SQLWCHAR name[64] = {};
    SQLSMALLINT bytes = 0;
    if (!SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_DBMS_NAME, name, sizeof name, &bytes)))
        return ServerKind::Other;
    const std::string text = platform::AsciiUpper(
        Narrow(name, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(bytes, 0)) / 2, 63)));
    if (text.find("POSTGRES") != std::string::npos)
        return ServerKind::PostgreSql;
    if (text.find("ORACLE") != std::string::npos)
        return ServerKind::Oracle;
    return ServerKind::Other;
}

void RunOwnStatement(const Link& link, const char* sql)
{
    StatementHandle statement(link);
    std::u16string wide = Utf8ToUtf16(sql);
    SQLRETURN rc = SQLExecDirectW(statement.Get(), Wide(wide), static_cast<SQLINTEGER>(wide.size()));
    if (rc != SQL_NO_DATA)
        Check(rc, SQL_HANDLE_STMT, statement.Get(), "Cannot make the connection read-only.");
}

// The access mode is only a hint to most drivers: a single SELECT can still
// write through a function it calls. So the server is asked for read-only
// transactions itself, before every statement, since whatever ran last (a
// function calling set_config, say) may have turned the default off for the
// transactions after its own. A function cannot lift the read-only mode of
// the transaction it runs in; PostgreSQL refuses that once the query has
// begun. Oracle knows no session default: each transaction is opened
// read-only by hand, which is why its connections do not commit by
// themselves.
void KeepReadOnlyAtServer(Link& link)
{
    if (!link.readOnly)
        return;
    switch (link.server) {
    case ServerKind::PostgreSql:
        RunOwnStatement(link, "SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY");
        break;
    case ServerKind::Oracle:
        SQLEndTran(SQL_HANDLE_DBC, link.dbc, SQL_ROLLBACK);
        RunOwnStatement(link, "SET TRANSACTION READ ONLY");
        break;
    case ServerKind::Other:
        break;
    }
}

class OdbcConnection : public Connection {
public:
    explicit OdbcConnection(std::shared_ptr<Link> link) : link_(std::move(link)) {}

    std::unique_ptr<ResultReader> Query(const std::string& sql) override
    {
        CheckReadOnlyText(sql);
        KeepReadOnlyAtServer(*link_);
        auto statement = std::make_unique<StatementHandle>(*link_);
        if (!Run(statement->Get(), sql))
            return nullptr;
        SQLSMALLINT columns = 0;
        Check(SQLNumResultCols(statement->Get(), &columns), SQL_HANDLE_STMT, statement->Get(),
              "Cannot count the result's columns.");
        if (columns <= 0)
            return nullptr;
        return std::make_unique<OdbcReader>(link_, std::move(statement), columns);
    }

    std::int64_t Execute(const std::string& sql) override
    {
        CheckReadOnlyText(sql);
        KeepReadOnlyAtServer(*link_);
        StatementHandle statement(*link_);
        if (!Run(statement.Get(), sql))
            return 0;
        SQLLEN rows = 0;
        if (!SQL_SUCCEEDED(SQLRowCount(statement.Get(), &rows)) || rows < 0)
            return 0;
        return rows;
    }

    std::vector<CatalogEntry> Tables() override
    {
        StatementHandle statement(*link_);
        SQLHSTMT stmt = statement.Get();
        Check(SQLTablesW(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_HANDLE_STMT, stmt,
              "Cannot list the tables.");
        std::vector<CatalogEntry> entries;
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) != SQL_NO_DATA) {
            Check(rc, SQL_HANDLE_STMT, stmt, "Cannot list the tables.");
            CatalogEntry entry;
            entry.name = TextOf(stmt, 3);
            entry.type = TextOf(stmt, 4);
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    std::vector<NamedValue> InsertRow(const std::string& table, const std::vector<NamedValue>& values) override
    {
        CheckWritable();
        std::string names, marks;
        std::vector<const ParamValue*> params;
        for (const NamedValue& v : values) {
            if (!names.empty()) {
                names += ", ";
                marks += ", ";
            }
            names += QuoteName(v.column);
            marks += "?";
            params.push_back(&v.value);
        }
        std::string sql = "INSERT INTO " + QuoteTable(table);
        sql += values.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + marks + ")";
        StatementHandle statement(*link_);
        Parameters parameters;
        parameters.Bind(statement.Get(), params);
        Run(statement.Get(), sql);
        // ODBC has no general way to learn a number the database assigned.
        return {};
    }

    void DeleteRow(const std::string& table, const std::vector<NamedValue>& match) override
    {
        CheckWritable();
        if (match.empty())
            throw Error(kRowNotFound);
        std::string where;
        std::vector<const ParamValue*> params;
        for (const NamedValue& v : match) {
            if (!where.empty())
                where += " AND ";
            if (v.value.kind == ParamValue::Kind::Null) {
                where += QuoteName(v.column) + " IS NULL";
            } else {
                where += QuoteName(v.column) + " = ?";
                params.push_back(&v.value);
            }
        }
        // One row or none: more would mean the values do not single it out,
        // and the deletion is taken back.
        SQLHDBC dbc = link_->dbc;
        Check(SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              SQL_HANDLE_DBC, dbc, "Cannot start a transaction.");
        SQLLEN rows = 0;
        try {
            StatementHandle statement(*link_);
            Parameters parameters;
            parameters.Bind(statement.Get(), params);
            if (Run(statement.Get(), "DELETE FROM " + QuoteTable(table) + " WHERE " + where))
                SQLRowCount(statement.Get(), &rows);
        } catch (...) {
            // The statement's own error is the one to report.
            SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
            SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
            throw;
        }
        EndTransaction(rows == 1);
        if (rows == 0)
            throw Error(kRowNotFound);
        if (rows > 1)
            throw Error(kTooManyRows);
    }

private:
    // Refused text never reaches the driver.
    void CheckReadOnlyText(const std::string& sql) const
    {
        if (link_->readOnly && !IsSingleQuery(sql))
            throw Error(kReadOnlyQueryOnly);
    }

    void CheckWritable() const
    {
        if (link_->readOnly)
            throw Error("rows cannot be stored or deleted on a read-only connection");
    }

    // Runs the text; false when it ran without producing anything (a
    // searched statement that touched no row).
    bool Run(SQLHSTMT stmt, const std::string& sql)
    {
        std::u16string wide = Utf8ToUtf16(sql);
        SQLRETURN rc = SQLExecDirectW(stmt, Wide(wide), static_cast<SQLINTEGER>(wide.size()));
        if (rc == SQL_NO_DATA)
            return false;
        Check(rc, SQL_HANDLE_STMT, stmt, "The statement failed.");
        return true;
    }

    void EndTransaction(bool commit)
    {
        SQLHDBC dbc = link_->dbc;
        SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc, commit ? SQL_COMMIT : SQL_ROLLBACK);
        SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
        Check(rc, SQL_HANDLE_DBC, dbc, "Cannot end the transaction.");
    }

    static std::string TextOf(SQLHSTMT stmt, SQLUSMALLINT column)
    {
        SQLWCHAR text[512] = {};
        SQLLEN length = 0;
        if (!SQL_SUCCEEDED(SQLGetData(stmt, column, SQL_C_WCHAR, text, sizeof text, &length)) ||
            length == SQL_NULL_DATA)
            return {};
        std::size_t units = length == SQL_NO_TOTAL ? sizeof text / sizeof text[0] - 1
                                                   : std::min<std::size_t>(static_cast<std::size_t>(length) / 2,
                                                                           sizeof text / sizeof text[0] - 1);
        return Narrow(text, units);
    }

    std::string QuoteName(const std::string& name) const
    {
        const std::string& q = link_->quote;
        if (q.empty() || q == " ")
            return name;
        if (q.size() == 1)
            return platform::Enclose(name, q[0]);
        return q + name + q;
    }

    // "schema.table" as the reader reported it.
    std::string QuoteTable(const std::string& table) const
    {
        std::size_t dot = table.find('.');
        if (dot == std::string::npos)
            return QuoteName(table);
        return QuoteName(table.substr(0, dot)) + "." + QuoteName(table.substr(dot + 1));
    }

    std::shared_ptr<Link> link_;
};

bool WantsReadOnly(const ConnectionString& settings)
{
    std::optional<std::string> mode = settings.Value("Mode");
    if (!mode)
        return false;
    // "Read", "Read|Share Deny None", or the number of the read mode.
    std::string text = *mode;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t bar = text.find('|', start);
        std::string part = text.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        while (!part.empty() && part.front() == ' ')
            part.erase(0, 1);
        while (!part.empty() && part.back() == ' ')
            part.pop_back();
        if (SameKey(part, "Read"))
            return true;
        if (!part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return (std::atol(part.c_str()) & 3) == 1;
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return false;
}

struct DataSourceLogin {
    std::string dsn, uid, pwd;
};

// The connect text when it names a data source, a user and a password and
// nothing else (each at most once).
std::optional<DataSourceLogin> PlainDataSourceLogin(const std::string& connectText)
{
    const ConnectionString odbc = ConnectionString::ParseOdbc(connectText);
    int dsn = 0, uid = 0, pwd = 0;
    for (const auto& entry : odbc.Entries()) {
        if (SameKey(entry.first, "DSN"))
            ++dsn;
        else if (SameKey(entry.first, "UID"))
            ++uid;
        else if (SameKey(entry.first, "PWD"))
            ++pwd;
        else
            return std::nullopt;
    }
    if (dsn != 1 || uid != 1 || pwd != 1)
        return std::nullopt;
    return DataSourceLogin{*odbc.Value("DSN"), *odbc.Value("UID"), *odbc.Value("PWD")};
}

} // namespace

void SetOdbcLoginTimeoutForTesting(int seconds)
{
    loginTimeoutSeconds = seconds > 0 ? seconds : kLoginTimeoutSeconds;
}

std::string OdbcConnectText(const ConnectionString& settings)
{
    std::string text = settings.Value("Extended Properties").value_or("");
    const ConnectionString odbc = ConnectionString::ParseOdbc(text);
    // Beside a data source, SERVER is the Oracle net service name, which
    // only the Oracle client resolves (through tnsnames.ora); the drivers
    // that stand in for it take SERVER for a host name and would miss the
    // server the data source names. So it is left to the data source.
    if (odbc.Has("DSN") && odbc.Has("SERVER")) {
        std::vector<ConnectionString::Entry> kept;
        for (const auto& entry : odbc.Entries())
            if (!SameKey(entry.first, "SERVER"))
                kept.push_back(entry);
        text = BuildOdbc(kept);
    }
    text.resize(platform::TrimRight(text, platform::kSpaceAndTab).size());
    auto add = [&](const char* key, const std::string& value) {
        if (!text.empty() && text.back() != ';')
            text += ';';
        text += key;
        text += '=';
        text += QuoteOdbcValue(value);
        text += ';';
    };
    if (!odbc.Has("DSN") && !odbc.Has("DRIVER") && !odbc.Has("FILEDSN"))
        if (auto source = settings.Value("Data Source"); source && !source->empty())
            add("DSN", *source);
    if (!odbc.Has("UID"))
        if (auto user = settings.Value("User ID"))
            add("UID", *user);
    if (!odbc.Has("PWD"))
        if (auto password = settings.Value("Password"))
            add("PWD", *password);
    return text;
}

std::unique_ptr<Connection> OpenOdbc(const ConnectionString& settings)
{
    const std::string connectText = OdbcConnectText(settings);
    const bool readOnly = WantsReadOnly(settings);

    auto link = std::make_shared<Link>();
    link->readOnly = readOnly;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &link->env)))
        throw Error("Cannot start the ODBC driver manager.");
    Check(SQLSetEnvAttr(link->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          SQL_HANDLE_ENV, link->env, "Cannot start the ODBC driver manager.");
    Check(SQLAllocHandle(SQL_HANDLE_DBC, link->env, &link->dbc), SQL_HANDLE_ENV, link->env,
          "Cannot start an ODBC connection.");
    // A server that does not answer fails the connection after 15 seconds,
    // the wait a desktop data-access layer gives a login by default,
    // instead of hanging the window.
    SQLSetConnectAttr(link->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeoutSeconds.load())), 0);
    // Read-only access is a request: a driver that ignores or refuses it
    // still connects.
    if (readOnly)
        SQLSetConnectAttr(link->dbc, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);

    SQLRETURN rc;
    if (auto plain = PlainDataSourceLogin(connectText)) {
        // A data source with a user and a password only: hand the three over
        // as they are, since drivers differ in how they read braces around a
        // user name, and any character must reach the server intact.
        std::u16string dsn = Utf8ToUtf16(plain->dsn), uid = Utf8ToUtf16(plain->uid), pwd = Utf8ToUtf16(plain->pwd);
        rc = SQLConnectW(link->dbc, Wide(dsn), static_cast<SQLSMALLINT>(dsn.size()), Wide(uid),
                         static_cast<SQLSMALLINT>(uid.size()), Wide(pwd), static_cast<SQLSMALLINT>(pwd.size()));
    } else {
        std::u16string wide = Utf8ToUtf16(connectText);
        std::vector<SQLWCHAR> completed(2048);
        SQLSMALLINT completedLength = 0;
        rc = SQLDriverConnectW(link->dbc, nullptr, Wide(wide), static_cast<SQLSMALLINT>(wide.size()),
                               completed.data(), static_cast<SQLSMALLINT>(completed.size()), &completedLength,
                               SQL_DRIVER_NOPROMPT);
    }
    Check(rc, SQL_HANDLE_DBC, link->dbc, "Cannot connect to the data source.");
    link->connected = true;
    if (readOnly) {
        SQLSetConnectAttr(link->dbc, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
        link->server = KindOfServer(link->dbc);
        if (link->server == ServerKind::Oracle)
            Check(SQLSetConnectAttr(link->dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                                    0),
                  SQL_HANDLE_DBC, link->dbc, "Cannot make the connection read-only.");
        KeepReadOnlyAtServer(*link);
    }

    SQLUINTEGER extensions = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(link->dbc, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)))
        link->getDataExtensions = extensions;
    SQLWCHAR quote[8] = {};
    SQLSMALLINT quoteBytes = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(link->dbc, SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &quoteBytes)))
        link->quote = Narrow(quote, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(quoteBytes, 0)) / 2, 7));
    return std::make_unique<OdbcConnection>(std::move(link));
}

} // namespace querlin::data
