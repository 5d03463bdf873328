#include "windows/Globals.h"

namespace querlin {

Tfrmmain* frmmain = nullptr;
TForm1* Form1 = nullptr;
std::atomic<bool> ExportIdle{false};
std::string FavouritesFileName;

} // namespace querlin
