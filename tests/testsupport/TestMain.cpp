// The main of every test program: headless Qt (offscreen unless told
// otherwise) with one application object, so widget tests and plain tests
// share one runner.
#include <gtest/gtest.h>

#include "data/DataSet.h"
#include "platform/RowMemory.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
// The Windows build has no Qt and runs no widget tests.
int main(int argc, char** argv)
{
    querlin::platform::ShareOneHeap();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (!querlin::data::WaitForWorkers(std::chrono::seconds(10))) {
        std::fflush(nullptr);
        std::_Exit(result);
    }
    return result;
}
#else
#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv)
{
    querlin::platform::ShareOneHeap();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    // A test may end with a record set's worker let go in a driver's call:
    // the libraries' tear-down must not run under it, as in the program.
    if (!querlin::data::WaitForWorkers(std::chrono::seconds(10))) {
        std::fflush(nullptr);
        std::_Exit(result);
    }
    return result;
}
#endif
