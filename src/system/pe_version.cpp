// The fixed version block of a PE file, read from its resource section the
// way the system's version functions find it: type RT_VERSION, name 1 (or
// the first name), the first language, and in that resource the value of the
// root block "VS_VERSION_INFO".
#include <cstring>
#include <vector>

#include "system/version.h"

namespace Zentrovak::System {

namespace {

constexpr uint32_t kResourceTypeVersion = 16;
constexpr uint32_t kVersionResourceName = 1;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
// Version resources are a few hundred bytes; only their head is needed.
constexpr uint32_t kVersionHeadBytes = 40 + sizeof(FixedFileInfo);

class Image {
 public:
  Image(PeByteReader read, void* context) : read_(read), context_(context) {}

  bool Bytes(uint64_t offset, void* buffer, uint32_t size) const { return read_(context_, offset, buffer, size); }
  bool U16(uint64_t offset, uint16_t& v) const {
    uint8_t b[2];
    if (!Bytes(offset, b, 2)) return false;
    v = static_cast<uint16_t>(b[0] | b[1] << 8);
    return true;
  }
  bool U32(uint64_t offset, uint32_t& v) const {
    uint8_t b[4];
    if (!Bytes(offset, b, 4)) return false;
    v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
        static_cast<uint32_t>(b[3]) << 24;
    return true;
  }

 private:
  PeByteReader read_;
  void* context_;
};

struct Section {
  uint32_t virtualAddress = 0, virtualSize = 0, rawSize = 0, rawOffset = 0;
};

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

class PeFile {
 public:
  explicit PeFile(const Image& image) : image_(image) {}

  bool Open() {
    uint16_t mz = 0;
    uint32_t peOffset = 0, signature = 0;
    if (!image_.U16(0, mz) || mz != 0x5A4D || !image_.U32(0x3C, peOffset)) return false;
    if (!image_.U32(peOffset, signature) || signature != 0x00004550) return false;
    const uint64_t coff = uint64_t{peOffset} + 4;
    uint16_t optionalSize = 0, magic = 0;
    if (!image_.U16(coff + 2, sectionCount_) || !image_.U16(coff + 16, optionalSize)) return false;
    const uint64_t optional = coff + 20;
    if (!image_.U16(optional, magic)) return false;
    uint64_t countField, directories;
    if (magic == 0x10B) {
      countField = 92;
      directories = 96;
    } else if (magic == 0x20B) {
      countField = 108;
      directories = 112;
    } else {
      return false;
    }
    uint32_t directoryCount = 0;
    if (!image_.U32(optional + countField, directoryCount) || directoryCount <= 2) return false;
    const uint64_t resourceEntry = directories + 2 * 8;
    if (resourceEntry + 8 > optionalSize) return false;
    if (!image_.U32(optional + resourceEntry, resourceRva_) || resourceRva_ == 0) return false;
    std::vector<uint8_t> table(size_t{sectionCount_} * 40);
    if (table.empty() || !image_.Bytes(optional + optionalSize, table.data(), static_cast<uint32_t>(table.size())))
      return false;
    for (uint16_t i = 0; i < sectionCount_; ++i) {
      const uint8_t* p = table.data() + size_t{i} * 40;
      sections_.push_back(Section{Le32(p + 12), Le32(p + 8), Le32(p + 16), Le32(p + 20)});
    }
    return true;
  }

  // File offset of `size` bytes at an RVA, all inside one section's data.
  bool Offset(uint32_t rva, uint32_t size, uint64_t& offset) const {
    for (const Section& s : sections_) {
      if (rva < s.virtualAddress) continue;
      const uint64_t within = uint64_t{rva} - s.virtualAddress;
      const uint64_t span = s.virtualSize ? s.virtualSize : s.rawSize;
      if (within >= span) continue;
      if (within + size > s.rawSize) return false;
      offset = uint64_t{s.rawOffset} + within;
      return true;
    }
    return false;
  }

  // The entry of a resource directory (at `directory`, relative to the
  // resource section) with the given id, or its first entry when `id` is
  // absent or not there. Answers the entry's OffsetToData field.
  bool Lookup(uint32_t directory, const uint32_t* id, bool preferFirst, uint32_t& target) const {
    uint64_t at = 0;
    if (!Offset(resourceRva_ + directory, 16, at)) return false;
    uint16_t named = 0, ids = 0;
    if (!image_.U16(at + 12, named) || !image_.U16(at + 14, ids)) return false;
    const uint32_t total = uint32_t{named} + ids;
    if (total == 0) return false;
    uint64_t entries = 0;
    if (!Offset(resourceRva_ + directory + 16, total * 8, entries)) return false;
    std::vector<uint8_t> table(size_t{total} * 8);
    if (!image_.Bytes(entries, table.data(), static_cast<uint32_t>(table.size()))) return false;
    for (uint32_t i = named; id && i < total; ++i) {
      if (Le32(table.data() + size_t{i} * 8) == *id) {
        target = Le32(table.data() + size_t{i} * 8 + 4);
        return true;
      }
    }
    if (id && !preferFirst) return false;
    target = Le32(table.data() + 4);
    return true;
  }

  uint32_t ResourceRva() const { return resourceRva_; }

 private:
  const Image& image_;
  uint16_t sectionCount_ = 0;
  std::vector<Section> sections_;
  uint32_t resourceRva_ = 0;
};

bool ReadFixedInfo(const Image& image, FixedFileInfo* out) {
  PeFile pe(image);
  if (!pe.Open()) return false;
  uint32_t types = 0, names = 0, languages = 0;
  if (!pe.Lookup(0, &kResourceTypeVersion, false, types) || !(types & kSubdirectoryBit)) return false;
  if (!pe.Lookup(types & ~kSubdirectoryBit, &kVersionResourceName, true, names) || !(names & kSubdirectoryBit))
    return false;
  if (!pe.Lookup(names & ~kSubdirectoryBit, nullptr, true, languages) || (languages & kSubdirectoryBit))
    return false;
  uint64_t dataEntry = 0;
  if (!pe.Offset(pe.ResourceRva() + languages, 16, dataEntry)) return false;
  uint32_t dataRva = 0, dataSize = 0;
  if (!image.U32(dataEntry, dataRva) || !image.U32(dataEntry + 4, dataSize)) return false;
  if (dataSize < kVersionHeadBytes) return false;
  uint64_t data = 0;
  if (!pe.Offset(dataRva, kVersionHeadBytes, data)) return false;

  uint8_t head[kVersionHeadBytes];
  if (!image.Bytes(data, head, sizeof head)) return false;
  const uint16_t length = static_cast<uint16_t>(head[0] | head[1] << 8);
  const uint16_t valueLength = static_cast<uint16_t>(head[2] | head[3] << 8);
  static const char16_t kKey[] = u"VS_VERSION_INFO";
  for (size_t i = 0; i < 16; ++i) {
    const char16_t c = static_cast<char16_t>(head[6 + 2 * i] | head[7 + 2 * i] << 8);
    if (c != kKey[i]) return false;
  }
  // The value follows the key, aligned to four bytes: offset 40.
  if (length < kVersionHeadBytes || valueLength < sizeof(FixedFileInfo)) return false;
  const uint8_t* w = head + 40;
  const FixedFileInfo info{Le32(w),      Le32(w + 4),  Le32(w + 8),  Le32(w + 12), Le32(w + 16),
                           Le32(w + 20), Le32(w + 24), Le32(w + 28), Le32(w + 32), Le32(w + 36),
                           Le32(w + 40), Le32(w + 44), Le32(w + 48)};
  if (info.signature != kFixedInfoSignature) return false;
  if (out) *out = info;
  return true;
}

struct Memory {
  std::string_view bytes;
};

bool ReadMemory(void* context, uint64_t offset, void* buffer, uint32_t size) {
  const auto* memory = static_cast<const Memory*>(context);
  if (offset > memory->bytes.size() || memory->bytes.size() - offset < size) return false;
  std::memcpy(buffer, memory->bytes.data() + offset, size);
  return true;
}

}  // namespace

bool read_pe_fixed_version(PeByteReader read, void* context, FixedFileInfo* out) {
  if (!read) return false;
  return ReadFixedInfo(Image(read, context), out);
}

bool read_pe_fixed_version(std::string_view image, FixedFileInfo* out) {
  Memory memory{image};
  return read_pe_fixed_version(ReadMemory, &memory, out);
}

}  // namespace Zentrovak::System
