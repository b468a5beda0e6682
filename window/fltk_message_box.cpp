#include "window/fltk_message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string_view>

#include "platform/printable_text.h"

namespace app {
namespace {

constexpr int kTextSize = 12;
constexpr int kMaxTextWidth = 420;
constexpr int kMinTextWidth = 200;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 25;
constexpr int kMargin = 12;
constexpr int kIconSize = 44;
constexpr int kIconFontSize = 32;
// Windows opened by a box in turn, at most; more would be a loop that hides nothing.
constexpr int kMostNestedModals = 16;

double scale = 1;

int Scaled(int size) {
  return static_cast<int>(std::lround(size * scale));
}

const char* IconLabel(DialogIcon icon) {
  switch (icon) {
    case DialogIcon::kError:
      return "!";
    case DialogIcon::kQuestion:
      return "?";
    case DialogIcon::kInformation:
      break;
  }
  return "i";
}

// FLTK reads "@" in labels as a symbol and "&" in buttons as a shortcut; texts from a
// printer or a file name must show as they are, their lines kept and every other control
// character escaped.
std::string Literal(const std::string& text) {
  std::string out;
  for (size_t start = 0; start <= text.size();) {
    size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line(text.data() + start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    for (char c : platform::Printable(line)) {
      if (c == '@') out += '@';
      out += c;
    }
    if (end < text.size()) out += '\n';
    start = end + 1;
  }
  return out;
}

struct Answer {
  const Fl_Widget* okButton = nullptr;
  bool done = false;
  bool ok = false;
};

void Pressed(Fl_Widget* widget, void* data) {
  auto* answer = static_cast<Answer*>(data);
  answer->done = true;
  answer->ok = widget == answer->okButton;
}

}  // namespace

bool RunMessageBox(const std::string& caption, DialogIcon icon, const std::string& text,
                   bool withCancel) {
  const std::string label = Literal(text);
  const int margin = Scaled(kMargin), iconSize = Scaled(kIconSize);
  const int buttonW = Scaled(kButtonWidth), buttonH = Scaled(kButtonHeight);
  fl_font(FL_HELVETICA, Scaled(kTextSize));
  int textW = Scaled(kMaxTextWidth), textH = 0;
  fl_measure(label.c_str(), textW, textH, 0);
  textW = std::max(textW, Scaled(kMinTextWidth));
  textH = std::max(textH, iconSize);

  const int w = margin * 3 + iconSize + textW;
  const int h = margin * 3 + textH + buttonH;
  Fl_Window dialog(w, h);
  dialog.copy_label(caption.c_str());
  Answer answer;

  Fl_Box iconBox(margin, margin, iconSize, iconSize, IconLabel(icon));
  iconBox.box(FL_THIN_UP_BOX);
  iconBox.color(FL_WHITE);
  iconBox.labelfont(FL_TIMES_BOLD);
  iconBox.labelsize(Scaled(kIconFontSize));
  iconBox.labelcolor(icon == DialogIcon::kError ? FL_RED : FL_BLUE);

  Fl_Box textBox(margin * 2 + iconSize, margin, textW, textH);
  textBox.copy_label(label.c_str());
  textBox.labelsize(Scaled(kTextSize));
  textBox.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);

  // OK sits at the right edge, or left of Cancel; the default button answers Enter.
  const int buttonY = h - margin - buttonH;
  const int rightX = w - margin - buttonW;
  Fl_Button ok(withCancel ? rightX - margin - buttonW : rightX, buttonY, buttonW, buttonH, "OK");
  Fl_Button cancel(rightX, buttonY, buttonW, buttonH, "Cancel");
  ok.labelsize(Scaled(FL_NORMAL_SIZE));
  cancel.labelsize(Scaled(FL_NORMAL_SIZE));
  Fl_Button& byDefault = withCancel ? cancel : ok;
  byDefault.shortcut(FL_Enter);
  if (!withCancel) cancel.hide();
  answer.okButton = &ok;
  ok.callback(Pressed, &answer);
  cancel.callback(Pressed, &answer);
  dialog.end();
  dialog.callback([](Fl_Widget*, void* data) { static_cast<Answer*>(data)->done = true; }, &answer);
  dialog.set_modal();
  dialog.position((Fl::w() - w) / 2, (Fl::h() - h) / 2);
  dialog.show();
  byDefault.take_focus();
  while (!answer.done && dialog.shown())
    Fl::wait();
  dialog.hide();
  return answer.ok;
}

void SetMessageBoxScale(double factor) {
  scale = factor;
}

void CloseModalWindows() {
  for (int i = 0; i < kMostNestedModals; ++i) {
    Fl_Window* modal = Fl::modal();
    if (modal == nullptr) return;
    modal->hide();
  }
}

void RunEventHandler(const std::function<void()>& handler) {
  static bool showingError = false;
  std::string error;
  try {
    handler();
    return;
  } catch (const std::exception& thrown) {
    error = thrown.what();
  } catch (...) {
    error = "an unknown error";
  }
  if (showingError) {
    std::fprintf(stderr, "vrq-update: %s\n", error.c_str());
    return;
  }
  showingError = true;
  RunMessageBox("Error", DialogIcon::kError, error, false);
  showingError = false;
}

}  // namespace app
