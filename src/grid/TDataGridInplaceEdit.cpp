#include "grid/TDataGridInplaceEdit.h"

#include "grid/TDataGrid.h"
#include "grid/TDataGridPrivate.h"
#include "platform/Locale.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>

namespace querlin::grid {

using data::TFieldType;

TDataGridInplaceEdit::TDataGridInplaceEdit(TCustomDataGrid& grid)
    : QLineEdit(grid.viewport()), grid_(grid)
{
    // The grid is read-only: the text box keeps selection and copying and
    // refuses typing, pasting, cutting, deleting, undo and dropped text.
    setReadOnly(true);
    setFrame(false);
    // The text sits 2 pixels in from the cell's left and top edges, where the
    // grid paints it: the text box adds 2 on the left and 1 at the top itself.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextMargins(0, 1, 0, 0);
    setContextMenuPolicy(Qt::NoContextMenu);
    setFocusPolicy(Qt::StrongFocus);
    Beep = [] { QApplication::beep(); };
    hide();
}

void TDataGridInplaceEdit::Fill(data::TField* field, bool caretAtEnd)
{
    field_ = field;
    int limit = field && field->DataType() == TFieldType::ftString && field->Size() > 0
                    ? field->Size()
                    : 32767;
    setMaxLength(limit);
    setText(field ? QString::fromStdString(field->DisplayText()) : QString());
    if (caretAtEnd) {
        deselect();
        setCursorPosition(int(text().size()));
    } else {
        selectAll();
    }
}

bool TDataGridInplaceEdit::FieldAccepts(const data::TField* field, QChar character)
{
    if (!field)
        return true;
    bool digitOrSign = character.isDigit() || character == u'+' || character == u'-';
    switch (field->DataType()) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftWord:
    case TFieldType::ftAutoInc:
    case TFieldType::ftLargeint:
        return digitOrSign && character.unicode() < 128;
    case TFieldType::ftFloat:
    case TFieldType::ftBCD: {
        const std::string& separator = platform::UserLocale().decimalSeparator;
        bool isSeparator = !separator.empty() && character.unicode() < 128 &&
                           char(character.unicode()) == separator.front();
        return (digitOrSign && character.unicode() < 128) || isSeparator || character == u'e' ||
               character == u'E';
    }
    default:
        return true;
    }
}

bool TDataGridInplaceEdit::event(QEvent* event)
{
    // Tab must reach keyPressEvent (and then the grid) instead of moving the
    // focus; Ctrl+F must not be taken as a shortcut.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QLineEdit::event(event);
}

void TDataGridInplaceEdit::keyPressEvent(QKeyEvent* event)
{
    Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                       Qt::AltModifier | Qt::MetaModifier);
    int key = event->key();
    bool ctrl = mods & Qt::ControlModifier;
    bool alt = mods & Qt::AltModifier;

    if (ctrl && key == Qt::Key_F) {
        grid_.ShowFindDialog(selectedText().toStdString());
        return;
    }
    if (ctrl && key == Qt::Key_Insert) {
        if (hasSelectedText())
            QApplication::clipboard()->setText(selectedText());
        return;
    }
    // The keys the grid acts on, as the grid's own table has them.
    bool toGrid = false;
    switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: toGrid = !alt; break;
    case Qt::Key_Escape:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Return:
    case Qt::Key_Enter: toGrid = true; break;
    case Qt::Key_Insert: toGrid = mods == Qt::NoModifier; break;
    case Qt::Key_Delete: toGrid = mods == Qt::ControlModifier; break;
    case Qt::Key_Apostrophe: toGrid = ctrl; break;
    default: break;
    }
    if (toGrid) {
        grid_.HandleKeyPress(event);
        // Handled or not, the key went to the grid once; it must not travel
        // up to the grid a second time as an unhandled key of the editor.
        event->accept();
        return;
    }
    QString text = event->text();
    if (!ctrl && !text.isEmpty() && text.front().isPrint()) {
        // A character: refused, since nothing is edited here; one the field
        // would not take at all sounds the beep first.
        if (!FieldAccepts(field_, text.front()) && Beep)
            Beep();
        return;
    }
    // Caret movement, selection and copying; the read-only text box drops
    // Backspace, Delete, pasting and cutting by itself.
    QLineEdit::keyPressEvent(event);
}

void TDataGridInplaceEdit::keyReleaseEvent(QKeyEvent* event)
{
    QLineEdit::keyReleaseEvent(event);
    grid_.HandleKeyRelease(event);
}

void TDataGridInplaceEdit::wheelEvent(QWheelEvent* event)
{
    grid_.HandleWheel(event);
}

void TDataGridInplaceEdit::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The text box selects the word; the grid's OnDblClick fires as well.
    QLineEdit::mouseDoubleClickEvent(event);
    if (grid_.OnDblClick)
        grid_.Guarded([this] { grid_.OnDblClick(&grid_); }, "double-clicking");
}

} // namespace querlin::grid

// ---------------------------------------------------------------- the grid's side

namespace querlin::grid {

using data::TField;

void TCustomDataGrid::ShowEditor(bool caretAtEnd)
{
    state_->EditorMode = true;
    TDataGridColumn* column = ColumnAt(Col());
    bool may = state_->Options.Contains(dgEditing) && !state_->Options.Contains(dgRowSelect) &&
               GridFocused() && state_->LayoutLock == 0 && column && !column->Checkboxes() &&
               state_->DataLink.Active();
    if (!may)
        return;
    if (!state_->Editor)
        state_->Editor = new TDataGridInplaceEdit(*this);
    state_->Editor->setFont(column->Font().Font);
    state_->Editor->Fill(column->Field(), caretAtEnd);
    QRect cell = cellRect(Col(), Row());
    if (cell.isEmpty())
        return;
    state_->Editor->setGeometry(cell);
    state_->Editor->show();
    state_->Editor->setFocus(Qt::OtherFocusReason);
}

void TCustomDataGrid::HideEditor()
{
    state_->EditorMode = false;
    if (!state_->Editor || !state_->Editor->isVisible())
        return;
    bool hadFocus = state_->Editor->hasFocus();
    state_->Editor->hide();
    if (hadFocus)
        setFocus(Qt::OtherFocusReason);
}

void TCustomDataGrid::RefreshEditor()
{
    if (!state_->Editor || !state_->Editor->isVisible() || !state_->DataLink.Active())
        return;
    TDataGridColumn* column = ColumnAt(Col());
    TField* field = column ? column->Field() : nullptr;
    QString text = field ? QString::fromStdString(field->DisplayText()) : QString();
    if (field != state_->Editor->FilledField() || text != state_->Editor->text())
        state_->Editor->Fill(field, false);
}

void TCustomDataGrid::PlaceEditor()
{
    if (!state_->Editor || !state_->Editor->isVisible())
        return;
    QRect cell = cellRect(Col(), Row());
    if (cell.isEmpty()) {
        HideEditor();
        return;
    }
    state_->Editor->setGeometry(cell);
}

} // namespace querlin::grid
