// The scroll bar's value and its change rule (scroll_bar.h).
#include "scroll_bar.h"

namespace kavrelo {

HScrollBar::HScrollBar(HWND control, Range range) : hwnd_(control), range_(range), value_(range.min) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_POS;
    info.nMin = range.min;
    info.nMax = range.max;
    info.nPos = value_;
    SetScrollInfo(hwnd_, SB_CTL, &info, TRUE);
}

bool HScrollBar::scrolled(int code, int position) {
    int next = value_;
    switch (code) {
        case SB_LINELEFT: next -= range_.smallChange; break;
        case SB_LINERIGHT: next += range_.smallChange; break;
        case SB_PAGELEFT: next -= range_.largeChange; break;
        case SB_PAGERIGHT: next += range_.largeChange; break;
        case SB_LEFT: next = range_.min; break;
        case SB_RIGHT: next = range_.max; break;
        case SB_THUMBPOSITION:
            // The end of a drag, or a position set by another program (an
            // accessibility or automation tool): the position the message
            // carries. While the thumb moves (SB_THUMBTRACK) the control draws
            // it alone and the value stays.
            next = position;
            break;
        default: return false;  // SB_THUMBTRACK, SB_ENDSCROLL
    }
    if (next < range_.min) next = range_.min;
    if (next > range_.max) next = range_.max;
    if (next == value_) return false;
    value_ = next;
    SetScrollPos(hwnd_, SB_CTL, value_, TRUE);
    followThumbWithCaret();
    return true;
}

void HScrollBar::followThumbWithCaret() {
    // A focused scroll bar marks its thumb with a blinking caret, placed when
    // it took the focus; some systems leave it there when the value is set
    // from outside the control. Keep it on the thumb.
    if (GetFocus() != hwnd_) return;
    SCROLLBARINFO info{};
    info.cbSize = sizeof info;
    if (GetScrollBarInfo(hwnd_, OBJID_CLIENT, &info)) SetCaretPos(info.xyThumbTop + 1, 1);
}

}  // namespace kavrelo
