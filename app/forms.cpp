#include "forms.h"

#include "error.h"

namespace kavrelo {

namespace {

const wchar_t kFormClass[] = L"KavreloForm";
const UINT_PTR kTimerId = 1;
// Messages of newer systems than the headers the program is built against:
// WM_MOUSEHWHEEL (Vista), WM_DPICHANGED (8.1), WM_GETDPISCALEDSIZE (10 1703).
// Wine 8 sends neither of the last two.
constexpr UINT kMouseHWheel = 0x020E, kDpiChanged = 0x02E0, kGetDpiScaledSize = 0x02E4;

const wchar_t* W(std::u16string_view s) { return reinterpret_cast<const wchar_t*>(s.data()); }
const wchar_t* W(const Text& t) { return reinterpret_cast<const wchar_t*>(t.c_str()); }

// The icon group's image for the caption: the small size, loaded for this
// form alone. A shared load (LR_SHARED) returns the first image of that
// resource name in the cache, whatever size is asked for (Microsoft's
// LoadImage documentation): after the shared large icon, the large image
// again, shrunk. Wine keys its cache on the image it picked and does not
// show the difference.
HICON LoadSmallIcon(HINSTANCE instance, int iconId) {
    if (iconId == 0) return nullptr;
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                         GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

[[noreturn]] void RaiseCreateFailed(std::u16string_view what) {
    ErrorText text;
    text << u"无法创建" << what << u"。";
    throw Error(ErrorCode::CreateFailed, text.view());
}

}  // namespace

// ---- Label ----

MeasuringDC::MeasuringDC(HFONT font) noexcept : dc_(CreateCompatibleDC(nullptr)) {
    if (dc_ != nullptr) previous_ = SelectObject(dc_, font);
}

MeasuringDC::~MeasuringDC() {
    if (dc_ == nullptr) return;
    SelectObject(dc_, previous_);
    DeleteDC(dc_);
}

Label::Label(Form& form, int id, TwipsBox placed, std::u16string_view text)
    : measure_(form.measuringDC()), text_(text) {
    hwnd_ = form.createControl(id, L"Static", W(text_), SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, placed, u"标签", this);
    place(ToPixels(placed, form.dpi()));
}

void Label::setText(std::u16string_view text) {
    const Text next(text);
    // An unchanged text needs no repaint and no new size.
    if (next == text_.view()) return;
    if (!SetWindowTextW(hwnd_, W(next))) {
        throw Error(ErrorCode::ControlAccess, u"无法写入标签的文本。");
    }
    text_ = next;
    if (!fit(false)) throw Error(ErrorCode::ControlAccess, u"无法测量标签的文本。");
}

bool Label::fit(bool moved) noexcept {
    SIZE size{0, 0};
    if (!GetTextExtentPoint32W(measure_, W(text_), static_cast<int>(text_.size()), &size)) return false;
    if (lineHeight_ == 0) {
        // One line is as high as the first time in this font.
        TEXTMETRICW metrics{};
        GetTextMetricsW(measure_, &metrics);
        lineHeight_ = metrics.tmHeight;
    }

    const Box b = FitLabel(placed_, TextExtent{size.cx, lineHeight_});
    // placed_ is the label's size once it has been placed: a new text of the
    // same width leaves it as it is.
    if (moved || b.width != placed_.width || b.height != placed_.height) {
        SetWindowPos(hwnd_, nullptr, b.x, b.y, b.width, b.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    placed_ = b;
    return true;
}

// ---- TextBox ----

TextBox::TextBox(Form& form, int id, TwipsBox placed, std::u16string_view text) {
    hwnd_ = form.createControl(id, L"Edit", W(text),
                               ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | ES_NOHIDESEL | WS_TABSTOP,
                               WS_EX_CLIENTEDGE, placed, u"文本框");
    SendMessageW(hwnd_, EM_SETLIMITTEXT, 0, 0);  // no limit beyond the control's own
}

// ---- Form ----

Form::Form(HINSTANCE instance, const FormStyle& style)
    : instance_(instance), style_(style), dpi_(style.dpi), font_(style.font(style.dpi)), measure_(font_.get()),
      smallIcon_(LoadSmallIcon(instance, style.iconId)) {
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
        // A shared icon belongs to the system: nothing to release. The class
        // outlives the form, so its small icon is not the form's: left out,
        // the system finds one in the large icon's resource.
        cls.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(style.iconId), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                                  LR_SHARED));
    }
    if (RegisterClassExW(&cls) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        RaiseCreateFailed(u"窗口类");
    }

    const SIZE size = windowSize(dpi_);
    hwnd_ = CreateWindowExW(0, kFormClass, W(style.caption), kStyle, CW_USEDEFAULT, CW_USEDEFAULT, size.cx,
                            size.cy, nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) RaiseCreateFailed(u"窗口");
    // The window's own icons too, for whoever asks the window (task bar,
    // task switcher) rather than its class.
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(cls.hIcon));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
    fitClient();

    // The system menu of a window that can neither be sized, minimized nor
    // maximized offers only what applies: Move and Close.
    if (HMENU menu = GetSystemMenu(hwnd_, FALSE)) {
        for (UINT command : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) {
            DeleteMenu(menu, command, MF_BYCOMMAND);
        }
    }
}

Form::~Form() {
    // The window, its controls and its timer go before the objects that
    // stand for them, and before the small icon it shows.
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

HWND Form::createControl(int id, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle,
                         TwipsBox placed, std::u16string_view what, Label* label) {
    if (controls_ == static_cast<int>(sizeof placed_ / sizeof placed_[0])) RaiseCreateFailed(what);
    const Box b = ToPixels(placed, dpi_);
    HWND control = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, b.x, b.y, b.width,
                                   b.height, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   instance_, nullptr);
    if (control == nullptr) RaiseCreateFailed(what);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font()), FALSE);
    placed_[controls_++] = Placed{control, placed, label};
    return control;
}

HScrollBar& Form::createScrollBar(int id, TwipsBox placed, HScrollBar::Range range) {
    if (scrollBar_) RaiseCreateFailed(u"第二个滚动条");
    HWND control = createControl(id, L"ScrollBar", L"", SBS_HORZ | WS_TABSTOP, 0, placed, u"滚动条");
    return scrollBar_.emplace(control, range);
}

void Form::startTimer(UINT intervalMs) {
    // Without the window, SetTimer would start a thread timer instead.
    if (hwnd_ == nullptr || SetTimer(hwnd_, kTimerId, intervalMs, nullptr) == 0) {
        RaiseCreateFailed(u"计时器");
    }
}

int Form::run(int showCommand) {
    if (hwnd_ == nullptr) return exitCode_;
    // Created at the DPI the system reports, the window may have opened on
    // a monitor of another.
    const int monitorDpi = WindowDpi(hwnd_, dpi_);
    if (monitorDpi != dpi_) setDpi(monitorDpi);
    show(showCommand);
    MSG msg{};
    looping_ = true;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) dispatch(msg);
    looping_ = false;
    return msg.message == WM_QUIT ? static_cast<int>(msg.wParam) : exitCode_;
}

void Form::show(int showCommand) {
    if (hwnd_ == nullptr) return;
    // Windows hands the launcher's show command (STARTUPINFO: a shortcut's
    // "Run: Maximized") to the first show of the program's main window when
    // it asks for SW_SHOW, SW_SHOWNORMAL or SW_SHOWDEFAULT, and to no other
    // command. The program has that command already (WinMain's): it shows
    // the window with one that is not replaced, so that nothing is shown
    // first as the launcher asked and then taken back. (Wine 8 replaces no
    // command: under Wine the calls look the same either way.)
    int command = SW_RESTORE;  // shown and active, at its own size
    switch (showCommand) {
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
        case SW_FORCEMINIMIZE:
            command = showCommand;
            break;
        case SW_SHOWNOACTIVATE:
        case SW_SHOWNA:
            command = SW_SHOWNOACTIVATE;
            break;
    }
    ShowWindow(hwnd_, command);
    UpdateWindow(hwnd_);
}

void Form::dispatch(MSG& msg) {
    // Escape has no function here. A multi-line edit box in a window with
    // dialog keyboard handling would take it as a request to close the
    // window; only the close box, Alt+F4 and the system menu close it.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) return;
    // The wheel, and its tilt, move the bar wherever the system sends them
    // in this window: to the control with the focus or to the one under the
    // pointer, depending on the Windows version and its settings. The text
    // box would otherwise take them to scroll a text that has nothing to
    // scroll.
    if ((msg.message == WM_MOUSEWHEEL || msg.message == kMouseHWheel) && hwnd_ != nullptr && IsChild(hwnd_, msg.hwnd)) {
        msg.hwnd = hwnd_;
    }
    // Dialog-style keyboard handling: Tab and Shift+Tab move between the
    // tab stops.
    if (hwnd_ != nullptr && IsDialogMessageW(hwnd_, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
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

inline LRESULT Form::handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER:
            if (wp == kTimerId) raise(Tick);
            return 0;

        case WM_HSCROLL:
            // lParam names the scroll bar control; any other window (a sender
            // may name any) is not the form's bar.
            if (scrollBar_ && reinterpret_cast<HWND>(lp) == scrollBar_->hwnd()) scrollBy(LOWORD(wp), HIWORD(wp));
            return 0;

        case WM_MOUSEWHEEL:
            wheel(GET_WHEEL_DELTA_WPARAM(wp));
            return 0;

        case kMouseHWheel:
            // Tilted to the right (a positive delta) is right, as the wheel
            // rolled towards the user.
            wheel(-GET_WHEEL_DELTA_WPARAM(wp));
            return 0;

        case kGetDpiScaledSize: {
            // Per-monitor aware (v2): the size the window will need at the
            // DPI it is about to get, not its size stretched.
            *reinterpret_cast<SIZE*>(lp) = windowSize(static_cast<int>(wp));
            return TRUE;
        }

        case kDpiChanged:
            setDpi(LOWORD(wp), reinterpret_cast<const RECT*>(lp));
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

        case WM_NEXTDLGCTL: {
            // Dialog keyboard handling hands Tab and Shift+Tab in the
            // multi-line text box to its parent as this message, which only a
            // dialog's own procedure acts on; the form does as a dialog does:
            // the control given when the low word of lParam is set, otherwise
            // the next (wParam 0) or previous tab stop from the focus.
            HWND focused = GetFocus();
            if (focused != nullptr && !IsChild(hwnd, focused)) focused = nullptr;
            HWND next = LOWORD(lp) != 0 ? reinterpret_cast<HWND>(wp)
                                        : GetNextDlgTabItem(hwnd, focused, wp != 0);
            if (next != nullptr && IsChild(hwnd, next)) moveFocus(next);
            return 0;
        }

        case WM_COMMAND:
            // Enter and Escape reach the window as IDOK and IDCANCEL through
            // the dialog keyboard handling; neither closes it.
            return 0;

        case WM_DESTROY:
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

inline void Form::moveFocus(HWND control) {
    // An edit control that a dialog gives the focus to has its whole text
    // selected, whichever way the focus came.
    if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) {
        SendMessageW(control, EM_SETSEL, 0, -1);
    }
    SetFocus(control);
}

void Form::scrollBy(int code, int position) {
    if (scrollBar_ && !inEvent_ && scrollBar_->scrolled(code, position)) raise(scrollBar_->Change);
}

void Form::wheel(int delta) {
    // Each notch (WHEEL_DELTA) is one step of the bar, as an arrow click, with
    // its own change; a high-resolution wheel's partial notches add up. As on
    // Windows' own sliders, up is left: rolled away from the user, the wheel
    // takes the value down.
    if (!scrollBar_) return;
    if ((wheelDelta_ < 0) != (delta < 0)) wheelDelta_ = 0;  // turned the other way
    wheelDelta_ += delta;
    for (; wheelDelta_ >= WHEEL_DELTA; wheelDelta_ -= WHEEL_DELTA) scrollBy(SB_LINELEFT, 0);
    for (; wheelDelta_ <= -WHEEL_DELTA; wheelDelta_ += WHEEL_DELTA) scrollBy(SB_LINERIGHT, 0);
}

void Form::raise(const Event& handler) {
    // Handlers run one at a time and are never re-entered, also while an
    // error is being reported.
    if (inEvent_ || !handler) return;
    inEvent_ = true;
    try {
        handler();
    } catch (...) {
        reportUntrapped(CurrentErrorReport());
    }
    inEvent_ = false;
}

inline void Form::reportUntrapped(const ErrorReport& error) {
    // No further tick while the message is shown; then the program ends.
    if (hwnd_ != nullptr) KillTimer(hwnd_, kTimerId);
    ShowError(hwnd_, error, true);
    exitCode_ = kExitUntrappedError;
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

}  // namespace kavrelo
