#pragma once
// The application-wide error report and the guard every event handler of
// every window runs through. An exception that escapes a handler stops the
// handler there and is shown to the user; Qt never sees it, and the program
// goes on with its state as the handler left it.
//
// GUI thread only.

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMessageBox;
class QWidget;

namespace querlin::app {

// Runs handler; whatever escapes it is reported (querlin::Abort silently).
void Guard(const std::function<void()>& handler) noexcept;

// The report's text: the message, with a full stop appended when it is not
// empty and its last character comes after '.' in Unicode (so ".", " " and
// ")" get none, a letter, a digit or a Chinese character gets one).
QString ErrorReportText(const std::string& message);

// Shows the report for message: a modal box with the stop icon and OK,
// captioned with the application title. Never throws.
void ShowErrorReport(const std::string& message) noexcept;

// The box ShowErrorReport runs, for tests to look at without running it.
std::unique_ptr<QMessageBox> MakeErrorReportBox(const std::string& message);

// Test mode: reports are appended here instead of being shown. nullptr
// shows them again.
struct ErrorReportRecord {
    QString caption;
    QString text;
};
void SetErrorReportRecorder(std::vector<ErrorReportRecord>* recorder);

} // namespace querlin::app
