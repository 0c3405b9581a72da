// The two behaviours on their own, natively, against the unit tests' fakes
// (which keep everything in fixed buffers): nanoseconds per call.
#include <benchmark/benchmark.h>

#include "behaviours.h"
#include "fakes.h"

namespace kavrelo {
namespace {

// A tick with the pointer moving (Label2 changes every time), and with F1
// held (Label2 is copied into Label3 too).
void Tick(benchmark::State& state, std::int16_t keyState) {
    testing::FakeForm form;
    testing::FakeWindowSystem ws;
    ws.keyState = keyState;
    for (auto _ : state) {
        ws.under = ws.under == 0x10086 ? 0x7FFF1234 : 0x10086;
        ws.count = 0;
        Timer1_Timer(form.controls, ws);
    }
}
BENCHMARK_CAPTURE(Tick, Timer1_Timer, 0);
BENCHMARK_CAPTURE(Tick, Timer1_Timer_F1, -128);

// A change of the bar with a target, and before any target was chosen.
void Change(benchmark::State& state, const char16_t* target) {
    testing::FakeForm form;
    testing::FakeWindowSystem ws;
    form.label3.text_ = Text(target);
    for (auto _ : state) {
        form.bar.value_ = static_cast<std::int16_t>((form.bar.value_ + 1) & 0xFF);
        ws.count = 0;
        HScroll1_Change(form.controls, ws);
    }
}
BENCHMARK_CAPTURE(Change, HScroll1_Change, u"65670");
BENCHMARK_CAPTURE(Change, HScroll1_Change_NoTarget, u"未设置窗口");

}  // namespace
}  // namespace kavrelo

BENCHMARK_MAIN();
