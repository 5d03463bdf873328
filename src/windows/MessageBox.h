#pragma once
// Message boxes the program shows itself (not error reports): the text and
// an OK button, captioned with the application title, modal.
// GUI thread only.

#include <QString>

#include <string>
#include <vector>

namespace querlin::app {

// Shows the box and waits for OK. Never throws.
void ShowMessageBox(const std::string& text) noexcept;

// Test mode: boxes are appended here instead of being shown. nullptr shows
// them again.
struct MessageBoxRecord {
    QString caption;
    QString text;
};
void SetMessageBoxRecorder(std::vector<MessageBoxRecord>* recorder);

} // namespace querlin::app
