// A form: one top-level window built from its layout table (form_controls.h),
// with a timer, and the message loop that runs it. Events run one at a time on
// the UI thread; an error that escapes an event handler is reported to the
// user (error_report.h) and ends the program. Tab and Shift+Tab move the focus
// between the controls that are tab stops, as in a dialog; the mouse wheel and
// its tilt move the scroll bar. The layout is kept in twips and turned into
// pixels at the form's DPI, again whenever Windows moves the window to a
// monitor of another DPI (form_dpi.cpp).
//
// The form owns its controls, its timer, its font and its icons, which go with
// it: there is no order of tear-down to get wrong.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string_view>

#include "dpi.h"
#include "error_report.h"
#include "event.h"
#include "fonts_icons.h"
#include "form_controls.h"
#include "layout.h"
#include "scroll_bar.h"

namespace kavrelo {

// What the window shows: its caption, the size of its client area and its
// controls.
struct FormLayout {
    std::u16string_view caption;  // a string literal
    int clientWidth, clientHeight;  // in twips
    ControlTable controls;
};

// How it looks on this system.
struct FormStyle {
    int iconId;              // icon group of the executable; 0 for the system's default
    int dpi;                 // the DPI the form is first laid out at
    HFONT (*font)(int dpi);  // the form's font at a DPI, owned by the form
};

class Form {
public:
    // A fixed single border with a caption and the system menu: not
    // sizable, no minimize or maximize box.
    static constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;

    // Creates the window and every control of the layout, in its order; the
    // layout's table is read here only. Raises CreateFailed naming what the
    // system could not create, and for a scroll bar without its range or a
    // second one: a form has one.
    Form(HINSTANCE instance, const FormLayout& layout, const FormStyle& style);
    ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    HWND hwnd() const noexcept { return hwnd_; }
    int dpi() const noexcept { return dpi_; }

    // The label of the row with that id; raises CreateFailed when the layout
    // has none.
    Label& label(int id);
    // The scroll bar, whose Change event the form raises; raises CreateFailed
    // when the layout has none.
    HScrollBar& scrollBar();

    // Lays the window out at another DPI: the font of that DPI (the old one
    // released), every control from its twips, the labels sized to their
    // texts, and the window the size its client area needs, where `suggested`
    // puts it (or where it is). Values, texts and the focus stay. Nothing
    // changes when the font cannot be created.
    void setDpi(int dpi, const RECT* suggested = nullptr) noexcept;

    // The control that holds the keyboard focus when the window opens.
    void setInitialFocus(HWND control) noexcept { focus_ = control; }

    // Starts the form's timer: Tick is raised every intervalMs until the
    // window goes or an error is reported. Raises CreateFailed when the
    // system has no timer to give.
    void startTimer(UINT intervalMs);
    Event Tick;

    // Lays the window out at the DPI of its monitor, shows it and runs the
    // message loop until the window is closed; returns the program's exit
    // code. Returns at once when the window is already gone.
    int run(int showCommand);

    // Shows the window as the launcher's show command asks, but always where
    // the user can reach it and never maximized: a hidden start is shown, a
    // maximized one opens at the window's own size (it has no maximize box to
    // restore it with); a minimized one stays minimized, to come back from
    // its task bar button. It holds whichever first show Windows hands the
    // launcher's command to: the window's state is set right after it.
    void show(int showCommand);

    // One message of the loop: the form's keyboard handling (Tab and
    // Shift+Tab between the tab stops, Escape ignored, the mouse wheel and
    // its tilt to the bar), then the window procedure.
    void dispatch(MSG& msg);

private:
    // Lets no exception out: one that escaped would have to unwind through
    // user32's frames, which the i686 build cannot do. noexcept states it, and
    // ends the program (std::terminate) should one ever try.
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    LRESULT handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    // The window's messages, one handler each (handle() names them).
    void onTimer(UINT_PTR id);
    void onHScroll(int code, int position, HWND control);
    void onWheel(int delta);
    BOOL onGetDpiScaledSize(WPARAM dpi, SIZE* size) noexcept;
    void onDpiChanged(WPARAM dpis, const RECT* suggested) noexcept;
    bool onActivate(bool inactive);
    void onSetFocus();
    void onNextDlgCtl(HWND hwnd, WPARAM wp, LPARAM lp);
    void onDestroy();
    void onNcDestroy(HWND hwnd);

    void registerWindowClass();
    void createControls(const ControlTable& controls);
    void raise(const Event& handler);
    void reportUntrapped(const ErrorReport& error);
    void moveFocus(HWND control);
    void scrollBy(int code, int position);
    SIZE windowSize(int dpi) noexcept;
    // Hands the window the icon group's images at that DPI's sizes for the
    // caption (small), the task bar and the task switcher (big), and releases
    // those it showed.
    void showIcons(int dpi) noexcept;
    void fitClient() noexcept;

    HINSTANCE instance_;
    const FormLayout layout_;
    const FormStyle style_;
    int dpi_;
    Font font_;
    MeasuringDC measure_;
    Icon smallIcon_{nullptr}, bigIcon_{nullptr};  // the window's; destroyed after it
    HWND hwnd_ = nullptr;
    HWND focus_ = nullptr;
    // Each control of the layout, in its order, and what stands for it. One
    // block of the C runtime's heap for the form's life: the program has no
    // other use for operator new, and is smaller without it.
    struct Child {
        HWND hwnd = nullptr;
        TwipsBox box{};
        std::optional<Label> label;
    };
    struct FreeChildren {
        int count;
        void operator()(Child* children) const noexcept;
    };
    std::unique_ptr<Child[], FreeChildren> children_;
    int childCount_ = 0;  // created so far
    std::optional<HScrollBar> scrollBar_;
    int wheelDelta_ = 0;  // of the notches not yet turned into steps
    bool inEvent_ = false;
    bool looping_ = false;  // run() is in its message loop
    int exitCode_ = 0;
};

}  // namespace kavrelo
