#include "app/Unit_mainform.h"

#include <exception>

#include "app/text_tools.h"
#include "package/settings.h"
#include "platform/fs.h"

namespace app {

TMainForm::TMainForm(MainWindowUi& ui, CommandChannel& channel, Clock& clock,
                     WorkflowEnvironment env)
    : ui_(ui), channel_(channel), clock_(clock), env_(std::move(env)) {}

void TMainForm::FormCreate() {
  const std::string settingsPath = settings::SettingsPathFor(env_.executablePath);
  MakerMode = settings::ReadBool(settingsPath, "MAIN", "MAKE", false);
  if (MakerMode) {
    ui_.SetButtonCaption(texts::kMakeButton);
    ui_.SetCaption(texts::kMakerCaption);
  } else {
    ui_.SetButtonCaption(texts::kUpdateButton);
    ui_.SetCaption(BaseNameWithoutExtension(env_.executablePath));
  }
}

void TMainForm::Button1Click() {
  RunOperation({});
}

void TMainForm::RunOperation(const std::string& makerPackagePath) {
  ui_.SetButtonEnabled(false);
  lastRunSucceeded_ = false;
  try {
    if (MakerMode) {
      MakeUpdateApp(makerPackagePath);
    } else {
      RunUpdate();
    }
  } catch (const std::exception& error) {
    // The procedures clean up after themselves; what is left is to say what happened
    // and give the button back.
    ErrorBox(error.what());
  }
  ui_.SetButtonEnabled(true);
}

void TMainForm::ShowStatus(const std::string& text) {
  ui_.SetStatusText(text);
}

void TMainForm::Timer1Timer() {
  channel_.OnTick();
}

std::string TMainForm::WaitForReply(bool keepReply, uint32_t timeLimitMs) {
  channel_.ReplyPumpActive = true;
  if (!keepReply) channel_.ReplyText.clear();
  const uint32_t deadline = channel_.TickCount + timeLimitMs / CommandChannel::kMsPerTick;
  while (channel_.NotPast(deadline)) {
    if (HasCompleteLine(channel_.ReplyText)) break;
    ui_.PumpMessages();
    clock_.SleepMs(1);
  }
  channel_.ReplyPumpActive = false;
  return channel_.ReplyText;
}

void TMainForm::Delay(uint32_t ms) {
  const uint32_t deadline = channel_.TickCount + ms / CommandChannel::kMsPerTick;
  while (channel_.NotPast(deadline)) {
    ui_.PumpMessages();
    clock_.SleepMs(1);
  }
}

void TMainForm::ErrorBox(const std::string& text, const std::string& detail) {
  ui_.ShowMessage(text, "Error", BoxIcon::kError, detail);
}

void TMainForm::SuccessBox(const std::string& text, const std::string& caption) {
  lastRunSucceeded_ = true;
  ui_.ShowMessage(text, caption, BoxIcon::kInformation, {});
}

FileDialogRequest TMainForm::OpenDialog1() const {
  return {"select update file", "fwp", "FWP file\t*.fwp\nAll File\t*",
          platform::FolderOf(env_.executablePath)};
}

}  // namespace app
