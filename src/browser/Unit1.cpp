#include "browser/Unit1.h"

#include "app/Globals.h"
#include "app/Guard.h"
#include "favourites/Favourites.h"
#include "login/Database.h"
#include "login/main.h"

#include "platform/Error.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

#include <chrono>
#include <future>

namespace querlin {

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
    ds1.SetDataSet(&qry1);
    ds2.SetDataSet(&qry2);
    ds3.SetDataSet(&qry3);
    ds4.SetDataSet(&qry4);
    grp1 = new QGroupBox(QString::fromUtf8(login::kDataCaption), this);
    grp1->setObjectName(QStringLiteral("grp1"));
    grp1->setGeometry(0, 172, 777, 377);

    lbl1 = new QLabel(grp1);
    lbl1->setObjectName(QStringLiteral("lbl1"));
    lbl1->move(416, 0);
    lbl1->adjustSize();

    pm4 = new QMenu(this);
    pm4->setObjectName(QStringLiteral("pm4"));
    S1 = pm4->addAction(QStringLiteral("保存数据到(&S)"));
    S1->setObjectName(QStringLiteral("S1"));
    connect(S1, &QAction::triggered, this, [this] { app::Guard([this] { S1Click(); }); });
    grp1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grp1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pm4->popup(grp1->mapToGlobal(at)); });
}

TForm1::~TForm1()
{
    exportWorker_.CancelAndWait();
}

void TForm1::FormCreate()
{
    ExportIdle = true;
}

void TForm1::FormClose()
{
    frmmain->close();
}

void TForm1::N2Click()
{
    favourites::AddSelectedTable(qry3, qry1, qry2);
}

void TForm1::N3Click()
{
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
    exportWorker_.Start([this] { CopyDbDataToExcel(ds4); }, ExportIdle);
}

void TForm1::CopyDbDataToExcel(data::TDataSource& grid)
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

exports::WindowState TForm1::ReadExportState(data::TDataSource& grid)
{
    auto promise = std::make_shared<std::promise<exports::WindowState>>();
    auto state = promise->get_future();
    QMetaObject::invokeMethod(
        this,
        [this, &grid, promise] {
            try {
                exports::WindowState read;
                if (data::TADOQuery* viewed = grid.DataSet())
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

void TForm1::closeEvent(QCloseEvent* event)
{
    app::Guard([this] { FormClose(); });
    // The window's own close action stays "hide".
    event->accept();
}

} // namespace querlin
