#pragma once
// Saving the viewed table into a spreadsheet file on a worker thread.
//
// CopyDbDataToExcel drives the spreadsheet application through late-bound
// automation calls, in a fixed order: create the application and a sheet,
// add a workbook, take the window's state, write the title row and the row
// of field names, read the table through a record set of its own, write
// one row per table row (each value behind an apostrophe so it stays text),
// save and close. It is plain C++: the window hands it what it needs (a way
// to read its state once, the progress label, the error report) instead of
// the worker reaching into the window.
//
// Threads: CopyDbDataToExcel runs on the export worker; the callbacks it is
// given are called on that thread and must carry their work over to the GUI
// thread themselves. ExportWorker is owned and driven by the GUI thread.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace querlin::exports {

inline constexpr const char* kDefaultExportFileName = "oracle导出数据表.xls";
inline constexpr const char* kProgressBaseText = "导出数据到XLS表进行中";
inline constexpr const char* kProgressDoneText = "导出完成！";
inline constexpr const char* kTitleSuffix = "导出之数据";
// The label starts again once it is longer than this, in bytes of the
// Chinese ANSI code page: so it shows 0 to 34 marks.
inline constexpr std::size_t kProgressMaxAnsiBytes = 55;

// What the export takes from the browser window, once, after the workbook
// exists.
struct WindowState {
    std::vector<std::string> fieldNames;  // of the viewed table's record set, in column order
    std::string caption;                  // of the data group box
    std::string connectionString;         // of the viewed table's record set
    std::string sql;                      // of the viewed table's record set
};

struct ExportEnvironment {
    // The file name chosen when the export was started.
    std::string fileName;
    // Reads the window's state; may throw (the error is reported, the export
    // ends) or throw querlin::Abort (the export ends silently).
    std::function<WindowState()> takeWindowState;
    // The progress label's new text.
    std::function<void(const std::string&)> setLabel;
    // A failure after the automation objects exist, with its message.
    std::function<void(const std::string&)> reportError;
    // Set when the export must stop at once and silently (the window goes).
    const std::atomic<bool>* cancelled = nullptr;
};

// Bytes of a UTF-8 text in the Chinese ANSI code page (two per character
// beyond ASCII).
std::size_t AnsiLength(const std::string& utf8);

// The export itself. Never throws: a failure to create the automation
// objects ends it silently, any later failure goes to reportError; in
// every case everything it made is released and no partial file is left.
void CopyDbDataToExcel(const ExportEnvironment& environment);

// The progress label's texts pass through here on their way to the GUI
// thread. Set stores the newest text and asks for one delivery only when
// none is pending; the delivery takes whatever is newest then. So a million
// rows post few calls, and the label always shows a text the export set.
class ProgressLabel {
public:
    // post: called on the worker; must arrange for Take to be called once,
    // later, on the GUI thread.
    explicit ProgressLabel(std::function<void()> post) : post_(std::move(post)) {}
    void Set(const std::string& text);
    std::string Take();

private:
    std::function<void()> post_;
    std::mutex mutex_;
    std::string text_;
    bool pending_ = false;
};

// The export worker thread: at most one at a time. The export-idle flag is
// cleared by the caller on the GUI thread before Start and set again by the
// worker when the export has ended.
class ExportWorker {
public:
    ExportWorker() = default;
    ~ExportWorker();  // cancels a running export and waits for it
    ExportWorker(const ExportWorker&) = delete;
    ExportWorker& operator=(const ExportWorker&) = delete;

    // Starts the worker on run; when the thread cannot be started, sets the
    // flag back to true and returns false.
    bool Start(std::function<void()> run, std::atomic<bool>& idle);
    // Asks a running export to stop, and waits until its thread has ended.
    void CancelAndWait();
    // Waits for the export to end by itself (tests).
    void Wait();

    const std::atomic<bool>* CancelFlag() const { return &cancelled_; }

private:
    std::thread thread_;
    std::atomic<bool> cancelled_{false};
};

} // namespace querlin::exports
