// A small form layer on raw Win32: one top-level window with labels that size
// themselves to their text, a horizontal scroll bar with a change event
// (scroll_bar.h), a multi-line text box and a timer. Events run one at a time
// on the UI thread; an error that escapes an event handler is reported to the
// user (error_report.h) and ends the program. Tab and Shift+Tab move the focus
// between the controls that are tab stops, as in a dialog. The layout is kept
// in twips and turned into pixels at the form's DPI, again whenever Windows
// moves the window to a monitor of another DPI.
//
// The form owns its scroll bar and its timer, which go with it: there is no
// order of tear-down to get wrong.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>

#include "controls.h"
#include "dpi.h"
#include "error_report.h"
#include "event.h"
#include "layout.h"
#include "scroll_bar.h"

namespace kavrelo {

class Form;

// Owns a handle and releases it with Release when it goes.
template <typename Handle, auto Release>
class Owned {
public:
    explicit Owned(Handle handle) noexcept : handle_(handle) {}
    ~Owned() { reset(nullptr); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Handle get() const noexcept { return handle_; }
    // Releases the handle held and takes another.
    void reset(Handle handle) noexcept {
        if (handle_ != nullptr) Release(handle_);
        handle_ = handle;
    }

private:
    Handle handle_;
};

// A GDI font.
using Font = Owned<HFONT, &DeleteObject>;
// An icon that is not shared (loaded without LR_SHARED).
using Icon = Owned<HICON, &DestroyIcon>;

// A memory device context with the form's font selected, in which labels
// measure their texts: no window DC to get and release on every change.
class MeasuringDC {
public:
    explicit MeasuringDC(HFONT font) noexcept;
    ~MeasuringDC();
    MeasuringDC(const MeasuringDC&) = delete;
    MeasuringDC& operator=(const MeasuringDC&) = delete;
    HDC get() const noexcept { return dc_; }
    void select(HFONT font) noexcept { SelectObject(dc_, font); }

private:
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

class Label final : public TextControl {
public:
    Label(Form& form, int id, TwipsBox placed, std::u16string_view text);

    Text text() const override { return text_; }
    void setText(std::u16string_view text) override;
    HWND hwnd() const noexcept { return hwnd_; }
    // Where the layout puts it at the form's DPI, sized to its text in the
    // form's font (which may have changed).
    void place(Box placed) noexcept {
        placed_ = placed;
        lineHeight_ = 0;
        fit(true);
    }

private:
    // Sizes the label to its text; false when the text cannot be measured.
    bool fit(bool moved) noexcept;

    HWND hwnd_ = nullptr;
    HDC measure_;
    Box placed_{};  // where the layout put it, and then its current size
    int lineHeight_ = 0;  // of the font it was last measured in
    Text text_;
};

class TextBox {
public:
    TextBox(Form& form, int id, TwipsBox placed, std::u16string_view text);
    HWND hwnd() const noexcept { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

struct FormStyle {
    std::u16string_view caption;
    int clientWidth, clientHeight;  // in twips
    int iconId;                     // icon group of the executable; 0 for the system's default
    int dpi;                        // the DPI the form is first laid out at
    HFONT (*font)(int dpi);         // the form's font at a DPI, owned by the form
};

class Form {
public:
    // A fixed single border with a caption and the system menu: not
    // sizable, no minimize or maximize box.
    static constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;

    Form(HINSTANCE instance, const FormStyle& style);
    ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    HWND hwnd() const noexcept { return hwnd_; }
    HINSTANCE instance() const noexcept { return instance_; }
    HFONT font() const noexcept { return font_.get(); }
    HDC measuringDC() const noexcept { return measure_.get(); }
    int dpi() const noexcept { return dpi_; }

    // Creates a visible child control in the form's font, where its twips put
    // it at the form's DPI; raises CreateFailed naming `what` when the system
    // cannot. A label is placed by itself (Label::place).
    HWND createControl(int id, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle,
                       TwipsBox placed, std::u16string_view what, Label* label = nullptr);

    // Lays the window out at another DPI: the font of that DPI (the old one
    // released), every control from its twips, the labels sized to their
    // texts, and the window the size its client area needs, where `suggested`
    // puts it (or where it is). Values, texts and the focus stay. Nothing
    // changes when the font cannot be created.
    void setDpi(int dpi, const RECT* suggested = nullptr) noexcept;

    // The control that holds the keyboard focus when the window opens.
    void setInitialFocus(HWND control) noexcept { focus_ = control; }

    // Creates the form's scroll bar, whose Change event the form raises. A
    // form has one: asking for a second raises CreateFailed.
    HScrollBar& createScrollBar(int id, TwipsBox placed, HScrollBar::Range range);

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
    // its task bar button.
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
    void raise(const Event& handler);
    void reportUntrapped(const ErrorReport& error);
    void moveFocus(HWND control);
    void scrollBy(int code, int position);
    void wheel(int delta);
    SIZE windowSize(int dpi) noexcept;
    void fitClient() noexcept;

    HINSTANCE instance_;
    const FormStyle style_;
    int dpi_;
    Font font_;
    MeasuringDC measure_;
    Icon smallIcon_;  // the window's; destroyed after it
    HWND hwnd_ = nullptr;
    HWND focus_ = nullptr;
    struct Placed {
        HWND hwnd;
        TwipsBox box;
        Label* label;
    };
    Placed placed_[8] = {};  // the controls, where the layout puts them
    int controls_ = 0;
    std::optional<HScrollBar> scrollBar_;
    int wheelDelta_ = 0;  // of the notches not yet turned into steps
    bool inEvent_ = false;
    bool looping_ = false;  // run() is in its message loop
    int exitCode_ = 0;
};

}  // namespace kavrelo
