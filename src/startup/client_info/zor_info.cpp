#include "startup/client_info/zor_info.h"

#include "startup/client_info/client_edition.h"

namespace zor {

TZORInfo::TZORInfo(StartupFacts facts) : TZORInfoBase(std::move(facts)) {}

std::string TZORInfo::EditionCode() const {
  return std::string(V4Edition() ? kEditionCodeV4 : kEditionCodeM880);
}

void RegisterZorInfoClass() {
  SetZorInfoClass([](TZORInfoBase::StartupFacts facts) -> std::unique_ptr<TZORInfoBase> {
    return std::make_unique<TZORInfo>(std::move(facts));
  });
}

void UnregisterZorInfoClass() {
  FreeZorInfo();
  SetZorInfoClass(nullptr);
}

}  // namespace zor
