// The texts of the server settings dialog in the three languages of the message table:
// English, the traditional script (system default LCID 1028 or 3076) and the simplified
// script (2052).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zor {

struct TServerSettingsCaptions {
  std::string Form;
  std::string btnOK;
  std::string btnCancel;
  std::string btnQuit;
  std::string lblServerName;
  std::string btnComputer;
  std::string lblConnType;
  std::string rbPipe;
  std::string rbTcp;
  std::string lblPort;
  std::string rbZORHost;
  std::string chkShowNextTime;
  std::string lbl1;
  std::string lbl2;
  // Our addition for sites without a lookup service: the server, kind and port typed in.
  std::string chkDirect;
  std::string MsgEnterServer;  // direct entry without a server name
  std::string MsgBadPort;      // "%s": the port text
};

// The captions for a system default LCID, in the language `LangIndexForLcid` picks.
TServerSettingsCaptions ServerSettingsCaptions(uint32_t lcid);

}  // namespace zor
