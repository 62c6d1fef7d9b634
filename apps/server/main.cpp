// zorserver: the application server. Serves a release folder to the launchers (file list,
// file information and data, uploads) over TCP, and optionally answers name-service
// lookups over UDP. Settings come from the registry store (HKLM\Software\ZOR\DK880\Server),
// overridden by the command line; SIGINT or SIGTERM stop it cleanly, SIGHUP reads the release
// folder again and reopens the log file; `--check` checks the setup and exits.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "base/format.h"
#include "intercom/charset_conversion.h"
#include "intercom/connect_strings.h"
#include "platform/code_page.h"
#include "platform/locale.h"
#include "platform/special_folders.h"
#include "platform/stop_signal.h"
#include "server/file_service.h"
#include "server/health_service.h"
#include "server/lookup_service.h"
#include "server/name_service_responder.h"
#include "server/pipe_listener.h"
#include "server/proxy_header.h"
#include "server/registry_settings.h"
#include "server/server_check.h"
#include "server/server_connection_pool.h"
#include "server/server_options.h"
#include "server/server_texts.h"
#include "server/status_reporter.h"
#include "server/tcp_control_service.h"
#include "server/zor_server.h"

namespace {

using namespace zor;

std::filesystem::path DefaultCacheDir() {
  if (const std::optional<std::string> cache = GetCacheFolderOfEnvironment())
    return std::filesystem::path(*cache) / "zor/pack";
  // A service without a home: the folder a package lays out for it (owned by its user, 0700).
  return "/var/cache/zor/pack";
}

// --language, else the setting "Language", else the process's locale.
uint32_t ServerLanguage(const TServerOptions& options, TSettingsStore& settings) {
  if (options.Language) return *options.Language;
  const int64_t configured = settings.ReadInteger("", "Language", 0);
  if (configured > 0 && configured <= 0xFFFF) return static_cast<uint32_t>(configured);
  return GetSystemDefaultLCID();
}

template <typename T>
T Pick(const std::optional<T>& option, T fromSettings) {
  return option ? *option : fromSettings;
}

int Run(const std::vector<std::string>& args) {
  const TServerOptions options = ParseServerOptions(args);
  if (options.Help) {
    std::fputs(ServerUsage().c_str(), stdout);
    return 0;
  }
  TRegistrySettings settings;
  TServerLog log;
  LogLevel level = LogLevel::Info;
  if (!ParseLogLevel(settings.ReadString("", "LogLevel", "info"), level)) level = LogLevel::Info;
  log.SetLevel(Pick(options.Level, level));
  const std::string logFile = Pick(options.LogFile, settings.ReadString("", "LogFile", ""));
  const std::string release =
      Pick(options.ReleaseDir, settings.ReadString("", "ReleaseFolder", ""));
  const std::string cache =
      Pick(options.CacheDir, settings.ReadString("", "CacheFolder", DefaultCacheDir().string()));
  const std::string upload = Pick(options.UploadDir, settings.ReadString("", "UploadFolder", ""));
  const uint16_t lookupPort =
      options.LookupPort ? *options.LookupPort
                         : static_cast<uint16_t>(settings.ReadInteger("", "LookupPort", 0));
  const std::string lookupTable =
      lookupPort != 0 ? Pick(options.LookupTable, settings.ReadString("", "LookupTable", ""))
                      : std::string();
  const uint16_t healthPort =
      options.HealthPort ? *options.HealthPort
                         : static_cast<uint16_t>(settings.ReadInteger("", "HealthPort", 0));
  const uint16_t namePort = options.NamePort
                                ? *options.NamePort
                                : static_cast<uint16_t>(settings.ReadInteger("", "NamePort", 0));
  const std::string namesFile = Pick(options.NamesFile, settings.ReadString("", "NamesFile", ""));
  // The server's language decides its greeting's language id, its Chinese script and the
  // code page of its 8-bit strings, for everything in this process.
  const uint32_t language = ServerLanguage(options, settings);
  ScopedLcidOverride processLanguage(language);
  std::string noTables;
  const bool tables = LoadScriptTables(&noTables);
  if (options.Check) {
    TServerCheckSubject subject;
    subject.ReleaseDir = release;
    subject.CacheDir = cache;
    if (!upload.empty()) subject.UploadDir = upload;
    if (!logFile.empty()) subject.LogFile = logFile;
    if (lookupPort != 0) subject.LookupTable = lookupTable;
    if (namePort != 0 && !namesFile.empty()) subject.NamesFile = namesFile;
    TTCPSettings tcp = ReadTCPSettings(settings, kTextTCPServiceName, kDefaultServerPort);
    if (options.Port) ApplyPortSwitch(tcp, *options.Port);
    if (options.BindAddress) tcp.BoundIP = *options.BindAddress;
    if (options.Tcp) tcp.EnableTCP = *options.Tcp;
    if (tcp.EnableTCP)
      subject.Ports.push_back(
          {"application server", SocketKind::Stream, tcp.BoundIP, static_cast<uint16_t>(tcp.Port)});
    if (namePort != 0)
      subject.Ports.push_back({"name service", SocketKind::Datagram, tcp.BoundIP, namePort});
    if (lookupPort != 0)
      subject.Ports.push_back({"lookup service", SocketKind::Stream, tcp.BoundIP, lookupPort});
    if (healthPort != 0)
      subject.Ports.push_back({"health port", SocketKind::Stream, tcp.BoundIP, healthPort});
    subject.Language = language;
    const TServerCheckResult result = CheckServerSetup(subject);
    for (const std::string& problem : result.Problems) std::printf("%s\n", problem.c_str());
    for (const std::string& note : result.Notes) std::printf("Note: %s\n", note.c_str());
    if (result.Problems.empty()) std::printf("The release, the folders and the ports are ready\n");
    return result.Problems.empty() ? 0 : 1;
  }
  if (lookupPort != 0 && lookupTable.empty())
    throw Exception("The lookup service needs its table: give --lookup-table FILE");
  if (!logFile.empty()) log.OpenFile(logFile);
  RequireReleaseFolder(release);

  std::unique_ptr<TLookupService> lookup;
  if (lookupPort != 0) {
    lookup = std::make_unique<TLookupService>(log, TLookupTable::Load(lookupTable));
  }

  TSessionSettings session;
  session.Language = language;
  session.Scramble = Pick(options.Scramble, settings.ReadBool("", "Scramble", true));
  session.MaxConnections =
      Pick(options.MaxConnections,
           static_cast<int32_t>(settings.ReadInteger("", "MaxConnections", 256)));
  session.SessionGrace = std::chrono::seconds(
      Pick(options.SessionGraceSeconds,
           static_cast<int32_t>(settings.ReadInteger("", "SessionGrace", 120))));
  session.LocalAdmin = settings.ReadBool("", "LocalAdmin", false);
  session.IdleTimeout = std::chrono::seconds(Pick(
      options.IdleTimeoutSeconds,
      static_cast<int32_t>(settings.ReadInteger("", "IdleTimeout", kDefaultIdleTimeout.count()))));
  session.MaxPerAddress =
      Pick(options.MaxPerAddress,
           static_cast<int32_t>(settings.ReadInteger("", "MaxPerAddress", kDefaultMaxPerAddress)));
  session.ProxyFrom = options.ProxyFrom ? *options.ProxyFrom
                                        : ParseProxyList(settings.ReadString("", "ProxyFrom", ""));
  const int32_t drainSeconds =
      Pick(options.DrainSeconds,
           static_cast<int32_t>(settings.ReadInteger("", "DrainTimeout", kDefaultDrainSeconds)));
  TZORServer server(log, settings, session);

  TTCPControlService tcp(&server, options.Port, options.BindAddress);
  if (options.Tcp) tcp.OverrideEnableTCP(*options.Tcp);
  const bool pipeWanted = Pick(options.Pipe, settings.ReadBool("", "EnablePipe", true));
  TFileServiceSettings fileSettings;
  fileSettings.ReleaseDir = release;
  fileSettings.CacheDir = cache;
  if (!upload.empty()) fileSettings.UploadDir = upload;
  fileSettings.UploadLimit =
      Pick(options.UploadLimit, settings.ReadInteger("", "UploadLimit", kDefaultUploadLimit));
  TFileService files(&server, fileSettings);
  tcp.SetEnabled(true);
  files.SetEnabled(settings.ReadBool(files.Name(), "Enabled", true));

  std::unique_ptr<TNameServiceResponder> names;
  if (namePort != 0) {
    names = std::make_unique<TNameServiceResponder>(
        log, namesFile.empty() ? TNameTable() : TNameTable::Load(namesFile));
  }

  // Answers the balancer's checks for as long as the server runs, through a drain too.
  std::optional<THealthService> health;
  if (healthPort != 0) health.emplace(server, &files);

  server.Activate();
  const TTCPSettings tcpSettings = tcp.Current();
  if (!tcp.Enabled()) {
    server.Deactivate();
    throw Exception(
        Format("The TCP listener on %s:%d could not be started (see the log)",
               {tcpSettings.BoundIP.empty() ? "0.0.0.0" : tcpSettings.BoundIP, tcpSettings.Port}));
  }
  // The local pipe beside TCP. Without TCP it is the only way in, so it must start; with
  // TCP a pipe folder this user cannot have (no /run/zor/pipe outside the package) only
  // costs the pipe.
  TPipeListener* pipe = nullptr;
  if (pipeWanted) {
    try {
      pipe = static_cast<TPipeListener*>(server.AddListener(
          std::make_unique<TPipeListener>(ServerPipeConnectString(std::string(kServerPipeName)))));
    } catch (const std::exception& e) {
      if (!tcpSettings.EnableTCP) {
        server.Deactivate();
        throw;
      }
      log.Warning("Server", std::string("No local pipe: ") + e.what());
    }
  }
  if (!tcpSettings.EnableTCP && !pipe) {
    server.Deactivate();
    throw Exception("Neither TCP nor the local pipe is on: nothing to listen on");
  }
  // Code running inside this process reaches the server through its own pooled connections.
  std::optional<TScopedServerConnectionPool> hosting(std::in_place, server);
  if (names) names->Start(tcpSettings.BoundIP, namePort);
  if (lookup) lookup->Start(tcpSettings.BoundIP, lookupPort);
  if (health) health->Start(tcpSettings.BoundIP, healthPort);
  if (tcpSettings.EnableTCP)
    std::printf("listening on %s:%d\n",
                tcpSettings.BoundIP.empty() ? "0.0.0.0" : tcpSettings.BoundIP.c_str(),
                tcpSettings.Port);
  if (pipe) std::printf("listening on pipe %s\n", pipe->Path().c_str());
  std::fflush(stdout);
  log.Info("Server",
           "Serving " + release +
               (names ? ", name service on UDP port " + std::to_string(names->Port()) : "") +
               (lookup ? ", lookup service on TCP port " + std::to_string(lookup->Port()) : "") +
               (health ? ", health port on TCP port " + std::to_string(health->Port()) : ""));

  log.Info("Server", Format("Language %u (code page %u); simplified/traditional conversion %s",
                            {language, AnsiCodePageForLcid(language),
                             tables ? std::string("on") : "off: " + noTables}));

  TStatusReporter status(log, [&] {
    return TServerStatus{server.TransportCount(), files.BytesServed(), files.Packs().PacksDone()};
  });
  status.Start();

  int signal = 0;
  ServiceSignal request;
  while ((request = WaitForServiceSignal(signal)) == ServiceSignal::Reload) {
    // logrotate moved the log file away: go on in a new one of the same name.
    if (!logFile.empty()) {
      try {
        log.OpenFile(logFile);
      } catch (const std::exception& e) {
        log.Error("Server", e.what());
      }
    }
    // A release path that is a link is followed again, so that switching a link to another
    // versioned folder takes effect here and not before; a path that names no readable
    // folder now keeps the folder served until then.
    if (const std::optional<std::string> problem = ReleaseFolderProblem(release)) {
      log.Error("Server", *problem + "; still serving " + files.Release().Root().string());
      files.Release().Rescan();
    } else if (files.Release().ResolveAgain()) {
      log.Info("Server", "The release is now " + files.Release().Root().string());
    } else {
      files.Release().Rescan();
    }
    log.Info("Server", "Reloaded: " + std::to_string(files.Release().Snapshot()->Files.size()) +
                           " files in " + release);
  }
  status.Stop();
  log.Info("Server", "Stopping (signal " + std::to_string(signal) + ")");
  if (lookup) lookup->Stop();
  if (names) names->Stop();
  hosting.reset();
  if (request == ServiceSignal::Drain && drainSeconds > 0) {
    log.Info("Server", "Draining: no new clients; running commands get up to " +
                           std::to_string(drainSeconds) + " s to end");
    if (!server.Drain(std::chrono::seconds(drainSeconds)))
      log.Warning("Server", "Drain time over: the commands still running were stopped");
  } else {
    server.Deactivate();
  }
  if (health) health->Stop();
  log.Info("Server", "Stopped");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before any thread starts, so that every thread leaves the stop signals to
  // `WaitForServiceSignal`.
  zor::BlockStopSignals();
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    return Run(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zorserver: %s\n", e.what());
    return 1;
  }
}
