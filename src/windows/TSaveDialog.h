#pragma once
// The save-file dialog (TSaveDialog) with its settings at their defaults: no
// filter, no default extension, no question before an existing file is
// chosen. GUI thread only.

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace querlin {

class TSaveDialog {
public:
    explicit TSaveDialog(QWidget* owner) : owner_(owner) {}

    // The name the dialog proposes, and after Execute the name chosen (UTF-8).
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name) { fileName_ = name; }

    // Shows the dialog modally. False when the user cancels; FileName then
    // stays as it was.
    bool Execute();

    // Tests: the answer is given here instead of by a user (std::nullopt
    // cancels); nullptr shows the dialog again.
    using Answer = std::function<std::optional<std::string>(const std::string& proposed)>;
    static void SetAnswerForTesting(Answer answer);

private:
    QWidget* owner_;
    std::string fileName_;
};

} // namespace querlin
