// The main window on FLTK: a fixed 346 x 144 window with Button1, the two-panel
// StatusBar1, ProgressBar1, the open-file dialog, message boxes and Timer1, whose tick
// drives the workflow's time base. On a desktop of higher density every coordinate and
// font is scaled by one factor, and the window stays fixed at that size. Its members
// carry the form designer's style of names, components and event handlers alike.
#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Progress.H>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "window/fltk_fd_watch.h"
#include "workflow/clock.h"
#include "workflow/main_window_ui.h"
#include "workflow/tick_schedule.h"

namespace app {

class FltkMainWindow final : public MainWindowUi {
 public:
  static constexpr int kClientWidth = 346;
  static constexpr int kClientHeight = 144;

  // events: the loop's descriptor watch, held back while the window only repaints.
  // scale: the desktop's factor (desktop.h), for the boxes too.
  FltkMainWindow(Clock& clock, FltkFdWatch& events, double scale = 1);
  ~FltkMainWindow() override;
  FltkMainWindow(const FltkMainWindow&) = delete;
  FltkMainWindow& operator=(const FltkMainWindow&) = delete;

  std::function<void()> OnTimer;       // Timer1's, every 10 ms
  std::function<void()> OnClick;       // Button1's
  std::function<bool()> OnCloseQuery;  // the window may close when it says true
  // True when a request to stop waits: every box and dialog closes then (the timer asks,
  // as it runs inside their loops too).
  std::function<bool()> StopPending;

  // The X class the desktop matches the window to its entry by; before Run.
  void SetWindowClass(const std::string& name);

  // Shows the window centred on the desktop and runs the message loop until it closes.
  void Run();
  void Close();
  // Repaints what the desktop asks to be repainted and nothing else: no tick, no device
  // event, no close runs meanwhile. For a thread that is blocked in a write; what was
  // held back runs when the loop next runs as usual.
  void RepaintWhileBlocked();

  void SetCaption(const std::string& text) override;
  void SetButtonCaption(const std::string& text) override;
  void SetButtonEnabled(bool enabled) override;
  void SetStatusText(const std::string& text) override;
  void SetProgressVisible(bool visible) override;
  void SetProgress(int position) override;
  void ShowPrinterPort(const std::string& portPath) override;
  void Refresh() override;
  void PumpMessages() override;
  void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon,
                   const std::string& detail) override;
  void ShowOutcome(const std::string& text, const std::string& caption, BoxIcon icon,
                   const std::string& detail, const std::vector<std::string>& warnings) override;
  bool OutcomeOverTheRun() const override { return true; }
  void ShowNotice(const std::string& text) override;
  bool AskOkCancel(const std::string& text, const std::string& caption) override;
  Confirmation ConfirmUpdate(const UpdateSummary& summary,
                             const std::function<void()>& whileWaiting) override;
  std::optional<std::string> ChooseFile(const FileDialogRequest& request) override;

 private:
  static void Timer1Event(void* self);
  static void Button1Event(Fl_Widget* widget, void* self);
  static void CloseEvent(Fl_Widget* widget, void* self);
  // A size of the window's design at the desktop's scale.
  int Scaled(int size) const;

  Clock& SystemClock;
  FltkFdWatch& Events;
  TickSchedule Timer1;
  const double Scale;
  // The window comes first: the widgets after it join it as they are built.
  Fl_Double_Window Window;
  Fl_Button Button1;
  Fl_Box StatusBar1;    // panel 0, "Info:"
  Fl_Box StatusPanel1;  // panel 1, the status text
  Fl_Box PortPanel;     // while an update runs: the USB port of its printer
  Fl_Progress ProgressBar1;
  bool Held = false;        // only repainting
  bool CloseAsked = false;  // a close came while held
};

}  // namespace app
