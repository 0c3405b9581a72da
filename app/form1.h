// The tool window: the form its layout makes (form1_layout.h), and the binding
// of the two event handlers to the controls they work on.
#pragma once

#include "form.h"
#include "form_font.h"
#include "screen_reader.h"
#include "window_system.h"

namespace kavrelo {

class Form1 {
public:
    // Lays the window out at the given DPI: the one the system reports,
    // unless a test asks for another. (Form::run then follows the monitor's.)
    Form1(HINSTANCE instance, WindowSystem& windowSystem, int dpi = ScreenDpi());
    int run(int showCommand) { return form_.run(showCommand); }
    Form& form() noexcept { return form_; }

private:
    static void OnTimer1Tick(void* self);
    static void OnHScroll1Change(void* self);

    // The window and every control of the layout, which the form owns: what
    // follows refers to them and goes first.
    Form form_;
    HScrollBar& HScroll1;
    // Timer1 is the form's own timer: its Tick.
    ScreenReaderText reader_;  // cleared before the controls go
    Form1Controls controls_;   // what the two handlers work on
    WindowSystem& windowSystem_;
};

// The program: declares the process DPI-aware, builds the tool window and
// runs it until it is closed; returns the exit code. An error that stops the
// window from being built is reported, and ends the program with
// kExitUntrappedError.
int RunKavrelo(HINSTANCE instance, WindowSystem& windowSystem, int showCommand) noexcept;

}  // namespace kavrelo
