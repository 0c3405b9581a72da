#include "forms.h"

#include <new>

#include "error.h"
#include "handle_text.h"

namespace kavrelo {

namespace {

const wchar_t kFormClass[] = L"KavreloForm";

// The text box's window class. A test build (Kavrelo-brokencreate) names one
// that does not exist, so that the text box cannot be created once the form's
// window and the controls before it exist.
#ifdef KAVRELO_MISSING_EDIT_CLASS
const wchar_t kEditClass[] = L"KavreloNoSuchEditClass";
#else
const wchar_t kEditClass[] = L"Edit";
#endif

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

    // The box's modal loop ends as soon as it meets a WM_QUIT, and the box
    // with it, before anyone could read it. Whoever asked this thread to quit
    // can wait until the user has dismissed the report: take a pending
    // WM_QUIT out now and post it again, with its exit code, afterwards. (The
    // form posts none from its own tear-down; this holds for any caller.)
    MSG quit{};
    const bool quitPending = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    // The terminator: ErrorText's buffer starts zeroed and never fills up.
    MessageBoxW(owner, W(message.view()), L"Kavrelo", MB_OK | MB_ICONERROR);
    if (quitPending) PostQuitMessage(static_cast<int>(quit.wParam));
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
    : form_(&form), range_(range), value_(range.min) {
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

// Its window goes with the form's.
HScrollBar::~HScrollBar() {
    if (form_ != nullptr) form_->removeScrollBar(*this);
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
    hwnd_ = CreateChild(form, id, kEditClass, W(text),
                        ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | ES_NOHIDESEL | WS_TABSTOP,
                        WS_EX_CLIENTEDGE, placed, u"文本框");
    SendMessageW(hwnd_, EM_SETLIMITTEXT, 0, 0);  // no limit beyond the control's own
}

// ---- Timer ----

Timer::Timer(Form& form, UINT_PTR id, UINT intervalMs) : form_(&form), id_(id) {
    if (SetTimer(form.hwnd(), id, intervalMs, nullptr) == 0) RaiseCreateFailed(u"计时器");
    running_ = true;
    form.addTimer(*this);
}

Timer::~Timer() {
    stop();
    if (form_ != nullptr) form_->removeTimer(*this);
}

void Timer::stop() noexcept {
    // A window's timers end with it: without the form or its window there is
    // nothing to kill.
    if (running_ && form_ != nullptr && form_->hwnd() != nullptr) KillTimer(form_->hwnd(), id_);
    running_ = false;
}

// ---- Form ----

Form::Form(HINSTANCE instance, const FormStyle& style)
    : instance_(instance), font_(style.font), measure_(style.font) {
    if (font_.get() == nullptr) RaiseCreateFailed(u"字体");
    if (measure_.get() == nullptr) RaiseCreateFailed(u"设备上下文");

    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    static_assert(noexcept(WindowProc(HWND{}, UINT{}, WPARAM{}, LPARAM{})),
                  "no exception may unwind through user32's frames");
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
    // The window first (WM_DESTROY stops the timer, if it is still there),
    // then the scroll bar and the timer that outlive the form forget it.
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    if (timer_ != nullptr) timer_->form_ = nullptr;
    if (scrollBar_ != nullptr) scrollBar_->form_ = nullptr;
}

void Form::addScrollBar(HScrollBar& bar) noexcept {
    if (scrollBar_ != nullptr && scrollBar_ != &bar) scrollBar_->form_ = nullptr;
    scrollBar_ = &bar;
}

void Form::removeScrollBar(HScrollBar& bar) noexcept {
    if (scrollBar_ == &bar) scrollBar_ = nullptr;
}

void Form::addTimer(Timer& timer) noexcept {
    if (timer_ != nullptr && timer_ != &timer) {
        timer_->stop();
        timer_->form_ = nullptr;
    }
    timer_ = &timer;
}

void Form::removeTimer(Timer& timer) noexcept {
    if (timer_ == &timer) timer_ = nullptr;
}

int Form::run(int showCommand) {
    if (hwnd_ == nullptr) return exitCode_;
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    MSG msg{};
    looping_ = true;
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
    looping_ = false;
    return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : exitCode_;
}

LRESULT CALLBACK Form::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    if (msg == WM_NCCREATE) {
        auto* form = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (form == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
    return form->handle(hwnd, msg, wp, lp);
}

LRESULT Form::handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
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
                if (focused != nullptr && IsChild(hwnd, focused)) focus_ = focused;
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
            // WM_QUIT asks run()'s message loop to end, and nothing else may
            // receive it. A window destroyed outside that loop (by ~Form when
            // building the tool window failed, or after a GetMessageW error)
            // posts none: nobody would wait for it, and the next modal loop of
            // the thread would take it instead (the error box, closing at once).
            if (looping_) PostQuitMessage(exitCode_);
            return 0;

        case WM_NCDESTROY:
            // The window's last message. The form lets go of it, but its
            // default processing still needs the window itself.
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            hwnd_ = nullptr;
            break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
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
