#include "ui/posix/page_dialog.h"

#include "ui/posix/page_dialog_parts.h"

#include <openssl/rand.h>

#include <cstdio>
#include <cstring>

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

std::string CookieValue(const PageRequest& request, const std::string& name) {
  const std::string cookies = request.Header("Cookie");
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
  server_ = std::make_unique<PageServer>();
  if (!server_->Listen()) return false;
  port_ = server_->Port();
  server_->SetAnswerHeaders({{"Cache-Control", "no-store"},
                             {"X-Content-Type-Options", "nosniff"},
                             // Another local page must not frame the program's
                             // pages: a framed copy would run the shim.
                             {"X-Frame-Options", "SAMEORIGIN"},
                             {"Content-Security-Policy", "frame-ancestors 'self'"}});
  server_->Serve([this](const PageRequest& head) { return Admit(head); },
                 [this](PageRequest request, std::shared_ptr<PageExchange> exchange) {
                   Route(std::move(request), exchange);
                 });
  return true;
}

std::string CPageDialog::Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
std::string CPageDialog::StartAddress() const { return Origin() + "/open?key=" + secret_; }

void CPageDialog::Close() {
  if (closed_.exchange(true)) return;
  std::vector<std::shared_ptr<CallChannel>> waiting;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (stream_) stream_->ended = true;
    for (auto& [id, channel] : channels_) waiting.push_back(channel);
  }
  // The page's requests that wait in a synchronous call get their end.
  for (const auto& channel : waiting) Deliver(channel);
  // Workers waiting for the page wait on this.
  changed_.notify_all();
  if (server_) server_->Stop();
}

// Runs on the server's thread for every request head that kept the
// server's own rules, before its body is read.
std::optional<PageAnswer> CPageDialog::Admit(const PageRequest& request) const {
  if (closed_.load()) return PageAnswer::Text(503, "");
  const std::string host = "127.0.0.1:" + std::to_string(port_);
  bool allowed = request.Header("Host") == host;
  if (allowed && request.HasHeader("Origin")) allowed = request.Header("Origin") == Origin();
  if (allowed) {
    std::string presented = request.Header(kSecretHeader);
    if (presented.empty()) presented = CookieValue(request, kCookiePrefix + std::to_string(port_));
    if (presented.empty() && request.path == "/open") presented = request.QueryValue("key");
    allowed = SameSecret(presented, secret_);
  }
  if (allowed && request.path.rfind("/bridge/", 0) == 0) allowed = FromOwnDocument(request);
  if (!allowed) return PageAnswer::Text(403, "refused");
  return std::nullopt;
}

// The browser says where a request comes from (a page of another port is
// "same-site", not "same-origin"); the token says it is one of the
// program's own documents. The shim itself needs no token: it hands it out.
bool CPageDialog::FromOwnDocument(const PageRequest& request) const {
  if (request.HasHeader("Sec-Fetch-Site") && request.Header("Sec-Fetch-Site") != "same-origin") return false;
  if (request.path == "/bridge/shim.js") return true;
  std::string token = request.Header(kTokenHeader);
  if (token.empty() && request.path == "/bridge/events") token = request.QueryValue("token");
  return SameSecret(token, pageToken_);
}

// Runs on the server's thread for every admitted request; what waits (a
// synchronous call, the event stream, a remote page) answers later.
void CPageDialog::Route(PageRequest request, const std::shared_ptr<PageExchange>& exchange) {
  const std::string& path = request.path;
  if (request.method == "POST" && path.rfind("/bridge/", 0) == 0) return RouteBridgeCall(request, exchange);
  if (request.method != "GET") return exchange->Answer(PageAnswer::Text(405, ""));
  if (path == "/open") {
    WatchForFollowUp();
    PageAnswer answer = PageAnswer::Redirect("/page");
    answer.headers.emplace_back("Set-Cookie", kCookiePrefix + std::to_string(port_) + "=" + secret_ +
                                                  "; Path=/; HttpOnly; SameSite=Strict");
    return exchange->Answer(std::move(answer));
  }
  if (path == "/page") return exchange->Answer(ServeStartPage());
  if (path == "/bridge/shim.js") {
    followedUp_ = true;
    return exchange->Answer(PageAnswer::Content(ShimScript(), "application/javascript; charset=utf-8"));
  }
  if (path == "/bridge/events") return ServeEvents(exchange);
  if (path.rfind("/resurl/", 0) == 0) return ProxyResUrl(request, exchange);
  if (path.size() > 1) return exchange->Answer(ServeFile(path.substr(1)));
  exchange->Answer(PageAnswer::Text(404, ""));
}

void CPageDialog::RouteBridgeCall(const PageRequest& request, const std::shared_ptr<PageExchange>& exchange) {
  const json body = json::parse(request.body, nullptr, false);
  if (!body.is_object()) return exchange->Answer(PageAnswer::Text(400, ""));
  const std::string call = request.path.substr(std::strlen("/bridge/"));
  if (call == "callc") return HandleCallc(body, exchange);
  if (call == "continue") return HandleContinue(body, exchange);
  if (call == "async") return exchange->Answer(HandleAsync(body));
  if (call == "answer") {
    HandleAnswer(body);
  } else if (call == "notify") {
    HandleNotify(body);
  } else if (call == "external") {
    const std::string url = StringField(body, "url");
    // Starting a program may take a moment: not on the server's thread.
    if (!url.empty()) server_->RunBlocking([url] { System::open_url_in_ie(Platform::Utf8ToUtf16(url)); });
  } else {
    return exchange->Answer(PageAnswer::Text(404, ""));
  }
  exchange->Answer(PageAnswer::Content("{}", "application/json"));
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
