// The form's window, its controls' creation and its message loop; each message
// the window handles has a handler of its own, named in handle().
#include "form.h"

#include <cstdlib>
#include <new>

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

// The system menu of a window that can neither be sized, minimized nor
// maximized offers only what applies: Move and Close.
void KeepMoveAndClose(HWND window) {
    if (HMENU menu = GetSystemMenu(window, FALSE)) {
        for (UINT command : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) {
            DeleteMenu(menu, command, MF_BYCOMMAND);
        }
    }
}

// Whether `size` bytes at `p` are memory of this process that can be read,
// or also written: a pointer in a message that another program sends or posts
// may point anywhere here.
bool Reachable(const void* p, SIZE_T size, bool written) noexcept {
    const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    const DWORD allowed = written ? writable : writable | PAGE_READONLY | PAGE_EXECUTE_READ;
    for (auto *at = static_cast<const char*>(p), *end = at + size; at < end;) {
        MEMORY_BASIC_INFORMATION region{};
        if (p == nullptr || VirtualQuery(at, &region, sizeof region) == 0 || region.State != MEM_COMMIT ||
            !(region.Protect & allowed) || (region.Protect & PAGE_GUARD)) {
            return false;
        }
        at = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    }
    return true;
}

}  // namespace

// ---- the window and its controls ----

Form::Form(HINSTANCE instance, const FormLayout& layout, const FormStyle& style)
    : instance_(instance), layout_(layout), style_(style), dpi_(style.dpi), font_(style.font(style.dpi)),
      measure_(font_.get()) {
    if (font_.get() == nullptr) RaiseCreateFailed(u"字体");
    if (measure_.get() == nullptr) RaiseCreateFailed(u"设备上下文");

    registerWindowClass();

    const SIZE size = windowSize(dpi_);
    hwnd_ = CreateWindowExW(0, kFormClass, W(layout.caption), kStyle, CW_USEDEFAULT, CW_USEDEFAULT, size.cx,
                            size.cy, nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) RaiseCreateFailed(u"窗口");
    showIcons(dpi_);
    fitClient();
    KeepMoveAndClose(hwnd_);
    try {
        createControls(layout.controls);
    } catch (...) {
        // The destructor does not run for a form that was never built: the
        // window goes here, before the members it uses.
        DestroyWindow(hwnd_);
        throw;
    }
}

Form::~Form() {
    // The window, its controls and its timer go before the objects that
    // stand for them, and before the icons it shows.
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

inline void Form::registerWindowClass() {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    static_assert(noexcept(WindowProc(HWND{}, UINT{}, WPARAM{}, LPARAM{})),
                  "no exception may unwind through user32's frames");
    cls.lpfnWndProc = &Form::WindowProc;
    cls.hInstance = instance_;
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kFormClass;
    // No class icon: the window shows icons of its own (showIcons), at its
    // DPI's sizes.
    if (RegisterClassExW(&cls) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        RaiseCreateFailed(u"窗口类");
    }
}

void Form::createControls(const ControlTable& controls) {
    const int count = controls.size();
    Child* block = count > 0 ? static_cast<Child*>(std::calloc(count, sizeof(Child))) : nullptr;
    if (count > 0 && block == nullptr) throw Error(ErrorCode::CreateFailed, u"内存不足。");
    for (int i = 0; i < count; ++i) new (&block[i]) Child();
    children_ = std::unique_ptr<Child[], FreeChildren>(block, FreeChildren{count});
    for (const ControlRow& row : controls) {
        if (row.kind == ControlKind::HScrollBar && (scrollBar_ || row.range == nullptr)) {
            RaiseCreateFailed(u"滚动条");
        }
        Child& child = children_[childCount_];
        child.hwnd = CreateControl(hwnd_, instance_, row, font_.get(), dpi_);
        child.box = row.box;
        ++childCount_;
        if (row.kind == ControlKind::Label) {
            child.label.emplace(child.hwnd, measure_.get(), row.text).place(ToPixels(row.box, dpi_));
        } else if (row.kind == ControlKind::HScrollBar) {
            scrollBar_.emplace(child.hwnd, *row.range);
        }
    }
}

void Form::FreeChildren::operator()(Child* children) const noexcept {
    for (int i = 0; i < count; ++i) children[i].~Child();
    std::free(children);
}

Label& Form::label(int id) {
    for (int i = 0; i < childCount_; ++i) {
        if (children_[i].label && GetDlgCtrlID(children_[i].hwnd) == id) return *children_[i].label;
    }
    RaiseCreateFailed(u"标签");
}

HScrollBar& Form::scrollBar() {
    if (!scrollBar_) RaiseCreateFailed(u"滚动条");
    return *scrollBar_;
}

void Form::startTimer(UINT intervalMs) {
    // Without the window, SetTimer would start a thread timer instead.
    if (hwnd_ == nullptr || SetTimer(hwnd_, kTimerId, intervalMs, nullptr) == 0) {
        RaiseCreateFailed(u"计时器");
    }
}

// ---- the loop ----

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
    // "Run: Maximized") to the program's first show. The program has that
    // command already (WinMain's) and shows the window with one of its own:
    // shown and active at its own size, or minimized, or not activated, as
    // the launcher asked.
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
    // Which first show Windows replaces, and which one spends the launcher's
    // command, is not the same on every version: any first show (as
    // ShowWindow's documentation says); only SW_SHOW, SW_SHOWNORMAL and
    // SW_SHOWDEFAULT, with any first show spending it (Wine's conformance
    // tests); or those three alone, with only a replaced show spending it.
    // So the window may now be hidden, maximized (with no maximize box nor
    // Restore to come back from that) or the wrong side of minimized. Set it
    // right with commands that none of these rules replaces.
    const bool minimized = command != SW_RESTORE && command != SW_SHOWNOACTIVATE;
    if (!IsWindowVisible(hwnd_) || IsZoomed(hwnd_) || (IsIconic(hwnd_) && !minimized)) {
        ShowWindow(hwnd_, command == SW_SHOWNOACTIVATE ? SW_SHOWNOACTIVATE : SW_RESTORE);
    }
    if (minimized && !IsIconic(hwnd_)) ShowWindow(hwnd_, command);
    UpdateWindow(hwnd_);
}

void Form::dispatch(MSG& msg) {
    // Escape has no function here. A multi-line edit box in a window with
    // dialog keyboard handling would take it as a request to close the
    // window; only the close box, Alt+F4 and the system menu close it.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) return;
    // Windows sends the DPI messages, never posts them: a posted one comes
    // from another program, and its pointer means nothing here.
    if (msg.message == kDpiChanged || msg.message == kGetDpiScaledSize) return;
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

// ---- the window's messages ----

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
        case WM_TIMER: onTimer(wp); return 0;
        case WM_HSCROLL: onHScroll(LOWORD(wp), HIWORD(wp), reinterpret_cast<HWND>(lp)); return 0;
        case WM_MOUSEWHEEL: onWheel(GET_WHEEL_DELTA_WPARAM(wp)); return 0;
        // Tilted to the right (a positive delta) is right, as the wheel
        // rolled towards the user.
        case kMouseHWheel: onWheel(-GET_WHEEL_DELTA_WPARAM(wp)); return 0;
        case kGetDpiScaledSize: return onGetDpiScaledSize(wp, reinterpret_cast<SIZE*>(lp));
        case kDpiChanged: onDpiChanged(wp, reinterpret_cast<const RECT*>(lp)); return 0;
        case WM_ACTIVATE: if (onActivate(LOWORD(wp) == WA_INACTIVE)) return 0; break;
        case WM_SETFOCUS: onSetFocus(); return 0;
        case WM_NEXTDLGCTL: onNextDlgCtl(hwnd, wp, lp); return 0;
        // Enter and Escape reach the window as IDOK and IDCANCEL through
        // the dialog keyboard handling; neither closes it.
        case WM_COMMAND: return 0;
        case WM_DESTROY: onDestroy(); return 0;
        case WM_NCDESTROY: onNcDestroy(hwnd); break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

inline void Form::onTimer(UINT_PTR id) {
    if (id == kTimerId) raise(Tick);
}

inline void Form::onHScroll(int code, int position, HWND control) {
    // lParam names the scroll bar control; any other window (a sender may
    // name any) is not the form's bar.
    if (scrollBar_ && control == scrollBar_->hwnd()) scrollBy(code, position);
}

inline void Form::onWheel(int delta) {
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

inline BOOL Form::onGetDpiScaledSize(WPARAM dpi, SIZE* size) noexcept {
    // Per-monitor aware (v2): the size the window will need at the DPI it is
    // about to get, not its size stretched. Any program can send this: for a
    // DPI no monitor has, FALSE leaves the size to the system, as it is
    // without an answer.
    if (!IsMonitorDpi(dpi) || !Reachable(size, sizeof *size, true)) return FALSE;
    *size = windowSize(static_cast<int>(dpi));
    return TRUE;
}

inline void Form::onDpiChanged(WPARAM dpis, const RECT* suggested) noexcept {
    // Windows gives the same DPI for both axes, only one a monitor can have,
    // and a place for the window; anything else another program sent.
    if (LOWORD(dpis) != HIWORD(dpis) || !IsMonitorDpi(LOWORD(dpis))) return;
    if (suggested == nullptr || Reachable(suggested, sizeof *suggested, false)) setDpi(LOWORD(dpis), suggested);
}

inline bool Form::onActivate(bool inactive) {
    // Keep the focused control while another window is active, and give the
    // focus back to it when this one is activated again; false leaves the
    // activation to the default processing.
    if (inactive) {
        HWND focused = GetFocus();
        if (focused != nullptr && IsChild(hwnd_, focused)) focus_ = focused;
        return true;
    }
    if (focus_ == nullptr || !IsWindow(focus_)) return false;
    SetFocus(focus_);
    return true;
}

inline void Form::onSetFocus() {
    if (focus_ != nullptr && IsWindow(focus_)) SetFocus(focus_);
}

inline void Form::onNextDlgCtl(HWND hwnd, WPARAM wp, LPARAM lp) {
    // Dialog keyboard handling hands Tab and Shift+Tab in the multi-line text
    // box to its parent as this message, which only a dialog's own procedure
    // acts on; the form does as a dialog does: the control given when the low
    // word of lParam is set, otherwise the next (wParam 0) or previous tab stop
    // from the focus.
    HWND focused = GetFocus();
    if (focused != nullptr && !IsChild(hwnd, focused)) focused = nullptr;
    HWND next = LOWORD(lp) != 0 ? reinterpret_cast<HWND>(wp) : GetNextDlgTabItem(hwnd, focused, wp != 0);
    if (next != nullptr && IsChild(hwnd, next)) moveFocus(next);
}

inline void Form::onDestroy() {
    // WM_QUIT asks run()'s message loop to end, and nothing else may receive
    // it. A window destroyed outside that loop (by ~Form when building the
    // tool window failed, or after a GetMessageW error) posts none: nobody
    // would wait for it, and the next modal loop of the thread would take it
    // instead (the error box, closing at once).
    if (looping_) PostQuitMessage(exitCode_);
}

inline void Form::onNcDestroy(HWND hwnd) {
    // The window's last message. The form lets go of it, but its default
    // processing still needs the window itself.
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    hwnd_ = nullptr;
}

// ---- what the handlers share ----

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
