// Program entry. The command line holds only --help and --version (and Qt's
// own options), answered before any window or display exists.
#include "data/DataSet.h"
#include "platform/RowMemory.h"
#include "windows/Shell.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#ifdef _WIN32
#include <objbase.h>
#endif

int main(int argc, char** argv)
{
    querlin::platform::ShareOneHeap();
    if (const std::optional<int> status = querlin::app::AnswerCommandLine(argc, argv))
        return *status;
#ifdef _WIN32
    // The data-access components and the spreadsheet automation need the
    // GUI thread in a single-threaded apartment before any window exists.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif
    int result = 0;
    {
        QApplication application(argc, argv);
        querlin::app::InitialiseApplication(application);
        querlin::app::InstallGuiPoster();
        querlin::app::CreateWindows();
        result = querlin::app::RunMessageLoop();
        querlin::app::DestroyWindows();
    }
#ifdef _WIN32
    CoUninitialize();
#endif
    // A record set's worker let go may still sit in a driver's call to a
    // server that no longer answers: the libraries' tear-down must not run
    // under it.
    if (!querlin::data::WaitForWorkers(std::chrono::milliseconds(200))) {
        std::fflush(nullptr);
        std::_Exit(result);
    }
    return result;
}
