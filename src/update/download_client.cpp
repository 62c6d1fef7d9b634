#include "update/download_client.h"

#include <mutex>
#include <vector>

#include "base/ascii_case.h"
#include "base/format.h"
#include "intercom/client_connection_ex.h"
#include "intercom/default_connection.h"
#include "intercom/scrambling.h"
#include "platform/directories.h"
#include "platform/file_system.h"
#include "platform/locale.h"
#include "update/download_settings.h"
#include "update/file_service_commands.h"
#include "update/release_areas.h"

namespace zor {

namespace {

std::mutex gConnectorLock;
TConnectionFactory gConnector;

std::mutex gClientLock;
std::unique_ptr<TDownloadFileClient> gClient;

std::vector<std::string> SplitNames(std::string_view names) {
  std::vector<std::string> parts;
  while (!names.empty()) {
    const size_t comma = names.find(',');
    const std::string_view part = names.substr(0, comma);
    if (!part.empty()) parts.emplace_back(part);
    names = comma == std::string_view::npos ? std::string_view{} : names.substr(comma + 1);
  }
  return parts;
}

// "bpls\Main.bpl" with ".CHT" -> "bpls\Main.CHT": the extension starts at the last '.' of the
// last part.
std::string ChangeExtension(std::string_view name, std::string_view extension) {
  const size_t lastPart = name.find_last_of("\\/");
  const size_t dot = name.rfind('.');
  const bool hasExtension =
      dot != std::string_view::npos && (lastPart == std::string_view::npos || dot > lastPart);
  return std::string(name.substr(0, hasExtension ? dot : name.size())) + std::string(extension);
}

bool IsCompanionArea(std::string_view area) {
  return SameTextAscii(area, "Bpls") || SameTextAscii(area, "Libs") || SameTextAscii(area, "Coms");
}

}  // namespace

void SetDownloadConnector(TConnectionFactory factory) {
  std::lock_guard guard(gConnectorLock);
  gConnector = std::move(factory);
}

std::unique_ptr<TIcConnection> NewDownloadConnection() {
  TConnectionFactory factory;
  {
    std::lock_guard guard(gConnectorLock);
    factory = gConnector;
  }
  return factory ? factory() : ConnectWithStoredSettings();
}

std::unique_ptr<TIcConnection> ConnectWithStoredSettings() {
  const bool scramble = ReadConnectSettings().Scramble;
  auto connection = std::make_unique<TClientConnectionEx>(scramble ? DefaultEncrypt : nullptr,
                                                          kDefaultScrambleKey,
                                                          scramble ? DefaultDecrypt : nullptr);
  ConnectWithSettings(*connection);
  // A link lost while a reply is awaited: the same settings open a new transport, on which
  // the connection resumes its session (and the server delivers the interrupted result).
  connection->OnReconnect = [](TIcConnection& self) {
    ConnectWithSettings(static_cast<TIcClientConnection&>(self));
  };
  return connection;
}

TIcConnection& TDownloadFileClient::RequestConnection() {
  if (Connection != nullptr && Connection->Connected()) return *Connection;
  OwnedConnection = NewDownloadConnection();
  Connection = OwnedConnection.get();
  return *Connection;
}

void TDownloadFileClient::Reconnect() {
  DisconnectQuietly();
  OwnedConnection = NewDownloadConnection();
  Connection = OwnedConnection.get();
}

bool TDownloadFileClient::ResumeSession() {
  if (Connection == nullptr || Connection->Connected() || Connection->SessionId.load() == 0 ||
      !Connection->OnReconnect)
    return false;
  try {
    // Nothing to resend: the interrupted stream is asked for again from where it broke.
    return Connection->Reconnect(
               false, false, std::make_exception_ptr(Exception(std::string(kNotConnectedText)))) ==
               1 &&
           Connection->Connected();
  } catch (const std::exception&) {
    return false;
  }
}

void TDownloadFileClient::DisconnectQuietly() {
  if (Connection == nullptr) return;
  try {
    // An idle connection logs off (command 1), so the server closes the session at once
    // instead of keeping it for a resume; one with a transfer still in flight is cut.
    TIcIOHandler* handler = Connection->Handler();
    if (handler && handler->HasPendingIO()) handler->Close();
    Connection->Disconnect();
  } catch (const std::exception&) {
  }
}

TDownloadFileClient& GetDownloadClient() {
  std::lock_guard guard(gClientLock);
  if (!gClient) gClient = std::make_unique<TDownloadFileClient>();
  return *gClient;
}

void ResetDownloadClient() {
  std::lock_guard guard(gClientLock);
  if (gClient) gClient->DisconnectQuietly();
  gClient = std::make_unique<TDownloadFileClient>();
}

void CloseDownloadClient() {
  std::unique_ptr<TDownloadFileClient> client;
  {
    std::lock_guard guard(gClientLock);
    client = std::move(gClient);
  }
  if (client) client->DisconnectQuietly();
}

std::string AreaLocalFolder(std::string_view area) {
  const TDownloadSettings settings = GetDownloadSettings();
  const std::string installDir = GetInstallDir();
  std::string folder = AreaFolder(area);
  for (char& c : folder)
    if (c == '\\') c = kPathDelimiter;
  if (SameTextAscii(area, "Help"))
    return IncludeTrailingPathDelimiter(settings.HelpFolder.empty() ? installDir
                                                                    : settings.HelpFolder) +
           folder;
  return installDir + folder;
}

bool GetServerFileList(TDownloadFileClient& client, std::string& fileList, std::string& second) {
  try {
    const TVariantArray result = client.RequestConnection().ExecuteQuery(cmdFileList, {});
    if (!result.empty() && !result[0].IsEmpty()) fileList = result[0].AsString();
    if (result.size() > 1 && !result[1].IsEmpty()) second = result[1].AsString();
    return true;
  } catch (const std::exception& e) {
    RaiseZORError(0, 0, Format(kFileListErrorText, {e.what()}));
  }
}

bool GetRemoteFileInfo(TDownloadFileClient& client, std::string_view name, std::string_view area,
                       int32_t& age, int32_t& size, std::string& version) {
  const TVariantArray args{TVariant::Wide(std::string(name)), TVariant(std::string(area)),
                           TVariant(DefaultLanguageTag()),
                           TVariant(GetDownloadSettings().InfoMarker)};
  static constexpr uint16_t kTypes[] = {kVarBoolean, kVarString, kVarInteger, kVarInteger};
  TVerbatimStrings verbatim;  // a name reaches the server exactly as its list spells it
  const TVariantArray result =
      client.RequestConnection().ExecuteQueryData(cmdPackedFileInfo, kTypes, args);
  if (!result[0].AsBoolean()) return false;
  version = result[1].AsString();
  size = result[2].AsInteger();
  age = result[3].AsInteger();
  return true;
}

bool DownloadFiles(TDownloadFileClient& client, std::string_view names, std::string_view area,
                   std::string_view baseDir) {
  const std::string folder =
      baseDir.empty() ? AreaLocalFolder(area) : IncludeTrailingPathDelimiter(baseDir);
  const std::vector<std::string> list = SplitNames(names);
  if (list.empty()) return false;
  const uint32_t lcid = GetSystemDefaultLCID();
  const bool companions = IsTraditionalScriptSystem() && IsCompanionArea(area);
  TRemoteCPSFile file(&client.RequestConnection(), GetInstallDir());
  file.SetEvents(client.Events);
  // What the file learns about the server's commands stays with the client, failure or not.
  file.OneTripFetch = client.OneTripFetch;
  file.Delta = &client.Delta;
  struct TKeepOneTrip {
    TDownloadFileClient& Client;
    const TRemoteCPSFile& File;
    ~TKeepOneTrip() { Client.OneTripFetch = File.OneTripFetch; }
  } keep{client, file};
  const std::string tag = DefaultLanguageTag();
  bool found = false;
  for (const std::string& name : list) {
    std::string local;
    if (file.Download(name, area, &client.Cancel, &local, tag, folder)) {
      client.LastFile = local;
      found = true;
    }
    if (!companions) continue;
    std::string companion;
    if (!file.Download(ChangeExtension(name, kCompanionExtension), kCompanionArea, &client.Cancel,
                       &companion, tag, folder))
      continue;
    client.LastFile = companion;
    // The user's locale is the system's on this platform.
    if (lcid == kLcidChineseHongKong) {
      const std::string hongKong = ChangeExtension(companion, kHongKongCompanionExtension);
      FileSystem& files = CurrentFileSystem();
      files.RemoveIfPresent(hongKong);
      try {
        files.Rename(companion, hongKong);
      } catch (const EFileSystemError&) {
        // The companion keeps its own name; the program then reads the default one.
      }
    }
  }
  return found;
}

}  // namespace zor
