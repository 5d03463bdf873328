#pragma once
// The seam between record sets and the data sources behind them. A provider
// is chosen from the connection string's "Provider=" (see Connect) and hands
// over columns, rows and catalogue entries; record sets turn those into
// fields, snapshots and text forms. Providers never show anything: they throw
// querlin::Error carrying the source's own message text.
//
// Objects here belong to one thread at a time (the GUI thread, or the export
// worker for its own record set).

#include "platform/Error.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace querlin::data {

// Column types as the data-access layer reports them (ADO's data type
// enumeration). The record set maps these to field kinds.
enum class AdoType {
    TinyInt, SmallInt, Integer, BigInt,
    UnsignedTinyInt, UnsignedSmallInt, UnsignedInt, UnsignedBigInt,
    Single, Double, Currency, Decimal, Numeric, VarNumeric,
    Boolean, Error,
    DBDate, DBTime, Date, DBTimeStamp, FileTime, DBFileTime,
    Char, VarChar, LongVarChar,
    WChar, VarWChar, LongVarWChar, BSTR,
    Binary, VarBinary, LongVarBinary,
    Guid, Variant, PropVariant,
    Unsupported,  // a type with no kind: the column is left out
};

struct ColumnInfo {
    std::string name;          // UTF-8 as reported; may be empty
    AdoType type = AdoType::Unsupported;
    std::int64_t size = 0;     // declared length: bytes (8-bit text), characters (wide text)
    int precision = 0;         // total digits for decimal kinds
    int scale = -1;            // decimal places; -1 when not reported
    bool autoIncrement = false;
    bool updatable = true;
    bool isKey = false;        // part of the base table's primary key, when known
    std::string baseTable;     // for storing and deleting rows; empty when unknown
    std::string baseColumn;
};

struct DateParts { int year = 0; int month = 0; int day = 0; };
struct TimeParts { int hour = 0; int minute = 0; int second = 0; int millisecond = 0; };
struct TimestampParts { DateParts date; TimeParts time; };

// Receives the rows of a result. The views passed in are valid only during
// the call. Exactly one value call per column per row, between BeginRow and
// EndRow, in column order.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void BeginRow() = 0;
    virtual void Null(int column) = 0;
    virtual void Int(int column, std::int64_t value) = 0;
    virtual void UInt(int column, std::uint64_t value) = 0;
    virtual void Double(int column, double value) = 0;
    virtual void Bool(int column, bool value) = 0;
    virtual void Text(int column, std::string_view utf8) = 0;
    virtual void Bytes(int column, std::string_view bytes) = 0;
    // A decimal number as text: optional "-", digits, optional "." and digits.
    virtual void Decimal(int column, std::string_view text) = 0;
    virtual void Date(int column, const DateParts& value) = 0;
    virtual void Time(int column, const TimeParts& value) = 0;
    virtual void Timestamp(int column, const TimestampParts& value) = 0;
    virtual void EndRow() = 0;
};

class ResultReader {
public:
    virtual ~ResultReader() = default;
    virtual const std::vector<ColumnInfo>& Columns() const = 0;
    // Delivers up to maxRows further rows to the sink; returns how many, 0 at
    // the end of the result. Throws querlin::Error on a provider failure.
    virtual std::size_t Read(RowSink& sink, std::size_t maxRows) = 0;
};

// A value handed to the provider to store or to find a row.
struct ParamValue {
    enum class Kind { Null, Int, Double, Text, Bytes } kind = Kind::Null;
    std::int64_t intValue = 0;
    double doubleValue = 0;
    std::string text;  // UTF-8 for Text, raw bytes for Bytes
};

struct NamedValue {
    std::string column;  // base column name
    ParamValue value;
};

struct CatalogEntry {
    std::string name;
    std::string type;  // "TABLE", "VIEW", "SYSTEM TABLE", ...
};

class Connection {
public:
    virtual ~Connection() = default;
    // Runs the SQL text. Returns a reader when it produces a result set,
    // nullptr when it is a statement without one.
    virtual std::unique_ptr<ResultReader> Query(const std::string& sql) = 0;
    // Runs a statement that returns no rows; the number of rows affected.
    virtual std::int64_t Execute(const std::string& sql) = 0;
    // The tables schema, in catalogue order.
    virtual std::vector<CatalogEntry> Tables() = 0;
    // Stores one new row; returns the values of auto-numbered columns, by
    // base column name, as the source assigned them.
    virtual std::vector<NamedValue> InsertRow(const std::string& table,
                                              const std::vector<NamedValue>& values) = 0;
    // Deletes the one row whose listed columns hold the listed values
    // (optimistic: fails when no row matches any more).
    virtual void DeleteRow(const std::string& table, const std::vector<NamedValue>& match) = 0;
};

// A connection that could not be made: the server refused the user or the
// password, could not be reached, or the data source or its driver is
// missing. Told apart from a query that fails on a working connection,
// since a sign-on that fails is worth a word to the user where an empty
// result is not.
class ConnectionFailed : public Error {
public:
    using Error::Error;
};

// Opens a connection for an ADO-style connection string, choosing the
// provider from its "Provider=" entry. Throws querlin::Error naming an
// unknown provider, or with the source's message when it cannot connect.
std::unique_ptr<Connection> Connect(const std::string& connectionString);

// Creates an empty local store file for a connection string of the form
// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%s;" (what the catalog
// object's Create does). Fails with querlin::Error when the file exists
// already or cannot be written; never leaves a partial file behind.
void CreateLocalStore(const std::string& connectionString);

} // namespace querlin::data
