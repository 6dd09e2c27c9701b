// The page set and the string table as the program carries them: the five
// page variants, every file the pages refer to, the pictures and the strings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/text.h"
#include "ui/resources.h"

namespace Zentrovak::UI {
namespace {

std::string Text(const ResourceData& data) {
  return std::string(reinterpret_cast<const char*>(data.data), data.size);
}

std::string PageText(uint32_t id) {
  const auto page = FindHtmlResource(id);
  EXPECT_TRUE(page.has_value()) << "page " << id;
  return page ? Text(*page) : std::string();
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

constexpr const char* kIe6PngScript = "<script type=\"text/javascript\" src=\"js/ie6png.js\"></script>\n";
constexpr const char* kFt2Choice =
    "<label class=\"keytype\" for=\"Radio2\"><img src=\"images/a20140818-12.jpg\" alt=\"\" />"
    "<input type=\"radio\" name=\"radio_key_type\" id=\"Radio2\" value=\"FT2\" />飞天二代</label>";

// A page with the pieces in which the variants may differ put back to one
// form: what is left must be the same in all five.
std::string Normalised(std::string page) {
  ReplaceAll(page, kIe6PngScript, "");
  ReplaceAll(page, kFt2Choice, "");
  ReplaceAll(page, "background-position:0 100%;", "background-position:0 0;");
  ReplaceAll(page, "style=\"display:block;\"", "style=\"display:none;\"");
  ReplaceAll(page, "<p id=\"info\" class=\"info\">.</p>", "<p id=\"info\" class=\"info\"></p>");
  return page;
}

// Empty when equal; otherwise the first line where the two texts part, so a
// failure shows the difference rather than two whole pages.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
  size_t line = 1;
  size_t start = 0;
  for (size_t i = 0; i < expected.size() && i < actual.size(); ++i) {
    if (expected[i] != actual[i]) {
      const auto lineOf = [&](const std::string& text) { return text.substr(start, text.find('\n', start) - start); };
      return "line " + std::to_string(line) + ":\n  expected: " + lineOf(expected) + "\n  actual:   " + lineOf(actual);
    }
    if (expected[i] == '\n') {
      ++line;
      start = i + 1;
    }
  }
  if (expected.size() != actual.size()) return "the texts differ in length after line " + std::to_string(line);
  return {};
}

// Background positions of the five tab buttons, in page order.
std::vector<std::string> TabPositions(const std::string& page) {
  static const std::regex tab("class=\"navbtn\"[^>]*background-position:([^;\"]*)");
  std::vector<std::string> positions;
  for (std::sregex_iterator it(page.begin(), page.end(), tab), end; it != end; ++it) {
    positions.push_back((*it)[1]);
  }
  return positions;
}

std::string PanelDisplay(const std::string& page, const std::string& id) {
  const std::regex panel("class=\"sli\" id=\"" + id + "\" style=\"display:([a-z]+);\"");
  std::smatch match;
  return std::regex_search(page, match, panel) ? match[1].str() : std::string("(missing)");
}

TEST(PageVariants, DifferOnlyInTheOpenTabAndTheirSmallDetails) {
  const std::string base = Normalised(PageText(129));
  ASSERT_FALSE(base.empty());
  const char* panels[] = {"checkIndex", "ukey_mgr", "hyper_link", "Setup", "nav_help"};
  for (uint32_t id = 129; id <= 133; ++id) {
    SCOPED_TRACE("page " + std::to_string(id));
    const std::string page = PageText(id);
    const size_t open = id - 129;

    EXPECT_EQ(page.compare(0, 3, "\xEF\xBB\xBF"), 0) << "no byte-order mark";
    EXPECT_NE(page.find("content=\"text/html; charset=utf-8\""), std::string::npos);
    EXPECT_EQ(page.find('@'), std::string::npos) << "a variant marker was left in the page";

    const auto positions = TabPositions(page);
    ASSERT_EQ(positions.size(), 5u);
    for (size_t tab = 0; tab < 5; ++tab) {
      EXPECT_EQ(positions[tab], tab == open ? "0 100%" : "0 0") << "tab " << tab;
      EXPECT_EQ(PanelDisplay(page, panels[tab]), tab == open ? "block" : "none") << panels[tab];
    }
    EXPECT_EQ(page.find(kIe6PngScript) != std::string::npos, id != 129);
    EXPECT_EQ(page.find("<p id=\"info\" class=\"info\">.</p>") != std::string::npos, id == 131);
    EXPECT_EQ(page.find(kFt2Choice) != std::string::npos, id != 132);
    EXPECT_EQ(page.find("飞天二代") != std::string::npos, id != 132);

    EXPECT_EQ(FirstDifference(base, Normalised(page)), "");
  }
  EXPECT_FALSE(FindHtmlResource(128));
  EXPECT_FALSE(FindHtmlResource(134));
}

TEST(PageVariants, CarryTheElementsTheScriptsAndTheDialogUse) {
  const std::string page = PageText(129);
  for (const char* id :
       {"ui_title", "ui_quit", "ui_min", "stp", "navcheck", "navcheckkey", "setups", "checkIndex", "bar", "info",
        "check", "item_sysversion", "item_registry", "item_host", "item_cfca", "item_connection", "item_dns",
        "item_url", "item_update_time", "item_ieversion", "item_level", "item_home_page", "item_compatibility",
        "item_trust", "item_ssl", "item_iecache", "item_0", "item_1", "item_2", "item_3", "item_9", "dll",
        "ukey_mgr", "keyinfo", "roos", "root_cert", "zhuce", "user_cert", "cert_outDate", "key_locked",
        "management_tool", "hyper_link", "Setup", "startchose", "Tray", "closechose", "out", "updatechose", "hand",
        "nav_help", "list", "net", "mask", "guide1", "usbbtn", "about", "guide2", "usertype", "Radio1", "Radio2",
        "Radio4", "change1", "edit1", "edit2", "edit3"}) {
    const std::string attribute = std::string("id=\"") + id + "\"";
    const size_t first = page.find(attribute);
    EXPECT_NE(first, std::string::npos) << id;
    EXPECT_EQ(page.find(attribute, first + 1), std::string::npos) << id << " is not unique";
  }
  // Of the window ids the dialog knows, only the title bar and the close button.
  for (const char* id : {"ui_close", "ui_maximize", "ui_restore", "ui_minimize", "ui_menu"}) {
    EXPECT_EQ(page.find(std::string("id=\"") + id + "\""), std::string::npos) << id;
  }
  EXPECT_NE(page.find("海川澜屿商业银行网银助手 1.1"), std::string::npos);
  EXPECT_NE(page.find("澜屿银行网银助手  1.1"), std::string::npos);
  EXPECT_NE(page.find("onmousewheel=\"return false;\""), std::string::npos);
  size_t limitedFields = 0;
  for (size_t at = page.find("maxlength=\"10\""); at != std::string::npos; at = page.find("maxlength=\"10\"", at + 1)) {
    ++limitedFields;
  }
  EXPECT_EQ(limitedFields, 3u);
}

// Relative references of a page or style sheet: src= and href= values and
// url(...) in styles, without addresses that leave the page set.
std::vector<std::string> RelativeReferences(const std::string& text) {
  static const std::regex reference(R"re((?:src|href)\s*=\s*"([^"]*)"|url\(\s*['"]?([^'")]*)['"]?\s*\))re");
  std::vector<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), reference), end; it != end; ++it) {
    const std::string target = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
    if (target.empty() || target[0] == '#' || target.find("://") != std::string::npos ||
        target.rfind("javascript:", 0) == 0 || target.rfind("about:", 0) == 0) {
      continue;
    }
    found.push_back(target);
  }
  return found;
}

TEST(PageReferences, EveryFileThePagesAndTheStyleSheetNameIsCarried) {
  std::set<std::string> references;
  for (uint32_t id = 129; id <= 133; ++id) {
    for (const auto& target : RelativeReferences(PageText(id))) references.insert(target);
  }
  const auto css = FindPageResource("css/css.css");
  ASSERT_TRUE(css);
  const auto cssReferences = RelativeReferences(Text(*css));
  EXPECT_GT(cssReferences.size(), 20u);
  references.insert(cssReferences.begin(), cssReferences.end());

  // The scripts, the style sheet, the tab pictures of the inline styles, the
  // status, key-type and about pictures at least.
  EXPECT_GT(references.size(), 40u);
  for (const char* expected : {"css/css.css", "js/jquery-1.8.3.min.js", "js/jquery.json.js", "js/main.js",
                               "js/zentrovak.js", "js/ie6png.js", "../images/a140821-06.jpg", "images/a12.jpg",
                               "../images/neterror.gif", "../images/a140821-41.jpg"}) {
    EXPECT_EQ(references.count(expected), 1u) << expected;
  }
  for (const auto& target : references) {
    const auto file = FindPageResource(target);
    ASSERT_TRUE(file) << target;
    EXPECT_GT(file->size, 0u) << target;
    EXPECT_FALSE(file->mimeType.empty()) << target;
  }
}

TEST(PageReferences, ScriptLibrariesAreTheReleasedVersions) {
  const auto jquery = FindPageResource("js/jquery-1.8.3.min.js");
  ASSERT_TRUE(jquery);
  EXPECT_NE(Text(*jquery).find("jQuery JavaScript Library v1.8.3"), std::string::npos);
  const auto json = FindPageResource("js/jquery.json.js");
  ASSERT_TRUE(json);
  EXPECT_NE(Text(*json).find("jQuery JSON plugin 2.4.0"), std::string::npos);
  const auto main = FindPageResource("js/main.js");
  ASSERT_TRUE(main);
  EXPECT_EQ(main->mimeType, "application/javascript; charset=utf-8");
  const auto bridge = FindPageResource("js/zentrovak.js");
  ASSERT_TRUE(bridge);
  for (const char* function : {"setHtmlItemText", "setItemInfo", "setProgress", "onKeyPlugged", "onKeyUnplugged",
                               "onUpdateConfirmed"}) {
    EXPECT_NE(Text(*bridge).find(std::string("function ") + function + "("), std::string::npos) << function;
  }
}

std::vector<std::string> PictureNames() {
  std::vector<std::string> names = {"A12.JPG", "A140821-12.GIF", "A140821-43.GIF", "A140821-43.JPG",
                                    "NETERROR.GIF"};
  char name[32];
  for (int n = 1; n <= 42; ++n) {
    if (n == 12) continue;
    std::snprintf(name, sizeof name, "A140821-%02d.JPG", n);
    names.push_back(name);
  }
  for (int n = 44; n <= 49; ++n) {
    std::snprintf(name, sizeof name, "A140821-%02d.GIF", n);
    names.push_back(name);
  }
  for (int n = 11; n <= 15; ++n) {
    std::snprintf(name, sizeof name, "A20140818-%02d.JPG", n);
    names.push_back(name);
  }
  return names;
}

TEST(Pictures, EveryPictureIsCarriedInItsFormat) {
  const auto names = PictureNames();
  ASSERT_EQ(names.size(), 57u);
  for (const auto& name : names) {
    const auto picture = FindPageResource("images/" + Platform::AsciiLower(name));
    ASSERT_TRUE(picture) << name;
    ASSERT_GT(picture->size, 6u) << name;
    const bool gif = name.substr(name.size() - 3) == "GIF";
    if (gif) {
      EXPECT_EQ(std::memcmp(picture->data, "GIF89a", 6), 0) << name;
      EXPECT_EQ(picture->mimeType, "image/gif");
    } else {
      EXPECT_EQ(std::memcmp(picture->data, "\xFF\xD8\xFF", 3), 0) << name;
      EXPECT_EQ(picture->mimeType, "image/jpeg");
    }
  }
}

TEST(PageResourceNames, FolderAndFileNameTheResourceWhateverTheirCase) {
  const auto reference = FindPageResource("images/a12.jpg");
  ASSERT_TRUE(reference);
  for (const char* name : {"IMAGES/A12.JPG", "Images/A12.jpg", "../images/a12.jpg", "../../images/a12.jpg",
                           "./images/a12.jpg", "/images/a12.jpg"}) {
    const auto found = FindPageResource(name);
    ASSERT_TRUE(found) << name;
    EXPECT_EQ(found->data, reference->data) << name;
    EXPECT_EQ(found->size, reference->size) << name;
  }
  for (const char* name : {"", "a12.jpg", "images", "images/", "/a12.jpg", "images/missing.jpg",
                           "images/a12.jpg/", "images/sub/a12.jpg", "js/../images/a12.jpg", "img/a12.jpg",
                           "images/a12.jpeg", "../", "html/129", "js/main.js.map"}) {
    EXPECT_FALSE(FindPageResource(name)) << name;
  }
  EXPECT_FALSE(FindTypedResource(u"NOSUCHTYPE", 1));
  EXPECT_FALSE(FindTypedResource(u"IMAGES", 129));
}

TEST(StringTable, TextsLoadExactlyAndUnusedIdsAreEmpty) {
  const struct {
    uint32_t id;
    const char16_t* text;
  } cases[] = {
      {102, u"澜屿银行网银助手"},
      {103, u"启动澜屿银行网银助手"},
      {104, u"应用程序有更新发布\n是否立即应用"},
      {105, u"应用程序有重要更新\n需要立即应用"},
      {106, u"发现更新"},
      {107, u"立即更新"},
      {108, u"稍后更新"},
      {109, u"您的网银助手已是最新版本"},
      {112, u"IE  缓存清理成功"},
      {114, u"ssl 缓存清理成功"},
      {117, u"huo"},
      {118, u"正在清理"},
      {119, u"清理完成"},
      {111, u""},
      {181, u""},
      {100, u""},
      {182, u""},
      {0, u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LoadStringResource(c.id), std::u16string(c.text)) << "string " << c.id;
  }
}

}  // namespace
}  // namespace Zentrovak::UI
