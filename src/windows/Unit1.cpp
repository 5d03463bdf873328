#include "windows/Unit1.h"

#include "data/Provider.h"
#include "favourites/Favourites.h"
#include "login/Database.h"
#include "platform/CacheFile.h"
#include "platform/Error.h"
#include "platform/ProgramDirectory.h"
#include "windows/BrowserSql.h"
#include "windows/BusyCursor.h"
#include "windows/Globals.h"
#include "windows/Guard.h"
#include "windows/MessageBox.h"
#include "windows/Shell.h"
#include "windows/main.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

#include <algorithm>
#include <chrono>
#include <future>

namespace querlin {

namespace {

// Virtual-key codes of the keys after which a list refreshes the list below
// it: they move the current row by one or by a page.
constexpr std::uint16_t kTab = 9;
constexpr std::uint16_t kPageUp = 33;
constexpr std::uint16_t kPageDown = 34;
constexpr std::uint16_t kUp = 38;
constexpr std::uint16_t kDown = 40;

bool RefreshesAfter(std::uint16_t key)
{
    return key == kPageUp || key == kPageDown || key == kUp || key == kDown || key == kTab;
}

// The drill-down handlers end silently at the first error: what was done
// before it stays done, and nothing is shown.
template <class Action> void Silently(Action&& action) noexcept
{
    try {
        action();
    } catch (...) {
    }
}

QGroupBox* MakeGroupBox(QWidget* parent, const char* name, const char* caption, int left, int top, int width,
                        int height)
{
    auto* box = new QGroupBox(QString::fromUtf8(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(left, top, width, height);
    return box;
}

grid::TDataGrid* MakeGrid(QGroupBox* box, const char* name, data::TDataSource& source, int left, int top, int width,
                          int height, bool alwaysShowSelection)
{
    auto* grid = new grid::TDataGrid(box);
    grid->setObjectName(QString::fromLatin1(name));
    grid->setGeometry(left, top, width, height);
    grid->SetReadOnly(true);
    grid->SetFlat(false);
    grid->SetFooterColor(grid::clWindow);
    if (alwaysShowSelection)
        grid->SetOptions(grid->Options() + grid::dgAlwaysShowSelection);
    grid->SetDataSource(&source);
    return grid;
}

// A group box's popup menu opens at the pointer on a right click anywhere
// in the box, its grid included: the grid shows no menu of its own and
// leaves the request to the box.
QMenu* MakePopupMenu(QGroupBox* box, const char* name, const char* itemName, const char* caption, QAction*& item)
{
    auto* menu = new QMenu(box);
    menu->setObjectName(QString::fromLatin1(name));
    item = menu->addAction(QString::fromUtf8(caption));
    item->setObjectName(QString::fromLatin1(itemName));
    box->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(box, &QWidget::customContextMenuRequested, menu,
                     [box, menu](const QPoint& at) { menu->popup(box->mapToGlobal(at)); });
    return menu;
}

} // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window),
      progress_([this] {
          // One queued call at a time; it shows whatever text is newest
          // when it runs.
          QMetaObject::invokeMethod(
              lbl1,
              [this] {
                  lbl1->setText(QString::fromStdString(progress_.Take()));
                  lbl1->adjustSize();
              },
              Qt::QueuedConnection);
      })
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(ApplicationTitle));
    // The platform substitutes its nearest font where this one is missing.
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    setFont(font);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    // The client area fits the group boxes exactly.
    setFixedSize(777, 549);

    ds1.SetDataSet(&qry1);
    ds2.SetDataSet(&qry2);
    ds3.SetDataSet(&qry3);
    ds4.SetDataSet(&qry4);

    grp2 = MakeGroupBox(this, "grp2", "用户列表", 0, 0, 209, 169);
    grp3 = MakeGroupBox(this, "grp3", "用户数据表", 207, 0, 250, 169);
    grp4 = MakeGroupBox(this, "grp4", "常用数据表", 455, 0, 322, 169);
    grp1 = MakeGroupBox(this, "grp1", browser::kDataCaption, 0, 172, 777, 377);
    setTabOrder(grp1, grp2);
    setTabOrder(grp2, grp3);
    setTabOrder(grp3, grp4);

    dbgrd1 = MakeGrid(grp2, "dbgrd1", ds1, 4, 16, 201, 145, true);
    dbgrd2 = MakeGrid(grp3, "dbgrd2", ds2, 3, 16, 243, 145, true);
    dbgrd3 = MakeGrid(grp4, "dbgrd3", ds3, 3, 16, 314, 145, true);
    dbgrd4 = MakeGrid(grp1, "dbgrd4", ds4, 8, 16, 761, 353, false);

    lbl1 = new QLabel(grp1);
    lbl1->setObjectName(QStringLiteral("lbl1"));
    lbl1->move(416, 0);
    lbl1->adjustSize();
    // The progress line covers the frame it sits on, as captions do.
    lbl1->setAutoFillBackground(true);
    lbl2 = new QLabel(grp1);
    lbl2->setObjectName(QStringLiteral("lbl2"));
    lbl2->move(600, 0);
    lbl2->setAutoFillBackground(true);
    lbl2->hide();
    qry4.SetOnFetchChange([this] { ShowFetchState(); });

    app::EtchGroupBoxes(*this);

    pm2 = MakePopupMenu(grp3, "pm2", "N2", "添加此表到常用记录", N2);
    pm3 = MakePopupMenu(grp4, "pm3", "N3", "取消此常用表记录", N3);
    pm4 = MakePopupMenu(grp1, "pm4", "S1", "保存数据到(&S)", S1);
    connect(N2, &QAction::triggered, this, [this] { app::Guard([this] { N2Click(); }); });
    connect(N3, &QAction::triggered, this, [this] { app::Guard([this] { N3Click(); }); });
    connect(S1, &QAction::triggered, this, [this] { app::Guard([this] { S1Click(); }); });

    dbgrd1->OnCellClick = [this](grid::TGridColumn* Column) { dbgrd1CellClick(Column); };
    dbgrd2->OnCellClick = [this](grid::TGridColumn* Column) { dbgrd2CellClick(Column); };
    dbgrd3->OnCellClick = [this](grid::TGridColumn* Column) { dbgrd3CellClick(Column); };
    dbgrd1->OnKeyUp = [this](grid::TCustomDataGrid*, std::uint16_t& Key, grid::TShiftState Shift) {
        dbgrd1KeyUp(Key, Shift);
    };
    dbgrd2->OnKeyUp = [this](grid::TCustomDataGrid*, std::uint16_t& Key, grid::TShiftState Shift) {
        dbgrd2KeyUp(Key, Shift);
    };
    dbgrd3->OnKeyUp = [this](grid::TCustomDataGrid*, std::uint16_t& Key, grid::TShiftState Shift) {
        dbgrd3KeyUp(Key, Shift);
    };
    dbgrd1->OnDrawColumnCell = [this](grid::TCustomDataGrid*, const QRect& Rect, int DataCol,
                                      grid::TGridColumn* Column, grid::TGridDrawState State) {
        dbgrd1DrawColumnCell(Rect, DataCol, Column, State);
    };
    dbgrd2->OnDrawColumnCell = [this](grid::TCustomDataGrid*, const QRect& Rect, int DataCol,
                                      grid::TGridColumn* Column, grid::TGridDrawState State) {
        dbgrd2DrawColumnCell(Rect, DataCol, Column, State);
    };
    dbgrd3->OnDrawColumnCell = [this](grid::TCustomDataGrid*, const QRect& Rect, int DataCol,
                                      grid::TGridColumn* Column, grid::TGridDrawState State) {
        dbgrd3DrawColumnCell(Rect, DataCol, Column, State);
    };
    dbgrd4->OnDrawColumnCell = [this](grid::TCustomDataGrid*, const QRect& Rect, int DataCol,
                                      grid::TGridColumn* Column, grid::TGridDrawState State) {
        dbgrd4DrawColumnCell(Rect, DataCol, Column, State);
    };
}

TForm1::~TForm1()
{
    exportWorker_.CancelAndWait();
}

void TForm1::FormCreate()
{
    ExportIdle = true;
}

void TForm1::ShowRowsThen(const std::string& caption)
{
    // The busy pointer lasts until the first rows are in, or the open is
    // stopped; a failure ends the click silently, the caption kept.
    auto busy = std::make_shared<app::BusyCursor>();
    qry4.OpenThen([this, busy, caption](std::exception_ptr failure) {
        if (failure)
            return;
        Silently([&] {
            ShowFetchState();
            grp1->setTitle(QString::fromUtf8(caption));
        });
    });
}

void TForm1::ShowFetchState()
{
    QString text;
    switch (qry4.Active() ? qry4.FetchState() : data::TFetchState::fsComplete) {
    case data::TFetchState::fsComplete: break;
    case data::TFetchState::fsFetching:
        text = QString::fromUtf8("正在读取数据… 已读 %1 行").arg(qry4.RecordCount());
        break;
    case data::TFetchState::fsStopped:
        text = QString::fromUtf8("已停止读取，仅显示部分数据（%1 行）").arg(qry4.RecordCount());
        break;
    case data::TFetchState::fsFailed: {
        // Why the rows stopped, when it is this machine's doing.
        const std::string& why = qry4.FetchFailure();
        const char* reason = "读取中断";
        if (why == "Out of memory")
            reason = "内存不足";
        else if (why.starts_with(platform::kCacheDiskFullText))
            reason = "磁盘已满";
        else if (why.starts_with(platform::kCacheUnwritableText))
            reason = "缓存文件无法写入";
        text = QString::fromUtf8("%1，仅显示部分数据（%2 行）").arg(QString::fromUtf8(reason)).arg(qry4.RecordCount());
        break;
    }
    }
    lbl2->setText(text);
    lbl2->adjustSize();
    // Flush with the group box's right edge, so that the longest count fits.
    lbl2->move(std::max(0, grp1->width() - lbl2->width() - 8), 0);
    lbl2->setVisible(!text.isEmpty());
}

void TForm1::FormClose()
{
    frmmain->close();
}

void TForm1::dbgrd1CellClick(grid::TGridColumn*)
{
    Silently([this] {
        // The busy pointer lasts until the tables are in, or the query is
        // stopped (Esc in the tables' grid, another click).
        auto busy = std::make_shared<app::BusyCursor>();
        const std::string user = qry1.FieldNamed(browser::kUserColumn).PlainText();
        qry2.SetSQL(browser::TablesSql(user));
        qry2.OpenThen([this, busy](std::exception_ptr failure) {
            if (!failure)
                Silently([this] { qry2.MoveFirst(); });
        });
    });
}

void TForm1::dbgrd2CellClick(grid::TGridColumn*)
{
    Silently([this] {
        qry4.Close();
        const std::string table = qry1.FieldNamed(browser::kUserColumn).PlainText() + "." +
                                  qry2.FieldNamed(browser::kTableColumn).PlainText();
        qry4.SetSQL(browser::RowsSql(table));
        ShowRowsThen(browser::DataCaptionFor(table));
    });
}

void TForm1::dbgrd3CellClick(grid::TGridColumn*)
{
    Silently([this] {
        qry4.Close();
        const std::string favourite = qry3.FieldNamed(favourites::kFavouriteColumn).PlainText();
        qry4.SetSQL(browser::RowsSql(favourite));
        ShowRowsThen(browser::DataCaptionFor(favourite));
    });
}

// The key is looked at on its release, after the grid has moved its current
// row on the press.
void TForm1::dbgrd1KeyUp(std::uint16_t& Key, grid::TShiftState)
{
    if (RefreshesAfter(Key))
        Silently([this] { dbgrd1CellClick(nullptr); });
}

void TForm1::dbgrd2KeyUp(std::uint16_t& Key, grid::TShiftState)
{
    if (RefreshesAfter(Key))
        Silently([this] { dbgrd2CellClick(nullptr); });
}

void TForm1::dbgrd3KeyUp(std::uint16_t& Key, grid::TShiftState)
{
    if (RefreshesAfter(Key))
        Silently([this] { dbgrd3CellClick(nullptr); });
}

namespace {

// While a grid paints a row, that row is its record set's active row, so the
// record number is the painted row's. Odd numbers (-1 of an appended row
// included) are red, even ones and 0 blue.
void DrawByParity(grid::TDataGrid& grid, data::TADOQuery& query, const QRect& Rect, grid::TGridColumn* Column,
                  grid::TGridDrawState State)
{
    grid.Canvas().Font.Color = query.RecordNumber() % 2 != 0 ? grid::TColor(0x0000FF) : grid::TColor(0xFF0000);
    grid.DrawFieldText(Rect, Column->Field(), State);
}

} // namespace

void TForm1::dbgrd1DrawColumnCell(const QRect& Rect, int, grid::TGridColumn* Column, grid::TGridDrawState State)
{
    DrawByParity(*dbgrd1, qry1, Rect, Column, State);
}

void TForm1::dbgrd2DrawColumnCell(const QRect& Rect, int, grid::TGridColumn* Column, grid::TGridDrawState State)
{
    DrawByParity(*dbgrd2, qry2, Rect, Column, State);
}

void TForm1::dbgrd3DrawColumnCell(const QRect& Rect, int, grid::TGridColumn* Column, grid::TGridDrawState State)
{
    DrawByParity(*dbgrd3, qry3, Rect, Column, State);
}

void TForm1::dbgrd4DrawColumnCell(const QRect& Rect, int, grid::TGridColumn* Column, grid::TGridDrawState State)
{
    DrawByParity(*dbgrd4, qry4, Rect, Column, State);
}

void TForm1::N2Click()
{
    app::BusyCursor busy;
    favourites::AddSelectedTable(qry3, qry1, qry2);
}

void TForm1::N3Click()
{
    app::BusyCursor busy;
    favourites::RemoveCurrent(qry3);
}

void TForm1::S1Click()
{
    dlgSave1.SetFileName(exports::kDefaultExportFileName);
    if (!dlgSave1.Execute())
        return;
    // Tested and cleared in one step; only this thread ever clears it.
    bool idle = true;
    if (!ExportIdle.compare_exchange_strong(idle, false))
        return;
    exportFileName_ = dlgSave1.FileName();
    exportWorker_.Start([this] { CopyDbDataToExcel(*dbgrd4); }, ExportIdle);
}

void TForm1::CopyDbDataToExcel(grid::TDataGrid& grid)
{
    exports::ExportEnvironment environment;
    environment.fileName = exportFileName_;
    environment.takeWindowState = [this, &grid] { return ReadExportState(grid); };
    environment.setLabel = [this](const std::string& text) { progress_.Set(text); };
    environment.reportError = [this](const std::string& message) {
        QMetaObject::invokeMethod(this, [message] { app::ShowErrorReport(message); }, Qt::QueuedConnection);
    };
    environment.cancelled = exportWorker_.CancelFlag();
    exports::CopyDbDataToExcel(environment);
}

exports::WindowState TForm1::ReadExportState(grid::TDataGrid& grid)
{
    auto promise = std::make_shared<std::promise<exports::WindowState>>();
    auto state = promise->get_future();
    QMetaObject::invokeMethod(
        this,
        [this, &grid, promise] {
            try {
                exports::WindowState read;
                if (data::TADOQuery* viewed = grid.DataLink().DataSet())
                    viewed->FieldNames(read.fieldNames);
                read.caption = grp1->title().toStdString();
                read.connectionString = qry4.ConnectionString();
                read.sql = qry4.SQL();
                promise->set_value(std::move(read));
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        },
        Qt::QueuedConnection);
    // The window may be closing, and then never answers.
    const std::atomic<bool>* cancelled = exportWorker_.CancelFlag();
    while (state.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        if (cancelled->load())
            throw Abort();
    return state.get();
}


bool TForm1::TableExist(data::TADOConnection& connection, const std::string& tableName)
{
    return favourites::TableExist(connection, tableName);
}

void TForm1::showEvent(QShowEvent* event)
{
    app::Guard([this] { app::CentreOnFirstShow(*this, centred_); });
    QWidget::showEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    app::Guard([this] { FormClose(); });
    // The window's own close action stays "hide".
    event->accept();
}

bool TForm1::PrepareDatabase(const std::string& password, const std::string& user, const std::string& sid)
{
    // The favourites come first and are not guarded: a store that cannot be
    // made or opened stops the Login here, before any database setting.
    favourites::EnsureAndOpen(FavouritesFileName, con1, qry3, platform::FilesDirectory());

    try {
        qry1.SetConnectionString(login::DatabaseConnectionString(password, user, sid));
    } catch (const std::exception&) {
        app::ShowMessageBox("eooor");
        return false;
    }
    qry2.SetConnectionString(login::DatabaseConnectionString(password, user, sid));
    qry4.SetConnectionString(login::DatabaseConnectionString(password, user, sid));
    return true;
}

void TForm1::FirstQueries()
{
    // The first user's tables, then the first favourite's rows, each query
    // made once the one before is in (on a worker when rows stream); a
    // failure ends the chain silently, and so does a click of the user's
    // own on the rows in the meantime.
    try {
        qry1.MoveFirst();
        const std::string firstUser = qry1.FieldNamed(browser::kUserColumn).PlainText();
        qry2.SetSQL(browser::TablesSql(firstUser));
        const std::uint64_t rowsOpened = qry4.OpenSerial();
        qry2.OpenThen([this, rowsOpened](std::exception_ptr failure) {
            if (failure || qry4.Opening() || qry4.OpenSerial() != rowsOpened)
                return;
            Silently([this] {
                qry2.MoveFirst();
                qry4.Close();
                const std::string favourite = qry3.FieldNamed(favourites::kFavouriteColumn).PlainText();
                qry4.SetSQL(browser::RowsSql(favourite));
                ShowRowsThen(browser::DataCaptionFor(favourite));
            });
        });
    } catch (const std::exception&) {
    }
}

void TForm1::OpenDatabase(const std::string& password, const std::string& user, const std::string& sid,
                          std::function<void(std::exception_ptr)> done)
{
    if (!PrepareDatabase(password, user, sid)) {
        done(nullptr);
        return;
    }
    try {
        qry1.SetSQL(browser::UsersSql());
    } catch (const std::exception&) {
        done(nullptr);
        return;
    }
    // The sign-on is made on a worker; the window goes on painting. One that
    // fails (unreachable, wrong password, no data source or driver) is
    // handed to done, so that the login window stays for another try;
    // failures after the connection was made (a first favourite that is no
    // readable table) end the first queries silently, and the window shows
    // what was filled before them.
    qry1.OpenThen([this, done = std::move(done)](std::exception_ptr failure) {
        if (failure) {
            try {
                std::rethrow_exception(failure);
            } catch (const data::ConnectionFailed&) {
                done(failure);
            } catch (...) {
                done(nullptr);
            }
            return;
        }
        FirstQueries();
        done(nullptr);
    });
}

bool TForm1::SigningOn() const { return qry1.Opening(); }

void TForm1::StopSigningOn() { qry1.StopFetching(); }

} // namespace querlin
