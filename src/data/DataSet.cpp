// Record sets: the query, its positions over the snapshot, storing and
// deleting rows, and the connection. The life (opening, streaming, closing)
// is in Lifecycle.cpp, fields in Fields.cpp, loading in Loading.cpp, the
// moves and the links in Links.cpp, the row window in RowWindow.cpp.

#include "data/DataSet.h"
#include "data/DataSetImpl.h"
#include "data/FieldText.h"
#include "data/Fields.h"
#include "data/Loading.h"
#include "platform/AsciiText.h"
#include "platform/Error.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

namespace querlin::data {

// ---------------------------------------------------------------------------
// TADOQuery::Impl helpers

void TADOQuery::Impl::Fail(const std::string& message) const
{
    throw Error(Prefixed(message));
}

void TADOQuery::Impl::CheckOpen() const
{
    if (!Open())
        Fail("Cannot perform this operation on a closed dataset");
}

void TADOQuery::Impl::CheckNotNotifying(const char* operation) const
{
#ifndef NDEBUG
    if (notifying > 0) {
        std::fprintf(stderr,
                     "querlin: %s called on record set '%s' while a link handled a notification\n",
                     operation, name.c_str());
        std::abort();
    }
#else
    (void)operation;
#endif
}

std::int64_t TADOQuery::Impl::LiveCount() const
{
    return rows ? known - static_cast<std::int64_t>(deleted.size()) : 0;
}

bool TADOQuery::Impl::IsDeleted(std::int64_t physical) const
{
    return !deleted.empty() && std::binary_search(deleted.begin(), deleted.end(), physical);
}

std::int64_t TADOQuery::Impl::NextLive(std::int64_t physical) const
{
    if (!rows)
        return -1;
    for (std::int64_t p = physical + 1; p < known; ++p) {
        if (!IsDeleted(p))
            return p;
    }
    return -1;
}

std::int64_t TADOQuery::Impl::PriorLive(std::int64_t physical) const
{
    if (!rows)
        return -1;
    for (std::int64_t p = std::min(physical, known) - 1; p >= 0; --p) {
        if (!IsDeleted(p))
            return p;
    }
    return -1;
}

std::int64_t TADOQuery::Impl::PhysicalAt(std::int64_t position) const
{
    std::int64_t physical = position;
    for (std::int64_t d : deleted) {
        if (d <= physical)
            ++physical;
        else
            break;
    }
    return rows && physical < known ? physical : -1;
}

std::int64_t TADOQuery::Impl::PositionOf(std::int64_t physical) const
{
    return physical - (std::lower_bound(deleted.begin(), deleted.end(), physical) - deleted.begin());
}

bool TADOQuery::Impl::ActiveCell(const Snapshot*& store, std::int64_t& row) const
{
    if (!Open() || window.Empty())
        return false;
    const RowWindow::HeldRow& held = window.Active();
    if (held.physical < 0) {
        if (!pending)
            return false;
        store = pending.get();
        row = 0;
    } else {
        store = rows.get();
        row = held.physical;
    }
    return true;
}

void TADOQuery::Impl::NewPending()
{
    pending = EmptySnapshotFor(fields);
    pending->AddRow();
    pendingAssigned.assign(fields.size(), false);
    pendingModified = false;
}

void TADOQuery::Impl::DropPending()
{
    pending.reset();
    pendingAssigned.clear();
    pendingModified = false;
}

namespace {

// The table that stored and deleted rows go to: the first base table named.
std::string BaseTableOf(const std::vector<std::unique_ptr<FieldImpl>>& fields)
{
    for (const auto& f : fields) {
        if (!f->Column().baseTable.empty())
            return f->Column().baseTable;
    }
    return {};
}

const char* const kNoBaseTable = "Insufficient base table information for updating or refreshing.";
const char* const kStillFetching = "Cannot change the rows while they are still being fetched.";

} // namespace

std::int64_t TADOQuery::Impl::StorePending()
{
    const std::string table = BaseTableOf(fields);
    if (table.empty() || !connection)
        throw Error(kNoBaseTable);
    if (!RowsWritable())
        throw Error(kStillFetching);
    std::vector<NamedValue> values;
    for (const auto& f : fields) {
        if (!pendingAssigned[static_cast<std::size_t>(f->Index())] || f->ReadOnly())
            continue;
        if (!f->Column().baseTable.empty() && f->Column().baseTable != table)
            continue;
        values.push_back(NamedValue{f->BaseColumn(), f->ToParam(*pending, 0)});
    }
    // Throws the provider's own text; the row stays pending.
    const std::vector<NamedValue> assigned = connection->InsertRow(table, values);

    const std::int64_t physical = rows->AddRow();
    rows->CopyRow(*pending, 0, physical);
    known = rows->RowCount();
    for (const NamedValue& v : assigned) {
        for (const auto& f : fields) {
            if (!text::EqualNoCase(f->BaseColumn(), v.column))
                continue;
            CellWriter writer = f->Writer(*rows, physical);
            switch (v.value.kind) {
            case ParamValue::Kind::Null: writer.Null(); break;
            case ParamValue::Kind::Int: writer.Int(v.value.intValue); break;
            case ParamValue::Kind::Double: writer.Double(v.value.doubleValue); break;
            case ParamValue::Kind::Text: writer.Text(v.value.text); break;
            case ParamValue::Kind::Bytes: writer.Bytes(v.value.text); break;
            }
        }
    }
    DropPending();
    return physical;
}

void TADOQuery::Impl::DeleteCurrent()
{
    const RowWindow::HeldRow held = window.Active();
    const std::string table = BaseTableOf(fields);
    if (table.empty() || !connection)
        throw Error(kNoBaseTable);
    // The connection is the worker's while it fetches.
    if (!RowsWritable())
        throw Error(kStillFetching);
    // The key singles the row out, unless a key value is missing: a source
    // that does not tell the numbers it assigned leaves them empty in rows
    // stored through this set. Then every comparable value is matched, and
    // the missing ones are left out rather than matched as null.
    bool keyUsable = false;
    for (const auto& f : fields) {
        if (!f->Column().isKey)
            continue;
        keyUsable = true;
        if (rows->IsNull(f->Index(), held.physical)) {
            keyUsable = false;
            break;
        }
    }
    std::vector<NamedValue> match;
    for (const auto& f : fields) {
        if (!f->Column().baseTable.empty() && f->Column().baseTable != table)
            continue;
        const TFieldType kind = f->DataType();
        if (keyUsable) {
            if (!f->Column().isKey)
                continue;
        } else {
            if (kind == TFieldType::ftMemo || IsBinaryKind(kind) || kind == TFieldType::ftFloat)
                continue;
            if ((f->Column().isKey || f->ReadOnly()) && rows->IsNull(f->Index(), held.physical))
                continue;
        }
        match.push_back(NamedValue{f->BaseColumn(), f->ToParam(*rows, held.physical)});
    }
    // Throws the provider's own text; the row stays.
    connection->DeleteRow(table, match);
    deleted.insert(std::upper_bound(deleted.begin(), deleted.end(), held.physical), held.physical);
}

// ---------------------------------------------------------------------------
// TADOQuery

TADOQuery::TADOQuery(std::string name) : d_(std::make_unique<Impl>(*this))
{
    d_->name = std::move(name);
}

TADOQuery::~TADOQuery()
{
    try {
        Close();
    } catch (...) {
        // A link that fails while being told of the close cannot stop destruction.
    }
    for (TDataSource* source : d_->sources) {
        source->d_->dataSet = nullptr;
        for (TDataLink* link : source->d_->links) {
            link->d_->active = false;
            link->d_->editing = false;
        }
    }
}

const std::string& TADOQuery::Name() const { return d_->name; }
const std::string& TADOQuery::ConnectionString() const { return d_->connectionString; }

void TADOQuery::SetConnectionString(const std::string& text)
{
    if (text == d_->connectionString)
        return;
    if (d_->life != TLife::lfClosed)
        d_->Fail("Cannot perform this operation on an open dataset");
    d_->connectionString = text;
}

const std::string& TADOQuery::SQL() const { return d_->sql; }

void TADOQuery::SetSQL(const std::string& text)
{
    Close();
    d_->sql = text;
}

TDataSetState TADOQuery::State() const { return d_->DataSetState(); }
bool TADOQuery::Active() const { return d_->Open(); }
std::uint64_t TADOQuery::OpenSerial() const { return d_->openSerial; }
const std::string& TADOQuery::FetchFailure() const { return d_->fetchFailure; }

void TADOQuery::SetOnFetchChange(std::function<void()> handler) { d_->onFetchChange = std::move(handler); }

TField& TADOQuery::FieldNamed(const std::string& name) const
{
    if (TField* f = FindField(name))
        return *f;
    d_->Fail("Field '" + name + "' not found");
}

TField* TADOQuery::FindField(const std::string& name) const
{
    for (const auto& f : d_->fields) {
        if (text::EqualNoCase(f->FieldName(), name))
            return f.get();
    }
    return nullptr;
}

void TADOQuery::FieldNames(std::vector<std::string>& list)
{
    Impl& d = *d_;
    if (d.Open()) {
        list.clear();
        for (const auto& f : d.fields)
            list.push_back(f->FieldName());
        return;
    }
    if (d.sql.empty())
        d.Fail("Missing SQL property");
    FieldPlan plan;
    try {
        // Only the columns are wanted: no row is fetched, the set stays closed.
        std::unique_ptr<Connection> connection = Connect(d.connectionString);
        std::unique_ptr<ResultReader> reader = connection->Query(d.sql);
        if (!reader)
            throw Error("CommandText does not return a result set");
        plan = PlanFields(reader->Columns());
    } catch (const std::exception& e) {
        d.Fail(e.what());
    }
    list = std::move(plan.names);
}

int TADOQuery::FieldCount() const { return static_cast<int>(d_->fields.size()); }

TField& TADOQuery::FieldAt(int index) const
{
    if (index < 0 || index >= FieldCount())
        d_->Fail("List index out of bounds (" + std::to_string(index) + ")");
    return *d_->fields[static_cast<std::size_t>(index)];
}

std::int64_t TADOQuery::Execute()
{
    Impl& d = *d_;
    if (d.sql.empty())
        d.Fail("Missing SQL property");
    try {
        std::unique_ptr<Connection> connection = Connect(d.connectionString);
        return connection->Execute(d.sql);
    } catch (const std::exception& e) {
        d.Fail(e.what());
    }
}

// ---------------------------------------------------------------------------
// TADOConnection

struct TADOConnection::Impl {
    std::string connectionString;
    std::unique_ptr<Connection> connection;
};

TADOConnection::TADOConnection() : d_(std::make_unique<Impl>()) {}
TADOConnection::~TADOConnection() = default;

const std::string& TADOConnection::ConnectionString() const { return d_->connectionString; }

void TADOConnection::SetConnectionString(const std::string& text)
{
    if (text == d_->connectionString)
        return;
    // A new data source: the next use connects to it.
    d_->connection.reset();
    d_->connectionString = text;
}

bool TADOConnection::Connected() const { return d_->connection != nullptr; }

void TADOConnection::TableNames(std::vector<std::string>& list, bool systemTables)
{
    if (!d_->connection)
        d_->connection = Connect(d_->connectionString);
    const std::vector<CatalogEntry> entries = d_->connection->Tables();
    list.clear();
    for (const CatalogEntry& e : entries) {
        if (e.type == "TABLE" || e.type == "VIEW" || (systemTables && e.type == "SYSTEM TABLE"))
            list.push_back(e.name);
    }
}

} // namespace querlin::data
