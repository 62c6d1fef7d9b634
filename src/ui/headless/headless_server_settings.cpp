#include "ui/headless/headless_server_settings.h"

namespace zor {

std::string HeadlessServerSettingsNote(const TServerSettingsModel& model) {
  return "[" + model.Captions().Form + "] headless: server settings kept as stored (server \"" +
         model.OldServer() + "\", port " + std::to_string(model.OldPort()) + ")\n";
}

void RunHeadlessServerSettings(TServerSettingsModel& model, std::FILE* out) {
  const std::string note = HeadlessServerSettingsNote(model);
  std::fwrite(note.data(), 1, note.size(), out);
  std::fflush(out);
  model.btnCancelClick();
}

}  // namespace zor
