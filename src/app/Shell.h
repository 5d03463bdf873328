#pragma once
// Start-up and shutdown of the program, split into steps so that tests can
// run the same start-up as the program's entry does.
//
// GUI thread only.

#include "app/Guard.h"

class QApplication;

namespace querlin::app {

// Creates a window into its global: the global is assigned before the
// window's creation handler runs, so the handler may reach its own window
// through it, as other code does. An error in FormCreate is reported and
// the window is created all the same.
template <class Form> void CreateForm(Form*& global)
{
    Form* form = new Form();
    global = form;
    Guard([form] { form->FormCreate(); });
}

// Start-up step 2 and the platform's own marks: application title,
// name and version, icon. Also lets only the login window end the program.
void InitialiseApplication(QApplication& application);

// Start-up steps 3 and 4: the login window into frmmain, then the browser
// window, hidden, into Form1. Each global is assigned before its window's
// FormCreate runs; an error in FormCreate is reported and the window is
// still created.
void CreateWindows();

// Shows the login window, centred on the screen the first time.
void ShowMainWindow();

// Start-up step 5: shows the login window, centred, and runs the message
// loop until the program is asked to end.
int RunMessageLoop();

// Step 6: destroys the browser window, then the login window.
void DestroyWindows();

// Asks the program to end: the message loop ends after the current message
// (or does not start, when asked before).
void Terminate();
bool TerminationRequested();
// Tests start a fresh program in the same process.
void ResetTerminationForTesting();

} // namespace querlin::app
