#include <gtest/gtest.h>

#include "support/test_support.h"

TEST(Frame, Placeholder) { EXPECT_EQ(fnORVIX_0500(), 42); }
