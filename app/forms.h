// A small form layer on raw Win32: one top-level window with labels that size
// themselves to their text, a horizontal scroll bar with a change event, a
// multi-line text box and a timer. Events run one at a time on the UI thread;
// an error that escapes an event handler is reported to the user and ends the
// program.
#pragma once

#include <windows.h>

#include <string_view>

#include "controls.h"
#include "label_fit.h"

namespace kavrelo {

// Exit code of a run ended by an untrapped error.
constexpr int kExitUntrappedError = 2;

class Form;

// An event binding: the handler to call and what it works on.
struct Event {
    void (*handler)(void* context) = nullptr;
    void* context = nullptr;

    explicit operator bool() const noexcept { return handler != nullptr; }
    void operator()() const { handler(context); }
};

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

class HScrollBar final : public ValueControl {
public:
    struct Range {
        int min, max, smallChange, largeChange;
    };
    HScrollBar(Form& form, int id, Box placed, Range range);

    std::int16_t value() const override { return static_cast<std::int16_t>(value_); }
    HWND hwnd() const noexcept { return hwnd_; }

    // Raised once after every change of the value.
    Event Change;

    // A WM_HSCROLL from the control; true when it changed the value.
    bool scrolled(int code);

private:
    void followThumbWithCaret();

    HWND hwnd_ = nullptr;
    Range range_;
    int value_;
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

    void stop() noexcept;
    UINT_PTR id() const noexcept { return id_; }

    // Raised on every tick.
    Event Tick;

private:
    Form& form_;
    UINT_PTR id_;
    bool running_ = false;
};

struct FormStyle {
    std::u16string_view caption;
    int clientWidth, clientHeight;
    int iconId;  // icon group of the executable; 0 for the system's default
    HFONT font;  // owned by the form from then on
};

// Shows an error in the program's language, owned by the given window.
void ShowError(HWND owner, int number, std::u16string_view text, bool ending);

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

    // The control that holds the keyboard focus when the window opens.
    void setInitialFocus(HWND control) noexcept { focus_ = control; }
    void addScrollBar(HScrollBar& bar) noexcept { scrollBar_ = &bar; }
    void addTimer(Timer& timer) noexcept { timer_ = &timer; }

    // Shows the window and runs the message loop until the window is closed;
    // returns the program's exit code.
    int run(int showCommand);

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void raise(const Event& handler);
    void reportUntrapped(const char16_t* text, int number);

    HINSTANCE instance_;
    Font font_;
    MeasuringDC measure_;
    HWND hwnd_ = nullptr;
    HWND focus_ = nullptr;
    HScrollBar* scrollBar_ = nullptr;
    Timer* timer_ = nullptr;
    bool inEvent_ = false;
    int exitCode_ = 0;
};

}  // namespace kavrelo
