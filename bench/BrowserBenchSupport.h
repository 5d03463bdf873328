#pragma once
// The browser window as after the sign-on on the bench server: one user,
// QLBENCH, whose tables are the ones the given SELECT lists (as 用户表).

#include "BenchSupport.h"

#include "windows/Unit1.h"

#include <string>

namespace querlin::bench {

inline void OfferTables(TForm1& window, const std::string& tablesSelect)
{
    const BenchDatabase& db = RequireBenchDatabase();
    window.qry1.SetConnectionString(db.AdoConnectionString());
    window.qry2.SetConnectionString(db.AdoConnectionString());
    window.qry4.SetConnectionString(db.AdoConnectionString());
    // The user and table lists as the dictionary gives them.
    window.qry1.SetSQL("SELECT 'QLBENCH' AS 用户");
    window.qry1.Open();
    window.qry2.SetSQL(tablesSelect);
    window.qry2.Open();
    window.show();
}

} // namespace querlin::bench
