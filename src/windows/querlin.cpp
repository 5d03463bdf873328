// Program entry. The command line is ignored.
#include "windows/Shell.h"

#include <QApplication>

#ifdef _WIN32
#include <objbase.h>
#endif

int main(int argc, char** argv)
{
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
    return result;
}
