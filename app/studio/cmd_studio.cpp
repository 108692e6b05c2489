// SPDX-License-Identifier: MIT
// `kstroke studio`: paints in the browser. Serves the studio's page on a local port, one
// document per tab, until Ctrl-C (app/studio/server.h).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "app/commands.h"
#include "app/signals.h"
#include "app/studio/server.h"

namespace fs = std::filesystem;

namespace {

struct StudioCommandOptions {
  std::string document;
  std::string host = "127.0.0.1";
  int port = 8040;
  std::string folder;
  int maxSessions = 8;
  double idleMinutes = 30;
};

// A folder of its own for the clone images tabs send, gone when the studio stops.
struct UploadFolder {
  UploadFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kstroke-studio-XXXXXX";
    if (::mkdtemp(pattern.data())) path = pattern;
  }
  ~UploadFolder() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
  std::string path;
};

int RunStudio(const StudioCommandOptions& o) {
  StudioSettings settings;
  if (!o.document.empty()) {
    try {
      settings.start = kstroke::Document::Load(o.document);
    } catch (const kstroke::Error& e) {
      std::fprintf(stderr, "kstroke studio: %s\n", e.what());
      return kExitFailure;
    }
    settings.startName = fs::path(o.document).filename().string();
    settings.startPath = o.document;
  }
  settings.folder = !o.folder.empty()   ? o.folder
                    : o.document.empty() ? std::string(".")
                                         : fs::path(o.document).parent_path().string();
  if (settings.folder.empty()) settings.folder = ".";
  std::error_code ec;
  if (!fs::is_directory(settings.folder, ec)) {
    std::fprintf(stderr, "kstroke studio: --dir %s: not a folder\n", settings.folder.c_str());
    return kExitUsage;
  }
  if (o.port < 0 || o.port > 65535) {
    std::fprintf(stderr, "kstroke studio: --port %d: expected 0 to 65535\n", o.port);
    return kExitUsage;
  }
  if (o.maxSessions < 1 || o.maxSessions > 64) {
    std::fprintf(stderr, "kstroke studio: --max-tabs %d: expected 1 to 64\n", o.maxSessions);
    return kExitUsage;
  }
  if (!(o.idleMinutes > 0 && o.idleMinutes <= 24 * 60)) {
    std::fprintf(stderr, "kstroke studio: --idle %g: expected minutes above 0, up to 1440\n",
                 o.idleMinutes);
    return kExitUsage;
  }
  const UploadFolder uploads;
  if (uploads.path.empty()) {
    std::fprintf(stderr, "kstroke studio: cannot make a folder for clone images in /tmp\n");
    return kExitFailure;
  }
  settings.uploads = uploads.path;

  StudioServerOptions options;
  options.host = o.host;
  options.port = uint16_t(o.port);
  options.maxSessions = std::size_t(o.maxSessions);
  options.idle = std::chrono::milliseconds(int64_t(o.idleMinutes * 60000));
  try {
    StudioServer server(options, settings);
    if (o.host != "127.0.0.1" && o.host != "::1")
      std::fprintf(stderr,
                   "kstroke studio: warning: listening on %s: whoever reaches it can paint, and "
                   "read and write files in %s\n",
                   o.host.c_str(), settings.folder.c_str());
    const bool v6 = o.host.find(':') != std::string::npos;
    std::printf("kstroke studio: http://%s%s%s:%u/ (files in %s; Ctrl-C stops it)\n",
                v6 ? "[" : "", o.host.c_str(), v6 ? "]" : "", unsigned(server.Port()),
                settings.folder.c_str());
    std::fflush(stdout);
    server.Run([] { return CancelRequested(); });
  } catch (const StudioServerError& e) {
    std::fprintf(stderr, "kstroke studio: %s\n", e.what());
    return kExitFailure;
  }
  // Stopping is how a server ends: not a failure, and nothing is saved on the way out.
  std::printf("kstroke studio: stopped\n");
  return kExitOk;
}

const KstrokeCommand kStudio(
    "studio", "paint in the browser: serve the studio on a local port", [](CLI::App& sub) {
      auto o = std::make_shared<StudioCommandOptions>();
      sub.add_option("document", o->document,
                     "a stroke description or stroke file every tab starts with");
      sub.add_option("--port", o->port, "the port (0: any free one, printed)")->capture_default_str();
      sub.add_option("--host", o->host, "the address to listen on (only this machine by default)")
          ->capture_default_str();
      sub.add_option("--dir", o->folder,
                     "where documents are opened and saved and pictures exported (default: the "
                     "document's folder, or the current one)");
      sub.add_option("--max-tabs", o->maxSessions, "documents open at once, one per tab")
          ->capture_default_str();
      sub.add_option("--idle", o->idleMinutes, "minutes after which an idle tab is closed")
          ->capture_default_str();
      return [o] { return RunStudio(*o); };
    });

}  // namespace
