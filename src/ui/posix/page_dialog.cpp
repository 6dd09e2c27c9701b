#include "ui/posix/page_dialog.h"

#include "ui/posix/page_dialog_parts.h"

#include <openssl/rand.h>

#include <cstdio>

#include <httplib.h>

#include "ui/posix/gated_server.h"

#include "platform/errors.h"
#include "platform/message_loop.h"
#include "platform/text.h"
#include "system/process_launch.h"
#include "ui/posix/variant_wire.h"

namespace Zentrovak::UI::Posix {

extern const char kShimScript[];  // bridge_shim.cpp

using nlohmann::json;
using Platform::HResult;

namespace {

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

}  // namespace

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
  server_ = std::make_unique<GatedServer>();
  InstallRoutes();
  // The browser talks to the gate, which reads every request head within
  // limits and hands the connection to the server on its own thread (every
  // synchronous call and the event stream hold one while they wait; calls
  // may nest).
  gate_ = std::make_unique<BridgeGate>();
  if (!gate_->Listen()) return false;
  port_ = gate_->Port();
  gate_->Serve([server = server_.get()](const AdmittedConnection& connection) { server->Serve(connection); });
  return true;
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
    for (auto& [id, channel] : channels_) waiting.push_back(channel);
  }
  for (const auto& channel : waiting) {
    std::lock_guard<std::mutex> c(channel->m);
    channel->cv.notify_all();
  }
  // Workers waiting for the page wait on this.
  changed_.notify_all();
  if (server_) server_->Shut();
  if (gate_) gate_->Stop();
}

bool CPageDialog::Admit(const httplib::Request& request, httplib::Response& response) const {
  // Requests with two Host or Origin headers never get here: the gate
  // refuses them.
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
