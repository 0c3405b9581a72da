// The controls made from the rows of a layout table: creation, and the
// labels that size themselves to their text (form_controls.h).
#include "form_controls.h"

#include "error.h"

namespace kavrelo {

namespace {

const wchar_t* W(std::u16string_view s) { return reinterpret_cast<const wchar_t*>(s.data()); }

struct ControlClass {
    const wchar_t* name;
    DWORD style, exStyle;
    std::u16string_view what;  // in "无法创建…"
};

ControlClass ClassOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::Label:
            return {L"Static", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, u"标签"};
        case ControlKind::TextBox:
            return {L"Edit", ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | ES_NOHIDESEL | WS_TABSTOP,
                    WS_EX_CLIENTEDGE, u"文本框"};
        case ControlKind::HScrollBar:
            break;
    }
    return {L"ScrollBar", SBS_HORZ | WS_TABSTOP, 0, u"滚动条"};
}

}  // namespace

void RaiseCreateFailed(std::u16string_view what) {
    ErrorText text;
    text << u"无法创建" << what << u"。";
    throw Error(ErrorCode::CreateFailed, text.view());
}

HWND CreateControl(HWND parent, HINSTANCE instance, const ControlRow& row, HFONT font, int dpi) {
    const ControlClass cls = ClassOf(row.kind);
    const Box b = ToPixels(row.box, dpi);
    HWND control = CreateWindowExW(cls.exStyle, cls.name, W(row.text), WS_CHILD | WS_VISIBLE | cls.style, b.x, b.y,
                                   b.width, b.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)),
                                   instance, nullptr);
    if (control == nullptr) RaiseCreateFailed(cls.what);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    // A text box takes what the user types or pastes up to the control's own
    // limit, not the 30,000 characters it holds unless told otherwise.
    if (row.kind == ControlKind::TextBox) SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
    return control;
}

void Label::setText(std::u16string_view text) {
    const Text next(text);
    // An unchanged text needs no repaint and no new size.
    if (next == text_.view()) return;
    // One paint of the label for a new text and its new size, and none of
    // the form's. A label that grows takes its size first, unpainted (fit):
    // the new text repaints all of it. One that shrinks paints its new text
    // at its old size first, over a background like the form's where the
    // text no longer reaches, and then gives that part back as it is.
    const Box was = placed_;
    if (!fit(next, false)) throw Error(ErrorCode::ControlAccess, u"无法测量标签的文本。");
    if (!SetWindowTextW(hwnd_, W(next.view()))) {
        throw Error(ErrorCode::ControlAccess, u"无法写入标签的文本。");
    }
    text_ = next;
    if (placed_.width < was.width || placed_.height < was.height) {
        UpdateWindow(hwnd_);
        SetWindowPos(hwnd_, nullptr, 0, 0, placed_.width, placed_.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    }
}

bool Label::fit(const Text& text, bool moved) noexcept {
    SIZE size{0, 0};
    if (!GetTextExtentPoint32W(measure_, W(text.view()), static_cast<int>(text.size()), &size)) return false;
    if (lineHeight_ == 0) {
        // One line is as high as the first time in this font.
        TEXTMETRICW metrics{};
        GetTextMetricsW(measure_, &metrics);
        lineHeight_ = metrics.tmHeight;
    }

    const Box b = FitLabel(placed_, TextExtent{size.cx, lineHeight_});
    // placed_ is the label's size once it has been placed: a new text of the
    // same width leaves it as it is, a narrower one is left to setText.
    if (moved) {
        SetWindowPos(hwnd_, nullptr, b.x, b.y, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE);
    } else if (b.width > placed_.width || b.height > placed_.height) {
        SetWindowPos(hwnd_, nullptr, 0, 0, b.width, b.height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
    }
    placed_ = b;
    return true;
}

}  // namespace kavrelo
