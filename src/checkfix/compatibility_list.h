// The browser's compatibility-view list: the binary value "UserFilter" of
// the key Software\Microsoft\Internet Explorer\BrowserEmulation\ClearableListData,
// read per user with the machine's value as fallback and written per user.
// Little-endian throughout: a 24-byte header (0x1F41, 0xBAAD0853, entry
// count, 12 + the size of all entries, 1, a second entry count), then
// entries of 18 + 2n bytes (0x0C, an 8-byte time stamp, 1, the name length
// n in UTF-16 units, the name without terminator).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace Zentrovak::Assistant {

// Longer lists are neither read nor written.
inline constexpr size_t kMaxCompatibilityListBytes = 65536;

// Whether a stored name begins the domain, letter case ignored (so a stored
// name also covers every longer domain it begins). Never reads past `size`:
// an entry count or a name length larger than the data ends the walk. A
// stored name of no characters covers nothing.
bool CompatibilityListNames(const uint8_t* data, size_t size, std::u16string_view domain);
// The list with one entry for the domain appended and the header's counts
// and size raised; a list shorter than a header is started anew.
std::vector<uint8_t> CompatibilityListWith(std::vector<uint8_t> list, std::u16string_view domain);

bool IsInCompatibilityList(std::u16string_view domain);
// True when the domain is listed (now). False for an empty domain, one
// longer than an entry can hold, a stored list that cannot be read whole,
// or a list that would grow past the limit.
bool AddToCompatibilityList(std::u16string_view domain);

// The browser shows every site in compatibility view: the switch
// "AllSitesCompatibilityMode" reads as 4 non-zero bytes (per user, else the
// machine's).
bool AllSitesInCompatibilityView();

}  // namespace Zentrovak::Assistant
