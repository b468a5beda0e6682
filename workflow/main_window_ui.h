// What the workflow asks of its window. The FLTK window, the terminal front end and the
// tests' fake each implement it; the workflow knows nothing else of them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace app {

enum class BoxIcon { kError, kInformation };

// Where an update stands, for front ends that show more than the bar: the section being
// written and its share done (the bar's position), the whole run's share done and the
// time the dialogue still takes at the least, by its fixed pacing.
struct ProgressFigures {
  std::string section;  // "" outside the flash sections
  int sectionPercent = 0;
  int runPercent = 0;
  uint64_t msLeft = 0;
};

// What the operator is asked to confirm before anything is sent to a printer.
struct UpdateSummary {
  std::string packagePath;
  std::string versionLabel;
  std::vector<std::pair<std::string, int64_t>> items;  // type and size, in package order
  std::string portPath, serial, node;                  // the printer
  uint64_t flashMs = 0;                                // what writing it takes at the least
  std::vector<std::string> warnings;  // what is odd about the package, though it loaded
};

enum class Confirmation {
  kYes,
  kNo,         // the operator said no
  kCannotAsk,  // nobody can be asked, and nothing said yes beforehand
};

struct FileDialogRequest {
  std::string title;
  std::string defaultExtension;  // without the dot
  std::string filter;            // "Name\tpattern" pairs, one per line
  std::string initialFolder;
};

class MainWindowUi {
 public:
  virtual ~MainWindowUi() = default;

  virtual void SetCaption(const std::string& text) = 0;
  virtual void SetButtonCaption(const std::string& text) = 0;
  virtual void SetButtonEnabled(bool enabled) = 0;
  // The second panel of the status bar; the first one always reads "Info:".
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetProgressVisible(bool visible) = 0;
  virtual void SetProgress(int position) = 0;  // 0 to 100
  // The figures behind the bar; the window's bar and status line show enough already.
  virtual void ShowProgressFigures(const ProgressFigures& figures) { (void)figures; }
  // The USB port of the printer being updated, "" when none is; beside the status text,
  // never in its place.
  virtual void ShowPrinterPort(const std::string& portPath) { (void)portPath; }
  // Redraws what changed, now.
  virtual void Refresh() = 0;
  // Handles the events that are waiting, once, without blocking; a due timer tick runs
  // from here.
  virtual void PumpMessages() = 0;

  // A box with an OK button. detail, when not empty, is one extra line that says which
  // file, device or step the text is about.
  virtual void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon,
                           const std::string& detail) = 0;
  // The box an operation ends with. warnings: what was odd about the package the run
  // used, though it loaded; a front end that showed them with its question already need
  // not show them again.
  virtual void ShowOutcome(const std::string& text, const std::string& caption, BoxIcon icon,
                           const std::string& detail, const std::vector<std::string>& warnings) {
    (void)warnings;
    ShowMessage(text, caption, icon, detail);
  }
  // True when that box goes over the run as it stands, its progress bar still shown and
  // its files still there, and the run gives everything back once the box is closed, as
  // a window shows it. False when the outcome is told once everything is given back.
  virtual bool OutcomeOverTheRun() const { return false; }
  // A line for the operator that needs no answer and leaves the status text alone (the
  // window writes it to standard error).
  virtual void ShowNotice(const std::string& text) = 0;
  // The OK/Cancel question (Cancel is the default); true for OK.
  virtual bool AskOkCancel(const std::string& text, const std::string& caption) = 0;
  // The package loaded with warnings: may the work go on all the same? question says what
  // would go on ("Make the update application all the same?"); Cancel is the default.
  // Unless a front end knows better, the OK/Cancel question asks it, warnings first.
  virtual bool AcceptWarnings(const std::string& question,
                              const std::vector<std::string>& warnings) {
    std::string text;
    for (const std::string& warning : warnings)
      text += warning + "\r\n";
    return AskOkCancel(text + question, "Warning");
  }
  // Asks whether to update this printer with this package. The window's button click is
  // the confirmation already. whileWaiting runs often while the operator thinks (it may
  // throw to end the run).
  virtual Confirmation ConfirmUpdate(const UpdateSummary& summary,
                                     const std::function<void()>& whileWaiting) {
    (void)summary;
    (void)whileWaiting;
    return Confirmation::kYes;
  }
  // The open-file dialog; nullopt when cancelled.
  virtual std::optional<std::string> ChooseFile(const FileDialogRequest& request) = 0;
};

}  // namespace app
