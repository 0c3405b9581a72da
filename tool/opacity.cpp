#include "behaviours.h"
#include "handle_text.h"

namespace kavrelo {

std::uint8_t AlphaForValue(std::int16_t value) {
    const std::int32_t difference = 255 - static_cast<std::int32_t>(value);
    if (difference > INT16_MAX) {  // the 16-bit subtraction overflows
        throw Error(ErrorCode::Overflow, u"溢出：透明度的计算超出 16 位整数的范围。");
    }
    if (difference < 0 || difference > 255) {  // does not fit a byte
        throw Error(ErrorCode::Overflow, u"溢出：透明度超出 0 到 255 的范围。");
    }
    return static_cast<std::uint8_t>(difference);
}

void HScroll1_Change(Form1Controls& form, WindowSystem& ws) noexcept {
    // The trap: any error of the steps below ends the handler quietly. Every
    // text taken is a local value and goes with the stack.
    try {
        form.Label1.setText(DecimalText(form.HScroll1.value()).view());

        // The target's handle text is read back before each call: the label is
        // the only place the handle lives. Text that is no handle ("no window
        // set yet" among others) ends the handler as the trap would, without
        // raising: that is every change before the first capture.
        Handle target = 0;
        if (!TryHandleFromText(form.Label3.text().view(), target)) return;
        std::int32_t style = ws.GetWindowLongA(target, kGwlExStyle);
        style |= kWsExLayered;  // set on every change, never cleared

        if (!TryHandleFromText(form.Label3.text().view(), target)) return;
        ws.SetWindowLongA(target, kGwlExStyle, style);

        const Text targetText = form.Label3.text();
        const std::uint8_t alpha = AlphaForValue(form.HScroll1.value());
        if (!TryHandleFromText(targetText.view(), target)) return;
        ws.SetLayeredWindowAttributes(target, 0, alpha, kLwaAlpha);
    } catch (...) {
        // Nothing shown, nothing logged.
    }
}

}  // namespace kavrelo
