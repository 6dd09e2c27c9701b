// What Windows and which Internet Explorer the assistant runs on, WOW64,
// and two small utilities: a file's fixed version block and run-time lookup
// of system functions. win32 asks Windows; posix answers from the machine
// directory's registry, where a machine says what Windows it stands for.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Zentrovak::System {

// VS_FIXEDFILEINFO: the 52-byte root block of a version resource.
struct FixedFileInfo {
  uint32_t signature = 0;  // 0xFEEF04BD
  uint32_t structVersion = 0;
  uint32_t fileVersionMS = 0;
  uint32_t fileVersionLS = 0;
  uint32_t productVersionMS = 0;
  uint32_t productVersionLS = 0;
  uint32_t fileFlagsMask = 0;
  uint32_t fileFlags = 0;
  uint32_t fileOS = 0;
  uint32_t fileType = 0;
  uint32_t fileSubtype = 0;
  uint32_t fileDateMS = 0;
  uint32_t fileDateLS = 0;
};
static_assert(sizeof(FixedFileInfo) == 52, "the block is copied whole");

inline constexpr uint16_t kArchitectureX86 = 0;
inline constexpr uint16_t kArchitectureIa64 = 6;
inline constexpr uint16_t kArchitectureX64 = 9;

// Everything the Windows name is composed from.
struct OsVersionFacts {
  bool versionQueryOk = false;  // the extended OS version query answered
  uint32_t platformId = 0;      // 2: NT
  uint16_t suiteMask = 0;
  uint8_t productType = 0;      // 1: workstation
  std::u16string servicePack;
  bool kernelVersionOk = false;  // kernel32.dll's version block was read
  uint32_t major = 0, minor = 0, build = 0;  // from kernel32's product version
  uint16_t architecture = kArchitectureX86;  // native
  bool serverR2 = false;                     // system metric 89
  std::optional<uint32_t> productInfo;       // GetProductInfo, when it exists
};

// The name composed from the facts: "Error", "未知版本的Windows" or the name.
std::u16string get_os_display_name(const OsVersionFacts& facts);
// The facts of the running system, and its name.
OsVersionFacts gather_os_version_facts();
std::u16string get_os_display_name();

// The product name in the registry mentions Windows 10.
bool is_windows_10();
// "svcVersion", else "Version" of Internet Explorer; empty when neither.
std::u16string get_ie_version();
// The App Paths entry when that file exists, else Program Files' copy when
// that exists, else whatever App Paths said (possibly empty).
std::u16string get_iexplore_path();
// The plain OS version query's major version is above 5. The numbers are
// filled only when the query answers.
bool is_vista_or_later(uint32_t* major = nullptr, uint32_t* minor = nullptr, uint32_t* build = nullptr);
bool is_64bit_windows();
bool is_wow64_process();
// This build of the program is a 64-bit process. The product is 32-bit;
// the same sources are built for x86-64 only to be tested where 32-bit
// code cannot run.
constexpr bool is_64bit_process() { return sizeof(void*) == 8; }
// File-system redirection of a WOW64 process; both answer 0 outside WOW64.
// One process-wide saved slot.
int32_t disable_wow64_redirection();
int32_t revert_wow64_redirection();

// True when the file's fixed version block was read; out may be null.
bool get_file_fixed_version(std::u16string_view path, FixedFileInfo* out);
// An export of a system module, loading the module when needed (never
// unloaded); null when there is none.
void* resolve_system_function(std::u16string_view module, const char* name);

// The version block read straight from a PE file's resources, without
// asking the system. `read` fills `size` bytes at `offset` and answers
// false when the file has no such bytes.
using PeByteReader = bool (*)(void* context, uint64_t offset, void* buffer, uint32_t size);
bool read_pe_fixed_version(PeByteReader read, void* context, FixedFileInfo* out);
bool read_pe_fixed_version(std::string_view image, FixedFileInfo* out);

}  // namespace Zentrovak::System
