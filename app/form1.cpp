#include "form1.h"

#include "behaviours.h"
#include "dpi.h"
#include "form1_ids.h"
#include "kavrelo_version.h"
#include "user32.h"

namespace kavrelo {

namespace {

// The layout in twips (15 to a pixel at 96 dpi), turned into pixels at the
// window's DPI (the form's). Labels then take their width and height from
// their text in the 9-point font of that DPI; the sizes here are those of the
// 9-point font at 96 dpi.
constexpr int kClientWidth = 6405, kClientHeight = 3090;
constexpr TwipsBox kLabel2Box{120, 120, 90, 180};
constexpr TwipsBox kLabel3Box{5400, 120, 900, 180};
constexpr TwipsBox kHScroll1Box{120, 480, 6015, 255};
constexpr TwipsBox kLabel1Box{240, 960, 90, 180};
constexpr TwipsBox kLabel5Box{840, 960, 4140, 180};
constexpr TwipsBox kLabel4Box{5760, 960, 270, 180};
constexpr TwipsBox kLabel6Box{120, 1320, 810, 180};
constexpr TwipsBox kText1Box{120, 1680, 6135, 1215};

constexpr UINT kTimer1IntervalMs = 100;
constexpr int kIconGroup = 1;

const char16_t kNoTarget[] = u"未设置窗口";
const char16_t kInstruction[] = u"请将鼠标移至欲调整的窗口上，按F1后调整滚动条。";
// The mark at the right end of the bar: its maximum.
const char16_t kBarEnd[] = u"255";
const char16_t kVersion[] = u"版本：" KAVRELO_VERSION_SHOWN;
const char16_t kNotice[] =
    u"声明：本软件仅用作交流使用，禁止用于其他用途，若因使用不当造成的一切后果自负。\r\n"
    u"邮箱：kavrelo@example.com\r\n"
    u"官方网站：https://www.example.com/kavrelo\r\n"
    u"感谢下载！\r\n"
    u"    Pelloria\r\n";

// Arrow clicks and arrow keys move the bar by 1; clicks in the trough and
// Page Up / Page Down by 10.
constexpr HScrollBar::Range kHScroll1Range{0, 255, 1, 10};

}  // namespace

Form1::Form1(HINSTANCE instance, WindowSystem& windowSystem, int dpi)
    : form_(instance, FormStyle{u"Kavrelo", kClientWidth, kClientHeight, kIconGroup, dpi, &CreateForm1Font}),
      HScroll1(form_.createScrollBar(kIdHScroll1, kHScroll1Box, kHScroll1Range)),
      Label1(form_, kIdLabel1, kLabel1Box, u"0"),
      Label2(form_, kIdLabel2, kLabel2Box, u"0"),
      Label4(form_, kIdLabel4, kLabel4Box, kBarEnd),
      Label5(form_, kIdLabel5, kLabel5Box, kInstruction),
      Label3(form_, kIdLabel3, kLabel3Box, kNoTarget),
      Label6(form_, kIdLabel6, kLabel6Box, kVersion),
      Text1(form_, kIdText1, kText1Box, kNotice),
      controls_{Label1, Label2, Label3, HScroll1},
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
