#pragma once
// Record sets, fields, links. This is the public face of the data layer that
// every window, the grid and the export see.
//
// TADOQuery holds a client-side static snapshot of its SQL's result, a row
// window of consecutive rows held ready for its links, and the fields of the
// open result. TDataSource binds a record set to the links of grids; a
// TDataLink receives the record set's notifications synchronously.
// All of it belongs to one thread: the GUI thread, or the export worker for
// the export's own record set.
//
// Every open runs on a worker of the record set's own: it connects, runs
// the query and fetches the rows into the snapshot, and hands what it learns
// to the record set's thread as messages (opened, rows published up to N,
// ended). With a GUI poster installed (SetGuiPoster), Open returns once the
// first block of rows is in and the rest streams behind, taken in when the
// poster runs the worker's task; without one, Open waits the whole result
// out on its caller's thread.

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace querlin::data {

class TADOQuery;
class TDataSource;
class TDataLink;
struct Inbox;

enum class TDataSetState { dsInactive, dsBrowse, dsInsert };  // closed, browsing, appending

// The life of a record set's result: closed; opening on its worker; open
// with rows still streaming in; open with every row; open with the rows so
// far after the user stopped the fetch; open with the rows so far after the
// fetch failed. The moves between them are one table (data/Life.h).
enum class TLife { lfClosed, lfOpening, lfStreaming, lfComplete, lfStopped, lfFailed };

// How far an open record set's rows have come, as the windows show it: all
// in, still coming, stopped by the user, or cut short by a failure.
enum class TFetchState { fsComplete, fsFetching, fsStopped, fsFailed };

// Runs a task on the GUI thread after about delayMs milliseconds. Called
// from the fetching workers; must be safe to call from any thread, and may
// drop the task once the program is ending.
using TGuiPoster = std::function<void(int delayMs, std::function<void()> task)>;

// Installs the poster that record sets opened afterwards stream through; an
// empty one makes Open fetch every row itself again. GUI thread.
void SetGuiPoster(TGuiPoster poster);

// The record sets' workers still running, let go or not; and a wait for
// them to end, false when some are left after the time (one still in a
// driver's call to a server that no longer answers). Any thread. A program
// ends without its libraries' tear-down while one is left, since that
// tear-down would run under the worker's call.
int WorkersAlive();
bool WaitForWorkers(std::chrono::milliseconds limit);
// A thread of the data layer's own that may sit in a driver's call (a
// reader's fetch thread) is counted with them: up before it starts, down
// as its last step.
void WorkerStarts();
void WorkerEnds();

enum class TFieldType {
    ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat,
    ftBCD, ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob,
    ftMemo, ftFixedChar, ftWideString, ftLargeint, ftVariant, ftGuid,
};

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

// One column of an open record set. Owned by its record set; lives from Open
// to Close. Values are read from the record set's active row.
class TField {
public:
    virtual ~TField() = default;
    virtual const std::string& FieldName() const = 0;
    virtual TFieldType DataType() const = 0;
    virtual int Index() const = 0;          // position among the fields
    virtual int Size() const = 0;
    virtual int Precision() const = 0;
    virtual int DisplayWidth() const = 0;
    virtual void SetDisplayWidth(int width) = 0;
    virtual const std::string& DisplayLabel() const = 0;
    virtual TAlignment Alignment() const = 0;
    virtual bool ReadOnly() const = 0;
    virtual bool Visible() const = 0;
    virtual bool IsNull() const = 0;
    virtual std::string DisplayText() const = 0;  // UTF-8
    virtual std::string PlainText() const = 0;    // UTF-8
    virtual void SetValue(const std::string& text) = 0;
    virtual TADOQuery& DataSet() const = 0;
};

// A token for one row of a snapshot (see MarkRow). Empty means "none".
struct TBookmark {
    std::int64_t row = -1;
    bool IsNone() const { return row < 0; }
};

class TADOQuery {
public:
    explicit TADOQuery(std::string name = {});
    ~TADOQuery();
    TADOQuery(const TADOQuery&) = delete;
    TADOQuery& operator=(const TADOQuery&) = delete;

    const std::string& Name() const;

    const std::string& ConnectionString() const;
    void SetConnectionString(const std::string& text);
    const std::string& SQL() const;
    void SetSQL(const std::string& text);  // closes first, always

    TDataSetState State() const;
    bool Active() const;
    TLife Life() const;

    // Fetching in the background (see SetGuiPoster). StopFetching keeps the
    // rows so far and frees the worker at once; a worker blocked in the
    // driver is abandoned and ends on its own. The handler hears of rows
    // arrived and of the fetch ending, after the links have.
    TFetchState FetchState() const;
    // Counts the opens: tells a record set opened anew from the one it was.
    std::uint64_t OpenSerial() const;
    const std::string& FetchFailure() const;  // the text of an fsFailed fetch
    void StopFetching();
    void SetOnFetchChange(std::function<void()> handler);

    // OpenThen waited out on the caller's thread.
    void Open();
    // Opens on a worker and returns at once (with a GUI poster installed,
    // on its thread; otherwise it waits the open out first): done runs on
    // the GUI thread once the first rows are in, with the failure Open would
    // throw, or never, when the open is stopped (StopFetching, Close,
    // another open), and is then let go. Meanwhile the set is lfOpening.
    void OpenThen(std::function<void(std::exception_ptr)> done);
    bool Opening() const;
    void Close();
    void MoveFirst();
    void MoveNext();
    void MovePrior();
    void MoveLast();
    int MoveRows(int count);
    bool AtEnd() const;
    bool AtStart() const;
    int RecordNumber() const;
    void SetRecordNumber(int number);
    int RecordCount() const;
    bool KnowsPositions() const;

    TField& FieldNamed(const std::string& name) const;
    TField* FindField(const std::string& name) const;  // nullptr when none
    void FieldNames(std::vector<std::string>& list);
    int FieldCount() const;
    TField& FieldAt(int index) const;

    void AppendRow();
    void PostRow();
    void DeleteRow();
    std::int64_t Execute();

    TBookmark MarkRow() const;
    void ReturnToMark(const TBookmark& mark);
    void DropMark(TBookmark& mark);

    void SuspendLinks();
    void ResumeLinks();

    // Row window, as the links see it.
    int HeldCount() const;
    int ActiveIndex() const;
    void SetActiveIndex(int index);  // for painting a held row; restore afterwards
    bool HeldRowIsNew(int index) const;

private:
    friend class TDataLink;
    friend class TDataSource;
    friend class FieldImpl;
    friend class TRecordScan;
    friend struct Inbox;
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Binds a record set to links. Owned by its window.
class TDataSource {
public:
    TDataSource();
    ~TDataSource();
    TADOQuery* DataSet() const;
    void SetDataSet(TADOQuery* dataSet);

private:
    friend class TDataLink;
    friend class TADOQuery;
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Receives a record set's notifications; a grid derives its own link.
// The link shows the held rows FirstOffset .. FirstOffset + BufferCount - 1.
// A link must not move the record set while it handles a notification.
class TDataLink {
public:
    TDataLink();
    virtual ~TDataLink();
    TDataSource* DataSource() const;
    void SetDataSource(TDataSource* source);
    TADOQuery* DataSet() const;

    bool Active() const;
    bool Editing() const;
    int BufferCount() const;
    void SetBufferCount(int size);
    int RecordCount() const;       // rows the link shows: min(BufferCount, held count)
    int ActiveRecord() const;      // active index less the first offset
    void SetActiveRecord(int record);
    int FirstOffset() const;

protected:
    virtual void ActiveChanged() {}
    virtual void EditingChanged() {}
    virtual void CheckBrowseMode() {}
    virtual void DataSetChanged() {}
    virtual void DataSetScrolled(int distance) { (void)distance; }
    virtual void RecordChanged(TField* field) { (void)field; }
    virtual void LayoutChanged() {}

private:
    friend class TADOQuery;
    friend class TDataSource;
    struct Impl;
    std::unique_ptr<Impl> d_;
};

// Lists the table names of a data source. LoginPrompt is always false here:
// connecting never asks for credentials.
class TADOConnection {
public:
    TADOConnection();
    ~TADOConnection();
    const std::string& ConnectionString() const;
    void SetConnectionString(const std::string& text);
    bool Connected() const;
    void TableNames(std::vector<std::string>& list, bool systemTables);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace querlin::data
