// The tool window: its controls, their texts and layout, and the binding of
// the two event handlers.
#pragma once

#include "forms.h"
#include "window_system.h"

namespace kavrelo {

class Form1 {
public:
    Form1(HINSTANCE instance, WindowSystem& windowSystem);
    int run(int showCommand) { return form_.run(showCommand); }

private:
    static void OnTimer1Tick(void* self);
    static void OnHScroll1Change(void* self);

    const int dpi_;  // as the system tells it at start-up; the layout follows it
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

}  // namespace kavrelo
