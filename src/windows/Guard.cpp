#include "windows/Guard.h"

#include "windows/Globals.h"
#include "platform/Error.h"

#include <QMessageBox>

#include <exception>

namespace querlin::app {

namespace {
std::vector<ErrorReportRecord>* recorder = nullptr;
}

QString ErrorReportText(const std::string& message)
{
    QString text = QString::fromStdString(message);
    // Every UTF-16 unit of a character beyond the basic plane is a
    // surrogate, above '.' as the character itself is.
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text += u'.';
    return text;
}

std::unique_ptr<QMessageBox> MakeErrorReportBox(const std::string& message)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, QString::fromUtf8(ApplicationTitle),
                                             ErrorReportText(message), QMessageBox::Ok);
    box->setWindowModality(Qt::ApplicationModal);
    box->setTextFormat(Qt::PlainText);
    return box;
}

void ShowErrorReport(const std::string& message) noexcept
{
    try {
        if (recorder) {
            recorder->push_back({QString::fromUtf8(ApplicationTitle), ErrorReportText(message)});
            return;
        }
        MakeErrorReportBox(message)->exec();
    } catch (...) {
        // Nothing is left to tell the user with; the program goes on.
    }
}

void SetErrorReportRecorder(std::vector<ErrorReportRecord>* records)
{
    recorder = records;
}

void Guard(const std::function<void()>& handler) noexcept
{
    try {
        handler();
    } catch (const Abort&) {
        // The silent abort: the handler stops and nobody is told.
    } catch (const std::exception& e) {
        ShowErrorReport(e.what());
    } catch (...) {
        ShowErrorReport("Unknown error");
    }
}

} // namespace querlin::app
