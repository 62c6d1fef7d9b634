// The launcher's update source: the process-wide download client and its file commands, the
// download executor for the download phase, and the progress counters of the update layer.
// `InstallLauncherConnections` sets up how the launcher reaches its server: the TCP and local
// pipe transports, the connection facts of this client (network mode, settings key,
// arguments, kind), the download settings (install folder, transfer capacity) and the
// connector that makes a new scrambled client connection from the stored settings.
#pragma once

#include <cstdint>
#include <string>

#include "startup/updating/update_source.h"

namespace zor {

class TDownloadClientSource : public TUpdateSource {
 public:
  void EnsureClient() override;
  void ResetClient() override;
  bool GetServerFileList(std::string& fileList, std::string& second) override;
  bool GetRemoteFileInfo(const std::string& name, const std::string& area,
                         TFileObject& info) override;
  bool DownloadOne(const std::string& name, const std::string& area, bool deleteFirst,
                   const std::string& baseDir) override;
  void DownloadList(const TFileList& list) override;
  int64_t DownloadTotal() override;
  int64_t DownloadedBytes() override;
  std::string CurrentFileName() override;
  void StartCounters(int64_t total) override;
};

// What the connections take from the client information object.
struct TLauncherConnectionFacts {
  bool NetMode = true;
  std::string KeyPath;
  int32_t ClientKind = 1000;
  int32_t DownloadCapacity = 24;
  std::string ExeDir;      // with its trailing separator
  std::string DataFolder;  // with its trailing separator
};

void InstallLauncherConnections(const TLauncherConnectionFacts& facts);

}  // namespace zor
