#pragma once
// The browser window as after the sign-on on the bench server: one user,
// QLBENCH, whose tables are the ones the given SELECT lists (as 用户表).

#include "BenchSupport.h"

#include "windows/Unit1.h"
#include "windows/TestAccess.h"

#include <QCoreApplication>
#include <QTimer>

#include <functional>
#include <stdexcept>
#include <string>

namespace querlin::bench {

inline void OfferTables(TForm1& window, const std::string& tablesSelect)
{
    const BenchDatabase& db = RequireBenchDatabase();
    test::Of(window).qry1.SetConnectionString(db.AdoConnectionString());
    test::Of(window).qry2.SetConnectionString(db.AdoConnectionString());
    test::Of(window).qry4.SetConnectionString(db.AdoConnectionString());
    // The user and table lists as the dictionary gives them.
    test::Of(window).qry1.SetSQL("SELECT 'QLBENCH' AS 用户");
    test::Of(window).qry1.Open();
    test::Of(window).qry2.SetSQL(tablesSelect);
    test::Of(window).qry2.Open();
    window.show();
}

// Runs the event loop until done(); a timer wakes it every 5 ms so that no
// condition is slept through. A wait past the time fails the run.
inline void ProcessUntil(const std::function<bool()>& done, double timeoutSeconds = 600)
{
    QTimer ticker;
    ticker.start(5);
    const double until = NowSeconds() + timeoutSeconds;
    while (!done()) {
        if (NowSeconds() > until)
            throw std::runtime_error("timed out waiting for the window");
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

} // namespace querlin::bench
