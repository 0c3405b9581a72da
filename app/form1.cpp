// The tool window built from its layout table, its two handlers bound, and
// the program run from start to end (form1.h).
#include "form1.h"

#include "behaviours.h"
#include "dpi.h"
#include "form1_layout.h"
#include "user32.h"

namespace kavrelo {

namespace {

constexpr UINT kTimer1IntervalMs = 100;
constexpr int kIconGroup = 1;

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

}  // namespace

Form1::Form1(HINSTANCE instance, WindowSystem& windowSystem, int dpi)
    : form_(instance, kForm1Layout, FormStyle{kIconGroup, dpi, &CreateForm1Font}),
      HScroll1(form_.scrollBar()),
      // The bar, the first control, has no text before it to be named by,
      // and the text box would be named by the version line; the bar's value
      // is heard as Label1 shows it, not as a percentage.
      reader_(HScroll1.hwnd(), W(kHScroll1Name), GetDlgItem(form_.hwnd(), kIdText1), W(kText1Name)),
      controls_{form_.label(kIdLabel1), form_.label(kIdLabel2), form_.label(kIdLabel3), HScroll1},
      windowSystem_(windowSystem) {
    form_.setInitialFocus(HScroll1.hwnd());
    form_.Tick = Event{&Form1::OnTimer1Tick, this};
    HScroll1.Change = Event{&Form1::OnHScroll1Change, this};
    form_.startTimer(kTimer1IntervalMs);
}

int RunKavrelo(HINSTANCE instance, WindowSystem& windowSystem, int showCommand) noexcept {
    // Before any window or screen DC: the DPI the layout follows is read once.
    DeclareDpiAware();
    try {
        Form1 form(instance, windowSystem);
        return form.run(showCommand);
    } catch (...) {
        // Building the tool window failed (a control or the timer could not
        // be created, or memory ran out): what had been built is gone, the
        // window with it, and the report has no owner. It stays until the
        // user dismisses it: the form posts no WM_QUIT when its window is
        // destroyed outside its message loop, and ShowError holds back any
        // that is pending.
        ShowError(nullptr, CurrentErrorReport(), true);
        return kExitUntrappedError;
    }
}

void Form1::OnTimer1Tick(void* self) {
    auto* form = static_cast<Form1*>(self);
    Timer1_Timer(form->controls_, form->windowSystem_);
}

void Form1::OnHScroll1Change(void* self) {
    auto* form = static_cast<Form1*>(self);
    HScroll1_Change(form->controls_, form->windowSystem_);
}

}  // namespace kavrelo
