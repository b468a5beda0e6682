#include "window/fltk_message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace app {
namespace {

constexpr int kTextSize = 12;
constexpr int kMaxTextWidth = 420;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 25;
constexpr int kMargin = 12;
constexpr int kIconSize = 44;

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
// printer or a file name must show as they are.
std::string Literal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '@') out += '@';
    if (c != '\r') out += c;
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
  fl_font(FL_HELVETICA, kTextSize);
  int textW = kMaxTextWidth, textH = 0;
  fl_measure(label.c_str(), textW, textH, 0);
  textW = std::max(textW, 200);
  textH = std::max(textH, kIconSize);

  const int w = kMargin * 3 + kIconSize + textW;
  const int h = kMargin * 3 + textH + kButtonHeight;
  Fl_Window dialog(w, h);
  dialog.copy_label(caption.c_str());
  Answer answer;

  Fl_Box iconBox(kMargin, kMargin, kIconSize, kIconSize, IconLabel(icon));
  iconBox.box(FL_THIN_UP_BOX);
  iconBox.color(FL_WHITE);
  iconBox.labelfont(FL_TIMES_BOLD);
  iconBox.labelsize(32);
  iconBox.labelcolor(icon == DialogIcon::kError ? FL_RED : FL_BLUE);

  Fl_Box textBox(kMargin * 2 + kIconSize, kMargin, textW, textH);
  textBox.copy_label(label.c_str());
  textBox.labelsize(kTextSize);
  textBox.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);

  // OK sits at the right edge, or left of Cancel; the default button answers Enter.
  const int buttonY = h - kMargin - kButtonHeight;
  const int rightX = w - kMargin - kButtonWidth;
  Fl_Button ok(withCancel ? rightX - kMargin - kButtonWidth : rightX, buttonY, kButtonWidth,
               kButtonHeight, "OK");
  Fl_Button cancel(rightX, buttonY, kButtonWidth, kButtonHeight, "Cancel");
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
