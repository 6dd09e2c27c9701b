// The site the dialog serves: the start page, the program's own page
// files, and the "ResUrl" site, fetched from the web or read from a folder
// of the machine, every page with the bridge's script put in.
#include <cstring>

#include <httplib.h>

#include "platform/debug_output.h"
#include "platform/files.h"
#include "platform/text.h"
#include "ui/document_trust.h"
#include "ui/posix/page_dialog_parts.h"

namespace Zentrovak::UI::Posix {

namespace {

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
  if (Platform::AsciiStartsWithIgnoreCase(text, u"file:///"))
    text = Platform::PercentDecoded(std::u16string_view(text).substr(8));
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

}  // namespace

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

}  // namespace Zentrovak::UI::Posix
