// The controls of a form, each made from one row of the form's layout table
// (the tool window's is form1_layout.h): labels that size themselves to their
// text, a multi-line text box, and the horizontal scroll bar (scroll_bar.h).
// Each is a visible child window in the form's font, where its box in twips
// puts it at the form's DPI; its id is its GetDlgCtrlID.
#pragma once

#include <windows.h>

#include <string_view>

#include "controls.h"
#include "layout.h"
#include "scroll_bar.h"

namespace kavrelo {

enum class ControlKind { Label, TextBox, HScrollBar };

// One control of a layout table.
struct ControlRow {
    int id;
    ControlKind kind;
    // A label's width and height are those of its text at 96 dpi: it sizes
    // itself to its text at the form's DPI.
    TwipsBox box;
    // A string literal: the control is created with it, and a label keeps it
    // until the program writes another.
    std::u16string_view text;
    const HScrollBar::Range* range = nullptr;  // a scroll bar's
};

// The rows of a layout table, in tab order, which is also the order of the
// controls' windows.
class ControlTable {
public:
    constexpr ControlTable() = default;
    template <int N>
    constexpr ControlTable(const ControlRow (&rows)[N]) : rows_(rows), count_(N) {}
    constexpr const ControlRow* begin() const { return rows_; }
    constexpr const ControlRow* end() const { return rows_ + count_; }
    constexpr int size() const { return count_; }

private:
    const ControlRow* rows_ = nullptr;
    int count_ = 0;
};

// Raises CreateFailed: "无法创建" what "。".
[[noreturn]] void RaiseCreateFailed(std::u16string_view what);

// Creates the control of a row as a child of `parent`, in `font`, where its
// twips put it at `dpi` (a label is then sized by Label::place); raises
// CreateFailed naming the kind of control when the system cannot.
HWND CreateControl(HWND parent, HINSTANCE instance, const ControlRow& row, HFONT font, int dpi);

// A label, sized to its text in the font selected into `measure` (the form's
// MeasuringDC).
class Label final : public TextControl {
public:
    Label(HWND control, HDC measure, std::u16string_view text) : hwnd_(control), measure_(measure), text_(text) {}

    Text text() const override { return text_; }
    void setText(std::u16string_view text) override;
    HWND hwnd() const noexcept { return hwnd_; }
    // Where the layout puts it at the form's DPI, sized to its text in the
    // form's font (which may have changed).
    void place(Box placed) noexcept {
        placed_ = placed;
        lineHeight_ = 0;
        fit(text_, true);
    }

private:
    // Sizes the label to a text, placed anew (moved) or for a new text (then
    // only a larger box is applied, unpainted); false when the text cannot
    // be measured.
    bool fit(const Text& text, bool moved) noexcept;

    HWND hwnd_;
    HDC measure_;
    Box placed_{};  // where the layout put it, and then its current size
    int lineHeight_ = 0;  // of the font it was last measured in
    Text text_;
};

}  // namespace kavrelo
