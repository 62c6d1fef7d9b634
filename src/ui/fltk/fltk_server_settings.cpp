#include "ui/fltk/fltk_server_settings.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Round_Button.H>
#include <FL/fl_draw.H>
// The drawing header brings X11's macros along; ours use the name None.
#undef None

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "startup/launch/application_state.h"
#include "ui/fltk/fltk_keys.h"
#include "ui/fltk/fltk_look.h"
#include "ui/fltk/fltk_loop.h"

namespace zor {
namespace {

// The panel `plNet` and the group box `grp1` inside it; child positions are relative to them.
constexpr int kPanelX = 12, kPanelY = 12, kPanelW = 329, kPanelH = 129;
constexpr int kGroupX = kPanelX + 8, kGroupY = kPanelY + 3, kGroupW = 317, kGroupH = 94;
constexpr int kLabelHeight = 14;
constexpr int kPortMaxLength = 7;

class Dialog;

// The window: Enter anywhere runs the OK path (the form sees the keys the controls leave).
class DialogWindow : public Fl_Double_Window {
 public:
  explicit DialogWindow(Dialog& dialog)
      : Fl_Double_Window(kServerSettingsWidth, kServerSettingsHeight), Owner(dialog) {}

 protected:
  int handle(int event) override;

 private:
  Dialog& Owner;
};

class Dialog {
 public:
  explicit Dialog(TServerSettingsModel& model);
  void Run();
  bool KeyDown(int fltkKey);

 private:
  using Action = std::function<void(Fl_Widget&)>;

  Fl_Box* Label(int x, int y, const std::string& text);
  Fl_Input* Edit(int x, int y, int w, int h, std::string TServerSettingsModel::*field);
  Fl_Round_Button* Radio(int x, int y, int w, int h, const std::string& text, TConnectKind kind);
  Fl_Button* Button(int x, int y, int w, int h, const std::string& text,
                    std::function<void()> click);
  // Makes `action` the callback of `widget`.
  void Bind(Fl_Widget& widget, Action action);
  // The model's state into the controls.
  void Refresh();

  TServerSettingsModel& Model;
  std::vector<std::unique_ptr<Action>> Actions;
  DialogWindow Window;
  Fl_Input* edtServer = nullptr;
  Fl_Input* edtPort = nullptr;
  Fl_Input* edtSoapServerName = nullptr;
  Fl_Input* edtEnterpriseID = nullptr;
  Fl_Check_Button* chkShowNextTime = nullptr;
  Fl_Round_Button* rbPipe = nullptr;
  Fl_Round_Button* rbTcp = nullptr;
  Fl_Round_Button* rbZORHost = nullptr;
  Fl_Check_Button* chkDirect = nullptr;
  Fl_Group* grp1 = nullptr;
  std::vector<Fl_Widget*> Covered;  // the controls under the group box
};

int DialogWindow::handle(int event) {
  if ((event == FL_KEYBOARD || event == FL_SHORTCUT) && Owner.KeyDown(Fl::event_key())) return 1;
  return Fl_Double_Window::handle(event);
}

Dialog::Dialog(TServerSettingsModel& model) : Model(model), Window(*this) {
  const TServerSettingsCaptions& captions = Model.Captions();
  Window.copy_label(captions.Form.c_str());
  Window.labelsize(kFormFontSize);

  // plNet: a panel with a lowered inner bevel.
  auto* panel = new Fl_Group(kPanelX, kPanelY, kPanelW, kPanelH);
  panel->box(FL_EMBOSSED_FRAME);

  // Under the group box: built, and hidden.
  Fl_Widget* covered[] = {
      Label(kPanelX + 12, kPanelY + 13, captions.lblServerName),
      edtServer = Edit(kPanelX + 84, kPanelY + 9, 209, 20, &TServerSettingsModel::edtServer),
      Button(kPanelX + 296, kPanelY + 9, 24, 20, captions.btnComputer,
             [this] {
               Model.btnComputerClick();
               Refresh();
             }),
      Label(kPanelX + 24, kPanelY + 39, captions.lblConnType),
      rbPipe = Radio(kPanelX + 84, kPanelY + 37, 113, 17, captions.rbPipe, TConnectKind::Pipe),
      rbTcp = Radio(kPanelX + 84, kPanelY + 57, 69, 17, captions.rbTcp, TConnectKind::Tcp),
      Label(kPanelX + 196, kPanelY + 61, captions.lblPort),
      edtPort = Edit(kPanelX + 231, kPanelY + 57, 56, 20, &TServerSettingsModel::edtPort),
      rbZORHost =
          Radio(kPanelX + 84, kPanelY + 77, 189, 17, captions.rbZORHost, TConnectKind::ZorHost),
  };
  Covered.assign(std::begin(covered), std::end(covered));
  edtPort->maximum_size(kPortMaxLength);

  // grp1, first in the focus order: the lookup server's address and the enterprise id.
  auto* group = grp1 = new Fl_Group(kGroupX, kGroupY, kGroupW, kGroupH);
  group->box(FL_ENGRAVED_FRAME);
  Label(kGroupX + 13, kGroupY + 21, captions.lbl1);
  edtSoapServerName =
      Edit(kGroupX + 80, kGroupY + 18, 209, 20, &TServerSettingsModel::edtSoapServerName);
  Label(kGroupX + 25, kGroupY + 52, captions.lbl2);
  edtEnterpriseID =
      Edit(kGroupX + 80, kGroupY + 50, 209, 20, &TServerSettingsModel::edtEnterpriseID);
  group->end();

  chkShowNextTime = new Fl_Check_Button(kPanelX + 24, kPanelY + 100, 249, 17);
  chkShowNextTime->copy_label(FltkLabelText(captions.chkShowNextTime).c_str());
  chkShowNextTime->labelsize(kFormFontSize);
  Bind(*chkShowNextTime, [this](Fl_Widget& widget) {
    Model.chkShowNextTime = static_cast<Fl_Check_Button&>(widget).value() != 0;
  });
  // The focus order inside the panel: the group box, then the check box.
  panel->remove(*group);
  panel->insert(*group, 0);
  panel->end();

  // Direct entry, left of the buttons: the controls under the group box come to the front.
  chkDirect = new Fl_Check_Button(12, 150, 86, 25);
  chkDirect->copy_label(FltkLabelText(captions.chkDirect).c_str());
  chkDirect->labelsize(kFormFontSize);
  Bind(*chkDirect, [this](Fl_Widget& widget) {
    Model.SetDirectEntry(static_cast<Fl_Check_Button&>(widget).value() != 0);
    Refresh();
    (Model.DirectEntry() ? edtServer : edtSoapServerName)->take_focus();
  });
  Button(101, 150, 75, 25, captions.btnOK, [this] {
    Model.SubmitOk();
    Refresh();
  });
  Button(183, 150, 75, 25, captions.btnCancel, [this] { Model.btnCancelClick(); });
  Button(266, 150, 75, 25, captions.btnQuit, [this] { Model.btnQuitClick(); });
  Window.end();

  // The close box is Cancel; so is Escape (through `KeyDown`).
  Bind(Window, [this](Fl_Widget&) {
    if (Fl::event() == FL_CLOSE) Model.FormClose();
  });
  Window.set_modal();
  Window.position((Fl::w() - Window.w()) / 2, (Fl::h() - Window.h()) / 2);
  Refresh();
}

Fl_Box* Dialog::Label(int x, int y, const std::string& text) {
  const std::string label = FltkLabelText(text);
  fl_font(FL_HELVETICA, kFormFontSize);
  auto* box = new Fl_Box(x, y, static_cast<int>(fl_width(text.c_str())) + 2, kLabelHeight);
  box->copy_label(label.c_str());
  box->labelsize(kFormFontSize);
  box->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE);
  return box;
}

Fl_Input* Dialog::Edit(int x, int y, int w, int h, std::string TServerSettingsModel::*field) {
  auto* edit = new Fl_Input(x, y, w, h);
  edit->textsize(kFormFontSize);
  edit->when(FL_WHEN_CHANGED);
  Bind(*edit,
       [this, field](Fl_Widget& widget) { Model.*field = static_cast<Fl_Input&>(widget).value(); });
  return edit;
}

Fl_Round_Button* Dialog::Radio(int x, int y, int w, int h, const std::string& text,
                               TConnectKind kind) {
  auto* radio = new Fl_Round_Button(x, y, w, h);
  radio->copy_label(FltkLabelText(text).c_str());
  radio->labelsize(kFormFontSize);
  radio->type(FL_RADIO_BUTTON);
  Bind(*radio, [this, kind](Fl_Widget&) {
    Model.ClickConnectType(kind);
    Refresh();
  });
  return radio;
}

Fl_Button* Dialog::Button(int x, int y, int w, int h, const std::string& text,
                          std::function<void()> click) {
  auto* button = new Fl_Button(x, y, w, h);
  button->copy_label(FltkLabelText(text).c_str());
  button->labelsize(kFormFontSize);
  Bind(*button, [click = std::move(click)](Fl_Widget&) { click(); });
  return button;
}

void Dialog::Bind(Fl_Widget& widget, Action action) {
  Actions.push_back(std::make_unique<Action>(std::move(action)));
  widget.callback([](Fl_Widget* source, void* data) { (*static_cast<Action*>(data))(*source); },
                  Actions.back().get());
}

void Dialog::Refresh() {
  const auto show = [](Fl_Input* edit, const std::string& text) {
    if (text != edit->value()) edit->value(text.c_str());
  };
  show(edtServer, Model.edtServer);
  show(edtPort, Model.edtPort);
  show(edtSoapServerName, Model.edtSoapServerName);
  show(edtEnterpriseID, Model.edtEnterpriseID);
  chkShowNextTime->value(Model.chkShowNextTime ? 1 : 0);
  rbPipe->value(Model.ConnectKind == TConnectKind::Pipe);
  rbTcp->value(Model.ConnectKind == TConnectKind::Tcp);
  rbZORHost->value(Model.ConnectKind == TConnectKind::ZorHost);
  chkDirect->value(Model.DirectEntry() ? 1 : 0);
  for (Fl_Widget* widget : Covered) Model.DirectEntry() ? widget->show() : widget->hide();
  Model.DirectEntry() ? grp1->hide() : grp1->show();
  // The port is disabled, in the face colour, for the pipe.
  if (Model.PortEnabled()) {
    edtPort->activate();
    edtPort->color(FL_WHITE);
  } else {
    edtPort->deactivate();
    edtPort->color(FL_BACKGROUND_COLOR);
  }
  Window.redraw();
}

bool Dialog::KeyDown(int fltkKey) {
  const int key = VirtualKeyOf(fltkKey);
  if (key != kKeyReturn && key != kKeyEscape) return false;
  Model.SubmitKeyDown(key);
  Refresh();
  return true;
}

void Dialog::Run() {
  Window.show();
  edtSoapServerName->take_focus();
  RunFltkUntil(
      [this] { return Model.ModalResult() != TModalResult::None || IsApplicationTerminating(); });
  Window.hide();
}

}  // namespace

void RunFltkServerSettings(TServerSettingsModel& model) {
  Dialog dialog(model);
  dialog.Run();
}

}  // namespace zor
