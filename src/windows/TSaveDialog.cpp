#include "windows/TSaveDialog.h"

#include <QFileDialog>

namespace querlin {

namespace {
TSaveDialog::Answer testAnswer;
}

void TSaveDialog::SetAnswerForTesting(Answer answer)
{
    testAnswer = std::move(answer);
}

bool TSaveDialog::Execute()
{
    if (testAnswer) {
        auto chosen = testAnswer(fileName_);
        if (!chosen)
            return false;
        fileName_ = *chosen;
        return true;
    }
    QFileDialog dialog(owner_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(QString::fromStdString(fileName_));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName_ = dialog.selectedFiles().front().toStdString();
    return true;
}

} // namespace querlin
