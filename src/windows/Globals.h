#pragma once
// The program's global state. Owned by the GUI thread, except the
// export-idle flag, which the export worker also reads and writes.

#include <atomic>
#include <string>

namespace querlin {

class Tfrmmain;
class TForm1;

// Caption of the taskbar button, of every message box and of the browser window.
inline constexpr const char* ApplicationTitle = "Querlin";

// The login window, the main window: closing it ends the program. Assigned
// before its FormCreate runs.
extern Tfrmmain* frmmain;
// The browser window, created hidden. Assigned before its FormCreate runs.
extern TForm1* Form1;
// True while no export runs; false until the browser window is created.
extern std::atomic<bool> ExportIdle;
// The favourites store's file, set when the database is opened.
extern std::string FavouritesFileName;

} // namespace querlin
