// The keyboard side of the data grid: the key events it fires, the key
// table (GridNavigation) carried out through the record set and the column
// move, the Tab walk with painting deferred, and the find dialog's entry.

#include "grid/GridAccessible.h"
#include "grid/GridNavigation.h"
#include "grid/TDataGrid.h"
#include "grid/TDataGridInplaceEdit.h"
#include "grid/TDataGridPrivate.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace querlin::grid {

namespace {

TCustomDataGrid::FindDialogEntry& FindEntry()
{
    static TCustomDataGrid::FindDialogEntry entry;
    return entry;
}

// A character the cell editor would be handed: printable text without Ctrl
// or Alt, or Backspace.
bool IsEditorCharacter(const QKeyEvent& event)
{
    if (event.key() == Qt::Key_Backspace)
        return true;
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier))
        return false;
    QString text = event.text();
    return !text.isEmpty() && text.front().isPrint();
}

} // namespace

void TCustomDataGrid::SetFindDialogEntry(FindDialogEntry entry)
{
    FindEntry() = std::move(entry);
}

void TCustomDataGrid::ShowFindDialog(const std::string& searchText)
{
    if (!state_->OptionsEx.Contains(dgxDialogFind))
        return;
    if (FindEntry())
        FindEntry()(*this, searchText);
}

bool TCustomDataGrid::focusNextPrevChild(bool next)
{
    // Tab and Shift+Tab are the grid's own keys (the Tab walk): the focus
    // never leaves a grid by them.
    (void)next;
    return false;
}

void TCustomDataGrid::keyPressEvent(QKeyEvent* event)
{
    Guarded([&] { HandleKeyPress(event); }, "handling a key");
}

void TCustomDataGrid::keyReleaseEvent(QKeyEvent* event)
{
    Guarded([&] { HandleKeyRelease(event); }, "handling a key");
}

void TCustomDataGrid::HandleKeyPress(QKeyEvent* event)
{
    event->accept();
    TShiftState shift = ShiftOf(event->modifiers());
    std::uint16_t key = VirtualKeyFor(event->key());
    if (OnKeyDown) {
        OnKeyDown(this, key, shift);
        if (key == vkNone)
            return;
    }

#ifndef Q_OS_WIN
    // Shift+F10 asks for the context menu, as the menu key does; Windows
    // turns it into a context-menu request of its own.
    if (event->key() == Qt::Key_F10 && shift == TShiftState{ssShift}) {
        KeyboardContextMenu();
        return;
    }
#endif
    // Esc first ends a column sizing or moving drag (nothing applied).
    if (event->key() == Qt::Key_Escape &&
        (state_->Mouse.State != TGridState::gsNormal || state_->Mouse.Tracking))
        CancelMouseMode();

    data::TADOQuery* dataSet = state_->DataLink.DataSet();
    // Esc stops rows still coming (the rows so far stay), or an open under way.
    if (event->key() == Qt::Key_Escape && dataSet &&
        (dataSet->Opening() || (state_->DataLink.Active() && dataSet->FetchState() == data::TFetchState::fsFetching))) {
        dataSet->StopFetching();
        return;
    }

    NavState state;
    state.Open = state_->DataLink.Active() && dataSet;
    state.RightToLeft = layoutDirection() == Qt::RightToLeft;
    state.Col = Col();
    state.IndicatorOffset = state_->IndicatorOffset;
    state.ColWidths.reserve(std::size_t(ColCount()));
    for (int c = 0; c < ColCount(); ++c)
        state.ColWidths.push_back(ColWidths(c));
    if (!state_->ReadOnly && state.Open) {
        state.TabStops.assign(std::size_t(ColCount()), false);
        for (int c = state_->IndicatorOffset; c < ColCount(); ++c) {
            const TDataGridColumn* column = ColumnAt(c);
            data::TField* field = column ? column->Field() : nullptr;
            state.TabStops[std::size_t(c)] = column && column->Visible() && !column->ReadOnly() &&
                                            field && !field->ReadOnly();
        }
    }
    state.ActiveRecord = std::max(state_->DataLink.ActiveRecord(), 0);
    state.WindowSize = std::max(state_->DataLink.BufferCount(), 1);
    state.FullyVisibleRows = std::max(Geometry().FullyVisibleRows(), 1);
    state.DialogFind = state_->OptionsEx.Contains(dgxDialogFind);
    state.Tabs = state_->Options.Contains(dgTabs);
    state.EditorShown = state_->Editor && state_->Editor->isVisible();

    NavKey navKey{event->key(), shift, IsEditorCharacter(*event)};
    NavMove move = NavigateKey(navKey, state);

    // Characters come after the key itself, as OnKeyPress sees them: the
    // editor's toggle on Enter and the editor opened by a typed character.
    bool characterStep = move.EditorAction == NavMove::Editor::Toggle ||
                         move.EditorAction == NavMove::Editor::OpenWithKey;
    if (!characterStep)
        ApplyMove(move, event);
    QString text = event->text();
    if (OnKeyPress && !text.isEmpty()) {
        char16_t character = text.front().unicode();
        OnKeyPress(this, character);
        if (character == 0)
            return;
    }
    if (characterStep)
        ApplyMove(move, event);
}

void TCustomDataGrid::ApplyMove(const NavMove& move, QKeyEvent* event)
{
    data::TADOQuery* dataSet = state_->DataLink.DataSet();
    if (move.Find) {
        ShowFindDialog({});
        return;
    }
    // The Tab walk paints once, at its end.
    struct Deferred {
        TCustomDataGrid& grid;
        bool on;
        ~Deferred()
        {
            if (on)
                grid.EndUpdate();
        }
    } deferred{*this, move.DeferPainting};
    if (move.DeferPainting)
        BeginUpdate();

    if (dataSet && state_->DataLink.Active()) {
        switch (move.RecordMove) {
        case NavMove::Record::By:
            if (move.By != 0)
                dataSet->MoveRows(move.By);
            break;
        case NavMove::Record::First: dataSet->MoveFirst(); break;
        case NavMove::Record::Last: dataSet->MoveLast(); break;
        case NavMove::Record::None: break;
        }
    }
    if (move.Col >= 0)
        MoveColumn(move.Col, move.ColDirection);

    switch (move.EditorAction) {
    case NavMove::Editor::Toggle:
        if (state_->EditorMode)
            HideEditor();
        else
            ShowEditor();
        break;
    case NavMove::Editor::OpenAtEnd: ShowEditor(true); break;
    case NavMove::Editor::OpenWithKey:
        ShowEditor();
        // The editor gets the character and refuses it.
        if (state_->Editor && state_->Editor->isVisible() && event &&
            event->key() != Qt::Key_Backspace) {
            QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(),
                           event->isAutoRepeat(), ushort(event->count()));
            QCoreApplication::sendEvent(state_->Editor, &copy);
        }
        break;
    case NavMove::Editor::Close: HideEditor(); break;
    case NavMove::Editor::None: break;
    }
    if (!move.Handled && event)
        event->ignore();
}

void TCustomDataGrid::HandleKeyRelease(QKeyEvent* event)
{
    event->accept();
    // A held key sends repeated releases; only the real one counts.
    if (event->isAutoRepeat())
        return;
    std::uint16_t key = VirtualKeyFor(event->key());
    if (OnKeyUp)
        OnKeyUp(this, key, ShiftOf(event->modifiers()));
}

void TCustomDataGrid::MoveColumn(int target, int direction)
{
    std::vector<int> widths;
    widths.reserve(std::size_t(ColCount()));
    for (int c = 0; c < ColCount(); ++c)
        widths.push_back(ColWidths(c));
    int col = ColumnMoveTarget(target, direction, widths, state_->IndicatorOffset);
    if (col < 0 || col == Col())
        return;
    if (OnColExit && !state_->InColExit) {
        int before = Col();
        state_->InColExit = true;
        struct Reset {
            bool& flag;
            ~Reset() { flag = false; }
        } reset{state_->InColExit};
        OnColExit(this);
        if (Col() != before)
            return;  // the handler moved the column itself
    }
    HideEditor();
    MoveCurrent(col, Row());
    MakeColumnVisible(col);
    GridAccessibleChanged(*this);
    if (OnColEnter)
        OnColEnter(this);
}

} // namespace querlin::grid
