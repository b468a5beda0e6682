// The desktop the window opens on: its display connection, what becomes of the program
// when that connection breaks, the scale the desktop's settings ask for, and the
// program's icon.
#pragma once

namespace app {

// Opens the display (FLTK calls Fl::fatal when it cannot) and watches the connection:
// when it breaks, a line on standard error says so, DisplayLost() is true from then on,
// and the program goes on, so that a run can end and clean up as on SIGHUP. Every call
// on the display afterwards does nothing.
void OpenDisplay();
bool DisplayLost();

// The factor the window is scaled by (scale_factor.h) for the environment and the open
// display's resources.
double DesktopScaleFactor();

// The packaged icon, rendered at several sizes into the program, as the icon of every
// window shown from now on; the window manager takes the size it needs.
void UseProgramIcon();

}  // namespace app
