#include "behaviours.h"
#include "handle_text.h"

namespace kavrelo {

void Timer1_Timer(Form1Controls& form, WindowSystem& ws) {
    // A fresh point every tick: a failing GetCursorPos leaves (0, 0), never a
    // position from an earlier tick.
    Point point{0, 0};
    ws.GetCursorPos(&point);  // result ignored on purpose
    const Handle window = ws.WindowFromPoint(point.x, point.y);

    // Set on every tick, also when it does not change; the label itself
    // skips the repaint and the resize of an unchanged text.
    form.Label2.setText(DecimalText(window).view());

    // Polled once per tick; negative as a signed 16-bit value means "down".
    if (ws.GetKeyState(kVkF1) < 0) {
        const Text underPointer = form.Label2.text();
        form.Label3.setText(underPointer.view());
    }
}

}  // namespace kavrelo
