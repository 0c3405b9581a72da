// The tool window's layout, the one place it is written: its caption, its
// client area and each control, in tab order (the order of their windows),
// with its id (GetDlgCtrlID), its kind, its box in twips (15 to a pixel at 96
// dpi) and its text. Form1 builds the window from it and binds the controls
// that have a behaviour; the tests check what the window makes of it at each
// DPI. A plain control is one row here.
#pragma once

#include "form.h"
#include "kavrelo_version.h"

namespace kavrelo {

enum Form1ControlId : int {
    kIdHScroll1 = 100,
    kIdLabel1 = 101,
    kIdLabel2 = 102,
    kIdLabel4 = 104,
    kIdLabel5 = 105,
    kIdLabel3 = 103,
    kIdLabel6 = 106,
    kIdText1 = 107,
};

// Label3 until a window is captured.
inline constexpr char16_t kNoTarget[] = u"未设置窗口";

// Arrow clicks and arrow keys move the bar by 1; clicks in the trough and
// Page Up / Page Down by 10.
inline constexpr HScrollBar::Range kHScroll1Range{0, 255, 1, 10};

inline constexpr ControlRow kForm1Controls[] = {
    {kIdHScroll1, ControlKind::HScrollBar, {120, 480, 6015, 255}, u"", &kHScroll1Range},
    // The bar's value, under its left end.
    {kIdLabel1, ControlKind::Label, {240, 960, 90, 180}, u"0"},
    // The handle text of the window under the pointer.
    {kIdLabel2, ControlKind::Label, {120, 120, 90, 180}, u"0"},
    // The mark at the right end of the bar: its maximum.
    {kIdLabel4, ControlKind::Label, {5760, 960, 270, 180}, u"255"},
    {kIdLabel5, ControlKind::Label, {840, 960, 4140, 180}, u"请将鼠标移至欲调整的窗口上，按F1后调整滚动条。"},
    // The handle text of the target.
    {kIdLabel3, ControlKind::Label, {5400, 120, 900, 180}, kNoTarget},
    {kIdLabel6, ControlKind::Label, {120, 1320, 810, 180}, u"版本：" KAVRELO_VERSION_SHOWN},
    {kIdText1, ControlKind::TextBox, {120, 1680, 6135, 1215},
     u"声明：本软件仅用作交流使用，禁止用于其他用途，若因使用不当造成的一切后果自负。\r\n"
     u"邮箱：kavrelo@example.com\r\n"
     u"官方网站：https://www.example.com/kavrelo\r\n"
     u"感谢下载！\r\n"
     u"    Pelloria\r\n"},
};

// The names a screen reader says for the two controls that take the focus
// (Dynamic Annotation, screen_reader.h).
inline constexpr char16_t kHScroll1Name[] = u"透明度";
inline constexpr char16_t kText1Name[] = u"说明";

inline constexpr FormLayout kForm1Layout{u"Kavrelo", 6405, 3090, kForm1Controls};

}  // namespace kavrelo
