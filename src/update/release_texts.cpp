#include "update/release_texts.h"

namespace zor {

namespace {

struct TextRow {
  std::string_view Text[3];  // English, traditional, simplified
};

constexpr TextRow kRows[] = {
    /* InvalidKey */
    {"The \"ReleaseKey\" setting is not a valid public key; nothing was updated.",
     "\"ReleaseKey\" 設定不是有效的公開金鑰，未更新任何檔案。",
     "\"ReleaseKey\" 设定不是有效的公开密钥，未更新任何档案。"},
    /* NoManifest */
    {"The server has no signed release manifest; nothing was updated.",
     "伺服器上沒有已簽署的版本清單，未更新任何檔案。",
     "服务器上没有已签署的版本清单，未更新任何档案。"},
    /* DamagedManifest */
    {"The release manifest on the server cannot be read (%s); nothing was updated.",
     "無法讀取伺服器上的版本清單 (%s)，未更新任何檔案。",
     "无法读取服务器上的版本清单 (%s)，未更新任何档案。"},
    /* UntrustedManifest */
    {"The release manifest on the server is not signed with the trusted key; nothing was updated.",
     "伺服器上的版本清單並非以信任的金鑰簽署，未更新任何檔案。",
     "服务器上的版本清单并非以信任的密钥签署，未更新任何档案。"},
    /* Rollback */
    {"The server offers release %d, older than release %d installed before; nothing was updated.",
     "伺服器提供的版本 %d 比先前安裝的版本 %d 舊，未更新任何檔案。",
     "服务器提供的版本 %d 比先前安装的版本 %d 旧，未更新任何档案。"},
    /* Expired */
    {"The release manifest on the server expired on %s (UTC); nothing was updated.",
     "伺服器上的版本清單已於 %s (UTC) 過期，未更新任何檔案。",
     "服务器上的版本清单已于 %s (UTC) 过期，未更新任何档案。"},
    /* NotInManifest */
    {"The server offers %s, which is not part of the signed release; nothing was updated.",
     "伺服器提供的檔案 %s 不屬於已簽署的版本，未更新任何檔案。",
     "服务器提供的档案 %s 不属于已签署的版本，未更新任何档案。"},
    /* ListDiffers */
    {"The server lists %s other than the signed release does; nothing was updated.",
     "伺服器所列的檔案 %s 與已簽署的版本不符，未更新任何檔案。",
     "服务器所列的档案 %s 与已签署的版本不符，未更新任何档案。"},
    /* FileDiffers */
    {"The file %s from the server does not match the signed release; it was not installed.",
     "從伺服器取得的檔案 %s 與已簽署的版本不符，未安裝此檔案。",
     "从服务器取得的档案 %s 与已签署的版本不符，未安装此档案。"},
    /* TooLong */
    {"The server sent more data for %s than the signed release allows; it was not installed.",
     "伺服器傳送的檔案 %s 超過已簽署版本所允許的大小，未安裝此檔案。",
     "服务器传送的档案 %s 超过已签署版本所允许的大小，未安装此档案。"},
    /* LeftOutOfList */
    {"The server's file list leaves out %s, which is part of the signed release; nothing was "
     "updated.",
     "伺服器的檔案清單遺漏了已簽署版本中的檔案 %s，未更新任何檔案。",
     "服务器的档案清单遗漏了已签署版本中的档案 %s，未更新任何档案。"},
    /* SignedFileMissing */
    {"The server says it has no %s, which is part of the signed release; nothing was updated.",
     "伺服器表示沒有已簽署版本中的檔案 %s，未更新任何檔案。",
     "服务器表示没有已签署版本中的档案 %s，未更新任何档案。"},
    /* MainExeNotSigned */
    {"The main program %s is not a file of the signed release in the client folder; it was not "
     "started.",
     "主程式 %s 不是用戶端資料夾中已簽署版本的檔案，未啟動。",
     "主程序 %s 不是客户端文件夹中已签署版本的档案，未启动。"},
    /* SharedFolder */
    {"The client folder %s may be written by other users, who could replace the programs run "
     "from it; nothing was updated. Make the folder and its files writable by their owner "
     "only (chmod go-w), or install the client in a folder of your own.",
     "其他使用者可以寫入用戶端資料夾 %s，可能替換從中執行的程式，未更新任何檔案。請讓資料夾及其"
     "檔案僅供擁有者寫入 (chmod go-w)，或將用戶端安裝到您自己的資料夾。",
     "其他用户可以写入客户端文件夹 %s，可能替换从中执行的程序，未更新任何档案。请让文件夹及其"
     "档案仅供拥有者写入 (chmod go-w)，或将客户端安装到您自己的文件夹。"},
    /* InstalledReleaseStarted */
    {"The update failed: %s\nThe installed release %d, unchanged since it was verified, was "
     "started.",
     "更新失敗：%s\n已啟動先前安裝且驗證後未曾變更的版本 %d。",
     "更新失败：%s\n已启动先前安装且验证后未曾变更的版本 %d。"},
};

}  // namespace

std::string_view ReleaseTextIn(int langIndex, TReleaseText text) {
  const auto row = static_cast<size_t>(text);
  if (row >= std::size(kRows)) return {};
  return kRows[row].Text[langIndex >= 0 && langIndex < 3 ? langIndex : 0];
}

}  // namespace zor
