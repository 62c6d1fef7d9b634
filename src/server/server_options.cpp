#include "server/server_options.h"

#include <charconv>

#include "base/exceptions.h"
#include "platform/locale.h"
#include "server/proxy_header.h"
#include "server/tcp_control_settings.h"

namespace zor {

namespace {

int64_t ParseNumber(std::string_view option, std::string_view text, int64_t low, int64_t high) {
  int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
      value > high)
    throw Exception(std::string(option) + ": '" + std::string(text) + "' is not a number from " +
                    std::to_string(low) + " to " + std::to_string(high));
  return value;
}

}  // namespace

std::string ServerUsage() {
  return "Usage: zorserver [options]\n"
         "  --release DIR        folder of the client files to serve (laid out like a client "
         "folder)\n"
         "  --port N, /I:N       TCP port to listen on (default: the TCP Control Service settings, "
         "768)\n"
         "  --bind ADDR          local IPv4 address to listen on (default: every address)\n"
         "  --tcp on|off         listen on TCP (default: \"EnableTCP\" of the TCP Control Service, "
         "on)\n"
         "  --pipe on|off        listen on the local pipe zorserverpipe6x in the pipe folder "
         "(default:\n"
         "                       \"EnablePipe\", on)\n"
         "  --name-port N        answer name-service requests on this UDP port (off when not "
         "given)\n"
         "  --names FILE         the names file of the name service (lines \"name = address\")\n"
         "  --lookup-port N      answer the cloud lookup (HTTP) on this TCP port (off when not "
         "given)\n"
         "  --lookup-table FILE  the lookup service's table of enterprise ids (JSON)\n"
         "  --health-port N      answer /live, /ready and /metrics (HTTP) on this TCP port, for a\n"
         "                       balancer's health check and a metrics collector (off when not "
         "given)\n"
         "  --upload DIR         folder that receives uploads (off when not given)\n"
         "  --upload-limit BYTES largest upload accepted (default 64 MiB)\n"
         "  --cache DIR          folder of the packed files, private to the server's user "
         "(default\n"
         "                       $XDG_CACHE_HOME/zor/pack, else ~/.cache/zor/pack, else "
         "/var/cache/zor/pack)\n"
         "  --scramble on|off    scramble traffic (default on; the launcher needs it on)\n"
         "  --max-connections N  clients served at once (default 256)\n"
         "  --session-grace S    seconds a session waits for its client to come back (default "
         "120)\n"
         "  --idle-timeout S     seconds a logged-on session may wait for a request (default 600; "
         "0 never)\n"
         "  --max-per-address N  connections from one address that have not logged on yet "
         "(default 64)\n"
         "  --drain-timeout S    at SIGTERM, seconds running commands get to end while no new\n"
         "                       clients are taken (default 30; 0 stops at once, as SIGINT does)\n"
         "  --proxy-from LIST    balancers (addresses, comma-separated) whose connections start\n"
         "                       with a PROXY header (form 1 or 2) naming the real client\n"
         "  --language LCID      the server's language: 1033 English, 2052 simplified or "
         "1028/3076\n"
         "                       traditional Chinese; sets the code page of its 8-bit strings\n"
         "                       (936, 950, 1252) (default: the process's locale)\n"
         "  --log-level LEVEL    error, warning, info or debug (default info)\n"
         "  --log-file FILE      also append the log to FILE\n"
         "  --help               show this text\n"
         "  --check              check the release and cache folders, the log file, the tables "
         "and\n"
         "                       the ports, print one line per problem and exit (1 when there is "
         "one)\n"
         "Settings not given here are read from HKLM\\Software\\ZOR\\DK880\\Server.\n"
         "SIGHUP reads the release folder again and reopens the log file; SIGTERM drains, "
         "SIGINT\n"
         "stops at once.\n";
}

TServerOptions ParseServerOptions(std::span<const std::string> args) {
  TServerOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() > 3 && (arg.compare(0, 3, "/I:") == 0 || arg.compare(0, 3, "/i:") == 0)) {
      options.Port = FindPortSwitch(args.subspan(i, 1));
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      options.Help = true;
      continue;
    }
    if (arg == "--check") {
      options.Check = true;
      continue;
    }
    if (arg.compare(0, 2, "--") != 0)
      throw Exception("Unknown argument '" + arg + "' (see --help)");
    std::string name = arg;
    std::string value;
    bool hasValue = false;
    if (const size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    auto next = [&]() -> std::string {
      if (hasValue) return value;
      if (i + 1 >= args.size()) throw Exception(name + " needs a value");
      return args[++i];
    };
    auto text = [&]() {
      std::string v = next();
      if (v.empty()) throw Exception(name + " needs a value");
      return v;
    };
    if (name == "--release") {
      options.ReleaseDir = text();
    } else if (name == "--port") {
      options.Port = static_cast<uint16_t>(ParseNumber(name, next(), 1, 65535));
    } else if (name == "--bind") {
      std::string address = text();
      if (!IsDottedAddress(address))
        throw Exception(name + ": '" + address + "' is not a dotted IPv4 address");
      options.BindAddress = address;
    } else if (name == "--name-port") {
      options.NamePort = static_cast<uint16_t>(ParseNumber(name, next(), 1, 65535));
    } else if (name == "--names") {
      options.NamesFile = text();
    } else if (name == "--lookup-port") {
      options.LookupPort = static_cast<uint16_t>(ParseNumber(name, next(), 1, 65535));
    } else if (name == "--health-port") {
      options.HealthPort = static_cast<uint16_t>(ParseNumber(name, next(), 1, 65535));
    } else if (name == "--lookup-table") {
      options.LookupTable = text();
    } else if (name == "--upload") {
      options.UploadDir = text();
    } else if (name == "--upload-limit") {
      options.UploadLimit = ParseNumber(name, next(), 0, 0x7FFFFFFF);
    } else if (name == "--cache") {
      options.CacheDir = text();
    } else if (name == "--scramble" || name == "--tcp" || name == "--pipe") {
      const std::string v = next();
      if (v != "on" && v != "off") throw Exception(name + ": '" + v + "' is neither on nor off");
      (name == "--scramble" ? options.Scramble
       : name == "--tcp"    ? options.Tcp
                            : options.Pipe) = v == "on";
    } else if (name == "--max-connections") {
      options.MaxConnections = static_cast<int32_t>(ParseNumber(name, next(), 1, 100000));
    } else if (name == "--idle-timeout") {
      options.IdleTimeoutSeconds = static_cast<int32_t>(ParseNumber(name, next(), 0, 86400 * 7));
    } else if (name == "--max-per-address") {
      options.MaxPerAddress = static_cast<int32_t>(ParseNumber(name, next(), 1, 100000));
    } else if (name == "--drain-timeout") {
      options.DrainSeconds = static_cast<int32_t>(ParseNumber(name, next(), 0, 86400));
    } else if (name == "--proxy-from") {
      options.ProxyFrom = ParseProxyList(next());
    } else if (name == "--session-grace") {
      options.SessionGraceSeconds = static_cast<int32_t>(ParseNumber(name, next(), 0, 86400));
    } else if (name == "--language") {
      const std::string v = next();
      const uint32_t lcid = ParseLcid(v);
      if (lcid == 0 || lcid > 0xFFFF)
        throw Exception(name + ": '" + v + "' is not a language id (1033, 2052, 1028, 3076, ...)");
      options.Language = lcid;
    } else if (name == "--log-level") {
      const std::string v = next();
      LogLevel level;
      if (!ParseLogLevel(v, level))
        throw Exception(name + ": '" + v + "' is not error, warning, info or debug");
      options.Level = level;
    } else if (name == "--log-file") {
      options.LogFile = text();
    } else {
      throw Exception("Unknown option '" + name + "' (see --help)");
    }
  }
  return options;
}

}  // namespace zor
