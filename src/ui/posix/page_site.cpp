// The site the dialog serves: the start page, the program's own page
// files, and the "ResUrl" site, fetched from the web or read from a folder
// of the machine, every page with the bridge's script put in.
#include <cctype>
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

// A file name as one segment of an address.
std::string EscapedSegment(std::string_view name) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(hex[byte >> 4]);
      out.push_back(hex[byte & 15]);
    }
  }
  return out;
}

PageAnswer PageContent(std::string_view bytes, const std::string& mime) {
  return PageAnswer::Content(IsHtml(mime) ? WithShim(bytes) : std::string(bytes), mime);
}

PageAnswer SiteUnavailable(int status) {
  PageAnswer answer = PageAnswer::Content(WithShim(kSiteUnavailablePage), "text/html; charset=utf-8");
  answer.status = status;
  return answer;
}

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

PageAnswer CPageDialog::ServeStartPage() {
  followedUp_ = true;
  // Pages of the "ResUrl" site, on the web or in a folder of the machine,
  // are served under /resurl/ of the program's own origin, so that they
  // get the bridge.
  if (site_ == SiteKind::Web) return PageAnswer::Redirect("/resurl" + ResUrlPath(Utf8(params_.url)));
  if (site_ == SiteKind::Files) return PageAnswer::Redirect("/resurl/" + EscapedSegment(siteStart_));
  std::optional<ResourceData> page;
  const uint32_t resource = params_.url.empty() ? params_.htmlResourceId : params_.fallbackResourceId;
  if (resource && source_.html) page = source_.html(resource);
  // No page for this mode: the window stays empty.
  if (!page || !page->data) return PageContent("<!DOCTYPE html><html><head></head><body></body></html>", "text/html; charset=utf-8");
  return PageContent(std::string_view(reinterpret_cast<const char*>(page->data), page->size), "text/html; charset=utf-8");
}

PageAnswer CPageDialog::ServeSiteFile(const std::string& relative) {
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
      Platform::Failed(Platform::ReadWholeFile(siteFolder_ + u"\\" + name, bytes)))
    return SiteUnavailable(404);
  return PageContent(bytes, MimeTypeOf(relative));
}

void CPageDialog::ProxyResUrl(const PageRequest& request, const std::shared_ptr<PageExchange>& exchange) {
  followedUp_ = true;
  const std::string relative = request.path.substr(std::strlen("/resurl"));
  if (site_ == SiteKind::Files) return exchange->Answer(ServeSiteFile(relative));
  const std::string origin = Utf8(UrlOrigin(params_.url));
  if (site_ != SiteKind::Web || origin.empty()) return exchange->Answer(PageAnswer::Text(404, ""));
  // The address as the browser sent it, escapes and query included.
  const std::string target = request.target.substr(std::strlen("/resurl"));
  // The fetch waits for the site: not on the server's thread.
  server_->RunBlocking([exchange, origin, target] {
    httplib::Client client(origin);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(15, 0);
    client.set_follow_location(false);
    client.set_url_encode(false);
    auto fetched = client.Get(target.c_str());
    if (!fetched) return exchange->Answer(SiteUnavailable(502));
    const std::string mime = fetched->get_header_value("Content-Type");
    // An error answer the browser would show without the bridge is shown as
    // the program's own page, which can be closed.
    PageAnswer answer = fetched->status >= 400 && !IsHtml(mime)
                            ? SiteUnavailable(fetched->status)
                            : PageContent(fetched->body, mime.empty() ? "application/octet-stream" : mime);
    answer.status = fetched->status;
    if (fetched->has_header("Location")) {
      // A redirect within the site stays under /resurl/; one elsewhere
      // leaves the program's origin and with it the bridge.
      const std::string location = fetched->get_header_value("Location");
      const std::string locationOrigin = Utf8(UrlOrigin(Platform::Utf8ToUtf16(location)));
      if (locationOrigin == origin)
        answer.headers.emplace_back("Location", "/resurl" + ResUrlPath(location));
      else if (!location.empty() && location[0] == '/')
        answer.headers.emplace_back("Location", "/resurl" + location);
      else
        answer.headers.emplace_back("Location", location);
    }
    exchange->Answer(std::move(answer));
  });
}

PageAnswer CPageDialog::ServeFile(const std::string& path) {
  std::optional<ResourceData> file;
  if (source_.file) file = source_.file(path);
  if (!file || !file->data) return PageAnswer::Text(404, "");
  const std::string mime = file->mimeType.empty() ? "application/octet-stream" : std::string(file->mimeType);
  return PageContent(std::string_view(reinterpret_cast<const char*>(file->data), file->size), mime);
}

}  // namespace Zentrovak::UI::Posix
