// The main window's logic: mode, button, status, the timer's tick, the waits that keep
// the window alive, the update procedure, the firmware step and the maker. The window
// itself is whatever MainWindowUi the front end gives.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "app/clock.h"
#include "app/command_channel.h"
#include "app/main_window_ui.h"

class TOPFile;

namespace app {

// Where the workflow finds its own executable and the HID library image it carries.
struct WorkflowEnvironment {
  std::string executablePath;
  // The "rc_dll"/"dll" image; nullopt when the executable carries none.
  std::function<std::optional<std::span<const uint8_t>>()> libraryImage;
};

// Texts the operator sees.
namespace texts {
inline constexpr char kMakerCaption[] = "VRQ Update Maker";
inline constexpr char kUpdateButton[] = "Update";
inline constexpr char kMakeButton[] = "Make";
inline constexpr char kUpdateSuccess[] = "Update Success!";
inline constexpr char kMakeSuccess[] = "make new update application Success";
}  // namespace texts

class TMainForm {
 public:
  TMainForm(MainWindowUi& ui, CommandChannel& channel, Clock& clock, WorkflowEnvironment env);
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Reads the mode from the settings file and sets the captions.
  void FormCreate();
  void FormDestroy() {}
  // Runs the mode's operation with the button disabled.
  void Button1Click();
  // Button1Click with a package path for the maker (empty: ask the operator).
  void RunOperation(const std::string& makerPackagePath);
  void ShowStatus(const std::string& text);
  void Timer1Timer();

  // Waits up to timeLimitMs for a complete reply line, keeping the window alive.
  std::string WaitForReply(bool keepReply, uint32_t timeLimitMs);
  void Delay(uint32_t ms);

  // The firmware-loader step; true when the printer asked for the rest of the update.
  bool SendFirmware(const TOPFile& package);
  // The update procedure: -1 when it ended before the package was examined, else 0.
  int32_t RunUpdate();
  // The maker: -1 when the operator cancelled the file dialog, else 0.
  int32_t MakeUpdateApp(const std::string& packagePath);

  bool MakerMode = false;

  // True when the last operation ended with its success box.
  bool LastRunSucceeded() const { return lastRunSucceeded_; }
  CommandChannel& Channel() { return channel_; }
  MainWindowUi& Ui() { return ui_; }
  Clock& SystemClock() { return clock_; }
  const WorkflowEnvironment& Environment() const { return env_; }

  // Message boxes of the workflow.
  void ErrorBox(const std::string& text, const std::string& detail = {});
  void SuccessBox(const std::string& text, const std::string& caption);
  FileDialogRequest OpenDialog1() const;

 private:
  MainWindowUi& ui_;
  CommandChannel& channel_;
  Clock& clock_;
  WorkflowEnvironment env_;
  bool lastRunSucceeded_ = false;
  // Why the last firmware step failed, for the error box's detail line.
  std::string firmwareProblem_;
  bool WriteFailed(const char* what);

  friend class UpdateRun;
};

}  // namespace app
