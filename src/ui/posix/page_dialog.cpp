#include "ui/posix/page_dialog.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <httplib.h>

#include "platform/debug_output.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/process.h"
#include "platform/text.h"
#include "system/process_launch.h"
#include "ui/document_trust.h"
#include "ui/posix/variant_wire.h"

namespace Zentrovak::UI::Posix {

extern const char kShimScript[];  // bridge_shim.cpp

using nlohmann::json;
using Platform::HResult;

namespace {

constexpr HResult kUnknownName = static_cast<HResult>(0x80020006u);  // DISP_E_UNKNOWNNAME
constexpr HResult kTypeMismatch = static_cast<HResult>(0x80020005u);  // DISP_E_TYPEMISMATCH
// Cookies do not tell ports apart: each run's cookie carries its port.
constexpr char kCookiePrefix[] = "zentrovak_session_";
constexpr char kSecretHeader[] = "X-Zentrovak-Secret";
// The page token: handed only to the program's own documents (inside the
// shim, which only same-origin scripts may fetch) and presented by them on
// every bridge request. The secret alone does not reach the bridge: the
// session cookie rides along on any request from another local page,
// since browsers take every port of 127.0.0.1 for one site.
constexpr char kTokenHeader[] = "X-Zentrovak-Token";
constexpr size_t kMaxRequestBytes = 64u << 20;

std::string RandomSecret() {
  unsigned char bytes[32];
  if (RAND_bytes(bytes, sizeof bytes) != 1) return {};
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out.push_back(hex[b >> 4]);
    out.push_back(hex[b & 15]);
  }
  return out;
}

// Compares in time independent of where the texts differ.
bool SameSecret(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string CookieValue(const httplib::Request& request, const std::string& name) {
  const std::string cookies = request.get_header_value("Cookie");
  size_t pos = 0;
  while (pos < cookies.size()) {
    size_t end = cookies.find(';', pos);
    if (end == std::string::npos) end = cookies.size();
    std::string item = cookies.substr(pos, end - pos);
    const size_t start = item.find_first_not_of(' ');
    item = start == std::string::npos ? std::string() : item.substr(start);
    if (item.compare(0, name.size() + 1, name + "=") == 0) return item.substr(name.size() + 1);
    pos = end + 1;
  }
  return {};
}

std::string Utf8(std::u16string_view text) { return Platform::Utf16ToUtf8(text); }

// The page as served: the shim's script goes first into the head so that
// window.external exists before the page's own scripts run.
std::string WithShim(std::string_view html) {
  const std::string tag = "<script src=\"/bridge/shim.js\"></script>";
  std::string page(html);
  std::string lower = Platform::AsciiLower(page);
  size_t at = 0;
  for (const char* anchor : {"<head", "<html"}) {
    const size_t found = lower.find(anchor);
    if (found != std::string::npos) {
      const size_t close = lower.find('>', found);
      if (close != std::string::npos) {
        at = close + 1;
        break;
      }
    }
  }
  if (at == 0 && page.compare(0, 3, "\xEF\xBB\xBF") == 0) at = 3;
  page.insert(at, tag);
  return page;
}

// Fields of what the page sent; a missing or mistyped field reads empty.
std::string StringField(const json& body, const char* key) {
  const auto it = body.find(key);
  return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
}
bool BoolField(const json& body, const char* key) {
  const auto it = body.find(key);
  return it != body.end() && it->is_boolean() && it->get<bool>();
}

// The path and query of an absolute address.
std::string ResUrlPath(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t pathStart = scheme == std::string::npos ? std::string::npos : url.find('/', scheme + 3);
  std::string path = pathStart == std::string::npos ? "/" : url.substr(pathStart);
  if (const auto hash = path.find('#'); hash != std::string::npos) path.resize(hash);
  return path;
}

bool IsHtml(std::string_view mime) { return mime.find("text/html") != std::string_view::npos; }

// Shown in place of a "ResUrl" page that cannot be had. It carries the
// bridge, so that closing it ends the program like closing any page.
constexpr char kSiteUnavailablePage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>网银助手</title></head>"
    "<body><p>网银助手的页面暂时无法打开，请检查网络连接后重新启动网银助手。</p></body></html>";

// The Windows path a "ResUrl" of the file kind names: "C:\\x\\a.html" or
// "file:///C:/x/a.html" (escapes decoded); empty for anything else.
std::u16string FilePathOf(std::u16string_view url) {
  std::u16string text(url.substr(0, url.find(u'#')));
  if (Platform::AsciiStartsWithIgnoreCase(text, u"file:///")) {
    std::string decoded;
    const std::string utf8 = Platform::Utf16ToUtf8(std::u16string_view(text).substr(8));
    for (size_t i = 0; i < utf8.size(); ++i) {
      if (utf8[i] == '%' && i + 2 < utf8.size() && std::isxdigit(static_cast<unsigned char>(utf8[i + 1])) &&
          std::isxdigit(static_cast<unsigned char>(utf8[i + 2]))) {
        decoded.push_back(static_cast<char>(std::stoi(utf8.substr(i + 1, 2), nullptr, 16)));
        i += 2;
      } else {
        decoded.push_back(utf8[i]);
      }
    }
    text = Platform::Utf8ToUtf16(decoded);
  }
  for (auto& c : text)
    if (c == u'/') c = u'\\';
  const bool drivePath = text.size() >= 3 && text[1] == u':' && text[2] == u'\\';
  return drivePath ? text : std::u16string();
}

const char* MimeTypeOf(const std::string& name) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".htm", "text/html; charset=utf-8"},
      {".js", "application/javascript"},     {".css", "text/css"},
      {".png", "image/png"},                 {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},               {".gif", "image/gif"},
      {".svg", "image/svg+xml"},             {".ico", "image/x-icon"},
      {".json", "application/json"},         {".txt", "text/plain; charset=utf-8"}};
  const std::string lower = Platform::Utf16ToUtf8(Platform::AsciiLower(Platform::Utf8ToUtf16(name)));
  for (const auto& [extension, type] : kTypes)
    if (lower.size() > std::strlen(extension) &&
        lower.compare(lower.size() - std::strlen(extension), std::string::npos, extension) == 0)
      return type;
  return "application/octet-stream";
}

HResult AnswerResult(const json& answer) {
  const auto hr = answer.find("hr");
  if (hr == answer.end() || !hr->is_number_integer()) return Platform::kEFail;
  return static_cast<HResult>(static_cast<uint32_t>(hr->get<int64_t>()));
}

}  // namespace

struct CPageDialog::CallChannel {
  int64_t id = 0;
  uint64_t generation = 0;
  std::mutex m;
  std::condition_variable cv;
  std::deque<json> outbox;  // operations for the blocked page
  bool finished = false;
  json result;
};

struct CPageDialog::EventStream {
  uint64_t generation = 0;
  std::deque<std::string> events;
  bool ended = false;
};

PageSource ResourcePageSource() {
  PageSource source;
  source.html = [](uint32_t id) { return FindHtmlResource(id); };
  source.file = [](std::string_view name) { return FindPageResource(name); };
  return source;
}

CPageDialog::CPageDialog(const BSDialogParams& params, PageSource source)
    : params_(params),
      source_(std::move(source)),
      secret_(RandomSecret()),
      pageToken_(RandomSecret()),
      uiThread_(Platform::CurrentThreadId()) {}

CPageDialog::~CPageDialog() { Close(); }

bool CPageDialog::OnUiThread() const { return Platform::CurrentThreadId() == uiThread_; }

bool CPageDialog::Start() {
  if (secret_.empty() || pageToken_.empty()) return false;
  ChooseSite();
  server_ = std::make_unique<httplib::Server>();
  // Every synchronous call and the event stream hold a thread while they
  // wait; calls may nest.
  server_->new_task_queue = [] { return new httplib::ThreadPool(32); };
  server_->set_payload_max_length(kMaxRequestBytes);
  server_->set_keep_alive_timeout(2);
  // The library writes an answer's headers and body separately; with Nagle
  // on, the second small write waits for the browser's delayed
  // acknowledgement, about 40 ms for every call on a kept-alive connection.
  // Accepted sockets take the option from the listening one.
  server_->set_tcp_nodelay(true);
  InstallRoutes();
  const int serverPort = server_->bind_to_any_port("127.0.0.1");
  if (serverPort <= 0) return false;
  // The browser talks to the gate, which reads every request head within
  // limits before the server sees it. Its port is known before the server
  // serves anything.
  gate_ = std::make_unique<BridgeGate>();
  if (!gate_->Start(serverPort)) return false;
  port_ = gate_->Port();
  serverThread_ = std::thread([server = server_.get()] { server->listen_after_bind(); });
  return true;
}

// The "ResUrl" setting names a web site, a page file of the machine, or
// nothing the window could show: then the built-in page of the mode is
// shown rather than an address the browser cannot follow.
void CPageDialog::ChooseSite() {
  if (params_.url.empty()) return;
  if (!UrlOrigin(params_.url).empty()) {
    site_ = SiteKind::Web;
    return;
  }
  const std::u16string path = FilePathOf(params_.url);
  if (!path.empty() && Platform::FileExists(path)) {
    site_ = SiteKind::Files;
    siteFolder_ = Platform::ParentPath(path);
    siteStart_ = Utf8(Platform::FileNamePart(path));
    return;
  }
  Platform::WriteDebugString(u"ResUrl \"" + params_.url + u"\" is no page this window can show; the built-in page is shown\n");
}

std::string CPageDialog::Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
std::string CPageDialog::StartAddress() const { return Origin() + "/open?key=" + secret_; }

void CPageDialog::Close() {
  if (closed_.exchange(true)) return;
  // A channel's lock is never taken under the dialog's (WaitChannel takes
  // them the other way round).
  std::vector<std::shared_ptr<CallChannel>> waiting;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stream_) stream_->ended = true;
    for (auto& [id, weak] : channels_)
      if (auto channel = weak.lock()) waiting.push_back(channel);
  }
  for (const auto& channel : waiting) {
    std::lock_guard<std::mutex> c(channel->m);
    channel->cv.notify_all();
  }
  std::vector<std::shared_ptr<WorkerWait>> workers;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const auto& weak : workerWaits_)
      if (auto wait = weak.lock()) workers.push_back(wait);
  }
  for (const auto& wait : workers) {
    std::lock_guard<std::mutex> w(wait->m);
    wait->cv.notify_all();
  }
  changed_.notify_all();
  if (gate_) gate_->Stop();
  if (server_) server_->stop();
  if (serverThread_.joinable()) serverThread_.join();
}

bool CPageDialog::Admit(const httplib::Request& request, httplib::Response& response) const {
  // Which of two Host or Origin headers counts differs between a proxy,
  // the browser and this server: a request that carries two is not one
  // the page's own browser sends.
  if (request.get_header_value_count("Host") > 1 || request.get_header_value_count("Origin") > 1) {
    response.status = 400;
    response.set_content("bad request", "text/plain");
    return false;
  }
  const std::string host = "127.0.0.1:" + std::to_string(port_);
  bool allowed = request.get_header_value("Host") == host;
  if (allowed && request.has_header("Origin")) allowed = request.get_header_value("Origin") == Origin();
  if (allowed) {
    std::string presented = request.get_header_value(kSecretHeader);
    if (presented.empty()) presented = CookieValue(request, kCookiePrefix + std::to_string(port_));
    if (presented.empty() && request.path == "/open") presented = request.get_param_value("key");
    allowed = SameSecret(presented, secret_);
  }
  if (allowed && request.path.rfind("/bridge/", 0) == 0) allowed = FromOwnDocument(request);
  if (!allowed) {
    response.status = 403;
    response.set_content("refused", "text/plain");
  }
  return allowed;
}

// The browser says where a request comes from (a page of another port is
// "same-site", not "same-origin"); the token says it is one of the
// program's own documents. The shim itself needs no token: it hands it out.
bool CPageDialog::FromOwnDocument(const httplib::Request& request) const {
  if (request.has_header("Sec-Fetch-Site") && request.get_header_value("Sec-Fetch-Site") != "same-origin")
    return false;
  if (request.path == "/bridge/shim.js") return true;
  std::string token = request.get_header_value(kTokenHeader);
  if (token.empty() && request.path == "/bridge/events") token = request.get_param_value("token");
  return SameSecret(token, pageToken_);
}

void CPageDialog::InstallRoutes() {
  httplib::Server& s = *server_;
  s.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    if (closed_.load()) {
      response.status = 503;
      return httplib::Server::HandlerResponse::Handled;
    }
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Content-Type-Options", "nosniff");
    // Another local page must not frame the program's pages: a framed copy
    // would run the shim.
    response.set_header("X-Frame-Options", "SAMEORIGIN");
    response.set_header("Content-Security-Policy", "frame-ancestors 'self'");
    return Admit(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                    : httplib::Server::HandlerResponse::Handled;
  });
  s.Get("/open", [this](const httplib::Request&, httplib::Response& response) {
    WatchForFollowUp();
    response.set_header("Set-Cookie", kCookiePrefix + std::to_string(port_) + "=" + secret_ +
                                          "; Path=/; HttpOnly; SameSite=Strict");
    response.set_redirect("/page");
  });
  s.Get("/page", [this](const httplib::Request&, httplib::Response& response) { ServeStartPage(response); });
  s.Get("/bridge/shim.js", [this](const httplib::Request&, httplib::Response& response) {
    followedUp_ = true;
    response.set_content(ShimScript(), "application/javascript; charset=utf-8");
  });
  s.Get("/bridge/events", [this](const httplib::Request& request, httplib::Response& response) {
    ServeEvents(request, response);
  });
  const auto post = [this, &s](const char* path, std::function<void(const json&, httplib::Response&)> handler) {
    s.Post(path, [handler](const httplib::Request& request, httplib::Response& response) {
      const json body = json::parse(request.body, nullptr, false);
      if (!body.is_object()) {
        response.status = 400;
        return;
      }
      response.set_content("{}", "application/json");
      handler(body, response);
    });
  };
  post("/bridge/callc", [this](const json& body, httplib::Response& response) { HandleCallc(body, response); });
  post("/bridge/continue", [this](const json& body, httplib::Response& response) { HandleContinue(body, response); });
  post("/bridge/async", [this](const json& body, httplib::Response&) { HandleAsync(body); });
  post("/bridge/answer", [this](const json& body, httplib::Response&) { HandleAnswer(body); });
  post("/bridge/notify", [this](const json& body, httplib::Response&) { HandleNotify(body); });
  post("/bridge/external", [](const json& body, httplib::Response&) {
    const std::string url = StringField(body, "url");
    if (!url.empty()) System::open_url_in_ie(Platform::Utf8ToUtf16(url));
  });
  s.Get(R"(/resurl(/.*))", [this](const httplib::Request& request, httplib::Response& response) {
    ProxyResUrl(request, response);
  });
  s.Get(R"(/(.+))", [this](const httplib::Request& request, httplib::Response& response) {
    ServeFile(request.matches[1], response);
  });
}

void CPageDialog::ServeStartPage(httplib::Response& response) {
  followedUp_ = true;
  // Pages of the "ResUrl" site, on the web or in a folder of the machine,
  // are served under /resurl/ of the program's own origin, so that they
  // get the bridge.
  if (site_ == SiteKind::Web) {
    response.set_redirect("/resurl" + ResUrlPath(Utf8(params_.url)));
    return;
  }
  if (site_ == SiteKind::Files) {
    response.set_redirect("/resurl/" + httplib::detail::encode_query_param(siteStart_));
    return;
  }
  std::optional<ResourceData> page;
  const uint32_t resource = params_.url.empty() ? params_.htmlResourceId : params_.fallbackResourceId;
  if (resource && source_.html) page = source_.html(resource);
  if (!page || !page->data) {
    // No page for this mode: the window stays empty.
    response.set_content(WithShim("<!DOCTYPE html><html><head></head><body></body></html>"), "text/html; charset=utf-8");
    return;
  }
  response.set_content(WithShim(std::string_view(reinterpret_cast<const char*>(page->data), page->size)),
                       "text/html; charset=utf-8");
}

void CPageDialog::ServeSiteFile(const std::string& relative, httplib::Response& response) {
  // Only files inside the page's own folder.
  std::u16string name = Platform::Utf8ToUtf16(relative.substr(relative.find_first_not_of('/') == std::string::npos
                                                                  ? relative.size()
                                                                  : relative.find_first_not_of('/')));
  for (auto& c : name)
    if (c == u'/') c = u'\\';
  const bool climbs = name == u".." || name.rfind(u"..\\", 0) == 0 || name.find(u"\\..\\") != std::u16string::npos ||
                      (name.size() >= 3 && name.compare(name.size() - 3, 3, u"\\..") == 0);
  std::string bytes;
  if (name.empty() || climbs || name.find(u':') != std::u16string::npos ||
      Platform::Failed(Platform::ReadWholeFile(siteFolder_ + u"\\" + name, bytes))) {
    response.status = 404;
    response.set_content(WithShim(kSiteUnavailablePage), "text/html; charset=utf-8");
    return;
  }
  const std::string mime = MimeTypeOf(relative);
  if (IsHtml(mime)) response.set_content(WithShim(bytes), mime);
  else response.set_content(bytes, mime);
}

void CPageDialog::ProxyResUrl(const httplib::Request& request, httplib::Response& response) {
  followedUp_ = true;
  if (site_ == SiteKind::Files) return ServeSiteFile(request.matches[1], response);
  const std::string origin = Utf8(UrlOrigin(params_.url));
  if (site_ != SiteKind::Web || origin.empty()) {
    response.status = 404;
    return;
  }
  std::string target = request.matches[1];
  if (!request.params.empty()) {
    std::string query;
    for (const auto& [key, value] : request.params)
      query += (query.empty() ? "?" : "&") + httplib::detail::encode_query_param(key) + "=" +
               httplib::detail::encode_query_param(value);
    target += query;
  }
  httplib::Client client(origin);
  client.set_connection_timeout(5, 0);
  client.set_read_timeout(15, 0);
  client.set_follow_location(false);
  auto fetched = client.Get(target.c_str());
  if (!fetched) {
    response.status = 502;
    response.set_content(WithShim(kSiteUnavailablePage), "text/html; charset=utf-8");
    return;
  }
  response.status = fetched->status;
  if (fetched->has_header("Location")) {
    // A redirect within the site stays under /resurl/; one elsewhere leaves
    // the program's origin and with it the bridge.
    const std::string location = fetched->get_header_value("Location");
    const std::string locationOrigin = Utf8(UrlOrigin(Platform::Utf8ToUtf16(location)));
    if (locationOrigin == origin) response.set_header("Location", "/resurl" + ResUrlPath(location));
    else if (!location.empty() && location[0] == '/') response.set_header("Location", "/resurl" + location);
    else response.set_header("Location", location);
  }
  const std::string mime = fetched->get_header_value("Content-Type");
  // An error answer the browser would show without the bridge is shown as
  // the program's own page, which can be closed.
  if (fetched->status >= 400 && !IsHtml(mime))
    return response.set_content(WithShim(kSiteUnavailablePage), "text/html; charset=utf-8");
  if (IsHtml(mime)) response.set_content(WithShim(fetched->body), mime);
  else response.set_content(fetched->body, mime.empty() ? "application/octet-stream" : mime);
}

void CPageDialog::ServeFile(const std::string& path, httplib::Response& response) {
  std::optional<ResourceData> file;
  if (source_.file) file = source_.file(path);
  if (!file || !file->data) {
    response.status = 404;
    return;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(file->data), file->size);
  const std::string mime = file->mimeType.empty() ? "application/octet-stream" : std::string(file->mimeType);
  if (IsHtml(mime)) response.set_content(WithShim(bytes), mime);
  else response.set_content(std::string(bytes), mime);
}

void CPageDialog::ServeEvents(const httplib::Request&, httplib::Response& response) {
  auto stream = std::make_shared<EventStream>();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stream_ && !stream_->ended) {
      // The live page keeps its stream; a reload's new document gets it once
      // the old one's is gone (its shim tries again).
      response.status = 409;
      response.set_content("a page is connected", "text/plain");
      return;
    }
    stream->generation = ++generation_;
    stream_ = stream;
    pageReady_ = true;
    answers_.clear();
  }
  changed_.notify_all();
  auto self = shared_from_this();
  response.set_header("Cache-Control", "no-store");
  response.set_chunked_content_provider(
      "text/event-stream",
      [this, stream](size_t, httplib::DataSink& sink) {
        std::unique_lock<std::mutex> hold(mutex_);
        // A quiet stream still writes now and then: that is how a closed
        // page is noticed.
        changed_.wait_for(hold, std::chrono::seconds(1), [&] { return !stream->events.empty() || stream->ended; });
        std::string chunk;
        while (!stream->events.empty()) {
          chunk += "data: " + stream->events.front() + "\n\n";
          stream->events.pop_front();
        }
        const bool ended = stream->ended || closed_.load();
        hold.unlock();
        if (chunk.empty()) chunk = ": keep-alive\n\n";
        if (!sink.is_writable() || !sink.write(chunk.data(), chunk.size())) return false;
        if (ended) {
          sink.done();
          return false;
        }
        return true;
      },
      [weak = std::weak_ptr<CPageDialog>(self), stream](bool) {
        if (auto dialog = weak.lock()) dialog->StreamEnded(stream->generation);
      });
}

// The start address was fetched: a page has to follow it (the start page,
// the site's page or the shim) in time, or the window counts as closed.
void CPageDialog::WatchForFollowUp() {
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  std::thread([weak] {
    std::this_thread::sleep_for(std::chrono::milliseconds(kFollowUpMilliseconds));
    auto dialog = weak.lock();
    if (!dialog || dialog->closed_.load() || dialog->followedUp_.load()) return;
    Platform::PostToMessageLoop([weak] {
      if (auto d = weak.lock())
        if (!d->closed_.load() && !d->followedUp_.load() && d->onPageGone) d->onPageGone();
    });
  }).detach();
}

void CPageDialog::StreamEnded(uint64_t generation) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stream_ && stream_->generation == generation) {
      stream_->ended = true;
      pageReady_ = false;
    }
  }
  changed_.notify_all();
  // The page may come back (a reload); it is gone when no new document
  // connects in time.
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  std::thread([weak, generation] {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPageGoneMilliseconds));
    auto dialog = weak.lock();
    if (!dialog || dialog->closed_.load()) return;
    {
      std::lock_guard<std::mutex> hold(dialog->mutex_);
      if (dialog->generation_ != generation || !dialog->stream_ || !dialog->stream_->ended) return;
    }
    Platform::PostToMessageLoop([weak] {
      if (auto d = weak.lock())
        if (!d->closed_.load() && d->onPageGone) d->onPageGone();
    });
  }).detach();
}

void CPageDialog::SendEvent(const json& event) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!stream_ || stream_->ended) return;
    stream_->events.push_back(event.dump(-1, ' ', false, json::error_handler_t::replace));
  }
  changed_.notify_all();
}

std::shared_ptr<ScriptObject> CPageDialog::PageObjectFor(int64_t handle) {
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    generation = generation_;
  }
  return std::make_shared<PageObject>(
      handle,
      [weak](int64_t h, const std::u16string& name, const std::vector<Variant>& args, Variant* result) -> HResult {
        auto dialog = weak.lock();
        if (!dialog) return Platform::kEFail;
        json wireArgs = json::array();
        for (const auto& a : args) wireArgs.push_back(EncodeVariant(a));
        json answer;
        const HResult hr = dialog->PageOperation({{"op", "invoke"}, {"h", h}, {"name", Utf8(name)}, {"args", wireArgs}},
                                                 &answer);
        if (Platform::Succeeded(hr) && result) *result = dialog->Decode(answer.value("value", json()));
        return hr;
      },
      [weak, generation](int64_t h) {
        auto dialog = weak.lock();
        if (!dialog) return;
        {
          std::lock_guard<std::mutex> hold(dialog->mutex_);
          if (dialog->generation_ != generation) return;  // that document is gone
        }
        dialog->SendEvent({{"op", "release"}, {"h", h}});
      });
}

Variant CPageDialog::Decode(const json& wire) {
  return DecodeVariant(wire, [this](int64_t handle) { return PageObjectFor(handle); });
}

// Page calls: carried to the user-interface thread, which sends them to the
// page and serves other work while it waits for the answer.

HResult CPageDialog::PageOperation(json op, json* answer) {
  if (closed_.load()) return Platform::kEFail;
  if (OnUiThread()) return OperateOnUiThread(std::move(op), answer);
  auto pending = std::make_shared<WorkerWait>();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    workerWaits_.erase(std::remove_if(workerWaits_.begin(), workerWaits_.end(),
                                      [](const std::weak_ptr<WorkerWait>& w) { return w.expired(); }),
                       workerWaits_.end());
    workerWaits_.push_back(pending);
  }
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  Platform::PostToMessageLoop([weak, pending, op] {
    json reply;
    HResult hr = Platform::kEFail;
    if (auto dialog = weak.lock()) hr = dialog->OperateOnUiThread(op, &reply);
    std::lock_guard<std::mutex> hold(pending->m);
    pending->hr = hr;
    pending->answer = std::move(reply);
    pending->done = true;
    pending->cv.notify_all();
  });
  std::unique_lock<std::mutex> hold(pending->m);
  // The window may go while the call waits (Close wakes it): the call then
  // has no effect.
  pending->cv.wait(hold, [&] { return pending->done || closed_.load(); });
  if (!pending->done) return Platform::kEFail;
  if (answer) *answer = std::move(pending->answer);
  return pending->hr;
}

bool CPageDialog::PumpUntil(const std::function<bool()>& done, std::optional<uint64_t> generation,
                            const std::shared_ptr<EventStream>& pageStream) {
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (done()) return true;
      // An operation on the event stream ends with its document; one in a
      // synchronous call's answer ends when the page's stream ends (the
      // window was closed while the page's script hung in the call).
      if (generation && (generation_ != *generation || !stream_ || stream_->ended)) return false;
      if (pageStream && pageStream->ended) return false;
    }
    // After the dialog closed, or once quit was posted, no answer will come.
    if (closed_.load() || Platform::QuitPosted()) return false;
    const uint32_t before = Platform::TickCount();
    Platform::PumpMessagesFor(2);
    // After a quit the loop serves nothing: do not spin.
    if (Platform::TickCount() - before < 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void CPageDialog::WaitForFirstDocument() {
  const uint32_t start = Platform::TickCount();
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (stream_ || !channelStack_.empty()) return;
    }
    if (closed_.load() || Platform::TickCount() - start >= kPageGoneMilliseconds) return;
    Platform::PumpMessagesFor(2);
  }
}

HResult CPageDialog::OperateOnUiThread(json op, json* answer) {
  // The first document opens its event stream once it has loaded. Its
  // script may start commands before that (get_config at once), whose
  // page calls and answers wait for the stream instead of being lost.
  WaitForFirstDocument();
  std::shared_ptr<CallChannel> channel;
  std::optional<uint64_t> generation;
  std::shared_ptr<EventStream> pageStream;
  int64_t id = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    generation = generation_;
    pageStream = stream_;
    id = nextId_++;
    op["id"] = id;
    if (!channelStack_.empty()) {
      channel = channelStack_.back();
    } else if (!stream_ || stream_->ended || !pageReady_) {
      return Platform::kEPointer;  // no document yet (or any more)
    }
  }
  if (channel) {
    // The page's script waits in this synchronous call: the operation goes
    // back in its answer.
    {
      std::lock_guard<std::mutex> c(channel->m);
      channel->outbox.push_back(op);
      channel->cv.notify_all();
    }
    generation.reset();
  } else {
    SendEvent(op);
  }
  json reply;
  const bool answered = PumpUntil(
      [&] {
        const auto it = answers_.find(id);
        if (it == answers_.end()) return false;
        reply = std::move(it->second);
        answers_.erase(it);
        return true;
      },
      generation, pageStream);
  if (!answered) return Platform::kEFail;
  if (answer) *answer = reply;
  return AnswerResult(reply);
}

void CPageDialog::HandleAnswer(const json& body) {
  const auto id = body.find("id");
  const auto answer = body.find("answer");
  if (id == body.end() || !id->is_number_integer() || answer == body.end() || !answer->is_object()) return;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    answers_[id->get<int64_t>()] = *answer;
  }
  Platform::PostToMessageLoop([] {});  // wakes a waiting user-interface thread
}

// callc: runs on the user-interface thread while this request waits.

void CPageDialog::HandleCallc(const json& body, httplib::Response& response) {
  const auto args = body.find("args");
  std::vector<Variant> values(5);
  if (args != body.end() && args->is_array())
    for (size_t i = 0; i < 5 && i < args->size(); ++i) values[i] = Decode((*args)[i]);
  auto channel = std::make_shared<CallChannel>();
  {
    std::lock_guard<std::mutex> hold(mutex_);
    channel->id = nextId_++;
    channel->generation = generation_;
    channels_[channel->id] = channel;
  }
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  Platform::PostToMessageLoop([weak, channel, values] {
    Variant result;
    if (auto dialog = weak.lock()) {
      {
        std::lock_guard<std::mutex> hold(dialog->mutex_);
        dialog->channelStack_.push_back(channel);
      }
      dialog->RunCommand(result, values[0], values[1], values[2], values[3], values[4]);
      std::lock_guard<std::mutex> hold(dialog->mutex_);
      dialog->channelStack_.pop_back();
    }
    std::lock_guard<std::mutex> c(channel->m);
    channel->finished = true;
    channel->result = EncodeVariant(result);
    channel->cv.notify_all();
  });
  response.set_content(WaitChannel(channel).dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void CPageDialog::HandleContinue(const json& body, httplib::Response& response) {
  std::shared_ptr<CallChannel> channel;
  const auto id = body.find("channel");
  const auto opId = body.find("id");
  const auto answer = body.find("answer");
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (id != body.end() && id->is_number_integer()) {
      const auto it = channels_.find(id->get<int64_t>());
      if (it != channels_.end()) channel = it->second.lock();
    }
    if (channel && opId != body.end() && opId->is_number_integer() && answer != body.end() && answer->is_object())
      answers_[opId->get<int64_t>()] = *answer;
  }
  if (!channel) {
    response.set_content(json{{"kind", "result"}, {"value", {{"t", "e"}}}}.dump(), "application/json");
    return;
  }
  Platform::PostToMessageLoop([] {});
  response.set_content(WaitChannel(channel).dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

json CPageDialog::WaitChannel(const std::shared_ptr<CallChannel>& channel) {
  std::unique_lock<std::mutex> hold(channel->m);
  for (;;) {
    if (!channel->outbox.empty()) {
      json op = std::move(channel->outbox.front());
      channel->outbox.pop_front();
      return {{"kind", "op"}, {"channel", channel->id}, {"op", std::move(op)}};
    }
    if (channel->finished) {
      json result = {{"kind", "result"}, {"value", channel->result}};
      hold.unlock();
      std::lock_guard<std::mutex> h(mutex_);
      channels_.erase(channel->id);
      return result;
    }
    if (closed_.load()) return {{"kind", "result"}, {"value", {{"t", "e"}}}};
    channel->cv.wait_for(hold, std::chrono::milliseconds(100));
  }
}

void CPageDialog::HandleAsync(const json& body) {
  const auto args = body.find("args");
  if (args == body.end() || !args->is_array()) return;
  const std::string document = StringField(body, "document");
  const auto seq = body.find("seq");
  const bool numbered = !document.empty() && seq != body.end() && seq->is_number_integer();
  // The page's word that a numbered call was refused on its way here: its
  // place in the order is taken by no job.
  const bool refused = BoolField(body, "refused");
  if (refused && !numbered) return;
  ExternalAsyncThread* job = nullptr;
  if (!refused) {
    std::vector<Variant> values(6);
    for (size_t i = 0; i < 6 && i < args->size(); ++i) values[i] = Decode((*args)[i]);
    job = new ExternalAsyncThread(BoolField(body, "queued"), shared_from_this(), values[0], values[1], values[2],
                                  values[3], values[4], values[5]);
  }
  if (!numbered) {
    StartJob(job);
    return;
  }
  std::vector<ExternalAsyncThread*> ready;
  {
    std::lock_guard<std::mutex> hold(asyncMutex_);
    AsyncOrder& order = asyncOrder_[document];
    const int64_t number = seq->get<int64_t>();
    if (number < order.next || order.early.count(number)) {
      if (job) ready.push_back(job);  // out of any order: started as it comes
    } else {
      order.early[number] = job;
      for (auto it = order.early.find(order.next); it != order.early.end(); it = order.early.find(order.next)) {
        if (it->second) ready.push_back(it->second);
        order.early.erase(it);
        ++order.next;
      }
    }
    // Started in order while the lock is held, so a later arrival cannot
    // overtake them.
    for (auto* j : ready) StartJob(j);
  }
}

void CPageDialog::HandleNotify(const json& body) {
  const std::string element = StringField(body, "id");
  static const char* const kFrameElements[] = {"ui_close", "ui_quit", "ui_maximize", "ui_restore",
                                               "ui_minimize", "ui_menu"};
  bool known = false;
  for (const char* name : kFrameElements) known = known || element == name;
  if (!known) return;
  std::weak_ptr<CPageDialog> weak = shared_from_this();
  Platform::PostToMessageLoop([weak, element] {
    auto dialog = weak.lock();
    if (!dialog) return;
    if (element == "ui_quit") Platform::PostQuit(0);
    if (dialog->params_.commandHandler) {
      Variant result;
      dialog->params_.commandHandler(result, dialog.get(), Variant::String(u"ui_notify"),
                                     Variant::String(Platform::Utf8ToUtf16(element)), Variant(), Variant(), Variant());
    }
  });
}

// IBSDialog and IScriptHost.

HResult CPageDialog::Resize(int32_t, int32_t) {
  // The page sizes its own window (the shim follows the body's size).
  return Platform::kSOk;
}

HResult CPageDialog::CallPageFunction(std::u16string_view name, const Variant* args, int count, Variant* result) {
  json wireArgs = json::array();
  for (int i = count - 1; i >= 0 && args; --i) wireArgs.push_back(EncodeVariant(args[i]));
  json answer;
  const HResult hr = PageOperation({{"op", "call"}, {"name", Utf8(name)}, {"args", wireArgs}}, &answer);
  if (Platform::Succeeded(hr) && result) *result = Decode(answer.value("value", json()));
  return hr;
}

HResult CPageDialog::SetScriptVariable(std::u16string_view name, const Variant& value) {
  return PageOperation({{"op", "set"}, {"name", Utf8(name)}, {"value", EncodeVariant(value)}}, nullptr);
}

HResult CPageDialog::GetScriptVariable(std::u16string_view name, Variant* result) {
  json answer;
  const HResult hr = PageOperation({{"op", "get"}, {"name", Utf8(name)}}, &answer);
  if (Platform::Succeeded(hr) && result) *result = Decode(answer.value("value", json()));
  return hr;
}

HResult CPageDialog::ExecScript(std::u16string_view script) {
  return PageOperation({{"op", "exec"}, {"script", Utf8(script)}}, nullptr);
}

HResult CPageDialog::NewScriptObject(std::u16string_view constructorName, std::shared_ptr<ScriptObject>* out,
                                     const std::function<HResult(ScriptObject*)>& callback) {
  json answer;
  HResult hr = PageOperation({{"op", "new"}, {"name", Utf8(constructorName)}}, &answer);
  if (Platform::Failed(hr)) return hr;
  const Variant object = Decode(answer.value("value", json()));
  if (!object.IsDispatch()) return kTypeMismatch;
  if (out) *out = object.AsDispatch();
  return callback ? callback(object.AsDispatch().get()) : Platform::kSOk;
}

bool CPageDialog::RunCommand(Variant& result, const Variant& name, const Variant& a1, const Variant& a2,
                             const Variant& a3, const Variant& a4) {
  if (!params_.commandHandler) return false;
  params_.commandHandler(result, this, name, a1, a2, a3, a4);
  return true;
}

HResult CPageDialog::CompleteCall(const std::shared_ptr<ScriptObject>& callback, const Variant& result) {
  if (!callback) return Platform::kEPointer;
  return callback->InvokeMethod(u"call", {Variant::Dispatch(callback), result}, nullptr);
}

int CPageDialog::ShowBox(const json& box) {
  json answer;
  if (Platform::Failed(PageOperation(box, &answer))) return BoolField(box, "yesNo") ? 7 : 1;
  const Variant button = Decode(answer.value("value", json()));
  return button.IsInt() ? button.AsInt() : 1;
}

std::string CPageDialog::ShimScript() const {
  return "var ZENTROVAK_AUTOSIZE=" + std::to_string(params_.autoSize) + ";\nvar ZENTROVAK_TOKEN=\"" + pageToken_ +
         "\";\n" + kShimScript;
}

}  // namespace Zentrovak::UI::Posix
