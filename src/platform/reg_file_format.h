// The text format of registry files (hive files and exported/imported files), described once.
//
//   Windows Registry Editor Version 5.00      first line ("REGEDIT4" in the older format)
//                                              blank lines separate keys; ';' starts a comment
//   [HKEY_LOCAL_MACHINE\Software\ZOR]          a key, its full path from the root
//   [-HKEY_LOCAL_MACHINE\Software\Old]         delete the key and everything under it
//   "Name"="text"                              REG_SZ; '\' and '"' escaped with a backslash
//   @="text"                                   the default value (no name)
//   "Port"=dword:00000300                      REG_DWORD, up to eight hex digits
//   "Data"=hex:01,02,ff                        REG_BINARY, bytes in hex separated by commas
//   "Path"=hex(2):25,00,41,00,00,00            any other type: hex(<type in hex>):<raw bytes>;
//                                              hex(2) REG_EXPAND_SZ, hex(7) REG_MULTI_SZ,
//                                              hex(b) REG_QWORD (little-endian)
//   "Old"=-                                    delete the value
//
// A hex line that ends with a backslash continues on the next line. In the 5.00 format the
// strings inside hex(2)/hex(7) data are UTF-16LE; in REGEDIT4 they are 8-bit text. Files are
// read as UTF-8 (an optional UTF-8 byte-order mark is skipped) or as UTF-16LE when they start
// with its byte-order mark; they are written as UTF-8 without a mark, with CRLF line ends.
#pragma once

#include <cstddef>
#include <string_view>

namespace zor {

inline constexpr std::string_view kRegFileHeader5 = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kRegFileHeader4 = "REGEDIT4";
inline constexpr std::string_view kRegLineEnd = "\r\n";
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
inline constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
inline constexpr std::string_view kRegDwordPrefix = "dword:";
inline constexpr std::string_view kRegHexPrefix = "hex";
inline constexpr char kRegDefaultValueMark = '@';
inline constexpr char kRegDeleteMark = '-';
inline constexpr char kRegCommentMark = ';';
inline constexpr char kRegContinuation = '\\';
// Hex data lines are wrapped before this column, as exports do.
inline constexpr size_t kRegHexLineWidth = 80;
// Continuation lines of hex data start with this indent.
inline constexpr std::string_view kRegHexIndent = "  ";
// A registry file larger than this is refused before it is read (a hive of settings is a
// few kilobytes; this leaves room for large exports).
inline constexpr size_t kMaxRegFileBytes = 64 * 1024 * 1024;

}  // namespace zor
