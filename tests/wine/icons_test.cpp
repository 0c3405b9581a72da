// The window's icons: the icon set's own image at each size, and the small
// icon destroyed once, after the window.
#include <algorithm>
#include <vector>

#include "tool_window_fixture.h"

namespace kavrelo::test {
namespace {

// ---- the icons ----

struct DestroyedIcon { HICON icon; bool windowExisted; };
std::vector<DestroyedIcon> g_destroyed;
decltype(&DestroyIcon) g_destroyIcon = nullptr;
HWND g_iconWindow = nullptr;
BOOL WINAPI RecordingDestroyIcon(HICON icon) {
    g_destroyed.push_back({icon, IsWindow(g_iconWindow) != FALSE});
    return g_destroyIcon(icon);
}

// An icon as a user sees it: drawn at that size over a background no image has.
std::vector<DWORD> Drawn(HICON icon, int size) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    DWORD* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    std::fill_n(bits, size * size, 0x00FF00FFu);
    DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    GdiFlush();
    const std::vector<DWORD> pixels(bits, bits + size * size);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

// The image of the executable's icon group that Windows picks for that size.
HICON FiledImage(int size) {
    const auto load = [](LPCWSTR name, LPCWSTR type) {
        return static_cast<BYTE*>(LockResource(LoadResource(nullptr, FindResourceW(nullptr, name, type))));
    };
    const int id = LookupIconIdFromDirectoryEx(load(MAKEINTRESOURCEW(1), RT_GROUP_ICON), TRUE, size, size, 0);
    HRSRC image = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_ICON);
    return CreateIconFromResourceEx(load(MAKEINTRESOURCEW(id), RT_ICON), SizeofResource(nullptr, image), TRUE,
                                    0x00030000, size, size, 0);
}

TEST_F(ToolWindow, ShowsTheIconSetsOwnImageAtBothSizesAndDestroysItsSmallIconOnceAfterTheWindow) {
    ImportPatch patch("user32.dll", "DestroyIcon", reinterpret_cast<void*>(&RecordingDestroyIcon));
    ASSERT_TRUE(patch.applied());
    g_destroyIcon = patch.original<decltype(&DestroyIcon)>();
    g_destroyed.clear();
    open();
    g_iconWindow = window();
    auto big = reinterpret_cast<HICON>(SendMessageW(window(), WM_GETICON, ICON_BIG, 0));
    auto small = reinterpret_cast<HICON>(SendMessageW(window(), WM_GETICON, ICON_SMALL, 0));
    for (const auto& [icon, size] : {std::pair{big, GetSystemMetrics(SM_CXICON)}, {small, GetSystemMetrics(SM_CXSMICON)}}) {
        HICON filed = FiledImage(size);
        EXPECT_EQ(Drawn(icon, size), Drawn(filed, size)) << size << ": not the set's own image of that size";
        g_destroyIcon(filed);
    }
    EXPECT_TRUE(g_destroyed.empty());
    tool.reset();
    ASSERT_EQ(g_destroyed.size(), 1u);
    EXPECT_EQ(g_destroyed[0].icon, small);
    EXPECT_FALSE(g_destroyed[0].windowExisted);
    ICONINFO info{};
    EXPECT_TRUE(GetIconInfo(big, &info)) << "the shared large icon is the system's, and stays";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

}  // namespace
}  // namespace kavrelo::test
