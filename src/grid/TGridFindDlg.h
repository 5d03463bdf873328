#pragma once
// TGridFindDlg: the grids' find dialog ("Find text"). One instance serves
// every grid for the life of the process: it is created on the first Ctrl+F,
// owned by the application (destroyed when the application quits), and only
// hidden between uses, so the search history and the Match, Search, Match
// Case and Match Format settings carry over from one opening, and one grid,
// to the next. Each Find next builds a search request from the controls and
// runs locate text (GridLocate.h) on the grid it was opened for. Controls
// are public named members; handlers are methods named after control and
// event, each run inside the grid's guard. GUI thread only.

#include "grid/GridFind.h"

#include <QComboBox>
#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <string>

class QCheckBox;
class QLabel;
class QPushButton;

namespace querlin::grid {

class TCustomDataGrid;

// The search text box: free text with the search history as its list.
// Typing at the end completes the text from the first history entry that
// begins with it (letter case ignored) and selects the completed part;
// Up and Down with the list closed step through the history.
class TFindTextCombo : public QComboBox {
    Q_OBJECT
public:
    explicit TFindTextCombo(QWidget* parent);
    // Called when the user changed the text by typing or stepping.
    std::function<void()> OnUserChange;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class TGridFindDlg : public QDialog {
    Q_OBJECT
public:
    // The dialog, once created; nullptr before the first use.
    static TGridFindDlg* Instance();
    // Plugs the dialog into the grids' Ctrl+F (modal, empty field name).
    static void Install();
    // Destroys the dialog (the application does when it quits); the next
    // opening makes a new one.
    static void DestroyInstance();
    // Opens the dialog for a grid with a search text (the field name is the
    // caller's; the opening does not use it, the grids pass none). Modal: returns
    // when the dialog closes. Otherwise the dialog stays on top and the
    // caller continues at once.
    static void ShowFor(TCustomDataGrid& grid, const std::string& searchText,
                        const std::string& fieldName, bool modal);

    QLabel* Label1;
    TFindTextCombo* cbText;
    QPushButton* bFind;
    QPushButton* bCancel;
    QLabel* Label2;
    QComboBox* cbFindIn;
    QLabel* cbMatchType;
    QComboBox* cbMatchinType;
    QLabel* Label3;
    QComboBox* cbFindDirection;
    QCheckBox* cbCharCase;
    QCheckBox* cbUseFormat;
    QLabel* Label4;
    QComboBox* dbcTreeFindRange;

    // Event handlers.
    void bFindClick();
    void bCancelClick();
    void cbTextChange();
    void cbFindInChange();
    void cbFindDirectionChange();
    void dbcTreeFindRangeChange();

    // Find next: records the text in the history, then, for a grid whose
    // record set is open, builds the request and locates the text. With
    // Ctrl held the direction is turned round.
    void FindNext(bool ctrlHeld);
    // The request the controls give now.
    TLocateRequest Request(bool ctrlHeld) const;

    TCustomDataGrid* Grid() const;
    bool FirstTry() const { return firstTry_; }
    // A search that ran out of rows still coming waits for them: it goes
    // on, from where it stopped, each time rows have come, until it finds
    // the text, the rows are all in, or the user finds anew or closes.
    bool WaitingForRows() const { return waitTimer_.isActive(); }
    // The height of the client area as designed (with the tree row).
    int DesignedHeight() const { return designedHeight_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    TGridFindDlg();
    void Open(TCustomDataGrid& grid, const std::string& searchText, const std::string& fieldName);
    void AddToHistory(const QString& text);
    bool HandleKey(QObject* watched, QKeyEvent* event);
    bool UndoFocusedChange();
    void Run(const std::function<void()>& work, const char* what);
    void WaitForRows(const TLocateRequest& request, const FindHit& from);
    void GoOnFinding();

    QTimer waitTimer_;
    TLocateRequest waiting_;
    FindHit waitFrom_;
    data::TADOQuery* waitSet_ = nullptr;
    std::uint64_t waitOpen_ = 0;
    int waitRows_ = 0;

    QPointer<TCustomDataGrid> grid_;
    bool firstTry_ = true;
    int designedHeight_ = 150;
    // What the search text box and the focused check box last took, for Esc.
    QString textTaken_;
    bool textTyped_ = false;
    QCheckBox* checkFocused_ = nullptr;
    bool checkTaken_ = false;
};

} // namespace querlin::grid
