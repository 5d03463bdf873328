#include <gtest/gtest.h>
#include "testsupport/TestSupport.h"

TEST(TestDatabaseSmoke, ServerSettingsAreThere)
{
    const auto& db = querlin::test::RequireTestDatabase();
    EXPECT_FALSE(db.dsn.empty());
    EXPECT_GT(db.port, 0);
}
