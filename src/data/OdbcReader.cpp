// The reader: a result's columns described, its rows fetched in blocks
// where the driver allows and handed to the row sink as UTF-8 and numbers.
#include "data/DataSet.h"
#include "data/OdbcInternal.h"
#include "data/OdbcProvider.h"
#include "data/ProviderText.h"
#include "platform/Error.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace querlin::data::odbc {

namespace {

// Text columns up to this many characters are bound and fetched in blocks;
// longer ones (and memos) are read in pieces.
constexpr SQLULEN kLongestBoundText = 4000;
constexpr SQLULEN kLongestBoundBinary = 8000;
// A block of rows is sized to about this many bytes of buffers.
constexpr std::size_t kBlockBytes = 1 << 20;
constexpr std::size_t kMaxBlockRows = 1024;
// Pieces of long values.
constexpr SQLLEN kPieceBytes = 1 << 16;

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
};

// The buffers one block of rows is fetched into, and what the fetch said
// of it. Rows come in blocks into two such sets in turn: one is converted
// while the driver fills the other.
struct BlockSet {
    std::vector<std::unique_ptr<char[]>> data;     // per column: elementBytes per row, bound columns only
    std::vector<std::unique_ptr<SQLLEN[]>> lengths;  // per column: one per row
    std::vector<SQLUSMALLINT> status;
    SQLULEN fetched = 0;
    std::size_t count = 0;     // the rows of the block
    bool needsCursor = false;  // a value longer than its buffer, read through the cursor on this block
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

// How a column of this type and size is read.
void ChoosePlan(ColumnPlan& plan, const ColumnInfo& info)
{
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
}

class OdbcReader : public ResultReader {
public:
    OdbcReader(std::shared_ptr<Link> link, std::unique_ptr<StatementHandle> statement, SQLSMALLINT columnCount,
               std::unique_ptr<ServerCursor> cursor)
        : link_(std::move(link)), cursor_(std::move(cursor)), statement_(std::move(statement))
    {
        Describe(columnCount);
        Plan();
    }

    ~OdbcReader() override { StopFetcher(); }

    const std::vector<ColumnInfo>& Columns() const override { return columns_; }

    std::size_t Read(RowSink& sink, std::size_t maxRows) override
    {
        if (failed_)
            throw Error(failure_);
        std::size_t delivered = 0;
        try {
            while (delivered < maxRows) {
                if (blockPos_ >= blockCount_) {
                    if (done_ || !NextBlock())
                        break;
                }
                DeliverRow(sink, blockPos_++);
                ++delivered;
            }
        } catch (const Error& e) {
            failed_ = true;
            failure_ = e.what();
            // The fetch thread lets go of the statement first.
            StopFetcher();
            LetGo();
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
            ChoosePlan(plans_[c], columns_[c]);
            anyLong = anyLong || IsLong(plans_[c].fetch);
        }
        Bind(anyLong);
    }

    // Columns read in pieces are read after the fetch with SQLGetData,
    // which a driver may allow only after the last bound column and only
    // one row at a time. With such columns present, rows come one by one
    // and only the columns before the first piecewise one are bound (unless
    // the driver lets any column be read that way).
    void Bind(bool anyLong)
    {
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
        // Blocks of rows are fetched on a thread of the reader's own while
        // the rows before are converted; single rows (long values read in
        // pieces through the cursor) are fetched as they are read.
        pipelined_ = blockRows_ > 1;
        for (std::size_t k = 0; k < (pipelined_ ? 2u : 1u); ++k) {
            BlockSet& set = sets_[k];
            set.status.assign(blockRows_, SQL_ROW_SUCCESS);
            set.data.resize(plans_.size());
            set.lengths.resize(plans_.size());
            for (std::size_t c = 0; c < plans_.size(); ++c) {
                if (!plans_[c].bound)
                    continue;
                set.data[c] = std::make_unique<char[]>(static_cast<std::size_t>(plans_[c].elementBytes) * blockRows_);
                set.lengths[c] = std::make_unique<SQLLEN[]>(blockRows_);
            }
        }
        BindSet(0);
    }

    // Points the statement's bound columns, row count and row states at a set.
    void BindSet(std::size_t k)
    {
        SQLHSTMT stmt = Stmt();
        BlockSet& set = sets_[k];
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &set.fetched, 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, set.status.data(), 0);
        for (std::size_t c = 0; c < plans_.size(); ++c) {
            const ColumnPlan& plan = plans_[c];
            if (!plan.bound)
                continue;
            Check(SQLBindCol(stmt, static_cast<SQLUSMALLINT>(c + 1), plan.cType, set.data[c].get(),
                             plan.elementBytes, set.lengths[c].get()),
                  SQL_HANDLE_STMT, stmt, "Cannot bind a result column.");
        }
        boundSet_ = k;
    }

    // Fetches the next block into a set; false at the result's end. Whoever
    // calls it owns the statement for the call: the fetch thread while it
    // runs, the reading thread otherwise.
    bool FetchInto(std::size_t k)
    {
        if (boundSet_ != k)
            BindSet(k);
        BlockSet& set = sets_[k];
        set.fetched = 0;
        set.count = 0;
        set.needsCursor = false;
        SQLRETURN rc = SQLFetch(Stmt());
        if (rc == SQL_NO_DATA && cursor_ && cursor_->FetchMore(Stmt(), rowsOfFetch_)) {
            rowsOfFetch_ = 0;
            set.fetched = 0;
            rc = SQLFetch(Stmt());
        }
        if (rc == SQL_NO_DATA)
            return false;
        Check(rc, SQL_HANDLE_STMT, Stmt(), "Fetching the rows failed.");
        std::size_t count = 1;
        if (blockRows_ > 1)
            count = static_cast<std::size_t>(std::min<SQLULEN>(set.fetched, static_cast<SQLULEN>(blockRows_)));
        for (std::size_t r = 0; r < count; ++r) {
            if (set.status[r] == SQL_ROW_ERROR)
                ThrowDiagnostics(SQL_HANDLE_STMT, Stmt(), "A row of the result could not be fetched.");
            if (set.status[r] == SQL_ROW_NOROW) {
                count = r;
                break;
            }
        }
        for (std::size_t c = 0; c < plans_.size() && !set.needsCursor; ++c) {
            if (!plans_[c].bound)
                continue;
            for (std::size_t r = 0; r < count; ++r) {
                const SQLLEN length = set.lengths[c][r];
                if (length != SQL_NULL_DATA && Truncated(plans_[c], length)) {
                    set.needsCursor = true;
                    break;
                }
            }
        }
        set.count = count;
        rowsOfFetch_ += count;
        return count > 0;
    }

    // The next block for the reading thread: false at the result's end,
    // when the statement has gone, so the connection is free again.
    bool NextBlock()
    {
        if (!pipelined_) {
            if (!FetchInto(0)) {
                done_ = true;
                LetGo();
                return false;
            }
            current_ = 0;
            blockCount_ = sets_[0].count;
            blockPos_ = 0;
            return true;
        }
        if (!fetcher_.joinable() && !fetchEnded_ && !StartFetcher()) {
            pipelined_ = false;
            return NextBlock();
        }
        std::unique_lock<std::mutex> hold(pipeLock_);
        if (held_ != kNoSet) {
            // Done with the block held: its set is the fetch thread's again.
            if (cursorSet_ == held_)
                cursorSet_ = kNoSet;
            held_ = kNoSet;
            pipeMoved_.notify_all();
        }
        pipeMoved_.wait(hold, [this] { return filled_ != kNoSet || fetchEnded_; });
        if (filled_ == kNoSet) {
            if (fetchFailure_)
                std::rethrow_exception(fetchFailure_);
            done_ = true;
            return false;
        }
        held_ = filled_;
        filled_ = kNoSet;
        pipeMoved_.notify_all();
        current_ = held_;
        blockCount_ = sets_[held_].count;
        blockPos_ = 0;
        return true;
    }

    // The result is read (or failed): the statement and the cursor's
    // transaction go at once, so the connection is free again. Whoever owns
    // the statement calls it.
    void LetGo()
    {
        statement_->Free();
        cursor_.reset();
    }

    bool StartFetcher()
    {
        WorkerStarts();
        try {
            fetcher_ = std::thread([this] { FetchAhead(); });
        } catch (const std::system_error&) {
            WorkerEnds();
            return false;
        }
        return true;
    }

    // The fetch thread: fills the set the reading thread is not on, hands it
    // over and fills the other, until the result ends, fails, or the reader
    // stops it. After a block with a value read through the cursor it waits
    // until that block is done with, so the cursor stays on it.
    void FetchAhead()
    {
        std::size_t next = 0;
        for (;;) {
            {
                std::unique_lock<std::mutex> hold(pipeLock_);
                pipeMoved_.wait(hold, [&] {
                    return stopFetch_ || (held_ != next && filled_ == kNoSet && cursorSet_ == kNoSet);
                });
                if (stopFetch_)
                    break;
            }
            bool more = false;
            std::exception_ptr failure;
            try {
                more = FetchInto(next);
                if (!more)
                    LetGo();
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard<std::mutex> hold(pipeLock_);
            if (failure || !more) {
                fetchFailure_ = failure;
                fetchEnded_ = true;
                pipeMoved_.notify_all();
                break;
            }
            filled_ = next;
            if (sets_[next].needsCursor)
                cursorSet_ = next;
            pipeMoved_.notify_all();
            next ^= 1;
        }
        WorkerEnds();
    }

    // Ends the fetch thread. One in a driver's call is waited for: the
    // statement and the connection under that call stay until it returns.
    void StopFetcher()
    {
        if (!fetcher_.joinable())
            return;
        {
            std::lock_guard<std::mutex> hold(pipeLock_);
            stopFetch_ = true;
        }
        pipeMoved_.notify_all();
        fetcher_.join();
        fetchEnded_ = true;
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
                const BlockSet& set = sets_[current_];
                const SQLLEN length = set.lengths[c][row];
                if (length == SQL_NULL_DATA)
                    sink.Null(column);
                else if (Truncated(plan, length))
                    ReadWhole(sink, c, row);
                else
                    Deliver(sink, c, set.data[c].get() + row * static_cast<std::size_t>(plan.elementBytes), length);
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
    // Before the statement, so the statement goes first.
    std::unique_ptr<ServerCursor> cursor_;
    std::size_t rowsOfFetch_ = 0;  // rows read of the cursor's last FETCH
    std::unique_ptr<StatementHandle> statement_;
    std::vector<ColumnInfo> columns_;
    std::vector<ColumnPlan> plans_;
    std::size_t blockRows_ = 1;
    BlockSet sets_[2];
    std::size_t boundSet_ = 0;  // the set the statement's columns point at
    std::size_t current_ = 0;   // the set the reading thread converts
    bool pipelined_ = false;
    std::size_t blockCount_ = 0;
    std::size_t blockPos_ = 0;
    bool done_ = false;
    bool failed_ = false;
    std::string failure_;
    std::string text_;   // scratch for converted text
    std::string bytes_;  // scratch for long binary values
    std::vector<char> piece_;

    // The fetch thread and what it shares with the reading thread, under
    // pipeLock_: which set is filled and not yet taken, which the reading
    // thread holds, whether one handed over still needs the cursor, and how
    // the fetch ended. Outside the lock, a set belongs to whichever of the
    // two the hand-over gave it to, and the statement to the fetch thread
    // while it runs (but while a block that needs the cursor is out).
    static constexpr std::size_t kNoSet = SIZE_MAX;
    std::mutex pipeLock_;
    std::condition_variable pipeMoved_;
    std::size_t filled_ = kNoSet;
    std::size_t held_ = kNoSet;
    std::size_t cursorSet_ = kNoSet;
    bool stopFetch_ = false;
    bool fetchEnded_ = false;
    std::exception_ptr fetchFailure_;
    std::thread fetcher_;
};

} // namespace

std::unique_ptr<ResultReader> MakeReader(std::shared_ptr<Link> link, std::unique_ptr<StatementHandle> statement,
                                         SQLSMALLINT columnCount, std::unique_ptr<ServerCursor> cursor)
{
    return std::make_unique<OdbcReader>(std::move(link), std::move(statement), columnCount, std::move(cursor));
}

} // namespace querlin::data::odbc
