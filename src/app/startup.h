// The pieces of the start-up sequence that can be looked at on their own:
// the command line rule, page selection, the tray helper's command line,
// the recycle bin and the carried assist library.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Zentrovak::App {

inline constexpr char16_t kTrayHelperFileName[] = u"RUDivIrav.exe";
inline constexpr char16_t kCarriedAssistLibrary[] = u"Assist_FT_InterPass3000_QVTR.dll";
inline constexpr char16_t kLegacyFolderName[] = u"澜屿银行网上银行安全组件";
inline constexpr uint32_t kCarriedAssistLibraryResource = 133;

// Splits a command line as the Windows shell does (CommandLineToArgvW):
// the program path first, taken up to the next quote or blank; then
// arguments separated by blanks, with quotes grouping and backslashes
// escaping quotes.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// The page mode of a split command line: 0 for the program alone, the
// second argument read as atoi does for exactly two; nothing otherwise
// (the run ends silently).
bool PageModeFromArguments(const std::vector<std::u16string>& arguments, int32_t& pageMode);

// The RT_HTML page for a page mode; 0 when no page is loaded.
uint32_t HtmlResourceForPageMode(int32_t pageMode);

// "<folder>\RUDivIrav.exe" followed by the program's own file name, the
// resource numbers 103 102 128 and the flag digit.
std::u16string TrayHelperCommandLine(std::u16string_view executablePath, int flag);
std::u16string TrayHelperCommandLine(int flag);

// Moves a file or folder to the recycle bin without asking; false for a
// path longer than 255 characters or when the shell refuses.
bool DeleteToRecycleBin(std::u16string_view path);

// Moves the old component folder under Program Files to the recycle bin.
void RemoveLegacyFolder();

// Writes the carried assist library (resource "PE" `id`) to the current
// folder, replacing an older copy; false when the resource is missing or
// the old file cannot be moved away.
bool ExtractEmbeddedLibrary(uint32_t id);

}  // namespace Zentrovak::App
