// A small form layer on raw Win32: one top-level window with labels that size
// themselves to their text, a horizontal scroll bar with a change event
// (scroll_bar.h), a multi-line text box and a timer. Events run one at a time
// on the UI thread; an error that escapes an event handler is reported to the
// user (error_report.h) and ends the program. Tab and Shift+Tab move the focus
// between the controls that are tab stops, as in a dialog.
//
// A form and the scroll bar and timer it raises events for know each other
// until either goes: whichever is destroyed first, the other forgets it, so
// that they may be torn down in any order.
#pragma once

#include <windows.h>

#include <string_view>

#include "controls.h"
#include "error_report.h"
#include "event.h"
#include "layout.h"
#include "scroll_bar.h"

namespace kavrelo {

class Form;

// Owns a GDI font.
class Font {
public:
    explicit Font(HFONT font) noexcept : font_(font) {}
    ~Font() { if (font_ != nullptr) DeleteObject(font_); }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    HFONT get() const noexcept { return font_; }

private:
    HFONT font_;
};

// A memory device context with the form's font selected, in which labels
// measure their texts: no window DC to get and release on every change.
class MeasuringDC {
public:
    explicit MeasuringDC(HFONT font) noexcept;
    ~MeasuringDC();
    MeasuringDC(const MeasuringDC&) = delete;
    MeasuringDC& operator=(const MeasuringDC&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

class Label final : public TextControl {
public:
    Label(Form& form, int id, Box placed, std::u16string_view text);

    Text text() const override { return text_; }
    void setText(std::u16string_view text) override;
    HWND hwnd() const noexcept { return hwnd_; }

private:
    void fit();

    HWND hwnd_ = nullptr;
    HDC measure_;
    Box placed_;  // where the layout put it, and then its current size
    int lineHeight_ = 0;
    Text text_;
};

class TextBox {
public:
    TextBox(Form& form, int id, Box placed, std::u16string_view text);
    HWND hwnd() const noexcept { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

class Timer {
public:
    Timer(Form& form, UINT_PTR id, UINT intervalMs);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Stops the ticks; also once the form or its window is gone.
    void stop() noexcept;
    UINT_PTR id() const noexcept { return id_; }

    // Raised on every tick.
    Event Tick;

private:
    friend class Form;

    Form* form_;  // null once the form is gone
    UINT_PTR id_;
    bool running_ = false;
};

struct FormStyle {
    std::u16string_view caption;
    int clientWidth, clientHeight;
    int iconId;  // icon group of the executable; 0 for the system's default
    HFONT font;  // owned by the form from then on
};

class Form {
public:
    Form(HINSTANCE instance, const FormStyle& style);
    ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    HWND hwnd() const noexcept { return hwnd_; }
    HINSTANCE instance() const noexcept { return instance_; }
    HFONT font() const noexcept { return font_.get(); }
    HDC measuringDC() const noexcept { return measure_.get(); }

    // Creates a visible child control in the form's font; raises CreateFailed
    // naming `what` when the system cannot.
    HWND createControl(int id, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, Box placed,
                       std::u16string_view what);

    // The control that holds the keyboard focus when the window opens.
    void setInitialFocus(HWND control) noexcept { focus_ = control; }
    // The scroll bar and the timer whose events the form raises, one of each:
    // one added replaces (and detaches) the one before. Each removes itself
    // when it is destroyed.
    void addScrollBar(HScrollBar& bar) noexcept;
    void removeScrollBar(HScrollBar& bar) noexcept;
    void addTimer(Timer& timer) noexcept;
    void removeTimer(Timer& timer) noexcept;

    // Shows the window and runs the message loop until the window is closed;
    // returns the program's exit code. Returns at once when the window is
    // already gone.
    int run(int showCommand);

private:
    // Lets no exception out: one that escaped would have to unwind through
    // user32's frames, which the i686 build cannot do. noexcept states it, and
    // ends the program (std::terminate) should one ever try.
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    LRESULT handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void raise(const Event& handler);
    void reportUntrapped(const ErrorReport& error);
    void moveFocus(HWND control);

    HINSTANCE instance_;
    Font font_;
    MeasuringDC measure_;
    HWND hwnd_ = nullptr;
    HWND focus_ = nullptr;
    HScrollBar* scrollBar_ = nullptr;
    Timer* timer_ = nullptr;
    bool inEvent_ = false;
    bool looping_ = false;  // run() is in its message loop
    int exitCode_ = 0;
};

}  // namespace kavrelo
