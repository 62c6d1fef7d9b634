#include "startup/updating/download_client_source.h"

#include "intercom/client_settings.h"
#include "intercom/default_connection.h"
#include "startup/launch/program_arguments.h"
#include "transport/pipe_handler.h"
#include "transport/tcp_handler.h"
#include "update/download_client.h"
#include "update/download_jobs.h"
#include "update/download_progress.h"
#include "update/download_settings.h"

namespace zor {

void TDownloadClientSource::EnsureClient() {
  (void)GetDownloadClient().RequestConnection();
}

void TDownloadClientSource::ResetClient() {
  ResetDownloadClient();
}

bool TDownloadClientSource::GetServerFileList(std::string& fileList, std::string& second) {
  return zor::GetServerFileList(GetDownloadClient(), fileList, second);
}

bool TDownloadClientSource::GetRemoteFileInfo(const std::string& name, const std::string& area,
                                              TFileObject& info) {
  TFileObject answer;
  if (!zor::GetRemoteFileInfo(GetDownloadClient(), name, area, answer.FileAge, answer.FileSize,
                              answer.Version)) {
    return false;
  }
  info = answer;
  return true;
}

bool TDownloadClientSource::DownloadOne(const std::string& name, const std::string& area,
                                        bool deleteFirst, const std::string& baseDir) {
  return zor::DownloadOne(GetDownloadClient(), name, area, deleteFirst, baseDir);
}

void TDownloadClientSource::DownloadList(const TFileList& list) {
  std::vector<std::string> names;
  names.reserve(list.size());
  for (const TFileEntry& entry : list) names.push_back(entry.Name);
  TDownLoadExecutor executor;
  executor.Run(names);
}

int64_t TDownloadClientSource::DownloadTotal() {
  return zor::DownloadTotal().load();
}

int64_t TDownloadClientSource::DownloadedBytes() {
  return zor::DownloadedBytes().load();
}

std::string TDownloadClientSource::CurrentFileName() {
  return CurrentDownloadName();
}

void TDownloadClientSource::StartCounters(int64_t total) {
  zor::DownloadedBytes().store(0);
  zor::DownloadTotal().store(total);
  SetCurrentDownloadName("");
}

void InstallLauncherConnections(const TLauncherConnectionFacts& facts) {
  SetHandlerClass(TTransportKind::Tcp, [](const std::string& connectString, int32_t, int32_t) {
    return std::unique_ptr<TIcIOHandler>(std::make_unique<TTCPHandler>(connectString));
  });
  SetHandlerClass(TTransportKind::Pipe, [](const std::string& connectString, int32_t, int32_t) {
    return std::unique_ptr<TIcIOHandler>(std::make_unique<TPipeHandler>(connectString));
  });
  TClientConnectEnvironment environment;
  environment.NetMode = facts.NetMode;
  environment.KeyPath = facts.KeyPath;
  environment.Arguments = ProgramParameterList();
  environment.ClientKind = facts.ClientKind;
  SetClientConnectEnvironment(environment);

  TDownloadSettings settings;
  settings.DownloadCapacity = facts.DownloadCapacity;
  settings.InstallDir = facts.ExeDir;
  settings.DataFolder = facts.DataFolder;
  settings.DeltaFetch = ReadConnectSettings().DeltaFetch;
  SetDownloadSettings(settings);

  SetDownloadConnector(ConnectWithStoredSettings);
  SetUpdateSource(std::make_shared<TDownloadClientSource>());
}

}  // namespace zor
