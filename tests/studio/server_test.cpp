// SPDX-License-Identifier: MIT
// The studio's server over real sockets: the page and its files over HTTP, one document
// per WebSocket, the bound on tabs, idle tabs closed, other origins refused, a clean stop.
#include "app/studio/server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include "app/app_test_support.h"

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
namespace fs = std::filesystem;
using tcp = net::ip::tcp;
using nlohmann::json;

// A server on a free port, served on a thread of its own until the test ends.
class Running {
public:
  explicit Running(StudioServerOptions options) {
    options.host = "127.0.0.1";
    options.port = 0;
    folder = fs::path(TestScratchDir()) / ("server_" + std::to_string(serial++));
    fs::create_directories(folder / "uploads");
    settings.folder = folder.string();
    settings.uploads = (folder / "uploads").string();
    settings.newWidth = 64;
    settings.newHeight = 48;
    server = std::make_unique<StudioServer>(options, settings);
    thread = std::thread([this] { server->Run([this] { return stop.load(); }); });
  }
  ~Running() {
    stop = true;
    thread.join();
  }
  uint16_t Port() const { return server->Port(); }

  fs::path folder;
  std::atomic<bool> stop{false};

private:
  static inline int serial = 0;
  StudioSettings settings;
  std::unique_ptr<StudioServer> server;
  std::thread thread;
};

struct Tab {
  Tab(net::io_context& io, uint16_t port, const std::string& origin = "") : ws(io) {
    tcp::resolver resolver(io);
    net::connect(ws.next_layer(), resolver.resolve("127.0.0.1", std::to_string(port)));
    const std::string host = "127.0.0.1:" + std::to_string(port);
    ws.set_option(websocket::stream_base::decorator([&](websocket::request_type& r) {
      r.set(http::field::origin, origin.empty() ? "http://" + host : origin);
    }));
    ws.handshake(host, "/ws");
  }
  // The next text message (pictures are passed over).
  json Next() {
    for (;;) {
      beast::flat_buffer buffer;
      ws.read(buffer);
      if (ws.got_text()) return json::parse(beast::buffers_to_string(buffer.data()));
    }
  }
  json NextOf(const std::string& type) {
    for (;;) {
      json m = Next();
      if (m["type"] == type) return m;
    }
  }
  void Send(const json& m, bool binary = false) {
    ws.binary(binary);
    ws.write(net::buffer(binary ? m.get<std::string>() : m.dump()));
  }
  // Reads on until the server closes the connection: the error that ends the reading.
  beast::error_code Closed() {
    beast::flat_buffer buffer;
    beast::error_code ec;
    while (!ec) ws.read(buffer, ec);
    return ec;
  }
  websocket::stream<tcp::socket> ws;
};

std::pair<unsigned, std::string> Get(net::io_context& io, uint16_t port, const std::string& target) {
  tcp::socket socket(io);
  tcp::resolver resolver(io);
  net::connect(socket, resolver.resolve("127.0.0.1", std::to_string(port)));
  http::request<http::empty_body> request(http::verb::get, target, 11);
  request.set(http::field::host, "127.0.0.1");
  http::write(socket, request);
  beast::flat_buffer buffer;
  http::response<http::string_body> response;
  http::read(socket, buffer, response);
  return {response.result_int(), response.body()};
}

TEST(StudioServer, ServesThePageAndOnlyTheFolderFilesByName) {
  Running server({});
  net::io_context io;
  std::ofstream(server.folder / "picture.png") << "png bytes";
  std::ofstream(server.folder / "notes.txt") << "private";
  fs::create_directory(server.folder / "folder.png");
  std::ofstream(server.folder / "empty.json").flush();
  const struct {
    const char* target;
    unsigned status;
    const char* body;  ///< the start of it
  } kCases[] = {
      {"/", 200, "<!doctype html>"},
      {"/js/studio.js", 200, "// The studio's page"},
      {"/files/picture.png", 200, "png bytes"},
      {"/files/notes.txt", 404, "no such file"},
      {"/files/../notes.txt", 404, "no such file"},
      {"/files/%2e%2e%2fnotes.txt", 404, "no such file"},
      {"/files/folder.png", 404, "no such file"},
      {"/files/empty.json", 200, ""},
      {"/missing.js", 404, "not found"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.target);
    const auto [status, body] = Get(io, server.Port(), c.target);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(body.rfind(c.body, 0), 0u) << body.substr(0, 80);
  }
  // Every request above was answered by the same server, still serving.
  EXPECT_EQ(Get(io, server.Port(), "/files/picture.png").first, 200u);
}

TEST(StudioServer, EachTabHasItsOwnDocumentAndBadMessagesStayInTheirTab) {
  StudioServerOptions options;
  options.maxSessions = 2;
  Running server(options);
  net::io_context io;
  Tab a(io, server.Port()), b(io, server.Port());
  EXPECT_EQ(a.NextOf("state")["strokes"], 0);
  EXPECT_EQ(b.NextOf("state")["strokes"], 0);
  a.Send({{"type", "begin"}, {"stroke", 1}});
  a.Send({{"type", "samples"}, {"stroke", 1}, {"seq", 0},
          {"events", {{0, 0.2, 0.5, nullptr, 0, 0, 0}, {0.1, 0.8, 0.5, nullptr, 0, 0, 0}}}});
  // Tab b's garbage in the middle of a's stroke.
  b.Send({{"type", "end"}, {"stroke", 1}});
  EXPECT_EQ(b.NextOf("error")["message"], "end: stroke 1 is not being painted (no stroke is)");
  b.Send("\x01\x02\x03", true);
  EXPECT_EQ(b.NextOf("error")["message"], "image: a binary message must start with \"KSIM\"");
  a.Send({{"type", "end"}, {"stroke", 1}});
  EXPECT_EQ(a.NextOf("state")["strokes"], 1);
  b.Send({{"type", "undo"}});
  EXPECT_EQ(b.NextOf("error")["message"], "undo: no stroke to undo");
  // A third tab is one too many.
  Tab c(io, server.Port());
  EXPECT_EQ(c.Next()["message"], "the studio has 2 documents open, the most it keeps: close a tab and reload");
  EXPECT_EQ(c.Closed(), websocket::error::closed);
  // The stop closes the tabs as going away.
  server.stop = true;
  for (Tab* t : {&a, &b}) {
    EXPECT_EQ(t->Closed(), websocket::error::closed);
    EXPECT_EQ(t->ws.reason().code, websocket::close_code::going_away);
  }
}

TEST(StudioServer, IdleTabsCloseAndOtherOriginsAreRefused) {
  StudioServerOptions options;
  options.idle = std::chrono::milliseconds(300);
  Running server(options);
  net::io_context io;
  Tab idle(io, server.Port());
  EXPECT_EQ(idle.NextOf("closed")["reason"], "idle");
  EXPECT_EQ(idle.Closed(), websocket::error::closed);
  try {
    Tab elsewhere(io, server.Port(), "http://example.org");
    ADD_FAILURE() << "a page of another origin opened a tab";
  } catch (const beast::system_error& e) {
    EXPECT_EQ(e.code(), websocket::error::upgrade_declined);
  }
}

TEST(StudioCommand, BadStartsEndWithOneLineAndAStatus) {
  ExpectRefusals({
      {"missing document", "studio /nonexistent/a.json --port 0", 1,
       "kstroke studio: /nonexistent/a.json: cannot open file: No such file or directory\n"},
      {"port", "studio --port 70000", 2, "kstroke studio: --port 70000: expected 0 to 65535\n"},
      {"folder", "studio --dir /nonexistent --port 0", 2, "kstroke studio: --dir /nonexistent: not a folder\n"},
      {"tabs", "studio --max-tabs 0 --port 0", 2, "kstroke studio: --max-tabs 0: expected 1 to 64\n"},
      {"host", "studio --host nowhere --port 0", 1, "kstroke studio: --host nowhere: not an IP address\n"},
  });
}

}  // namespace
