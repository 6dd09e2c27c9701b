#include "net/posix/proxy_posix.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "net/http_backend.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace Zentrovak::Network {

using Platform::Win32Error;

namespace {

constexpr char16_t kInternetSettings[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr char16_t kConnections[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// The browser's connection settings blob: a header (magic 0x46, a counter,
// flags), then three counted ANSI strings: proxy, bypass list, script URL.
constexpr uint32_t kSettingsMagic = 0x46;
constexpr uint32_t kFlagProxy = 2;
constexpr uint32_t kFlagAutoConfigUrl = 4;

bool ReadDword(const std::vector<uint8_t>& blob, size_t offset, uint32_t& value) {
  if (offset > blob.size() || blob.size() - offset < 4) return false;
  value = blob[offset] | (blob[offset + 1] << 8) | (blob[offset + 2] << 16) | (uint32_t(blob[offset + 3]) << 24);
  return true;
}

// False when the blob is missing or malformed; the separate values are read
// then.
bool ParseConnectionSettings(const std::vector<uint8_t>& blob, UserProxyConfig& config) {
  uint32_t magic = 0, flags = 0;
  if (!ReadDword(blob, 0, magic) || magic != kSettingsMagic || !ReadDword(blob, 8, flags)) return false;
  size_t offset = 12;
  std::u16string strings[3];
  for (auto& text : strings) {
    uint32_t length = 0;
    if (!ReadDword(blob, offset, length)) return false;
    offset += 4;
    if (length > blob.size() - offset) return false;
    text.assign(blob.begin() + offset, blob.begin() + offset + length);
    offset += length;
  }
  config = {};
  if (flags & kFlagProxy) {
    config.proxy = strings[0];
    config.bypass = strings[1];
  }
  if (flags & kFlagAutoConfigUrl) config.autoConfigUrl = strings[2];
  return true;
}

}  // namespace

bool GetIEProxyConfigForCurrentUser(UserProxyConfig& config) {
  config = {};
  using Platform::RegistryKey;
  RegistryKey connections;
  std::vector<uint8_t> blob;
  if (RegistryKey::Open(Platform::kHkeyCurrentUser, kConnections, Platform::RegAccess::Read,
                        Platform::RegView::Default, connections) == 0 &&
      connections.ReadBinary(u"DefaultConnectionSettings", blob, 64 * 1024) == 0 &&
      ParseConnectionSettings(blob, config))
    return true;
  RegistryKey settings;
  if (RegistryKey::Open(Platform::kHkeyCurrentUser, kInternetSettings, Platform::RegAccess::Read,
                        Platform::RegView::Default, settings) != 0)
    return true;
  uint32_t enabled = 0;
  if (settings.ReadDword(u"ProxyEnable", enabled) == 0 && enabled != 0) {
    settings.ReadString(u"ProxyServer", config.proxy, 4096);
    settings.ReadString(u"ProxyOverride", config.bypass, 4096);
  }
  settings.ReadString(u"AutoConfigURL", config.autoConfigUrl, 4096);
  return true;
}

namespace Posix {

namespace {

std::vector<std::u16string_view> SplitList(std::u16string_view list, std::u16string_view separators) {
  std::vector<std::u16string_view> items;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find_first_of(separators, start), list.size());
    if (end > start) items.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

// '*' any run, '?' one character, letter case ignored.
bool WildcardMatch(std::u16string_view pattern, std::u16string_view text) {
  size_t p = 0, t = 0, star = std::u16string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || LowerAscii(pattern[p]) == LowerAscii(text[t]))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      mark = t;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool Bypassed(std::u16string_view bypassList, std::u16string_view host) {
  for (std::u16string_view entry : SplitList(bypassList, u"; \t,")) {
    if (entry == u"<local>") {
      if (host.find(u'.') == std::u16string_view::npos && host.find(u':') == std::u16string_view::npos) return true;
      continue;
    }
    if (const size_t scheme = entry.find(u"://"); scheme != std::u16string_view::npos) entry.remove_prefix(scheme + 3);
    if (WildcardMatch(entry, host)) return true;
  }
  return false;
}

std::string StripScheme(std::string proxy) {
  if (const size_t scheme = proxy.find("://"); scheme != std::string::npos) proxy.erase(0, scheme + 3);
  while (!proxy.empty() && proxy.back() == '/') proxy.pop_back();
  return proxy;
}

const char* Environment(const char* lower, const char* upper) {
  const char* value = std::getenv(lower);
  if ((!value || !*value) && upper) value = std::getenv(upper);
  return value && *value ? value : nullptr;
}

}  // namespace

ProxyChoice ChooseNamedProxy(std::u16string_view proxyList, std::u16string_view bypassList, bool secure,
                             std::u16string_view host) {
  ProxyChoice choice;
  if (Bypassed(bypassList, host)) return choice;
  const std::u16string_view wanted = secure ? u"https=" : u"http=";
  std::u16string_view general, specific;
  for (std::u16string_view entry : SplitList(proxyList, u"; \t")) {
    if (const size_t equals = entry.find(u'='); equals != std::u16string_view::npos) {
      if (Platform::AsciiStartsWithIgnoreCase(entry, wanted)) specific = entry.substr(equals + 1);
    } else if (general.empty()) {
      general = entry;
    }
  }
  const std::u16string_view proxy = !specific.empty() ? specific : general;
  if (proxy.empty()) return choice;
  choice.viaProxy = true;
  choice.proxy = StripScheme(Platform::Utf16ToUtf8(proxy));
  return choice;
}

ProxyChoice ChooseEnvironmentProxy(bool secure) {
  ProxyChoice choice;
  // Upper-case HTTP_PROXY is left alone, as curl does: a CGI environment
  // sets it from a request header.
  const char* proxy = secure ? Environment("https_proxy", "HTTPS_PROXY") : Environment("http_proxy", nullptr);
  if (!proxy) proxy = Environment("all_proxy", "ALL_PROXY");
  if (!proxy) return choice;
  choice.viaProxy = true;
  choice.proxy = StripScheme(proxy);
  if (const char* noProxy = Environment("no_proxy", "NO_PROXY")) choice.noProxy = noProxy;
  return choice;
}

std::string ConstantScriptAnswer(std::string_view script) {
  std::string answer;
  bool found = false;
  size_t at = 0;
  while ((at = script.find("return", at)) != std::string_view::npos) {
    const bool wordStart = at == 0 || !(std::isalnum(static_cast<unsigned char>(script[at - 1])) || script[at - 1] == '_');
    at += 6;
    if (!wordStart || (at < script.size() && (std::isalnum(static_cast<unsigned char>(script[at])) || script[at] == '_')))
      continue;
    while (at < script.size() && std::isspace(static_cast<unsigned char>(script[at]))) ++at;
    if (at >= script.size() || (script[at] != '"' && script[at] != '\'')) return {};
    const char quote = script[at++];
    std::string literal;
    while (at < script.size() && script[at] != quote) {
      if (script[at] == '\\' && at + 1 < script.size()) ++at;
      literal += script[at++];
    }
    if (at >= script.size()) return {};
    ++at;
    if (found && literal != answer) return {};
    answer = literal;
    found = true;
  }
  return answer;
}

bool ParseScriptAnswer(std::string_view answer, ProxyChoice& choice) {
  size_t start = 0;
  while (start <= answer.size()) {
    const size_t end = std::min(answer.find(';', start), answer.size());
    std::string entry(answer.substr(start, end - start));
    start = end + 1;
    const size_t first = entry.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    entry = entry.substr(first, entry.find_last_not_of(" \t") - first + 1);
    const size_t space = entry.find_first_of(" \t");
    const std::string keyword = Platform::AsciiLower(entry.substr(0, space));
    const std::string target = space == std::string::npos ? std::string() : entry.substr(entry.find_first_not_of(" \t", space));
    if (keyword == "direct") {
      choice = {};
      return true;
    }
    if ((keyword == "proxy" || keyword == "http") && !target.empty()) {
      choice = {};
      choice.viaProxy = true;
      choice.proxy = StripScheme(target);
      return true;
    }
  }
  return false;
}

namespace {

// A script is fetched at most once a minute, as Windows does.
struct ScriptCache {
  std::mutex mutex;
  std::u16string url;
  std::string script;
  bool fetched = false;
  std::chrono::steady_clock::time_point when;
};
ScriptCache& TheScriptCache() {
  static ScriptCache* cache = new ScriptCache();
  return *cache;
}

constexpr size_t kMaxScriptSize = 1 << 20;

struct ScriptFetch {
  std::string body;
  const std::atomic<bool>* cancelled;
};

size_t CollectScript(char* data, size_t size, size_t count, void* context) {
  auto* fetch = static_cast<ScriptFetch*>(context);
  if (fetch->body.size() + size * count > kMaxScriptSize) return 0;
  fetch->body.append(data, size * count);
  return size * count;
}

int CheckCancel(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<ScriptFetch*>(context)->cancelled->load() ? 1 : 0;
}

bool FetchScript(const std::string& url, const std::atomic<bool>& cancelled, std::string& script) {
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  ScriptFetch fetch{{}, &cancelled};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROXY, "");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 60000L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 30000L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectScript);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &fetch);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, CheckCancel);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &fetch);
  const CURLcode result = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (result != CURLE_OK || status != 200) return false;
  script = std::move(fetch.body);
  return true;
}

}  // namespace

Win32Error AnswerFromAutoConfigScript(std::u16string_view autoConfigUrl, const std::atomic<bool>& cancelled,
                                      ProxyChoice& choice) {
  ScriptCache& cache = TheScriptCache();
  std::string script;
  bool have = false;
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (cache.fetched && cache.url == autoConfigUrl &&
        std::chrono::steady_clock::now() - cache.when < std::chrono::seconds(60)) {
      script = cache.script;
      have = true;
    }
  }
  if (!have) {
    const bool fetched = FetchScript(Platform::Utf16ToUtf8(autoConfigUrl), cancelled, script);
    if (cancelled) return HttpError::kOperationCancelled;
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.url = autoConfigUrl;
    cache.script = fetched ? script : std::string();
    cache.fetched = true;
    cache.when = std::chrono::steady_clock::now();
    if (!fetched) return HttpError::kUnableToDownloadScript;
  }
  const std::string answer = ConstantScriptAnswer(script);
  if (answer.empty() || !ParseScriptAnswer(answer, choice)) return HttpError::kAutoProxyServiceError;
  return 0;
}

}  // namespace Posix
}  // namespace Zentrovak::Network
