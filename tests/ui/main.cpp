// Window suites: one QApplication for the whole run, on the platform that
// the test environment names (offscreen under ctest).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS(); // listing needs no windows
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
