#include "form1.h"

#include "behaviours.h"
#include "form1_ids.h"
#include "form_font.h"
#include "kavrelo_version.h"

namespace kavrelo {

namespace {

// Positions and sizes in pixels at 96 dpi. Labels take their width and height
// from their text; the sizes here are those of the 9-point font.
constexpr Box kLabel2Box{8, 8, 6, 12};
constexpr Box kLabel3Box{360, 8, 60, 12};
constexpr Box kHScroll1Box{8, 32, 401, 17};
constexpr Box kLabel1Box{16, 64, 6, 12};
constexpr Box kLabel5Box{56, 64, 276, 12};
constexpr Box kLabel4Box{384, 64, 18, 12};
constexpr Box kLabel6Box{8, 88, 54, 12};
constexpr Box kText1Box{8, 112, 409, 81};

constexpr UINT_PTR kTimer1Id = 1;
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

Form1::Form1(HINSTANCE instance, WindowSystem& windowSystem)
    : form_(instance, FormStyle{u"Kavrelo", 427, 206, kIconGroup, CreateForm1Font()}),
      HScroll1(form_, kIdHScroll1, kHScroll1Box, kHScroll1Range),
      Label1(form_, kIdLabel1, kLabel1Box, u"0"),
      Label2(form_, kIdLabel2, kLabel2Box, u"0"),
      Label4(form_, kIdLabel4, kLabel4Box, kBarEnd),
      Label5(form_, kIdLabel5, kLabel5Box, kInstruction),
      Label3(form_, kIdLabel3, kLabel3Box, kNoTarget),
      Label6(form_, kIdLabel6, kLabel6Box, kVersion),
      Text1(form_, kIdText1, kText1Box, kNotice),
      Timer1(form_, kTimer1Id, kTimer1IntervalMs),
      controls_{Label1, Label2, Label3, HScroll1},
      windowSystem_(windowSystem) {
    form_.setInitialFocus(HScroll1.hwnd());
    Timer1.Tick = Event{&Form1::OnTimer1Tick, this};
    HScroll1.Change = Event{&Form1::OnHScroll1Change, this};
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
