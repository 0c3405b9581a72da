// The form at a DPI: the size of its window, and its layout again at another
// DPI when Windows moves it to a monitor of another (form.h).
#include "form.h"

namespace kavrelo {

SIZE Form::windowSize(int dpi) noexcept {
    return WindowSizeFor(
        SIZE{TwipsToPixels(layout_.clientWidth, dpi), TwipsToPixels(layout_.clientHeight, dpi)}, kStyle, 0, dpi);
}

void Form::fitClient() noexcept {
    // Where the system's frame differs from what was assumed, correct the
    // outer size so that the client area is exact.
    RECT client{}, outer{};
    GetClientRect(hwnd_, &client);
    GetWindowRect(hwnd_, &outer);
    const int dx = TwipsToPixels(layout_.clientWidth, dpi_) - client.right;
    const int dy = TwipsToPixels(layout_.clientHeight, dpi_) - client.bottom;
    if (dx != 0 || dy != 0) {
        SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left + dx, outer.bottom - outer.top + dy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Form::setDpi(int dpi, const RECT* suggested) noexcept {
    HFONT font = style_.font(dpi);
    if (font == nullptr || hwnd_ == nullptr) {
        if (font != nullptr) DeleteObject(font);
        return;
    }
    dpi_ = dpi;
    measure_.select(font);
    for (int i = 0; i < childCount_; ++i) {
        Child& c = children_[i];
        SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        const Box b = ToPixels(c.box, dpi);
        if (c.label) {
            c.label->place(b);
        } else {
            SetWindowPos(c.hwnd, nullptr, b.x, b.y, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    font_.reset(font);  // the old one, now that no control uses it
    const SIZE size = windowSize(dpi);
    SetWindowPos(hwnd_, nullptr, suggested != nullptr ? suggested->left : 0, suggested != nullptr ? suggested->top : 0,
                 size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE | (suggested != nullptr ? 0 : SWP_NOMOVE));
    fitClient();
    showIcons(dpi);
}

}  // namespace kavrelo
