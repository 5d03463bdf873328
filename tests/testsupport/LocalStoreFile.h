#pragma once
// A local store file in a temporary folder, for record-set tests that need a
// real data source but no server.

#include "data/DataSet.h"
#include "data/Provider.h"
#include "platform/Locale.h"
#include "testsupport/TestSupport.h"

#include <string>

namespace querlin::test {

class LocalStoreFile {
public:
    LocalStoreFile()
        : connectionString_("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + dir_.File("store.mdb") + ";")
    {
        data::CreateLocalStore(connectionString_);
    }

    const std::string& ConnectionString() const { return connectionString_; }

    std::int64_t Run(const std::string& sql) const
    {
        data::TADOQuery q;
        q.SetConnectionString(connectionString_);
        q.SetSQL(sql);
        return q.Execute();
    }

    // A table "t" (id counter key, n integer, name varchar(50)) with rows n = 1..count.
    void MakeNumbered(int count, const std::string& table = "t") const
    {
        Run("CREATE TABLE " + table + " (id Counter, n integer, name varchar(50), PRIMARY KEY (id))");
        if (count > 0)
            Run("INSERT INTO " + table + " (n, name) WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
                "SELECT x + 1 FROM c WHERE x < " + std::to_string(count) + ") SELECT x, 'row ' || x FROM c");
    }

    void OpenQuery(data::TADOQuery& q, const std::string& sql) const
    {
        q.SetConnectionString(connectionString_);
        q.SetSQL(sql);
        q.Open();
    }

private:
    TempDir dir_;
    std::string connectionString_;
};

// Fixed locale settings for the length of a test.
class FixedLocale {
public:
    explicit FixedLocale(const platform::LocaleSettings& settings = {}) : saved_(platform::UserLocale())
    {
        platform::SetUserLocaleForTesting(settings);
    }
    ~FixedLocale() { platform::SetUserLocaleForTesting(saved_); }

private:
    platform::LocaleSettings saved_;
};

} // namespace querlin::test
