// Message boxes as the start-up code asks for them. The user-interface layer installs the
// handler that shows them (a window, or a line on standard error without a display); until
// one is installed a box is written to standard error and answered with its negative choice.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

enum class MessageIcon { None, Error, Warning, Information, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageResult { Ok, Cancel, Yes, No };

// What the system shows as the caption of a box that was given none.
inline constexpr std::string_view kSystemDefaultCaption = "Error";

struct MessageBoxRequest {
  std::string Text;
  std::string Caption;  // empty: the system's default caption
  MessageIcon Icon = MessageIcon::None;
  MessageButtons Buttons = MessageButtons::Ok;
};

class MessageBoxHandler {
 public:
  virtual ~MessageBoxHandler() = default;
  virtual MessageResult ShowMessageBox(const MessageBoxRequest& request) = 0;
};

// Installs the handler of the process (not owned); nullptr restores the standard-error one.
void SetMessageBoxHandler(MessageBoxHandler* handler);
MessageResult ShowMessageBox(const MessageBoxRequest& request);
// A plain box: the text, the system's default caption, no icon, one OK button.
void ShowMessage(std::string text);

// The box as one or more lines of text: "[caption] text", line breaks kept as "\n".
std::string FormatMessageBoxLine(const MessageBoxRequest& request);
// What a windowed box draws: the caption (the system's default one when none was given),
// the buttons from left to right (the first is the default one, taken by Enter), and each
// button's caption in the user-interface language (`LangIndex`).
std::string MessageBoxCaption(const MessageBoxRequest& request);
// The title a window draws: the given caption, else the system's default one in the
// language of the text: Chinese ("错误", or "錯誤" for a user of the traditional script,
// `langIndex` 1) when the text holds Chinese characters, else English. The line form above
// keeps the English default, which logs and scripts look for.
std::string MessageBoxTitle(const MessageBoxRequest& request, int langIndex);
std::vector<MessageResult> MessageBoxButtonList(MessageButtons buttons);
std::string MessageButtonCaption(MessageResult button, int langIndex);
// The answer of a box closed with Escape or its close box, the cancelling choice of every
// box: OK for an OK box, Cancel where there is a Cancel button, No for Yes/No.
std::optional<MessageResult> DismissAnswer(MessageButtons buttons);

// The answer of a box nobody can click: OK for an OK box, else the confirmation `yes`
// gives Yes (OK for OK/Cancel) and anything else No (Cancel for OK/Cancel).
MessageResult UnattendedAnswer(MessageButtons buttons, bool confirm);

}  // namespace zor
