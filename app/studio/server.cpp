// SPDX-License-Identifier: MIT
// The studio's HTTP and WebSocket server; see app/studio/server.h.
#include "app/studio/server.h"

#include <deque>
#include <filesystem>
#include <fstream>
#include <set>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "app/studio/web_assets.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
namespace fs = std::filesystem;
using tcp = net::ip::tcp;

namespace {

using Clock = std::chrono::steady_clock;

// A request line and headers beyond this are refused: the page asks for small things.
constexpr std::size_t kMaxRequestBytes = 8 * 1024;
// A tab whose page has stopped reading is closed once this much waits for it.
constexpr std::size_t kMaxQueuedBytes = 256u << 20;

std::string ContentType(const std::string& name) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},   {".png", "image/png"},
      {".json", "application/json"},         {".svg", "image/svg+xml"}};
  for (const auto& t : kTypes) {
    const std::string ext = t.first;
    if (name.size() >= ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
      return t.second;
  }
  return "application/octet-stream";
}

// The whole of a regular file, or false. A folder named like a picture opens as a
// stream but fails its first read; that failure, and any other, is an answer here, not
// an exception that would stop the server.
bool ReadFile(const fs::path& file, std::string* body) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return false;
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec) return false;
  std::ifstream in(file, std::ios::binary);
  body->assign(std::size_t(size), '\0');
  return bool(in.read(body->data(), std::streamsize(size)));
}

}  // namespace

struct StudioTab;

struct StudioServer::Impl : std::enable_shared_from_this<StudioServer::Impl> {
  StudioServerOptions options;
  StudioSettings settings;
  net::io_context io{1};
  tcp::acceptor acceptor{io};
  std::set<std::shared_ptr<StudioTab>> tabs;
  int nextId = 1;
  bool stopping = false;

  void Accept();
};

// One tab's WebSocket and its session.
struct StudioTab : std::enable_shared_from_this<StudioTab> {
  struct Pending {
    Outgoing message;
    Clock::time_point arrival;
  };

  StudioTab(StudioServer::Impl& server_, tcp::socket socket)
      : server(server_), ws(std::move(socket)), idle(server_.io) {}

  StudioServer::Impl& server;
  websocket::stream<beast::tcp_stream> ws;
  beast::flat_buffer buffer;
  net::steady_timer idle;
  std::unique_ptr<StudioSession> session;
  std::deque<Pending> queue;
  std::size_t queued = 0;
  bool writing = false;
  bool closing = false;

  void Start(const http::request<http::string_body>& request) {
    ws.set_option(websocket::stream_base::timeout{std::chrono::seconds(30),
                                                  websocket::stream_base::none(), false});
    ws.read_message_max(kMaxImageMessage + 512);
    auto self = shared_from_this();
    ws.async_accept(request, [self](beast::error_code ec) {
      if (ec) return self->Closed();
      self->Opened();
    });
  }

  void Opened() {
    if (server.stopping) return Close(websocket::close_code::going_away);
    if (server.tabs.size() > server.options.maxSessions) {
      Send({false, R"({"type":"error","request":"open","message":"the studio has )" +
                       std::to_string(server.options.maxSessions) +
                       R"( documents open, the most it keeps: close a tab and reload"})", false},
           Clock::now());
      closing = true;
      return;
    }
    session = std::make_unique<StudioSession>(server.settings, server.nextId++);
    const Clock::time_point now = Clock::now();
    for (Outgoing& o : session->Start()) Send(std::move(o), now);
    Touch();
    Read();
  }

  // Restarts the idle clock.
  void Touch() {
    idle.expires_after(server.options.idle);
    auto self = shared_from_this();
    idle.async_wait([self](beast::error_code ec) {
      if (ec || self->closing) return;
      self->Send({false, R"({"type":"closed","reason":"idle"})", false}, Clock::now());
      self->closing = true;
    });
  }

  void Read() {
    auto self = shared_from_this();
    ws.async_read(buffer, [self](beast::error_code ec, std::size_t) {
      if (ec) return self->Closed();
      const Clock::time_point arrival = Clock::now();
      const std::string data = beast::buffers_to_string(self->buffer.data());
      self->buffer.consume(self->buffer.size());
      self->Touch();
      for (Outgoing& o : self->session->Handle(data, !self->ws.got_text()))
        self->Send(std::move(o), arrival);
      self->Step();
      if (!self->closing) self->Read();
    });
  }

  // A replay's next frame, when the page has taken the frames before.
  void Step() {
    if (closing || !session || !session->Busy() || queue.size() > 2) return;
    auto self = shared_from_this();
    net::post(server.io, [self] {
      if (self->closing || !self->session || !self->session->Busy() || self->queue.size() > 2)
        return;
      const Clock::time_point now = Clock::now();
      for (Outgoing& o : self->session->Continue()) self->Send(std::move(o), now);
      self->Step();
    });
  }

  void Send(Outgoing message, Clock::time_point arrival) {
    queued += message.data.size();
    queue.push_back({std::move(message), arrival});
    if (queued > kMaxQueuedBytes) {
      queue.clear();
      return Close(websocket::close_code::policy_error);
    }
    Write();
  }

  void Write() {
    if (writing || queue.empty()) {
      if (!writing && queue.empty() && closing) Close(websocket::close_code::normal);
      return;
    }
    writing = true;
    ws.text(!queue.front().message.binary);
    auto self = shared_from_this();
    ws.async_write(net::buffer(queue.front().message.data), [self](beast::error_code ec, std::size_t) {
      self->writing = false;
      if (ec) return self->Closed();
      Pending& done = self->queue.front();
      if (done.message.batch && self->session)
        self->session->RecordBatch(
            std::chrono::duration<double, std::milli>(Clock::now() - done.arrival).count());
      self->queued -= done.message.data.size();
      self->queue.pop_front();
      self->Write();
      self->Step();
    });
  }

  void Close(websocket::close_code code) {
    closing = true;
    idle.cancel();
    if (writing) return;  // Write() closes once the queue is out
    auto self = shared_from_this();
    ws.async_close(code, [self](beast::error_code) { self->Closed(); });
  }

  void Closed() {
    closing = true;
    idle.cancel();
    server.tabs.erase(shared_from_this());
  }
};

// One HTTP connection: files, or the upgrade to a tab's WebSocket.
struct StudioConnection : std::enable_shared_from_this<StudioConnection> {
  StudioConnection(StudioServer::Impl& server_, tcp::socket socket)
      : server(server_), stream(std::move(socket)) {}

  StudioServer::Impl& server;
  beast::tcp_stream stream;
  beast::flat_buffer buffer;
  std::optional<http::request_parser<http::string_body>> parser;
  std::shared_ptr<void> response;

  void Read() {
    parser.emplace();
    parser->header_limit(kMaxRequestBytes);
    parser->body_limit(kMaxRequestBytes);
    stream.expires_after(std::chrono::seconds(30));
    auto self = shared_from_this();
    http::async_read(stream, buffer, *parser, [self](beast::error_code ec, std::size_t) {
      if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::eof)
        return self->Shut();
      if (ec) return self->Reply(http::status::bad_request, "bad request: " + ec.message() + "\n", 11, false);
      self->Handle(self->parser->release());
    });
  }

  void Handle(http::request<http::string_body> request) {
    if (websocket::is_upgrade(request)) {
      if (request.target() != "/ws")
        return Reply(http::status::not_found, "no WebSocket here\n", request.version(), false);
      // Only the studio's own page may open a tab: a browser sends the page's origin.
      const auto origin = request.find(http::field::origin);
      if (origin != request.end() &&
          origin->value() != "http://" + std::string(request[http::field::host]))
        return Reply(http::status::forbidden, "WebSocket from another origin\n", request.version(), false);
      stream.expires_never();
      auto tab = std::make_shared<StudioTab>(server, stream.release_socket());
      server.tabs.insert(tab);
      tab->Start(request);
      return;
    }
    if (request.method() != http::verb::get && request.method() != http::verb::head)
      return Reply(http::status::method_not_allowed, "GET only\n", request.version(), request.keep_alive());
    std::string target(request.target());
    const auto query = target.find('?');
    if (query != std::string::npos) target.resize(query);
    const bool head = request.method() == http::verb::head;
    if (target.rfind("/files/", 0) == 0) {
      const std::string name = target.substr(7);
      if (!IsStudioFileName(name, {".png", ".exr", ".tif", ".tiff", ".json", ".kst"}))
        return Reply(http::status::not_found, "no such file\n", request.version(), request.keep_alive());
      std::string body;
      if (!ReadFile(fs::path(server.settings.folder) / name, &body))
        return Reply(http::status::not_found, "no such file\n", request.version(), request.keep_alive());
      return Send(http::status::ok, ContentType(name), std::move(body), request.version(),
                  request.keep_alive(), head, name);
    }
    if (target == "/") target = "/index.html";
    for (const WebAsset& a : WebAssets())
      if (target == a.path)
        return Send(http::status::ok, ContentType(a.path),
                    std::string(reinterpret_cast<const char*>(a.data), a.size), request.version(),
                    request.keep_alive(), head, "");
    Reply(http::status::not_found, "not found\n", request.version(), request.keep_alive());
  }

  void Reply(http::status status, std::string text, unsigned version, bool keepAlive) {
    Send(status, "text/plain; charset=utf-8", std::move(text), version, keepAlive, false, "");
  }

  void Send(http::status status, const std::string& type, std::string body, unsigned version,
            bool keepAlive, bool head, const std::string& download) {
    auto res = std::make_shared<http::response<http::string_body>>(status, version);
    res->set(http::field::server, "kstroke studio");
    res->set(http::field::content_type, type);
    res->set(http::field::cache_control, "no-store");
    if (!download.empty())
      res->set(http::field::content_disposition, "attachment; filename=\"" + download + "\"");
    res->keep_alive(keepAlive);
    const std::size_t size = body.size();
    if (!head) res->body() = std::move(body);
    res->content_length(size);
    response = res;
    auto self = shared_from_this();
    http::async_write(stream, *res, [self, res](beast::error_code ec, std::size_t) {
      self->response.reset();
      if (ec || !res->keep_alive()) return self->Shut();
      self->Read();
    });
  }

  void Shut() {
    beast::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
  }
};

void StudioServer::Impl::Accept() {
  auto self = shared_from_this();
  acceptor.async_accept(io, [self](beast::error_code ec, tcp::socket socket) {
    if (self->stopping || !self->acceptor.is_open()) return;
    if (!ec) {
      // A reply's frame header and pixels go out as separate writes: with Nagle's
      // algorithm the second waits for the page's delayed ACK, 40 ms on every batch.
      beast::error_code ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      std::make_shared<StudioConnection>(*self, std::move(socket))->Read();
    }
    self->Accept();
  });
}

StudioServer::StudioServer(const StudioServerOptions& options, const StudioSettings& settings)
    : impl(std::make_shared<Impl>()) {
  impl->options = options;
  impl->settings = settings;
  beast::error_code ec;
  const net::ip::address address = net::ip::make_address(options.host, ec);
  if (ec) throw StudioServerError("--host " + options.host + ": not an IP address");
  const tcp::endpoint endpoint(address, options.port);
  impl->acceptor.open(endpoint.protocol(), ec);
  if (!ec) impl->acceptor.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) impl->acceptor.bind(endpoint, ec);
  if (!ec) impl->acceptor.listen(net::socket_base::max_listen_connections, ec);
  if (ec)
    throw StudioServerError(options.host + ":" + std::to_string(options.port) + ": cannot listen: " +
                            ec.message() + (ec == net::error::address_in_use ? " (--port 0 picks a free port)" : ""));
}

StudioServer::~StudioServer() {
  // Handlers hold the server's state; dropping them ends every tab and connection.
  impl->stopping = true;
  beast::error_code ignored;
  impl->acceptor.close(ignored);
  impl->tabs.clear();
  impl->io.restart();
  impl->io.poll();
}

uint16_t StudioServer::Port() const { return impl->acceptor.local_endpoint().port(); }

std::size_t StudioServer::Sessions() const {
  std::size_t n = 0;
  for (const auto& t : impl->tabs) n += t->session != nullptr && !t->closing;
  return n;
}

void StudioServer::Run(const std::function<bool()>& stop) {
  impl->Accept();
  net::steady_timer poll(impl->io);
  // Once stopping: until every tab has closed, or a second has passed.
  Clock::time_point deadline;
  std::function<void(beast::error_code)> wait = [&](beast::error_code) {
    if (impl->tabs.empty() || Clock::now() >= deadline) return impl->io.stop();
    poll.expires_after(std::chrono::milliseconds(20));
    poll.async_wait(wait);
  };
  std::function<void(beast::error_code)> check = [&](beast::error_code ec) {
    if (ec) return;
    if (!stop()) {
      poll.expires_after(std::chrono::milliseconds(50));
      poll.async_wait(check);
      return;
    }
    // Every tab is told the server goes away; what has not closed in a second is cut.
    impl->stopping = true;
    beast::error_code ignored;
    impl->acceptor.close(ignored);
    const auto tabs = impl->tabs;
    for (const auto& t : tabs) t->Close(websocket::close_code::going_away);
    deadline = Clock::now() + std::chrono::seconds(1);
    wait({});
  };
  poll.expires_after(std::chrono::milliseconds(0));
  poll.async_wait(check);
  impl->io.run();
}
