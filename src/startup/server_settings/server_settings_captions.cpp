#include "startup/server_settings/server_settings_captions.h"

#include "base/format.h"
#include "startup/client_info/lang_messages.h"

namespace zor {

namespace {

// The form's own captions are in the simplified script; the traditional-script language
// replaces some of them and keeps the rest.
TServerSettingsCaptions ChineseCaptions(bool traditional) {
  TServerSettingsCaptions c;
  c.Form = traditional ? "網路主機設定" : "网络主机设定";
  c.btnOK = traditional ? "確定" : "确定";
  c.btnCancel = "取消";
  c.btnQuit = traditional ? "退出程式" : "退出程序";
  c.lblServerName = traditional ? "伺服器名稱" : "服务器名称:";
  c.btnComputer = "...";
  c.lblConnType = traditional ? "連接方式" : "连接方式:";
  c.rbPipe = "Name Pipes";
  c.rbTcp = "TCP/IP";
  c.lblPort = "Port:";
  c.rbZORHost = Format("TCP/IP(%s)", {traditional ? "岳川名稱解析服務" : "岳川名称解析服务"});
  c.chkShowNextTime = "下次启动时不再出现这个对话框";
  c.lbl1 = "服务器地址";
  c.lbl2 = "客户统编";
  c.chkDirect = traditional ? "手動設定" : "手动设定";
  c.MsgEnterServer = traditional ? "請輸入伺服器名稱" : "请输入服务器名称";
  c.MsgBadPort =
      traditional ? "連接埠 %s 不是 1 到 65535 之間的數字" : "端口 %s 不是 1 到 65535 之间的数字";
  return c;
}

TServerSettingsCaptions EnglishCaptions() {
  TServerSettingsCaptions c;
  c.Form = "Network Server Settings";
  c.btnOK = "OK";
  c.btnCancel = "Cancel";
  c.btnQuit = "Quit";
  c.lblServerName = "Server:";
  c.btnComputer = "...";
  c.lblConnType = "Connect by:";
  c.rbPipe = "Name Pipes";
  c.rbTcp = "TCP/IP";
  c.lblPort = "Port:";
  c.rbZORHost = "TCP/IP(ZOR name service)";
  c.chkShowNextTime = "Do not show this dialog at the next start";
  // The two labels have 67 pixels before their edits.
  c.lbl1 = "Address";
  c.lbl2 = "Cust. no.";
  c.chkDirect = "By hand";
  c.MsgEnterServer = "Please enter the server name.";
  c.MsgBadPort = "The port %s is not a number from 1 to 65535.";
  return c;
}

}  // namespace

TServerSettingsCaptions ServerSettingsCaptions(uint32_t lcid) {
  switch (LangIndexForLcid(lcid)) {
    case kLangTraditional:
      return ChineseCaptions(true);
    case kLangSimplified:
      return ChineseCaptions(false);
    default:
      return EnglishCaptions();
  }
}

}  // namespace zor
