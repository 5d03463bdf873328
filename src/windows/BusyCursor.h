#pragma once
// Shows the platform's busy pointer while a query runs on the GUI thread:
// opening a large table takes seconds, and the user must see that the
// program is working, not hung. The pointer comes back when the scope ends,
// also when it ends with an error. Nests. GUI thread only.

#include <QApplication>
#include <QCursor>

namespace querlin::app {

class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace querlin::app
