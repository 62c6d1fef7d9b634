#include "base/language_suffix.h"

#include <string_view>

namespace zor {

namespace {

struct LanguageAbbreviation {
  uint32_t Lcid;
  std::string_view Abbreviation;
};

// The locales the suite is used in, with the system's abbreviations of their languages.
constexpr LanguageAbbreviation kAbbreviations[] = {
    {1025, "ARA"}, {1028, "CHT"}, {1029, "CSY"}, {1030, "DAN"}, {1031, "DEU"}, {1032, "ELL"},
    {1033, "ENU"}, {1034, "ESP"}, {1035, "FIN"}, {1036, "FRA"}, {1037, "HEB"}, {1038, "HUN"},
    {1040, "ITA"}, {1041, "JPN"}, {1042, "KOR"}, {1043, "NLD"}, {1044, "NOR"}, {1045, "PLK"},
    {1046, "PTB"}, {1049, "RUS"}, {1053, "SVE"}, {1054, "THA"}, {1055, "TRK"}, {1057, "IND"},
    {1066, "VIT"}, {1086, "MSL"}, {2052, "CHS"}, {2057, "ENG"}, {2070, "PTG"}, {3076, "ZHH"},
    {3081, "ENA"}, {3082, "ESN"}, {4100, "ZHI"}, {4105, "ENC"}, {5124, "ZHM"}, {5129, "ENZ"},
};

}  // namespace

bool IsTraditionalScriptSystem(uint32_t systemLcid) {
  return systemLcid == kLcidTraditionalTaiwan || systemLcid == kLcidTraditionalHongKong;
}

std::string GetLanguageSuffix(uint32_t lcid, uint32_t systemLcid) {
  if (lcid == 0) lcid = systemLcid;
  for (const LanguageAbbreviation& a : kAbbreviations) {
    if (a.Lcid != lcid) continue;
    if (a.Abbreviation == "ZHH") return IsTraditionalScriptSystem(systemLcid) ? "CHT" : "CHS";
    return std::string(a.Abbreviation);
  }
  return {};
}

}  // namespace zor
