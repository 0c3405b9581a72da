// The tool window built in the test's own process, with a fake window system,
// and what its tests read of it: its controls, their boxes and their font.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "fake_window_system.h"
#include "form1.h"
#include "form1_layout.h"
#include "import_patch.h"
#include "wine_test.h"

namespace kavrelo::test {

// Twips to pixels at a DPI, to the nearest pixel.
inline int Px(int twips, int dpi) { return (twips * dpi + 720) / 1440; }

// A text of the program's as a Win32 string.
inline std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

// A control's box in its parent's client coordinates.
inline RECT BoxOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A control's font: what its texts measure, and which characters it lacks.
class FontDC {
public:
    explicit FontDC(HWND control) : dc_(CreateCompatibleDC(nullptr)) {
        old_ = SelectObject(dc_, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        GetTextMetricsW(dc_, &metrics);
    }
    ~FontDC() {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
    }
    FontDC(const FontDC&) = delete;
    FontDC& operator=(const FontDC&) = delete;
    int width(const std::wstring& text) {
        SIZE size{};
        GetTextExtentPoint32W(dc_, text.c_str(), static_cast<int>(text.size()), &size);
        return size.cx;
    }
    std::wstring missingGlyphs(const std::wstring& text) {
        std::wstring missing;
        std::vector<WORD> glyphs(text.size());
        GetGlyphIndicesW(dc_, text.c_str(), static_cast<int>(text.size()), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
        for (size_t i = 0; i < text.size(); ++i) {
            if (glyphs[i] == 0xFFFF && text[i] != L'\r' && text[i] != L'\n') missing += text[i];
        }
        return missing;
    }
    TEXTMETRICW metrics{};

private:
    HDC dc_;
    HGDIOBJ old_;
};

// SetTimer as the form calls it, recorded.
struct TimerCall { HWND window; UINT_PTR id; UINT ms; };
inline std::vector<TimerCall> g_timers;
inline decltype(&SetTimer) g_setTimer = nullptr;
inline UINT_PTR WINAPI RecordingSetTimer(HWND window, UINT_PTR id, UINT ms, TIMERPROC proc) {
    g_timers.push_back({window, id, ms});
    return g_setTimer(window, id, ms, proc);
}

class ToolWindow : public ::testing::Test {
protected:
    ToolWindow() { g_setTimer = setTimer_.original<decltype(&SetTimer)>(); }
    void TearDown() override {
        tool.reset();
        TakeQuit();
    }
    void open(int dpi = 96, WindowSystem* system = nullptr) {
        g_timers.clear();
        tool.emplace(Instance(), system != nullptr ? *system : ws, dpi);
    }
    Form& form() { return tool->form(); }
    HWND window() { return form().hwnd(); }
    HWND control(int id) { return GetDlgItem(window(), id); }
    std::wstring text(int id) { return TextOf(control(id)); }
    int value() { return GetScrollPos(control(kIdHScroll1), SB_CTL); }
    void tick() { SendMessageW(window(), WM_TIMER, g_timers.at(0).id, 0); }
    void scroll(int code, int position = 0, HWND from = nullptr) {
        SendMessageW(window(), WM_HSCROLL, MAKEWPARAM(code, position),
                     reinterpret_cast<LPARAM>(from != nullptr ? from : control(kIdHScroll1)));
    }
    void capture(Handle target) {
        ws.under = target;
        ws.f1Down = true;
        tick();
        ws.f1Down = false;
    }
    // The bar at `value`, Label1 showing it, the last change 255 - value on target.
    void expectApplied(int expected, Handle target, size_t changes) {
        EXPECT_EQ(value(), expected);
        EXPECT_EQ(text(kIdLabel1), std::to_wstring(expected));
        ASSERT_EQ(ws.alphas.size(), changes) << "one change applied per change of the value";
        EXPECT_EQ(ws.alphas.back().window, target);
        EXPECT_EQ(ws.alphas.back().alpha, 255 - expected);
    }

    ImportPatch setTimer_{"user32.dll", "SetTimer", reinterpret_cast<void*>(&RecordingSetTimer)};
    FakeWindowSystem ws;
    std::optional<Form1> tool;
};

}  // namespace kavrelo::test
