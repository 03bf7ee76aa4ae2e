#include <gtest/gtest.h>
#include "disk/pda.h"
TEST(Calendar, Leap) { EXPECT_TRUE(is_leap_year(2000)); }
