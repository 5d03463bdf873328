#include <gtest/gtest.h>
#include "platform/Error.h"

TEST(Smoke, ErrorCarriesItsText)
{
    querlin::Error e("Field 'X' not found");
    EXPECT_STREQ(e.what(), "Field 'X' not found");
}
