#include "startup/server_settings_captions.h"

#include "base/format.h"
#include "platform/locale.h"

namespace zor {

TServerSettingsCaptions ServerSettingsCaptions(uint32_t lcid) {
  const bool traditional = lcid == kLcidChineseTaiwan || lcid == kLcidChineseHongKong;
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
  return c;
}

}  // namespace zor
