// The window's icons at a DPI: the icon group's images at that DPI's sizes,
// loaded again when the window moves to a monitor of another DPI (form.h).
#include "form.h"

namespace kavrelo {

namespace {

// A system metric at a DPI (Windows 10 1607 and later; the per-monitor DPI
// changes come with 1703). Elsewhere the system's DPI is the only one the
// window is laid out at, and the plain metric is that DPI's.
int MetricAt(int index, int dpi) noexcept {
    const auto atDpi = OptionalUser32Entry<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
    return atDpi != nullptr ? atDpi(index, static_cast<UINT>(dpi)) : GetSystemMetrics(index);
}

}  // namespace

void Form::showIcons(int dpi) noexcept {
    if (style_.iconId == 0 || hwnd_ == nullptr) return;
    // Asked for by the window rather than its class: the caption (small),
    // the task bar and the task switcher (big). Each image is loaded for this
    // form alone: a shared load (LR_SHARED) returns the first image of that
    // resource name in the cache, whatever size is asked for (Microsoft's
    // LoadImage documentation); Wine keys its cache on the image it picked
    // and does not show the difference. Where an image cannot be loaded, the
    // window keeps the one it has.
    Icon* const held[] = {&smallIcon_, &bigIcon_};  // by ICON_SMALL, ICON_BIG
    for (int big = ICON_SMALL; big <= ICON_BIG; ++big) {
        const int size = MetricAt(big == ICON_BIG ? SM_CXICON : SM_CXSMICON, dpi);  // icons are square
        HICON icon = static_cast<HICON>(
            LoadImageW(instance_, MAKEINTRESOURCEW(style_.iconId), IMAGE_ICON, size, size, 0));
        if (icon == nullptr) continue;
        SendMessageW(hwnd_, WM_SETICON, static_cast<WPARAM>(big), reinterpret_cast<LPARAM>(icon));
        held[big]->reset(icon);  // the one shown before, which the window no longer uses
    }
}

}  // namespace kavrelo
