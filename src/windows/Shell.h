#pragma once
// Start-up and shutdown of the program, split into steps so that tests can
// run the same start-up as the program's entry does.
//
// GUI thread only.

#include "windows/Guard.h"

#include <memory>
#include <optional>

class QApplication;
class QWidget;

namespace querlin::app {

// Creates a window into its global: the global is assigned before the
// window's creation handler runs, so the handler may reach its own window
// through it, as other code does. An error in FormCreate is reported and
// the window is created all the same.
// The owner keeps the window; the global only names it.
template <class Form> void CreateForm(std::unique_ptr<Form>& owner, Form*& global)
{
    owner = std::make_unique<Form>();
    Form* form = owner.get();
    global = form;
    Guard([form] { form->FormCreate(); });
}

// Reads the command line before any window or display exists. The program
// takes no arguments of its own: --help and --version answer on standard
// output (the exit status 0), anything else unknown is reported on standard
// error (the exit status 2); Qt's own options (-platform, -style ...) are let
// through for the application object. Returns the exit status when the
// program should end now, nothing when it should start.
std::optional<int> AnswerCommandLine(int argc, char** argv);

// Sets the application title, name and version and the icon, before any
// window exists, so both windows and message boxes carry them. Also lets
// only the login window end the program: hiding it at the hand-over must
// not end the run.
void InitialiseApplication(QApplication& application);

// Lets record sets opened on the GUI thread fetch their rows on workers:
// the workers' tasks reach the GUI thread through the event loop. Call on
// the GUI thread once the application object exists.
void InstallGuiPoster();

// Creates the login window into frmmain first, so it is the main window,
// then the browser window, hidden, into Form1. Each global is assigned
// before its window's
// FormCreate runs; an error in FormCreate is reported and the window is
// still created.
void CreateWindows();

// Centres a window on its screen, frame included.
void CentreOnScreen(QWidget& window);
// The windows' show events: centres the window the first time only
// (centred records that it was done).
void CentreOnFirstShow(QWidget& window, bool& centred);

// Draws the group boxes of a window as the platform's standard ones look:
// an etched frame from the middle of the caption line down, the caption
// inset on it over the window's face colour. (Qt's own style draws the
// frame so faintly that the boxes seem to run into one another.) The
// contents keep their places: the boxes' children are placed by hand.
void EtchGroupBoxes(QWidget& window);

// Shows the login window, centred on the screen the first time.
void ShowMainWindow();

// Shows the login window, centred, and runs the message loop until the
// program is asked to end.
int RunMessageLoop();

// Destroys the browser window, then the login window: the browser's
// record sets and grids go while the login window they were opened from
// still exists.
void DestroyWindows();

// Asks the program to end: the message loop ends after the current message
// (or does not start, when asked before).
void Terminate();
bool TerminationRequested();
// Tests start a fresh program in the same process.
void ResetTerminationForTesting();

} // namespace querlin::app
