// The texts of the server settings dialog in the two scripts it knows: the traditional
// script when the system default LCID is 1028 or 3076, the simplified one for every other.
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
};

TServerSettingsCaptions ServerSettingsCaptions(uint32_t lcid);

}  // namespace zor
