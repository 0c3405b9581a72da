// Loads Kavrelo.exe's icon the way the program does for its title bar
// (LoadImageW, id 1, at the big and small sizes) and checks what Windows
// makes of it: which image it picks for each size, and how it draws over a
// background.
//
//     icon_probe KAVRELO_EXE
#include <windows.h>

#include <cstdio>
#include <initializer_list>

namespace {

int failures = 0;

void fail(int size, const char* what) {
  std::printf("FAIL: %dx%d icon: %s\n", size, size, what);
  ++failures;
}

// The image Windows picks from group 1 for this size: the 32-bit one on a
// true-colour screen, the 8-bit one on a 256-colour screen.
void check_choice(HMODULE module, int size) {
  const int index = size == 48 ? 0 : size == 32 ? 1 : size == 24 ? 2 : 3;
  HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));
  HGLOBAL mem = res ? LoadResource(module, res) : nullptr;
  auto* dir = mem ? static_cast<BYTE*>(LockResource(mem)) : nullptr;
  if (!dir) {
    fail(size, "no icon group 1");
    return;
  }
  int id = LookupIconIdFromDirectoryEx(dir, TRUE, size, size, LR_DEFAULTCOLOR);
  HDC screen = GetDC(nullptr);
  int depth = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
  ReleaseDC(nullptr, screen);
  int want_8 = 30001 + index, want_32 = 30005 + index;
  bool ok = depth >= 32 ? id == want_32 : depth <= 8 ? id == want_8
                                                     : id == want_8 || id == want_32;
  if (!ok) {
    std::printf("       picked icon %d on a %d-bit screen\n", id, depth);
    fail(size, "the system does not pick the image made for this size");
  }
}

void probe(HMODULE module, int size) {
  check_choice(module, size);
  HICON icon = static_cast<HICON>(
      LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  if (!icon) {
    fail(size, "LoadImageW failed");
    return;
  }

  // Draw it onto a 32-bit DIB filled with magenta.
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = size;
  bi.bmiHeader.biHeight = -size;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dc || !dib || !bits) {
    fail(size, "cannot create a drawing surface");
  } else {
    HGDIOBJ old = SelectObject(dc, dib);
    auto* px = static_cast<DWORD*>(bits);
    for (int i = 0; i < size * size; ++i) px[i] = 0x00FF00FF;  // BGRX magenta
    if (!DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL)) {
      fail(size, "DrawIconEx failed");
    } else {
      GdiFlush();
      auto at = [&](int x, int y) { return px[y * size + x] & 0xFFFFFF; };
      if (at(0, 0) != 0xFF00FF || at(size - 1, size - 1) != 0xFF00FF)
        fail(size, "the corners are not transparent");
      DWORD c = at(size / 2, size / 2);
      int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
      if (!(b > r + 40 && b >= g && g > 120)) {
        std::printf("       centre pixel is #%02x%02x%02x\n", r, g, b);
        fail(size, "the centre is not light blue");
      }
    }
    SelectObject(dc, old);
  }
  if (dib) DeleteObject(dib);
  if (dc) DeleteDC(dc);
  DestroyIcon(icon);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: icon_probe KAVRELO_EXE\n");
    return 2;
  }
  HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) {
    std::printf("FAIL: cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  for (int size : {16, 24, 32, 48}) probe(module, size);
  FreeLibrary(module);
  if (failures) return 1;
  std::printf("OK: the icon loads and draws at 16, 24, 32 and 48 pixels\n");
  return 0;
}
