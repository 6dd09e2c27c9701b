#include "checkfix/file_item.h"

#include "checkfix/file_check.h"
#include "net/http.h"
#include "platform/files.h"
#include "platform/text.h"

namespace Zentrovak::Assistant {

using Platform::HResult;

namespace {
std::u16string ExpandedPath(const ConfigEntry& entry) {
  return Platform::ExpandEnvironmentReferences(Platform::Utf8ToUtf16(entry.text));
}
}  // namespace

int32_t CheckFixFile::CheckEntry(ConfigEntry& entry) {
  RedirectionGuard guard(entry);
  return FileMatches(entry, ExpandedPath(entry));
}

int32_t CheckFixFile::FixEntry(ConfigEntry& entry) {
  const std::u16string address =
      Platform::Utf8ToUtf16(CurrentConfiguration()->ResolveUrl(GetAttr(entry.attributes, "remote")));
  RedirectionGuard guard(entry);
  if (address.empty()) return NotSupported;
  const std::u16string path = ExpandedPath(entry);
  if (!Platform::IsMachineOwnPath(path)) return Failed;
  const std::u16string download = path + u".download";
  if (Platform::Failed(Network::HttpDownloadToFile(address, download, AttachedDownloadCallback(entry),
                                                   AttachedDownloadParameter(entry))))
    return Failed;
  // Only a file that is what the entry asks for takes the old one's place:
  // the file may be a library that is loaded, or the program that starts.
  if (FileMatches(entry, download) != Passed) {
    Platform::RemoveFile(download);
    return Failed;
  }
  if (Platform::Failed(ReplaceDownloadedFile(download, path))) return Failed;
  return Passed;  // the detect step tests the new file
}

HResult ReplaceDownloadedFile(std::u16string_view source, std::u16string_view target) {
  if (!Platform::FileExists(source)) return Platform::kEFail;
  if (Platform::QueryPath(target) != Platform::PathKind::Missing && Platform::RemoveFile(target) != 0) {
    // In use: move it aside and let the next restart delete it.
    const std::u16string old = std::u16string(target) + u".old";
    Platform::RemoveFile(old);
    if (Platform::MovePath(target, old) != 0) {
      // Not even that: the new file takes its place at the next restart.
      // A move that could not be scheduled either is no success.
      if (Platform::Win32Error e = Platform::MoveFileAtRestart(source, target)) return Platform::HResultFromWin32(e);
      return 1;
    }
    Platform::MoveFileAtRestart(old, u"");
  }
  return Platform::HResultFromWin32(Platform::MovePath(source, target));
}

}  // namespace Zentrovak::Assistant
