// What the workflow asks of its window. The FLTK window, the terminal front end and the
// tests' fake each implement it; the workflow knows nothing else of them.
#pragma once

#include <optional>
#include <string>

namespace app {

enum class BoxIcon { kError, kInformation };

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
  // Redraws what changed, now.
  virtual void Refresh() = 0;
  // Handles the events that are waiting, once, without blocking; a due timer tick runs
  // from here.
  virtual void PumpMessages() = 0;

  // A box with an OK button. detail, when not empty, is one extra line that says which
  // file, device or step the text is about.
  virtual void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon,
                           const std::string& detail) = 0;
  // A line for the operator that needs no answer and leaves the status text alone (the
  // window writes it to standard error).
  virtual void ShowNotice(const std::string& text) = 0;
  // The OK/Cancel question (Cancel is the default); true for OK.
  virtual bool AskOkCancel(const std::string& text, const std::string& caption) = 0;
  // The open-file dialog; nullopt when cancelled.
  virtual std::optional<std::string> ChooseFile(const FileDialogRequest& request) = 0;
};

}  // namespace app
