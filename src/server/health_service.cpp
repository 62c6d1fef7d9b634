#include "server/health_service.h"

#include <mutex>

#include "base/clock.h"
#include "server/file_service.h"
#include "server/zor_server.h"

namespace zor {

THealthFigures CollectHealthFigures(TZORServer& server, TFileService* files) {
  THealthFigures figures;
  figures.Active = server.Active() && !server.Stopping();
  figures.Draining = server.Draining();
  figures.LoopSilence = std::chrono::duration_cast<std::chrono::milliseconds>(
      GetClock().Now() - server.LastTimerTick());
  for (const auto& session : server.Sessions().All()) {
    ++figures.Sessions;
    std::lock_guard guard(session->Lock);
    switch (session->State) {
      case SessionState::Reading:
        ++figures.Reading;
        break;
      case SessionState::Executing:
        ++figures.Executing;
        break;
      case SessionState::Detached:
        ++figures.Detached;
        break;
    }
  }
  figures.Connections = server.TransportCount();
  for (size_t i = 0; i < kRefusalReasons; ++i)
    figures.Refusals[i] = server.Counters().RefusedFor(static_cast<RefusalReason>(i));
  if (files) {
    figures.FileService = files->Enabled();
    figures.Manifest = files->Manifest();
    figures.Packing = files->Packing();
    figures.BytesServed = files->BytesServed();
    figures.Packs = files->Packs().PacksDone();
    figures.PacksRejected = files->Packs().Rejected();
  }
  return figures;
}

THealthService::THealthService(TZORServer& server, TFileService* files)
    : Http(server.Log(), THttpPortNames{"Health", "health request", "health requests"},
           THttpPortLimits{kMaxHealthConnections, kMaxHealthPerAddress, kHealthRequestTimeoutMs},
           [&server, files](const HttpRequest& request) {
             return AnswerHealthRequest(CollectHealthFigures(server, files), request);
           }) {}

}  // namespace zor
