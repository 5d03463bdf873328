#pragma once
// TDataGridInplaceEdit: the cell editor of a data grid, a single-line text
// box over the current cell. The grid creates it on first use, keeps it for
// its own life and shows or hides it. In these read-only grids it refuses
// every change but lets the text be selected and copied; the keys the grid
// acts on go to the grid, every key release and every wheel turn too, so the
// grid's key events fire as if it had the focus. GUI thread only.

#include "data/DataSet.h"

#include <QLineEdit>

#include <functional>

namespace querlin::grid {

class TCustomDataGrid;

class TDataGridInplaceEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TDataGridInplaceEdit(TCustomDataGrid& grid);

    // Fills the editor for a field's cell: its display text, the length limit
    // of an ftString field, and the whole text selected, or with the caret
    // after the end (F2).
    void Fill(data::TField* field, bool caretAtEnd);
    data::TField* FilledField() const { return field_; }

    // Sounds the refusal of a character; the platform's beep unless a test
    // listens instead.
    std::function<void()> Beep;

    // Whether the field would take the character as input: digits and signs
    // for whole numbers, also the decimal separator and an exponent for the
    // others; any character for the rest.
    static bool FieldAccepts(const data::TField* field, QChar character);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    TCustomDataGrid& grid_;
    data::TField* field_ = nullptr;
};

} // namespace querlin::grid
