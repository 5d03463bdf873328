// The main of every test program: headless Qt (offscreen unless told
// otherwise) with one application object, so widget tests and plain tests
// share one runner.
#include <gtest/gtest.h>

#ifdef _WIN32
// The Windows build has no Qt and runs no widget tests.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
#else
#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
#endif
