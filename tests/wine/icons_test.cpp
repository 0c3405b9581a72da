// The window's icons: the icon set's own image at each size of the window's
// DPI, again at a change of DPI, each destroyed once the window no longer
// shows it.
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

// A system metric at a DPI, as Windows 10 1607 and later give it.
int MetricAt(int index, int dpi) {
    const auto atDpi = OptionalUser32Entry<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    return atDpi != nullptr ? atDpi(index, static_cast<UINT>(dpi)) : GetSystemMetrics(index);
}

TEST_F(ToolWindow, ShowsTheIconSetsOwnImagesAtItsDpisSizesAndReleasesEachOnceNoLongerShown) {
    ImportPatch patch("user32.dll", "DestroyIcon", reinterpret_cast<void*>(&RecordingDestroyIcon));
    ASSERT_TRUE(patch.applied());
    g_destroyIcon = patch.original<decltype(&DestroyIcon)>();
    g_destroyed.clear();
    open();
    g_iconWindow = window();
    std::vector<HICON> shown;
    // At the DPI it opened at, then on a monitor at 150 % (Windows 10 1607 and
    // later tell the sizes there; elsewhere the window follows no DPI change).
    for (const int dpi : {96, 144}) {
        if (dpi != 96) {
            if (OptionalUser32Entry<void*>("GetSystemMetricsForDpi") == nullptr) break;
            RECT suggested{100, 80, 700, 500};
            SendMessageW(window(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
            ASSERT_EQ(g_destroyed.size(), shown.size()) << "the icons shown before, once no longer shown";
            for (const DestroyedIcon& d : g_destroyed) {
                EXPECT_NE(std::find(shown.begin(), shown.end(), d.icon), shown.end())
                    << "destroyed at " << dpi << " dpi: " << d.icon << ", not one of the two shown before: " << shown[0]
                    << ", " << shown[1];
                EXPECT_TRUE(d.windowExisted);
            }
            EXPECT_NE(g_destroyed[0].icon, g_destroyed[1].icon);
            g_destroyed.clear();
            shown.clear();
        }
        for (const auto& [which, metric] : {std::pair{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}}) {
            const auto icon = reinterpret_cast<HICON>(SendMessageW(window(), WM_GETICON, which, 0));
            const int size = MetricAt(metric, dpi);
            HICON filed = FiledImage(size);
            EXPECT_EQ(Drawn(icon, size), Drawn(filed, size)) << size << " at " << dpi << ": not the set's own image of that size";
            g_destroyIcon(filed);
            shown.push_back(icon);
        }
    }
    EXPECT_TRUE(g_destroyed.empty());
    tool.reset();
    ASSERT_EQ(g_destroyed.size(), 2u);
    for (const DestroyedIcon& d : g_destroyed) {
        EXPECT_NE(std::find(shown.begin(), shown.end(), d.icon), shown.end())
            << "destroyed at the end: " << d.icon << ", not one of the two shown last: " << shown[0] << ", "
            << shown[1];
        EXPECT_FALSE(d.windowExisted);
    }
    EXPECT_NE(g_destroyed[0].icon, g_destroyed[1].icon);
}

}  // namespace
}  // namespace kavrelo::test
