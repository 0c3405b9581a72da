// The tool window: its controls, their texts and layout, and the binding of
// the two event handlers.
#pragma once

#include "form_font.h"
#include "forms.h"
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

    Form form_;
    // Created in tab order.
    HScrollBar& HScroll1;  // the form's
    Label Label1;
    Label Label2;
    Label Label4;
    Label Label5;
    Label Label3;
    Label Label6;
    TextBox Text1;
    // Timer1 is the form's own timer: its Tick.

    Form1Controls controls_;
    WindowSystem& windowSystem_;
};

// The program: declares the process DPI-aware, builds the tool window and
// runs it until it is closed; returns the exit code. An error that stops the
// window from being built is reported, and ends the program with
// kExitUntrappedError.
int RunKavrelo(HINSTANCE instance, WindowSystem& windowSystem, int showCommand) noexcept;

}  // namespace kavrelo
