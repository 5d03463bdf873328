#include "grid/TGridFindDlg.h"

#include "grid/GridLocate.h"
#include "grid/TDataGrid.h"
#include "platform/LetterCase.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>

#include <utility>

namespace querlin::grid {

namespace {

TGridFindDlg*& TheDialog()
{
    static TGridFindDlg* dialog = nullptr;
    return dialog;
}

bool SameText(const QString& a, const QString& b)
{
    return platform::LetterCase::User().Equal(a.toStdString(), b.toStdString());
}

bool StartsWithText(const QString& text, const QString& prefix)
{
    return text.size() >= prefix.size() && SameText(text.left(prefix.size()), prefix);
}

// A label's text with its underlined letter shown, as rich text: a label
// with no control attached would show the "&" itself. The designed text is
// kept in the property "Caption".
QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int left, int top,
                  int width, int height)
{
    QString text = QString::fromUtf8(caption);
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) {
            ++i;
            if (text[i] == u'&')
                shown += QStringLiteral("&amp;");
            else
                shown += QStringLiteral("<u>") + QString(text[i]).toHtmlEscaped() + QStringLiteral("</u>");
        } else {
            shown += QString(text[i]).toHtmlEscaped();
        }
    }
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setTextFormat(Qt::RichText);
    label->setText(shown);
    label->setProperty("Caption", text);
    label->setGeometry(left, top, width, height);
    return label;
}

QComboBox* MakePickList(QWidget* parent, const char* name, std::initializer_list<const char*> entries,
                        int chosen, int left, int top, int width, int height)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromUtf8(name));
    box->setEditable(false);
    box->setMaxVisibleItems(17);
    for (const char* entry : entries)
        box->addItem(QString::fromUtf8(entry));
    box->setCurrentIndex(chosen);
    box->setGeometry(left, top, width, height);
    return box;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const char* caption, bool checked,
                        int left, int top, int width, int height)
{
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(QString::fromUtf8(name));
    box->setChecked(checked);
    box->setGeometry(left, top, width, height);
    return box;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int left, int top,
                        int width, int height)
{
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromUtf8(name));
    // Enter is the dialog's own key (Find next); a focused button takes it
    // through the dialog's key handling.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setGeometry(left, top, width, height);
    return button;
}

bool IsEnter(const QKeyEvent& event)
{
    return event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter;
}

// The Alt accelerators the dialog handles itself: F (Find next), C and O
// (the check boxes).
bool IsAccelerator(const QKeyEvent& event)
{
    Qt::KeyboardModifiers mods = event.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    return mods == Qt::AltModifier &&
           (event.key() == Qt::Key_F || event.key() == Qt::Key_C || event.key() == Qt::Key_O);
}

constexpr int kClientWidth = 505;
constexpr int kDesignedHeight = 150;
constexpr int kTreeRowTop = 124;

} // namespace

// ---------------------------------------------------------------------------
// The search text box

TFindTextCombo::TFindTextCombo(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    // The history is the dialog's: Enter never adds to it by itself, and the
    // completion is the one below.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setDuplicatesEnabled(true);
    setMaxVisibleItems(17);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] {
        if (OnUserChange)
            OnUserChange();
    });
}

void TFindTextCombo::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool ctrl = mods & Qt::ControlModifier;
    const bool alt = mods & Qt::AltModifier;
    if ((event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) && !alt && !ctrl &&
        !view()->isVisible()) {
        if (count() == 0) {
            event->accept();
            return;
        }
        int chosen = findText(currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
        int next;
        if (event->key() == Qt::Key_Up)
            next = chosen < 0 ? count() - 1 : std::max(chosen - 1, 0);
        else
            next = chosen < 0 ? 0 : std::min(chosen + 1, count() - 1);
        if (next != chosen) {
            setCurrentIndex(next);
            setEditText(itemText(next));
            lineEdit()->selectAll();
            if (OnUserChange)
                OnUserChange();
        }
        event->accept();
        return;
    }

    QLineEdit* edit = lineEdit();
    const QString typed = event->text();
    const bool character = !ctrl && !alt && !typed.isEmpty() && typed.front().isPrint();
    // Typing at the end: the caret there, or a selection reaching it (the
    // part completed before, which the character replaces).
    const bool atEnd = edit->hasSelectedText()
                           ? edit->selectionStart() + edit->selectedText().size() == edit->text().size()
                           : edit->cursorPosition() == edit->text().size();
    QComboBox::keyPressEvent(event);
    if (!character || !atEnd || typed == QStringLiteral(".") || edit->hasSelectedText() ||
        edit->cursorPosition() != edit->text().size())
        return;
    const QString text = edit->text();
    for (int i = 0; i < count(); ++i) {
        const QString entry = itemText(i);
        if (entry.size() > text.size() && StartsWithText(entry, text)) {
            const QSignalBlocker blocker(this);
            edit->setText(text + entry.mid(text.size()));
            edit->setSelection(int(text.size()), int(entry.size() - text.size()));
            break;
        }
    }
}

// ---------------------------------------------------------------------------
// The dialog

TGridFindDlg* TGridFindDlg::Instance()
{
    return TheDialog();
}

void TGridFindDlg::Install()
{
    TCustomDataGrid::SetFindDialogEntry([](TCustomDataGrid& grid, const std::string& searchText) {
        ShowFor(grid, searchText, {}, true);
    });
}

void TGridFindDlg::DestroyInstance()
{
    delete std::exchange(TheDialog(), nullptr);
}

void TGridFindDlg::ShowFor(TCustomDataGrid& grid, const std::string& searchText,
                           const std::string& fieldName, bool modal)
{
    TGridFindDlg*& dialog = TheDialog();
    if (!dialog) {
        dialog = new TGridFindDlg();
        // Owned by the application: gone with it.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, dialog, [] { DestroyInstance(); });
    }
    dialog->Open(grid, searchText, fieldName);
    if (modal) {
        dialog->setWindowFlag(Qt::WindowStaysOnTopHint, false);
        dialog->setModal(true);
        dialog->exec();
    } else {
        dialog->setModal(false);
        dialog->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    }
}

TGridFindDlg::TGridFindDlg() : QDialog(nullptr)
{
    waitTimer_.setInterval(20);
    QObject::connect(&waitTimer_, &QTimer::timeout, this, [this] { GoOnFinding(); });
    setObjectName(QStringLiteral("GridFindDlg"));
    setWindowTitle(QStringLiteral("Find text"));
    // Dialog border: fixed size, a close box and nothing else.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    QFont face = font();
    face.setPixelSize(10);
    setFont(face);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::Button));
    setPalette(colours);
    designedHeight_ = kDesignedHeight;
    setFixedSize(kClientWidth, designedHeight_);

    Label1 = MakeLabel(this, "Label1", "Fi&nd What:", 10, 12, 52, 13);
    cbText = new TFindTextCombo(this);
    cbText->setObjectName(QStringLiteral("cbText"));
    cbText->setGeometry(88, 9, 316, 21);
    bFind = MakeButton(this, "bFind", "&Find next", 413, 9, 82, 23);
    bCancel = MakeButton(this, "bCancel", "Close", 413, 37, 82, 22);
    Label2 = MakeLabel(this, "Label2", "Find &in:", 10, 35, 34, 13);
    cbFindIn = MakePickList(this, "cbFindIn", {}, -1, 88, 32, 192, 21);
    cbMatchType = MakeLabel(this, "cbMatchType", "Matc&h:", 10, 58, 33, 13);
    cbMatchinType = MakePickList(this, "cbMatchinType",
                                 {"From any part of field", "Whole field", "From beging of field"}, 0,
                                 88, 55, 144, 21);
    Label3 = MakeLabel(this, "Label3", "Sea&rch:", 10, 82, 37, 13);
    cbFindDirection = MakePickList(this, "cbFindDirection", {"Up", "Down", "All"}, 2, 88, 79, 144, 21);
    cbCharCase = MakeCheckBox(this, "cbCharCase", "Match &Case", false, 88, 105, 144, 14);
    cbUseFormat = MakeCheckBox(this, "cbUseFormat", "Match F&ormat", true, 260, 105, 144, 14);
    Label4 = MakeLabel(this, "Label4", "Find in Tree:", 10, 128, 59, 13);
    dbcTreeFindRange = MakePickList(this, "dbcTreeFindRange",
                                    {"In all nodes", "In expanded nodes", "In current level",
                                     "In current node"},
                                    0, 88, 124, 145, 21);

    QWidget* chain[] = {cbText, cbFindIn, cbMatchinType, cbFindDirection, cbCharCase, cbUseFormat,
                        bFind, bCancel, dbcTreeFindRange};
    for (std::size_t i = 0; i + 1 < std::size(chain); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    // Key preview: the dialog sees every key before the focused control.
    for (QWidget* control : chain)
        control->installEventFilter(this);
    cbText->lineEdit()->installEventFilter(this);

    connect(bFind, &QPushButton::clicked, this, [this] { bFindClick(); });
    connect(bCancel, &QPushButton::clicked, this, [this] { bCancelClick(); });
    connect(cbText, &QComboBox::editTextChanged, this, [this] { cbTextChange(); });
    cbText->OnUserChange = [this] { textTyped_ = true; };
    connect(cbFindIn, &QComboBox::currentIndexChanged, this, [this] { cbFindInChange(); });
    connect(cbFindDirection, &QComboBox::currentIndexChanged, this, [this] { cbFindDirectionChange(); });
    connect(dbcTreeFindRange, &QComboBox::currentIndexChanged, this, [this] { dbcTreeFindRangeChange(); });
}

void TGridFindDlg::Open(TCustomDataGrid& grid, const std::string& searchText, const std::string& fieldName)
{
    (void)fieldName;  // the opening itself does not use it
    // No record set here is tree-structured: the tree row stays hidden and
    // the window ends above it.
    Label4->hide();
    dbcTreeFindRange->hide();
    setFixedSize(kClientWidth, kTreeRowTop);

    cbText->setEditText(QString::fromStdString(searchText));

    grid_ = &grid;
    {
        const QSignalBlocker blocker(cbFindIn);
        cbFindIn->clear();
        for (const TDataGridColumn* column : grid.VisibleColumns())
            cbFindIn->addItem(QString::fromStdString(column->Title().Caption()), column->Index());
        cbFindIn->addItem(QStringLiteral("<All>"), -1);
        int chosen = cbFindIn->count() - 1;
        if (const TDataGridColumn* current = grid.ColumnAt(grid.Col())) {
            const QString caption = QString::fromStdString(current->Title().Caption());
            for (int i = 0; i + 1 < cbFindIn->count(); ++i) {
                if (SameText(cbFindIn->itemText(i), caption)) {
                    chosen = i;
                    break;
                }
            }
        }
        cbFindIn->setCurrentIndex(chosen);
    }

    firstTry_ = true;
    textTaken_ = cbText->currentText();
    textTyped_ = false;
    checkFocused_ = nullptr;
    cbText->setFocus(Qt::OtherFocusReason);
}

void TGridFindDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* screen = this->screen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
    cbText->setFocus(Qt::OtherFocusReason);
    cbText->lineEdit()->selectAll();
}

TCustomDataGrid* TGridFindDlg::Grid() const
{
    return grid_;
}

void TGridFindDlg::Run(const std::function<void()>& work, const char* what)
{
    if (grid_)
        grid_->Guarded(work, what);
    else
        work();
}

void TGridFindDlg::bFindClick()
{
    const bool ctrl = QGuiApplication::keyboardModifiers() & Qt::ControlModifier;
    FindNext(ctrl);
}

void TGridFindDlg::bCancelClick()
{
    reject();
}

void TGridFindDlg::cbTextChange() { firstTry_ = true; }
void TGridFindDlg::cbFindInChange() { firstTry_ = true; }
void TGridFindDlg::cbFindDirectionChange() { firstTry_ = true; }
void TGridFindDlg::dbcTreeFindRangeChange() { firstTry_ = true; }

void TGridFindDlg::AddToHistory(const QString& text)
{
    for (int i = 0; i < cbText->count(); ++i) {
        if (SameText(cbText->itemText(i), text))
            return;
    }
    // Adding an entry must not look like a change of the search text.
    const QSignalBlocker blocker(cbText);
    const QString shown = cbText->currentText();
    const int caret = cbText->lineEdit()->cursorPosition();
    cbText->addItem(text);
    if (cbText->currentText() != shown) {
        cbText->setEditText(shown);
        cbText->lineEdit()->setCursorPosition(caret);
    }
}

TLocateRequest TGridFindDlg::Request(bool ctrlHeld) const
{
    TLocateRequest request;
    request.Options.CaseInsensitive = !cbCharCase->isChecked();
    request.Options.MatchFormat = cbUseFormat->isChecked();
    request.Options.AllColumns = cbFindIn->count() > 0 && cbFindIn->currentIndex() == cbFindIn->count() - 1;

    switch (cbFindDirection->currentIndex()) {
    case 0: request.Direction = TLocateDirection::Up; break;
    case 1: request.Direction = TLocateDirection::Down; break;
    default: request.Direction = TLocateDirection::All; break;
    }
    if (ctrlHeld)
        request.Direction = request.Direction == TLocateDirection::Up ? TLocateDirection::Down
                                                                      : TLocateDirection::Up;
    if (!firstTry_ && request.Direction == TLocateDirection::All)
        request.Direction = TLocateDirection::Down;

    switch (cbMatchinType->currentIndex()) {
    case 1: request.Matching = TLocateMatching::WholeField; break;
    case 2: request.Matching = TLocateMatching::FromBeginning; break;
    default: request.Matching = TLocateMatching::AnyPart; break;
    }

    if (!request.Options.AllColumns && cbFindIn->currentIndex() >= 0 && grid_) {
        const int index = cbFindIn->currentData().toInt();
        if (index >= 0 && index < grid_->Columns().Count())
            request.FieldName = grid_->Columns()[index].FieldName();
    }

    switch (dbcTreeFindRange->currentIndex()) {
    case 1: request.TreeRange = TTreeFindRange::ExpandedNodes; break;
    case 2: request.TreeRange = TTreeFindRange::CurrentLevel; break;
    case 3: request.TreeRange = TTreeFindRange::CurrentNode; break;
    default: request.TreeRange = TTreeFindRange::AllNodes; break;
    }
    request.Text = cbText->currentText().toStdString();
    return request;
}

void TGridFindDlg::FindNext(bool ctrlHeld)
{
    Run([&] {
        AddToHistory(cbText->currentText());
        if (!grid_)
            return;
        data::TADOQuery* dataSet = grid_->DataLink().DataSet();
        if (!dataSet || !dataSet->Active())
            return;
        waitTimer_.stop();
        const TLocateRequest request = Request(ctrlHeld);
        const FindHit hit = LocateTextAfter(*grid_, request, nullptr);
        if (hit.Found)
            firstTry_ = false;
        else if (request.Direction != TLocateDirection::Up && hit.Last.Valid() &&
                 dataSet->FetchState() == data::TFetchState::fsFetching)
            WaitForRows(request, hit);
    }, "finding text");
}

void TGridFindDlg::WaitForRows(const TLocateRequest& request, const FindHit& from)
{
    data::TADOQuery* dataSet = grid_->DataLink().DataSet();
    waiting_ = request;
    waitFrom_ = from;
    waitSet_ = dataSet;
    waitOpen_ = dataSet->OpenSerial();
    waitRows_ = dataSet->RecordCount();
    waitTimer_.start();
}

void TGridFindDlg::GoOnFinding()
{
    data::TADOQuery* dataSet = grid_ ? grid_->DataLink().DataSet() : nullptr;
    // Another record set, or the same one opened anew: the search is over.
    if (!isVisible() || !dataSet || dataSet != waitSet_ || !dataSet->Active() ||
        dataSet->OpenSerial() != waitOpen_) {
        waitTimer_.stop();
        return;
    }
    const bool fetching = dataSet->FetchState() == data::TFetchState::fsFetching;
    if (dataSet->RecordCount() == waitRows_ && fetching)
        return;
    waitRows_ = dataSet->RecordCount();
    waitTimer_.stop();
    Run([&] {
        const FindHit hit = LocateTextAfter(*grid_, waiting_, &waitFrom_);
        if (hit.Found) {
            firstTry_ = false;
            return;
        }
        if (hit.Last.Valid())
            waitFrom_ = hit;
        if (fetching && hit.Last.Valid())
            waitTimer_.start();
    }, "finding text");
}

bool TGridFindDlg::UndoFocusedChange()
{
    QWidget* focused = QApplication::focusWidget();
    if ((focused == cbText || focused == cbText->lineEdit()) && textTyped_) {
        cbText->setEditText(textTaken_);
        cbText->lineEdit()->selectAll();
        textTyped_ = false;
        return true;
    }
    if (focused && focused == checkFocused_ && checkFocused_->isChecked() != checkTaken_) {
        checkFocused_->setChecked(checkTaken_);
        return true;
    }
    return false;
}

bool TGridFindDlg::HandleKey(QObject* watched, QKeyEvent* event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (IsEnter(*event)) {
        if (ctrl) {
            FindNext(true);
            return true;
        }
        if (auto* button = qobject_cast<QPushButton*>(watched)) {
            button->click();
            return true;
        }
        FindNext(false);
        textTaken_ = cbText->currentText();
        textTyped_ = false;
        return true;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (!UndoFocusedChange())
            bCancel->click();
        return true;
    }
    if (IsAccelerator(*event)) {
        if (event->key() == Qt::Key_F) {
            FindNext(false);
        } else {
            QCheckBox* box = event->key() == Qt::Key_C ? cbCharCase : cbUseFormat;
            box->setFocus(Qt::ShortcutFocusReason);
            box->toggle();
        }
        return true;
    }
    return false;
}

bool TGridFindDlg::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // The button's and check boxes' own mnemonics would act later and
        // differently: the key is the dialog's.
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsAccelerator(*key)) {
            key->accept();
            return true;
        }
        break;
    }
    case QEvent::KeyPress:
        if (HandleKey(watched, static_cast<QKeyEvent*>(event)))
            return true;
        break;
    case QEvent::FocusIn:
        if (auto* box = qobject_cast<QCheckBox*>(watched)) {
            checkFocused_ = box;
            checkTaken_ = box->isChecked();
        }
        break;
    case QEvent::FocusOut:
        if (watched == cbText && !cbText->hasFocus()) {
            textTaken_ = cbText->currentText();
            textTyped_ = false;
        }
        if (watched == checkFocused_)
            checkFocused_ = nullptr;
        break;
    default: break;
    }
    return QDialog::eventFilter(watched, event);
}

void TGridFindDlg::keyPressEvent(QKeyEvent* event)
{
    // Keys that reach the window itself (no control focused).
    if (!HandleKey(this, event))
        QDialog::keyPressEvent(event);
}

} // namespace querlin::grid
