#include "window/desktop.h"

#include <FL/Fl_PNG_Image.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <X11/Xlib.h>
#include <X11/Xresource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/blob.h"
#include "window/scale_factor.h"

namespace app {
namespace {

bool displayLost = false;

// Xlib calls this when the connection breaks (the server went away, the socket was
// closed). FLTK's own handler would take it for a display that cannot be opened.
int ConnectionBroke(Display*) {
  if (!displayLost) {
    displayLost = true;
    std::fputs("vrq-update: the connection to the display was lost\n", stderr);
  }
  return 0;
}

// Returning from here lets the program go on: Xlib marks the connection broken and every
// later call on it returns at once, so that the window can close and the run end through
// its own clean-up.
void GoOnWithoutDisplay(Display*, void*) {}

// Xft.dpi from the resources the desktop put on the display (xrdb, the settings daemon).
std::optional<double> XftDpi() {
  const char* resources = XResourceManagerString(fl_display);
  if (resources == nullptr) return std::nullopt;
  XrmInitialize();
  const std::unique_ptr<std::remove_pointer_t<XrmDatabase>, decltype(&XrmDestroyDatabase)> database(
      XrmGetStringDatabase(resources), &XrmDestroyDatabase);
  if (database == nullptr) return std::nullopt;
  char* type = nullptr;
  XrmValue value{};
  if (!XrmGetResource(database.get(), "Xft.dpi", "Xft.Dpi", &type, &value) ||
      value.addr == nullptr) {
    return std::nullopt;
  }
  return PositiveNumber(std::string(value.addr, strnlen(value.addr, value.size)).c_str());
}

}  // namespace

void OpenDisplay() {
  fl_open_display();
  // FLTK's own handler takes a broken connection for a display that cannot be opened.
  XSetIOErrorHandler(&ConnectionBroke);
  XSetIOErrorExitHandler(fl_display, &GoOnWithoutDisplay, nullptr);
}

bool DisplayLost() {
  return displayLost;
}

double DesktopScaleFactor() {
  return ScaleFactorFor(std::getenv("FLTK_SCALING_FACTOR"), XftDpi());
}

void UseProgramIcon() {
  std::vector<std::unique_ptr<Fl_PNG_Image>> images;
  for (const char* size : {"16", "32", "48", "64", "128"}) {
    const std::optional<std::span<const uint8_t>> png = platform::FindBlob("icon", size);
    if (!png) continue;
    auto image =
        std::make_unique<Fl_PNG_Image>(nullptr, png->data(), static_cast<int>(png->size()));
    if (image->fail() == 0) images.push_back(std::move(image));
  }
  if (images.empty()) return;
  // FLTK keeps copies of its own.
  std::vector<const Fl_RGB_Image*> icons;
  for (const auto& image : images)
    icons.push_back(image.get());
  Fl_Window::default_icons(icons.data(), static_cast<int>(icons.size()));
}

}  // namespace app
