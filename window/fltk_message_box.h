// Modal message boxes in the style of the system's own: an icon, the text, and OK (or
// OK and Cancel) buttons. The event loop keeps running meanwhile, timers included.
#pragma once

#include <functional>
#include <string>

namespace app {

enum class DialogIcon { kError, kInformation, kQuestion };

// Shows the box and waits until it is answered. With withCancel the box has OK and
// Cancel, Cancel being the default; closing the box counts as Cancel. True for OK.
bool RunMessageBox(const std::string& caption, DialogIcon icon, const std::string& text,
                   bool withCancel);

// The factor the boxes' geometry and fonts are scaled by, as the main window's (1 at
// first).
void SetMessageBoxScale(double factor);

// Closes whatever modal window is open, a box or the file dialog, and any it opened in
// turn: each one's loop ends as if it had been cancelled.
void CloseModalWindows();

// Runs an event handler of the window's loop. An exception that escapes it is shown in
// an error box and the loop goes on; one that escapes while such a box is open goes to
// standard error, so that a handler failing on every tick cannot stack boxes up.
void RunEventHandler(const std::function<void()>& handler);

}  // namespace app
