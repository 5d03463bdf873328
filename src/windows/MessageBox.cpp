#include "windows/MessageBox.h"

#include "windows/Globals.h"

#include <QMessageBox>

namespace querlin::app {

namespace {
std::vector<MessageBoxRecord>* g_recorder = nullptr;
}

void SetMessageBoxRecorder(std::vector<MessageBoxRecord>* recorder)
{
    g_recorder = recorder;
}

void ShowMessageBox(const std::string& text) noexcept
{
    try {
        const QString caption = QString::fromUtf8(ApplicationTitle);
        const QString body = QString::fromUtf8(text);
        if (g_recorder) {
            g_recorder->push_back({caption, body});
            return;
        }
        QMessageBox box(QMessageBox::NoIcon, caption, body, QMessageBox::Ok);
        box.exec();
    } catch (...) {
        // A box that cannot be shown must not take its caller down with it.
    }
}

} // namespace querlin::app
