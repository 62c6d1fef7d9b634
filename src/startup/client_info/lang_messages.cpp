#include "startup/client_info/lang_messages.h"

#include <atomic>
#include <cstdlib>
#include <string_view>

#include "platform/locale.h"

namespace zor {
namespace {

struct MessageRow {
  std::string_view Text[kLangCount];  // English, traditional, simplified
};

// Rows 0, 5-7, 9, 10, 12-14, 20, 21, 25 and 32-37 are never shown by the launcher; their
// wording in the two Chinese scripts is ours.
constexpr MessageRow kLangMessages[kLangMessageCount] = {
    /* 0 */ {"Unable to register %s.\r\n%s", "無法註冊 %s.\r\n%s", "无法注册 %s.\r\n%s"},
    /* 1 */
    {"Applcation is executed duplicated.", "本程式正在執行中, 不可重複啟動!",
     "本程序正在执行中, 不可重复激活!"},
    /* 2 */
    {"Program is starting, please wait....", "應用程式正在啟動中, 請稍候...",
     "应用程序正在激活中, 请稍候"},
    /* 3 */
    {"Use the ZORPath, press F1 to change setting.", "如要修改ZORPath設定, 請按F1",
     "如要修改ZORPath设定, 请按F1"},
    /* 4 */
    {"Downloading files, please wait...", "正在下載檔案中, 請稍候...", "正在下载档案中, 请稍候"},
    /* 5 */ {"Ok", "確定", "确定"},
    /* 6 */ {"Cancel", "取消", "取消"},
    /* 7 */ {"Select the ZORPath", "選擇ZORPath", "选择ZORPath"},
    /* 8 */ {"ZOR Q880 System", "岳川系列", "岳川系列"},
    /* 9 */ {"File %s not found!", "找不到檔案 %s!", "找不到档案 %s!"},
    /* 10 */
    {"Application is intalling Microsoft Data Access Components %s...",
     "應用程式正在安裝 Microsoft Data Access Components %s...",
     "应用程序正在安装 Microsoft Data Access Components %s..."},
    /* 11 */
    {"Application need to restart computer!",
     "應用程式目前需要重新啟動電腦完成安裝設定後方可正確執行!",
     "应用程序目前需要重新启动计算机完成安装设定后方可正确执行!"},
    /* 12 */ {"", "岳川系列", "岳川系列"},
    /* 13 */ {"", "商務管理軟體", "商务管理软件"},
    /* 14 */ {"", "讓管理更輕鬆, 讓經營更有效", "让管理更轻松, 让经营更有效"},
    /* 15 */ {"Uninstalling program, please wait...", "正在反安裝中,請稍候", "正在反安装中,请稍候"},
    /* 16 */ {"Finish uninstall", "反安裝完成！", "反安装完成！"},
    /* 17 */ {"Continue with ininstall M880", "確認刪除岳川系統嗎?", "确认删除岳川系统吗?"},
    /* 18 */ {"Start M880", "啟動岳川系列", "启动岳川系列"},
    /* 19 */ {"Uninstall M880", "卸載岳川系列", "卸载岳川系列"},
    /* 20 */
    {"", "Microsoft Data Access Components %s 安裝未完成!",
     "Microsoft Data Access Components %s 安装未完成!"},
    /* 21 */
    {"", "Microsoft Data Access Components %s 安裝失敗!",
     "Microsoft Data Access Components %s 安装失败!"},
    /* 22 */ {"", "啟動岳川一號", "启动岳川一号"},
    /* 23 */ {"", "卸載岳川一號", "卸载岳川一号"},
    /* 24 */ {"", "岳川一號", "岳川一号"},
    /* 25 */ {"Unable to copy file %s.", "無法複製檔案 %s.", "无法复制档案 %s."},
    /* 26 */ {"", "岳川POS系統", "岳川POS系统"},
    /* 27 */ {"", "田禾鞋業系統", "田禾鞋业系统"},
    /* 28 */ {"", "啟動岳川POS系統", "启动岳川POS系统"},
    /* 29 */ {"", "卸載岳川POS系統", "卸载岳川POS系统"},
    /* 30 */ {"", "啟動田禾鞋業系統", "启动田禾鞋业系统"},
    /* 31 */ {"", "卸載田禾鞋業系統", "卸载田禾鞋业系统"},
    // 32 to 37: the check of a local data folder (folder, then the reason).
    /* 32 */
    {"The data folder %s cannot be used:\r\n%s", "資料路徑 %s 無法使用:\r\n%s",
     "数据路径 %s 无法使用:\r\n%s"},
    /* 33 */
    {"The ZORPath is not set, please press F1 to set it.", "ZORPath尚未設定, 請按F1進行設定!",
     "ZORPath尚未设定, 请按F1进行设定!"},
    /* 34 */ {"The folder %s does not exist.", "找不到路徑 %s!", "找不到路径 %s!"},
    /* 35 */ {"The folder %s is missing.", "缺少資料夾 %s.", "缺少文件夹 %s."},
    /* 36 */ {"The file %s is missing.", "缺少檔案 %s.", "缺少档案 %s."},
    /* 37 */ {"The system file %s is missing.", "缺少系統檔案 %s.", "缺少系统档案 %s."},
    /* 38 */ {"", "觀星者", "岳川观星者"},
    /* 39 */ {"", "啟動岳川觀星者", "启动岳川观星者"},
    /* 40 */ {"", "卸載岳川觀星者", "卸载岳川观星者"},
    /* 41 */ {"", "確認刪除系統嗎？", "确认删除系统吗？"},
};

constexpr int kLangUnset = -1;
std::atomic<int> gLangIndex{kLangUnset};

}  // namespace

int LangIndexForLcid(uint32_t lcid) {
  switch (lcid) {
    case 1028:
    case 3076:
      return kLangTraditional;
    case 2052:
      return kLangSimplified;
    default:
      return kLangEnglish;
  }
}

int LangIndex() {
  int index = gLangIndex.load(std::memory_order_acquire);
  if (index == kLangUnset) {
    index = LangIndexForLcid(GetSystemDefaultLCID());
    int expected = kLangUnset;
    if (!gLangIndex.compare_exchange_strong(expected, index, std::memory_order_acq_rel))
      index = expected;
  }
  return index;
}

void SetLangIndex(int langIndex) {
  gLangIndex.store(langIndex >= 0 && langIndex < kLangCount ? langIndex : kLangEnglish,
                   std::memory_order_release);
}

std::string GetLangMessageIn(int langIndex, int number) {
  if (langIndex < 0 || langIndex >= kLangCount || number < 0 || number >= kLangMessageCount)
    return {};
  return std::string(kLangMessages[number].Text[langIndex]);
}

std::string GetLangMessage(int number) {
  return GetLangMessageIn(LangIndex(), number);
}

bool IsTraditionalLanguage() {
  return LangIndex() == kLangTraditional;
}

}  // namespace zor
