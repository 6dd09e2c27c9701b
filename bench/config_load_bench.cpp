// Loading a 1 MiB item configuration into the model, against pugixml's
// bare parse of the same bytes. Prints both times and their ratio.
#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "checkfix/item_configuration.h"

using Zentrovak::Assistant::ItemConfiguration;

namespace {

// A configuration shaped like the bank's: many registry entries, trusted
// sites, hosts, data texts and component items with tests and installers.
std::string MakeDocument(size_t targetBytes) {
  std::string checks, items;
  int n = 0;
  while (checks.size() + items.size() < targetBytes) {
    const std::string i = std::to_string(n++);
    checks += "  <config type=\"registry\">\n    <entry type=\"reg_dword\" name=\"Value" + i +
              "\" value=\"1\" mask=\"3\">HKCU\\Software\\Microsoft\\Internet Explorer\\Main\\K" + i +
              "</entry>\n    <entry type=\"reg_sz\" name=\"Text" + i + "\" value=\"https://bank.example.cn/" + i +
              "\">HKLM\\Software\\Zentrovak\\K" + i + "</entry>\n  </config>\n"
              "  <config type=\"trust\"><entry>https://s" + i + ".bank.example.cn</entry></config>\n"
              "  <data name=\"text" + i + "\">说明文字 &amp; more " + i + "</data>\n";
    // Items stand after the last data element, as the loader wants them.
    items += "  <item name=\"控件" + i + "\" cls=\"activex\" version=\"1.0." + i +
             "\" md5=\"900150983cd24fb0d6963f7d28e17f72\">\n"
             "    <detect dtype=\"clsid\" version=\">=1.0\">{11111111-2222-3333-4444-" + i + "}</detect>\n"
             "    <detect dtype=\"file\" sha1=\"a9993e364706816aba3e25717850c26c9cd0d89d\">%windir%\\x" + i +
             ".dll</detect>\n"
             "    <installer md5=\"900150983cd24fb0d6963f7d28e17f72\" parameter=\"/S\">pkg/setup" + i +
             ".exe</installer>\n  </item>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<checkitems version=\"3\" vendor=\"澜屿银行\">\n" + checks +
         items +
         "  <appinfo version=\"3.1\" imperative=\"0\"><detect dtype=\"file\">%windir%\\a.exe</detect></appinfo>\n"
         "</checkitems>\n";
}

template <typename F>
double MedianMs(int runs, F&& f) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  const std::string document = MakeDocument(1u << 20);
  size_t items = 0;
  const double model = MedianMs(31, [&] {
    ItemConfiguration configuration;
    configuration.ParseDocument(document);
    items = configuration.ItemCount();
  });
  const double bare = MedianMs(31, [&] {
    pugi::xml_document parsed;
    parsed.load_buffer(document.data(), document.size());
  });
  const double ratio = model / bare;
  std::printf("item configuration of %zu bytes, %zu items\n", document.size(), items);
  std::printf("load into the model: %.2f ms (median of 31)\n", model);
  std::printf("pugixml bare parse:  %.2f ms (median of 31)\n", bare);
  std::printf("ratio: %.2f\n", ratio);
  // The loader walks the tree once; many times the parse means a
  // quadratic walk crept in.
  return ratio < 25.0 ? 0 : 1;
}
