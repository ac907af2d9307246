// Entry point of every test program: a private temporary directory, then GoogleTest.
#include "support/test_support.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing_support::CreatePrivateTempDir();
    const int result = RUN_ALL_TESTS();
    testing_support::RemovePrivateTempDir();
    return result;
}
