#include "ui/fltk/fltk_message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
// The drawing header brings X11's macros along; ours use the name None.
#undef None

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "startup/lang_messages.h"
#include "ui/fltk/fltk_look.h"
#include "ui/fltk/fltk_loop.h"

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

// The text, drawn as it is: no symbols, no shortcuts, line breaks kept.
class TextBox : public Fl_Widget {
 public:
  TextBox(int x, int y, int w, int h, std::string text) : Fl_Widget(x, y, w, h), Text(std::move(text)) {}

 protected:
  void draw() override {
    fl_font(FL_HELVETICA, kFormFontSize);
    fl_color(FL_BLACK);
    fl_draw(Text.c_str(), x(), y(), w(), h(), FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_WRAP | FL_ALIGN_INSIDE, nullptr,
            0);
  }

 private:
  std::string Text;
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
  int textW = kMaxTextWidth, textH = 0;
  // Measure unwrapped first; wrap only what is wider than the limit.
  int oneLineW = 0;
  fl_measure(request.Text.c_str(), oneLineW, textH, 0);
  if (oneLineW <= kMaxTextWidth) {
    textW = oneLineW;
  } else {
    fl_measure(request.Text.c_str(), textW, textH, 0);
  }
  textW = std::max(textW, 1);
  textH = std::max(textH, kMinTextHeight);

  const bool hasIcon = request.Icon != MessageIcon::None;
  const int textLeft = kMargin + (hasIcon ? kIconSize + kIconGap : 0);
  const int buttonsW = static_cast<int>(buttons.size()) * kButtonWidth + (static_cast<int>(buttons.size()) - 1) * kButtonGap;
  const int width = std::max({textLeft + textW + kMargin, buttonsW + 2 * kMargin, kMinWindowWidth});
  const int buttonsTop = kMargin + textH + kMargin;
  const int height = buttonsTop + kButtonHeight + kMargin;

  Fl_Double_Window window(width, height);
  const std::string caption = MessageBoxCaption(request);
  window.copy_label(caption.c_str());
  if (hasIcon) new IconBox(kMargin, kMargin, request.Icon);
  new TextBox(textLeft, kMargin + (textH > kMinTextHeight ? 0 : (kMinTextHeight - textH) / 2), textW + 4, textH,
              request.Text);
  std::vector<ButtonChoice> choices;
  choices.reserve(buttons.size());
  int left = (width - buttonsW) / 2;
  for (size_t i = 0; i < buttons.size(); ++i) {
    const std::string label = FltkLabelText(MessageButtonCaption(buttons[i], LangIndex()));
    Fl_Button* button = i == 0 ? new Fl_Return_Button(left, buttonsTop, kButtonWidth, kButtonHeight)
                               : new Fl_Button(left, buttonsTop, kButtonWidth, kButtonHeight);
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
        if (const std::optional<MessageResult> answer = DismissAnswer(box->Buttons)) box->Answer = *answer;
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
