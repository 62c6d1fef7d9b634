// The download client: the server's file commands (the file list 0xA202, the information on
// one file 0xA20D, and downloads of the packed form through `TRemoteCPSFile`), the local
// folder of each server area, and the process-wide client that the update thread and the
// start window share.
//
// Connections come from a connector: by default a new client connection with the default
// scrambling, connected with the stored server settings; tests install one that joins an
// in-process server. A client uses its connection while it is connected and asks the
// connector for a new one otherwise, which it then owns: job threads never share one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "intercom/connection_context.h"
#include "intercom/ic_connection.h"
#include "update/delta_fetch.h"
#include "update/download_settings.h"
#include "update/remote_file.h"

namespace zor {

inline constexpr std::string_view kFileListErrorText = "下载版本信息时发生错误 %s";
inline constexpr std::string_view kCompanionExtension = ".CHT";
inline constexpr std::string_view kHongKongCompanionExtension = ".ZHH";
inline constexpr std::string_view kCompanionArea = "LangDll";

// Makes a new connection to the server, connected and logged on.
using TConnectionFactory = std::function<std::unique_ptr<TIcConnection>()>;
// Replaces the connector; an empty one restores the default.
void SetDownloadConnector(TConnectionFactory factory);
std::unique_ptr<TIcConnection> NewDownloadConnection();
// The default: a `TClientConnectionEx` (default scrambling unless the settings switch it off,
// the fixed key) connected with `ConnectWithSettings`, which also reconnects it (and so
// resumes its session) when its link breaks during a command.
std::unique_ptr<TIcConnection> ConnectWithStoredSettings();

class TDownloadFileClient : public TIcConnectionContext {
 public:
  // Works through `connection` (not owned; may be null: the first request connects).
  explicit TDownloadFileClient(TIcConnection* connection = nullptr)
      : TIcConnectionContext(connection) {
    Delta.Enabled = GetDownloadSettings().DeltaFetch;
  }

  // The connection of the next request: the current one while connected, else a new one
  // from the connector (owned by the client).
  TIcConnection& RequestConnection();
  // Closes the current connection and connects anew (every retry starts fresh).
  void Reconnect();
  // Closes the connection, ignoring errors.
  void DisconnectQuietly();
  // After a link lost outside a wait for a reply (in the middle of a data stream): reopens
  // the transport and resumes the session, as the connection itself does while it waits.
  // True when the same session goes on; false when there is nothing to resume or it failed.
  bool ResumeSession();

  std::string LastFile;
  TCancelFlag Cancel{0};
  // False once the server answered the one-trip download as unknown (see remote_file.h);
  // kept across reconnects, which reach the same server.
  bool OneTripFetch = true;
  // Whether the server takes delta requests, and which files failed as a delta; kept across
  // reconnects like `OneTripFetch`.
  TDeltaFetch Delta;
  TRemoteFileEvents Events;

 private:
  std::unique_ptr<TIcConnection> OwnedConnection;
};

// The process-wide client, created on first use; `ResetDownloadClient` frees it (after the
// server settings changed) and creates a new one.
TDownloadFileClient& GetDownloadClient();
void ResetDownloadClient();
// Logs the process-wide client off and frees it: the end of the process, so the server
// closes the session at once.
void CloseDownloadClient();

// The local folder of a server area (with a trailing '/'), below the install folder.
std::string AreaLocalFolder(std::string_view area);

// The file list and its second string; raises `EZORException` "下载版本信息时发生错误 <message>".
bool GetServerFileList(TDownloadFileClient& client, std::string& fileList, std::string& second);
// The server's age, size and version of one file of `area`, or false when it does not know it.
bool GetRemoteFileInfo(TDownloadFileClient& client, std::string_view name, std::string_view area,
                       int32_t& age, int32_t& size, std::string& version);
// Downloads the names (separated by ",") of `area` into `baseDir` (empty: the area's folder),
// with the traditional-script companions where they belong. True when any name was found.
bool DownloadFiles(TDownloadFileClient& client, std::string_view names, std::string_view area,
                   std::string_view baseDir);
// One name with retries; `deleteFirst` removes the local copy first.
bool DownloadOne(TDownloadFileClient& client, std::string_view name, std::string_view area,
                 bool deleteFirst, std::string_view baseDir);

}  // namespace zor
