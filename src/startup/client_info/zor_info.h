// `TZORInfo`, the client information class this program creates: the base object plus the
// edition code. `RegisterZorInfoClass` makes it the class the singleton is created from.
#pragma once

#include "startup/client_info/zor_info_base.h"

namespace zor {

class TZORInfo : public TZORInfoBase {
 public:
  explicit TZORInfo(StartupFacts facts);
  std::string EditionCode() const override;
};

// Registers `TZORInfo` as the singleton's class.
void RegisterZorInfoClass();
// Frees the singleton and clears the registration (the end of the run).
void UnregisterZorInfoClass();

}  // namespace zor
