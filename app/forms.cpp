#include "forms.h"

#include <new>

#include "error.h"
#include "handle_text.h"

namespace kavrelo {

namespace {

const wchar_t kFormClass[] = L"KavreloForm";

const wchar_t* W(std::u16string_view s) { return reinterpret_cast<const wchar_t*>(s.data()); }
const wchar_t* W(const Text& t) { return reinterpret_cast<const wchar_t*>(t.c_str()); }

[[noreturn]] void RaiseCreateFailed(std::u16string_view what) {
    ErrorText text;
    text << u"无法创建" << what << u"。";
    throw Error(ErrorCode::CreateFailed, text.view());
}

HWND CreateChild(Form& form, int id, const wchar_t* cls, const wchar_t* text, DWORD style,
                 DWORD exStyle, Box b, std::u16string_view what) {
    HWND hwnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, b.x, b.y, b.width,
                                b.height, form.hwnd(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                form.instance(), nullptr);
    if (hwnd == nullptr) RaiseCreateFailed(what);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(form.font()), FALSE);
    return hwnd;
}

}  // namespace

void ShowError(HWND owner, int number, std::u16string_view text, bool ending) {
    ErrorText message;
    message << u"运行时错误 " << DecimalText(number).view() << u"：\r\n\r\n" << text;
    if (ending) message << u"\r\n\r\n程序将退出。";
    // The terminator: ErrorText's buffer starts zeroed and never fills up.
    MessageBoxW(owner, W(message.view()), L"Kavrelo", MB_OK | MB_ICONERROR);
}

// ---- Label ----

MeasuringDC::MeasuringDC(HFONT font) noexcept : dc_(CreateCompatibleDC(nullptr)) {
    if (dc_ != nullptr) previous_ = SelectObject(dc_, font);
}

MeasuringDC::~MeasuringDC() {
    if (dc_ == nullptr) return;
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
}

Label::Label(Form& form, int id, Box placed, std::u16string_view text)
    : measure_(form.measuringDC()), placed_(placed), text_(text) {
    hwnd_ = CreateChild(form, id, L"Static", W(text_), SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, placed,
                        u"标签");
    fit();
}

void Label::setText(std::u16string_view text) {
    const Text next(text);
    // An unchanged text needs no repaint and no new size.
    if (next == text_.view()) return;
    if (!SetWindowTextW(hwnd_, W(next))) {
        throw Error(ErrorCode::ControlAccess, u"无法写入标签的文本。");
    }
    text_ = next;
    fit();
}

void Label::fit() {
    SIZE size{0, 0};
    if (!GetTextExtentPoint32W(measure_, W(text_), static_cast<int>(text_.size()), &size)) {
        throw Error(ErrorCode::ControlAccess, u"无法测量标签的文本。");
    }
    if (lineHeight_ == 0) {
        // The font never changes: one line is as high as the first time.
        TEXTMETRICW metrics{};
        GetTextMetricsW(measure_, &metrics);
        lineHeight_ = metrics.tmHeight;
    }

    const Box b = FitLabel(placed_, TextExtent{size.cx, lineHeight_});
    // placed_ is the label's size since it was created with it: a new text of
    // the same width leaves it as it is.
    if (b.width == placed_.width && b.height == placed_.height) return;
    SetWindowPos(hwnd_, nullptr, b.x, b.y, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE);
    placed_ = b;
}

// ---- HScrollBar ----

HScrollBar::HScrollBar(Form& form, int id, Box placed, Range range)
    : range_(range), value_(range.min) {
    hwnd_ = CreateChild(form, id, L"ScrollBar", L"", SBS_HORZ | WS_TABSTOP, 0, placed, u"滚动条");
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_POS;
    info.nMin = range.min;
    info.nMax = range.max;
    info.nPos = value_;
    SetScrollInfo(hwnd_, SB_CTL, &info, TRUE);
    form.addScrollBar(*this);
}

bool HScrollBar::scrolled(int code) {
    int next = value_;
    switch (code) {
        case SB_LINELEFT: next -= range_.smallChange; break;
        case SB_LINERIGHT: next += range_.smallChange; break;
        case SB_PAGELEFT: next -= range_.largeChange; break;
        case SB_PAGERIGHT: next += range_.largeChange; break;
        case SB_LEFT: next = range_.min; break;
        case SB_RIGHT: next = range_.max; break;
        case SB_THUMBPOSITION: {
            // The end of a drag. While the thumb moves (SB_THUMBTRACK) the
            // control draws it alone and the value stays.
            SCROLLINFO info{};
            info.cbSize = sizeof info;
            info.fMask = SIF_TRACKPOS;
            if (!GetScrollInfo(hwnd_, SB_CTL, &info)) return false;
            next = info.nTrackPos;
            break;
        }
        default: return false;
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

// ---- TextBox ----

TextBox::TextBox(Form& form, int id, Box placed, std::u16string_view text) {
    hwnd_ = CreateChild(form, id, L"Edit", W(text),
                        ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | ES_NOHIDESEL | WS_TABSTOP,
                        WS_EX_CLIENTEDGE, placed, u"文本框");
    SendMessageW(hwnd_, EM_SETLIMITTEXT, 0, 0);  // no limit beyond the control's own
}

// ---- Timer ----

Timer::Timer(Form& form, UINT_PTR id, UINT intervalMs) : form_(form), id_(id) {
    if (SetTimer(form.hwnd(), id, intervalMs, nullptr) == 0) RaiseCreateFailed(u"计时器");
    running_ = true;
    form.addTimer(*this);
}

Timer::~Timer() { stop(); }

void Timer::stop() noexcept {
    if (running_ && form_.hwnd() != nullptr) KillTimer(form_.hwnd(), id_);
    running_ = false;
}

// ---- Form ----

Form::Form(HINSTANCE instance, const FormStyle& style)
    : instance_(instance), font_(style.font), measure_(style.font) {
    if (font_.get() == nullptr) RaiseCreateFailed(u"字体");
    if (measure_.get() == nullptr) RaiseCreateFailed(u"设备上下文");

    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = &Form::WindowProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kFormClass;
    if (style.iconId != 0) {
        // Shared icons belong to the system: nothing to release.
        const auto id = MAKEINTRESOURCEW(style.iconId);
        cls.hIcon = static_cast<HICON>(LoadImageW(instance, id, IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                  GetSystemMetrics(SM_CYICON), LR_SHARED));
        cls.hIconSm = static_cast<HICON>(LoadImageW(instance, id, IMAGE_ICON,
                                                    GetSystemMetrics(SM_CXSMICON),
                                                    GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    }
    if (RegisterClassExW(&cls) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        RaiseCreateFailed(u"窗口类");
    }

    // A fixed single border with a caption and the system menu: not sizable,
    // no minimize or maximize box.
    const DWORD windowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
    RECT rect{0, 0, style.clientWidth, style.clientHeight};
    AdjustWindowRectEx(&rect, windowStyle, FALSE, 0);
    hwnd_ = CreateWindowExW(0, kFormClass, W(style.caption), windowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, instance,
                            this);
    if (hwnd_ == nullptr) RaiseCreateFailed(u"窗口");
    // The window's own icons too, for whoever asks the window (task bar,
    // task switcher) rather than its class.
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(cls.hIcon));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(cls.hIconSm));

    // Where the system's frame differs from what AdjustWindowRectEx assumed,
    // correct the outer size so that the client area is exact.
    RECT client{};
    GetClientRect(hwnd_, &client);
    const int dx = style.clientWidth - client.right, dy = style.clientHeight - client.bottom;
    if (dx != 0 || dy != 0) {
        RECT outer{};
        GetWindowRect(hwnd_, &outer);
        SetWindowPos(hwnd_, nullptr, 0, 0, outer.right - outer.left + dx, outer.bottom - outer.top + dy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // The system menu of a window that can neither be sized, minimized nor
    // maximized offers only what applies: Move and Close.
    if (HMENU menu = GetSystemMenu(hwnd_, FALSE)) {
        for (UINT command : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) {
            DeleteMenu(menu, command, MF_BYCOMMAND);
        }
    }
}

Form::~Form() {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

int Form::run(int showCommand) {
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Escape has no function here. A multi-line edit box in a window with
        // dialog keyboard handling would take it as a request to close the
        // window; only the close box, Alt+F4 and the system menu close it.
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) continue;
        // Dialog-style keyboard handling: Tab and Shift+Tab move between the
        // tab stops.
        if (hwnd_ != nullptr && IsDialogMessageW(hwnd_, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : exitCode_;
}

LRESULT CALLBACK Form::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (form == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
    return form->handle(msg, wp, lp);
}

LRESULT Form::handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER:
            if (timer_ != nullptr && wp == timer_->id()) raise(timer_->Tick);
            return 0;

        case WM_HSCROLL:
            if (scrollBar_ != nullptr && reinterpret_cast<HWND>(lp) == scrollBar_->hwnd() &&
                !inEvent_ && scrollBar_->scrolled(LOWORD(wp))) {
                raise(scrollBar_->Change);
            }
            return 0;

        case WM_ACTIVATE:
            // Keep the focused control while another window is active, and
            // give the focus back to it when this one is activated again.
            if (LOWORD(wp) == WA_INACTIVE) {
                HWND focused = GetFocus();
                if (focused != nullptr && IsChild(hwnd_, focused)) focus_ = focused;
                return 0;
            }
            if (focus_ != nullptr && IsWindow(focus_)) {
                SetFocus(focus_);
                return 0;
            }
            break;

        case WM_SETFOCUS:
            if (focus_ != nullptr && IsWindow(focus_)) SetFocus(focus_);
            return 0;

        case WM_COMMAND:
            // Enter and Escape reach the window as IDOK and IDCANCEL through
            // the dialog keyboard handling; neither closes it.
            return 0;

        case WM_DESTROY:
            if (timer_ != nullptr) timer_->stop();
            PostQuitMessage(exitCode_);
            return 0;

        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

void Form::raise(const Event& handler) {
    // Handlers run one at a time and are never re-entered, also while an
    // error is being reported.
    if (inEvent_ || !handler) return;
    inEvent_ = true;
    try {
        handler();
    } catch (const Error& e) {
        reportUntrapped(e.c_text(), e.number());
    } catch (const std::bad_alloc&) {
        reportUntrapped(u"内存不足。", 7);
    } catch (...) {
        reportUntrapped(u"未知错误。", 0);
    }
    inEvent_ = false;
}

void Form::reportUntrapped(const char16_t* text, int number) {
    // No further tick while the message is shown; then the program ends.
    if (timer_ != nullptr) timer_->stop();
    ShowError(hwnd_, number, text, true);
    exitCode_ = kExitUntrappedError;
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

}  // namespace kavrelo
