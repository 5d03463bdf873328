#pragma once
// The browser window as after the sign-on on the bench server: one user,
// QLBENCH, whose tables are the ones the given SELECT lists (as 用户表).

#include "BenchSupport.h"

#include "windows/Unit1.h"
#include "windows/TestAccess.h"

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

} // namespace querlin::bench
