#include "server/health_report.h"

#include "base/format.h"
#include "server/http_port_server.h"

namespace zor {
namespace {

constexpr std::string_view kMetricsType = "text/plain; version=0.0.4; charset=utf-8";

constexpr ManifestState kManifestStates[] = {ManifestState::Unchecked, ManifestState::None,
                                             ManifestState::Matches, ManifestState::Differs,
                                             ManifestState::Unreadable};

class TMetricsWriter {
 public:
  void Family(std::string_view name, std::string_view type, std::string_view help) {
    Text += "# HELP " + std::string(name) + " " + std::string(help) + "\n";
    Text += "# TYPE " + std::string(name) + " " + std::string(type) + "\n";
  }
  void Value(std::string_view name, int64_t value) {
    Text += std::string(name) + " " + std::to_string(value) + "\n";
  }
  void Labelled(std::string_view name, std::string_view label, std::string_view labelValue,
                int64_t value) {
    Text += std::string(name) + "{" + std::string(label) + "=\"" + std::string(labelValue) +
            "\"} " + std::to_string(value) + "\n";
  }
  void Single(std::string_view name, std::string_view type, std::string_view help, int64_t value) {
    Family(name, type, help);
    Value(name, value);
  }
  std::string Text;
};

}  // namespace

THealthVerdict LivenessOf(const THealthFigures& figures) {
  if (!figures.Active) return {false, "the server is not running"};
  if (figures.LoopSilence > kMaxLoopSilence)
    return {
        false,
        Format("the server's loop has not gone round for %d s",
               {std::chrono::duration_cast<std::chrono::seconds>(figures.LoopSilence).count()})};
  return {true, "live"};
}

THealthVerdict ReadinessOf(const THealthFigures& figures) {
  if (const THealthVerdict live = LivenessOf(figures); !live.Ok) return live;
  if (figures.Draining) return {false, "draining: no new clients"};
  if (!figures.FileService) return {false, "the file service is not running"};
  switch (figures.Manifest.State) {
    case ManifestState::Unchecked:
      return {false, "the release folder was not scanned yet"};
    case ManifestState::Differs:
      return {false, "the release folder differs from its manifest (the log names the files)"};
    case ManifestState::Unreadable:
      return {false, "the release manifest cannot be read"};
    case ManifestState::None:
    case ManifestState::Matches:
      break;
  }
  if (figures.Packing) return {false, "the release is being packed"};
  if (figures.Manifest.State == ManifestState::None) return {true, "ready (no release manifest)"};
  return {true, Format("ready (release %d)", {figures.Manifest.Counter})};
}

std::string MetricsText(const THealthFigures& figures) {
  TMetricsWriter out;
  out.Single("zor_live", "gauge", "1 while the server's loop goes round", LivenessOf(figures).Ok);
  out.Single("zor_ready", "gauge", "1 while the server takes new clients", ReadinessOf(figures).Ok);
  out.Single("zor_draining", "gauge", "1 while the server drains before it stops",
             figures.Draining);
  out.Single("zor_sessions", "gauge", "Client sessions, detached ones included", figures.Sessions);
  out.Family("zor_session_state", "gauge", "Client sessions by state");
  out.Labelled("zor_session_state", "state", "reading", figures.Reading);
  out.Labelled("zor_session_state", "state", "executing", figures.Executing);
  out.Labelled("zor_session_state", "state", "detached", figures.Detached);
  out.Single("zor_connections", "gauge", "Client connections counted against the limit",
             figures.Connections);
  out.Single("zor_served_bytes_total", "counter", "Bytes of file data sent to clients",
             figures.BytesServed);
  out.Single("zor_packs_total", "counter", "Files packed since the start", figures.Packs);
  out.Single("zor_packs_rejected_total", "counter",
             "Packed files of an earlier run that failed their check", figures.PacksRejected);
  out.Single("zor_packing", "gauge", "1 while the release is being packed", figures.Packing);
  out.Family("zor_refusals_total", "counter", "Connections and requests refused, by reason");
  for (size_t i = 0; i < kRefusalReasons; ++i)
    out.Labelled("zor_refusals_total", "reason", RefusalReasonName(static_cast<RefusalReason>(i)),
                 figures.Refusals[i]);
  out.Single("zor_release_counter", "gauge", "The release counter of the served manifest",
             static_cast<int64_t>(figures.Manifest.Counter));
  out.Family("zor_manifest_state", "gauge", "The release folder against its manifest");
  for (const ManifestState state : kManifestStates)
    out.Labelled("zor_manifest_state", "state", ManifestStateName(state),
                 figures.Manifest.State == state);
  out.Single("zor_manifest_differences", "gauge", "Files that differ from the manifest",
             static_cast<int64_t>(figures.Manifest.Differences));
  return out.Text;
}

HttpResponse AnswerHealthRequest(const THealthFigures& figures, const HttpRequest& request) {
  auto parsed = ParseGetRequest(request);
  if (HttpResponse* refusal = std::get_if<HttpResponse>(&parsed)) return std::move(*refusal);
  const HttpTarget& target = std::get<HttpTarget>(parsed);
  if (target.Path == kMetricsPath) {
    HttpResponse response;
    response.Status = 200;
    response.Headers.push_back(HttpHeader{"Content-Type", std::string(kMetricsType)});
    response.Body = MetricsText(figures);
    return response;
  }
  THealthVerdict verdict;
  if (target.Path == kLivePath) {
    verdict = LivenessOf(figures);
  } else if (target.Path == kReadyPath) {
    verdict = ReadinessOf(figures);
  } else {
    return TextHttpResponse(404, "no such check: " + target.Path);
  }
  return TextHttpResponse(verdict.Ok ? 200 : 503, verdict.Text + "\n");
}

}  // namespace zor
