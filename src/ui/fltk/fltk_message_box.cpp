#include "ui/fltk/fltk_message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>
// The drawing header brings X11's macros along; ours use the name None.
#undef None

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "startup/client_info/lang_messages.h"
#include "ui/fltk/fltk_look.h"
#include "ui/fltk/fltk_loop.h"
#include "ui/text_wrap.h"

namespace zor {
namespace {

constexpr int kMargin = 14;
constexpr int kIconSize = 32;
constexpr int kIconGap = 14;
constexpr int kMaxTextWidth = 420;
constexpr int kMinTextHeight = kIconSize;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonGap = 8;
constexpr int kMinWindowWidth = 160;

// The text in its lines, drawn as it is: no symbols, no shortcuts.
class TextBox : public Fl_Widget {
 public:
  TextBox(int x, int y, int w, int h, std::vector<std::string> lines)
      : Fl_Widget(x, y, w, h), Lines(std::move(lines)) {}

 protected:
  void draw() override {
    fl_font(FL_HELVETICA, kFormFontSize);
    fl_color(FL_BLACK);
    const int lineHeight = fl_height();
    int baseline = y() + lineHeight - fl_descent();
    for (const std::string& line : Lines) {
      fl_draw(line.c_str(), static_cast<int>(line.size()), x(), baseline);
      baseline += lineHeight;
    }
  }

 private:
  std::vector<std::string> Lines;
};

// The icon of the message's kind: a red circle with a cross, a yellow triangle with "!", a
// blue circle with "i" or "?".
class IconBox : public Fl_Widget {
 public:
  IconBox(int x, int y, MessageIcon icon) : Fl_Widget(x, y, kIconSize, kIconSize), Icon(icon) {}

 protected:
  void draw() override {
    const char* mark = "";
    Fl_Color fill = FL_BLUE;
    switch (Icon) {
      case MessageIcon::Error:
        fill = FL_RED;
        mark = "X";
        break;
      case MessageIcon::Warning:
        mark = "!";
        break;
      case MessageIcon::Information:
        mark = "i";
        break;
      case MessageIcon::Question:
        mark = "?";
        break;
      case MessageIcon::None:
        return;
    }
    if (Icon == MessageIcon::Warning) {
      fl_color(FL_YELLOW);
      fl_polygon(x() + w() / 2, y() + 1, x() + w() - 1, y() + h() - 2, x(), y() + h() - 2);
      fl_color(FL_BLACK);
      fl_loop(x() + w() / 2, y() + 1, x() + w() - 1, y() + h() - 2, x(), y() + h() - 2);
    } else {
      fl_color(fill);
      fl_pie(x(), y(), w(), h(), 0, 360);
    }
    fl_color(Icon == MessageIcon::Warning ? FL_BLACK : FL_WHITE);
    fl_font(FL_HELVETICA_BOLD, 20);
    fl_draw(mark, x(), y() + 2, w(), h(), FL_ALIGN_CENTER, nullptr, 0);
  }

 private:
  MessageIcon Icon;
};

struct BoxState {
  std::optional<MessageResult> Answer;
  MessageButtons Buttons;
};

struct ButtonChoice {
  BoxState* State;
  MessageResult Result;
};

}  // namespace

MessageResult RunFltkMessageBox(const MessageBoxRequest& request) {
  BoxState state{std::nullopt, request.Buttons};
  const std::vector<MessageResult> buttons = MessageBoxButtonList(request.Buttons);

  fl_font(FL_HELVETICA, kFormFontSize);
  const auto measure = [](std::string_view piece) {
    return static_cast<int>(std::ceil(fl_width(piece.data(), static_cast<int>(piece.size()))));
  };
  std::vector<std::string> lines = WrapText(request.Text, kMaxTextWidth, measure);
  int textW = 1;
  for (const std::string& line : lines) textW = std::max(textW, measure(line));
  const int textH = std::max(static_cast<int>(lines.size()) * fl_height(), kMinTextHeight);
  const int linesH = static_cast<int>(lines.size()) * fl_height();

  const bool hasIcon = request.Icon != MessageIcon::None;
  const int textLeft = kMargin + (hasIcon ? kIconSize + kIconGap : 0);
  const int buttonsW = static_cast<int>(buttons.size()) * kButtonWidth +
                       (static_cast<int>(buttons.size()) - 1) * kButtonGap;
  const int width = std::max({textLeft + textW + kMargin, buttonsW + 2 * kMargin, kMinWindowWidth});
  const int buttonsTop = kMargin + textH + kMargin;
  const int height = buttonsTop + kButtonHeight + kMargin;

  Fl_Double_Window window(width, height);
  const std::string caption = MessageBoxTitle(request, LangIndex());
  window.copy_label(caption.c_str());
  if (hasIcon) new IconBox(kMargin, kMargin, request.Icon);
  // A short text sits level with the middle of the icon.
  new TextBox(textLeft, kMargin + (textH - linesH) / 2, textW, linesH, std::move(lines));
  std::vector<ButtonChoice> choices;
  choices.reserve(buttons.size());
  int left = (width - buttonsW) / 2;
  for (size_t i = 0; i < buttons.size(); ++i) {
    const std::string label = FltkLabelText(MessageButtonCaption(buttons[i], LangIndex()));
    auto* button = new Fl_Button(left, buttonsTop, kButtonWidth, kButtonHeight);
    if (i == 0) button->shortcut(FL_Enter);
    button->copy_label(label.c_str());
    button->labelsize(kFormFontSize);
    choices.push_back({&state, buttons[i]});
    button->callback(
        [](Fl_Widget*, void* data) {
          auto* choice = static_cast<ButtonChoice*>(data);
          choice->State->Answer = choice->Result;
        },
        &choices.back());
    left += kButtonWidth + kButtonGap;
  }
  window.end();
  // Escape and the close box.
  window.callback(
      [](Fl_Widget*, void* data) {
        auto* box = static_cast<BoxState*>(data);
        if (const std::optional<MessageResult> answer = DismissAnswer(box->Buttons))
          box->Answer = *answer;
      },
      &state);
  window.set_modal();
  window.position((Fl::w() - width) / 2, (Fl::h() - height) / 2);
  window.show();
  RunFltkUntil([&state] { return state.Answer.has_value(); });
  window.hide();
  return *state.Answer;
}

}  // namespace zor
