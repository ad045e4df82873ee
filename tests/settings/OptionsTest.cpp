#include <gtest/gtest.h>
TEST(Options, Placeholder) {}
