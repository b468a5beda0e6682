#include "window/fltk_main_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Native_File_Chooser.H>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "platform/fs.h"
#include "platform/printable_text.h"
#include "window/fltk_message_box.h"
#include "workflow/text_tools.h"

namespace app {
namespace {

// The window's design at 96 dpi.
constexpr int kFontSize = 11;  // 8 point
constexpr int kPanel0Width = 50;
constexpr int kPortPanelWidth = 90;
constexpr int kStatusTop = 125;
constexpr int kStatusHeight = 19;

// A status text on one line, with FLTK's "@" symbols shown as they are and control
// characters (a printer's reply may hold any) escaped.
std::string PanelText(const std::string& text) {
  std::string out;
  for (char c : platform::Printable(OneLine(text))) {
    if (c == '@') out += '@';
    out += c;
  }
  return out;
}

// The package's warnings, one a line, for a box.
std::string WarningLines(const std::vector<std::string>& warnings) {
  std::string lines;
  for (const std::string& warning : warnings)
    lines += "\n- " + OneLine(warning);
  return lines;
}

}  // namespace

FltkMainWindow::FltkMainWindow(Clock& clock, FltkFdWatch& events, double scale)
    : SystemClock(clock),
      Events(events),
      Scale(scale),
      Window(Scaled(kClientWidth), Scaled(kClientHeight), "VRQ Update Maker"),
      Button1(Scaled(96), Scaled(24), Scaled(137), Scaled(41), "Update"),
      StatusBar1(0, Scaled(kStatusTop), Scaled(kPanel0Width), Scaled(kStatusHeight), "Info:"),
      StatusPanel1(Scaled(kPanel0Width), Scaled(kStatusTop), Scaled(kClientWidth - kPanel0Width),
                   Scaled(kStatusHeight)),
      PortPanel(Scaled(kClientWidth - kPortPanelWidth), Scaled(kStatusTop), Scaled(kPortPanelWidth),
                Scaled(kStatusHeight)),
      ProgressBar1(Scaled(40), Scaled(80), Scaled(265), Scaled(17)) {
  // FLTK's own chooser: the GTK one stops the timer while it is open.
  Fl::option(Fl::OPTION_FNFC_USES_GTK, false);
  SetMessageBoxScale(Scale);

  Window.color(FL_BACKGROUND_COLOR);
  Window.labelsize(Scaled(kFontSize));
  Button1.labelsize(Scaled(kFontSize));
  Button1.callback(&FltkMainWindow::Button1Event, this);
  for (Fl_Box* panel : {&StatusBar1, &StatusPanel1, &PortPanel}) {
    panel->box(FL_THIN_DOWN_BOX);
    panel->labelsize(Scaled(kFontSize));
    panel->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  }
  PortPanel.hide();
  ProgressBar1.minimum(0);
  ProgressBar1.maximum(100);
  ProgressBar1.value(0);
  ProgressBar1.selection_color(FL_DARK_BLUE);
  ProgressBar1.hide();
  Window.end();
  // Fixed size: the window manager offers no maximise box then.
  Window.size_range(Window.w(), Window.h(), Window.w(), Window.h());
  Window.callback(&FltkMainWindow::CloseEvent, this);

  Timer1.Start(SystemClock.NowMs());
  Fl::add_timeout(TickSchedule::kPeriodMs / 1000.0, &FltkMainWindow::Timer1Event, this);
}

FltkMainWindow::~FltkMainWindow() {
  Fl::remove_timeout(&FltkMainWindow::Timer1Event, this);
}

int FltkMainWindow::Scaled(int size) const {
  return static_cast<int>(std::lround(size * Scale));
}

void FltkMainWindow::SetWindowClass(const std::string& name) {
  Window.xclass(name.c_str());
}

void FltkMainWindow::Run() {
  Window.position((Fl::w() - Window.w()) / 2, (Fl::h() - Window.h()) / 2);
  Window.show();
  Fl::run();
}

void FltkMainWindow::SetCaption(const std::string& text) {
  Window.copy_label(text.c_str());
}

void FltkMainWindow::SetButtonCaption(const std::string& text) {
  Button1.copy_label(text.c_str());
}

void FltkMainWindow::SetButtonEnabled(bool enabled) {
  if (enabled) {
    Button1.activate();
  } else {
    Button1.deactivate();
  }
}

void FltkMainWindow::SetStatusText(const std::string& text) {
  StatusPanel1.copy_label(PanelText(text).c_str());
  StatusPanel1.redraw();
}

void FltkMainWindow::SetProgressVisible(bool visible) {
  if (visible) {
    ProgressBar1.show();
  } else {
    ProgressBar1.hide();
  }
}

void FltkMainWindow::SetProgress(int position) {
  ProgressBar1.value(static_cast<float>(std::clamp(position, 0, 100)));
}

// The status text keeps its panel; the port gets one of its own at the right end while
// an update runs, so that with several printers attached the operator sees which one
// is being written.
void FltkMainWindow::ShowPrinterPort(const std::string& portPath) {
  const int statusWidth = kClientWidth - kPanel0Width - (portPath.empty() ? 0 : kPortPanelWidth);
  StatusPanel1.resize(Scaled(kPanel0Width), Scaled(kStatusTop), Scaled(statusWidth),
                      Scaled(kStatusHeight));
  if (portPath.empty()) {
    PortPanel.hide();
  } else {
    PortPanel.copy_label(PanelText("USB " + portPath).c_str());
    PortPanel.show();
  }
  Window.redraw();
}

void FltkMainWindow::Refresh() {
  Fl::flush();
}

void FltkMainWindow::PumpMessages() {
  Fl::check();
}

void FltkMainWindow::ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon,
                                 const std::string& detail) {
  std::string body = text;
  if (!detail.empty()) body += "\n\n" + detail;
  RunMessageBox(caption, icon == BoxIcon::kError ? DialogIcon::kError : DialogIcon::kInformation,
                body, false);
}

// The package's warnings follow the detail: the update went ahead, or failed, with a
// package that was not quite sound.
void FltkMainWindow::ShowOutcome(const std::string& text, const std::string& caption, BoxIcon icon,
                                 const std::string& detail,
                                 const std::vector<std::string>& warnings) {
  std::string withWarnings = detail;
  if (!warnings.empty()) {
    if (!withWarnings.empty()) withWarnings += "\n\n";
    withWarnings += "The package loaded with warnings:" + WarningLines(warnings);
  }
  ShowMessage(text, caption, icon, withWarnings);
}

void FltkMainWindow::ShowNotice(const std::string& text) {
  std::fprintf(stderr, "%s\n", OneLine(text).c_str());
}

bool FltkMainWindow::AskOkCancel(const std::string& text, const std::string& caption) {
  return RunMessageBox(caption, DialogIcon::kQuestion, text, true);
}

// The button's click confirms an update with a sound package; a package that loaded
// with warnings is asked about before anything goes to the printer.
Confirmation FltkMainWindow::ConfirmUpdate(const UpdateSummary& summary,
                                           const std::function<void()>& whileWaiting) {
  if (summary.warnings.empty()) return Confirmation::kYes;
  std::string printer =
      summary.portPath.empty() ? "the printer" : "the printer on USB " + summary.portPath;
  const bool ok =
      RunMessageBox("Warning", DialogIcon::kQuestion,
                    "The package loaded with warnings:" + WarningLines(summary.warnings) +
                        "\n\nUpdate " + printer + " with it all the same?",
                    true);
  // A request to stop closes the question; it ends the run here.
  if (whileWaiting) whileWaiting();
  return ok ? Confirmation::kYes : Confirmation::kNo;
}

std::optional<std::string> FltkMainWindow::ChooseFile(const FileDialogRequest& request) {
  Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_FILE);
  chooser.title(request.title.c_str());
  chooser.filter(request.filter.c_str());
  chooser.filter_value(0);
  chooser.directory(request.initialFolder.c_str());
  if (chooser.show() != 0 || chooser.filename() == nullptr) return std::nullopt;
  std::string chosen = chooser.filename();
  // A name typed without an extension means the dialog's default one, as on the desktop
  // the packages come from.
  if (!platform::PathExists(chosen) && !request.defaultExtension.empty() &&
      platform::FileNameOf(chosen).find('.') == std::string::npos) {
    chosen += "." + request.defaultExtension;
  }
  return chosen;
}

void FltkMainWindow::Timer1Event(void* self) {
  auto* window = static_cast<FltkMainWindow*>(self);
  // The boxes and the file dialog run loops of their own, in which this timer runs too:
  // a request to stop closes them, so that the run can end.
  if (window->StopPending && window->StopPending()) CloseModalWindows();
  const bool due = window->Timer1.Take(window->SystemClock.NowMs());
  // Rescheduled from now: a tick that came late is not made up for with a burst. And
  // before the handler runs, so that a handler that fails or shows a box does not stop
  // the timer.
  const uint64_t wait = window->Timer1.MsUntilNext(window->SystemClock.NowMs());
  Fl::add_timeout(static_cast<double>(std::max<uint64_t>(wait, 1)) / 1000.0,
                  &FltkMainWindow::Timer1Event, self);
  // While the window only repaints, the tick is skipped as it is while the thread is
  // blocked; a close asked for meanwhile is answered now.
  if (window->Held) return;
  if (std::exchange(window->CloseAsked, false)) window->CloseEvent(nullptr, self);
  if (due && window->OnTimer) RunEventHandler(window->OnTimer);
}

void FltkMainWindow::Button1Event(Fl_Widget*, void* self) {
  auto* window = static_cast<FltkMainWindow*>(self);
  if (window->OnClick) RunEventHandler(window->OnClick);
}

void FltkMainWindow::CloseEvent(Fl_Widget* widget, void* self) {
  auto* window = static_cast<FltkMainWindow*>(self);
  // Escape does not close the main window (widget is null for a close put off till now).
  if (widget != nullptr && Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  if (window->Held) {
    window->CloseAsked = true;
    return;
  }
  // A running update is not left half done without the operator's say.
  bool mayClose = true;
  if (window->OnCloseQuery) RunEventHandler([&] { mayClose = window->OnCloseQuery(); });
  if (mayClose) window->Window.hide();
}

void FltkMainWindow::RepaintWhileBlocked() {
  if (Held) return;
  Held = true;
  Events.Hold(true);
  Fl::check();
  Events.Hold(false);
  Held = false;
}

void FltkMainWindow::Close() {
  Window.hide();
}

}  // namespace app
