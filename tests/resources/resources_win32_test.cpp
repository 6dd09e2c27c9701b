// What only the Windows executable carries: the application manifest and the
// icon. Test programs link the same resources as the program.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <string>

#include "platform/win32/unique_handles.h"

namespace {

using Zentrovak::Platform::Win32::UniqueResource;
inline void FreeLibraryFn(HMODULE module) { FreeLibrary(module); }
inline void DestroyIconFn(HICON icon) { DestroyIcon(icon); }
inline void DeleteBitmapFn(HBITMAP bitmap) { DeleteObject(bitmap); }
using UniqueModule = UniqueResource<HMODULE, nullptr, FreeLibraryFn>;
using UniqueIcon = UniqueResource<HICON, nullptr, DestroyIconFn>;
using UniqueBitmap = UniqueResource<HBITMAP, nullptr, DeleteBitmapFn>;

std::string ManifestText() {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  if (info == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, info);
  const char* data = static_cast<const char*>(LockResource(loaded));
  return data ? std::string(data, SizeofResource(module, info)) : std::string();
}

TEST(Manifest, AsksForAdministratorRightsAndCommonControlsSix) {
  const std::string manifest = ManifestText();
  ASSERT_FALSE(manifest.empty());
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
}

// Task dialogs need version 6 of the common controls, which the loader takes
// from the side-by-side store only when the manifest asks for it; without it
// comctl32 comes from the system folder.
TEST(Manifest, LoadsCommonControlsSixFromTheSideBySideStore) {
  UniqueModule controls(LoadLibraryW(L"comctl32.dll"));
  ASSERT_TRUE(controls);
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(controls.get(), path, MAX_PATH), 0u);
  std::wstring lower(path);
  for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_NE(lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."), std::wstring::npos)
      << "comctl32 loaded from " << std::string(lower.begin(), lower.end());
}

TEST(Icon, ApplicationIconLoadsInTheUsualSizes) {
  HMODULE module = GetModuleHandleW(nullptr);
  for (int size : {16, 32, 48}) {
    UniqueIcon icon(static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(128), IMAGE_ICON, size, size, 0)));
    ASSERT_TRUE(icon) << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon.get(), &info));
    UniqueBitmap color(info.hbmColor);
    UniqueBitmap mask(info.hbmMask);
    BITMAP bitmap{};
    ASSERT_NE(GetObjectW(color ? color.get() : mask.get(), sizeof bitmap, &bitmap), 0);
    EXPECT_EQ(bitmap.bmWidth, size);
  }
}

}  // namespace
