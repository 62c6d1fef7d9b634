#include "update/update_fault_texts.h"

#include <iterator>

namespace zor {

namespace {

struct TextRow {
  std::string_view Text[3];  // English, traditional, simplified
};

constexpr TextRow kRows[] = {
    /* DiskFull */
    {"There is not enough disk space to write %s. The update stopped and the old files were "
     "kept; free some space and start the program again to finish the update.",
     "磁碟空間不足，無法寫入 "
     "%s。更新已停止，原有的檔案均已保留；請釋放磁碟空間後重新啟動程式以完成更新。",
     "磁盘空间不足，无法写入 "
     "%s。更新已停止，原有的档案均已保留；请释放磁盘空间后重新启动程序以完成更新。"},
    /* FolderNotWritable */
    {"The program folder %s is read-only or this user may not write into it; nothing was "
     "updated. Give this user write access to the folder and start the program again.",
     "程式資料夾 %s "
     "為唯讀，或此使用者沒有寫入權限，未更新任何檔案。請給予此使用者該資料夾的寫入權限後重新啟動程"
     "式。",
     "程序文件夹 %s "
     "为只读，或此用户没有写入权限，未更新任何档案。请给予此用户该文件夹的写入权限后重新启动程序"
     "。"},
    /* ListedFileNotServed */
    {"The server lists the file %s but does not send it. The update stopped and the old files "
     "were kept; tell the administrator of the application server.",
     "伺服器的檔案清單中有 %s，但伺服器並未傳送此檔案。更新已停止，原有的檔案均已保留；"
     "請通知應用程式伺服器的管理員。",
     "服务器的档案清单中有 %s，但服务器并未传送此档案。更新已停止，原有的档案均已保留；"
     "请通知应用服务器的管理员。"},
    /* ListEntryNotAName */
    {"The server's file list names %s, which cannot be a file name here (the server could "
     "not write the name in its character set). The update stopped and the old files were "
     "kept; ask the administrator to rename the file or to change the server's language.",
     "伺服器的檔案清單中的 %s 無法作為本機的檔案名稱（伺服器的字元集無法表示此名稱）。"
     "更新已停止，原有的檔案均已保留；請要求管理員更改檔案名稱或伺服器的語系。",
     "服务器的档案清单中的 %s 无法作为本机的档案名称（服务器的字符集无法表示此名称）。"
     "更新已停止，原有的档案均已保留；请要求管理员更改档案名称或服务器的语系。"},
};

}  // namespace

std::string_view UpdateFaultTextIn(int langIndex, TUpdateFaultText text) {
  const auto row = static_cast<size_t>(text);
  if (row >= std::size(kRows)) return {};
  return kRows[row].Text[langIndex >= 0 && langIndex < 3 ? langIndex : 0];
}

}  // namespace zor
