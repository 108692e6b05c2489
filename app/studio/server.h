// SPDX-License-Identifier: MIT
// The studio's server: HTTP for the page (built into the program, app/studio/web_assets.h)
// and the files it exports, and one WebSocket per tab, each with a document of its own
// (app/studio/session.h).
//
// HTTP and WebSocket are Boost.Beast's, over Boost.Asio (both header-only in Debian's
// Boost), because Boost is already a dependency. Everything runs on the thread that
// calls Run: messages are handled, and strokes rendered, one at a time, so sessions
// share nothing that needs a lock, and a replay gives way to other sessions between
// its frames.
//
// Limits: at most `maxSessions` tabs at once (one more is told so and closed), a tab
// idle for `idle` is closed, messages over kMaxImageMessage (plus the image's header)
// are refused by the WebSocket itself (close code 1009), and requests other than GET
// and HEAD, or larger than 8 KiB, get an HTTP error. A WebSocket whose page came from
// another origin is refused, so another site open in the same browser cannot drive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/studio/session.h"

struct StudioServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 8040;  ///< 0: any free port (Port() says which)
  std::size_t maxSessions = 8;
  std::chrono::milliseconds idle = std::chrono::minutes(30);
};

struct StudioTab;
struct StudioConnection;

/// A server that cannot start: the message is one line.
struct StudioServerError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class StudioServer {
public:
  /// Binds and listens. Throws StudioServerError.
  StudioServer(const StudioServerOptions& options, const StudioSettings& settings);
  ~StudioServer();
  StudioServer(const StudioServer&) = delete;
  StudioServer& operator=(const StudioServer&) = delete;

  /// The port it listens on.
  uint16_t Port() const;
  /// Serves until `stop` answers true (asked every 50 ms), then closes every tab's
  /// WebSocket (going away) and returns.
  void Run(const std::function<bool()>& stop);
  /// Tabs open now.
  std::size_t Sessions() const;

private:
  struct Impl;
  friend struct StudioTab;
  friend struct StudioConnection;
  std::shared_ptr<Impl> impl;
};
