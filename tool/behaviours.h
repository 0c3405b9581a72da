// The tool window's two event handlers.
#pragma once

#include "controls.h"
#include "window_system.h"

namespace kavrelo {

// Every tick of Timer1: shows the handle text of the window under the pointer
// in Label2 and, while F1 is down, copies it into Label3 (the target). Sets no
// trap: an error raised here is left to the form layer, which reports it and
// ends the program.
void Timer1_Timer(Form1Controls& form, WindowSystem& ws);

// After every change of HScroll1's value: shows the value in Label1, gives the
// target in Label3 the layered style and the constant alpha 255 minus the
// value. Traps every error and ends quietly.
void HScroll1_Change(Form1Controls& form, WindowSystem& ws) noexcept;

// 255 - value as a checked signed 16-bit subtraction, then a checked
// conversion to an unsigned byte; either step raises Overflow.
std::uint8_t AlphaForValue(std::int16_t value);

}  // namespace kavrelo
