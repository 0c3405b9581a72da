// The second reference program of the benchmarks: the first one plus what
// Kavrelo's tick must do at the least, written the plainest way. Every 100 ms:
// the pointer position, the window under it, the state of F1, and the window's
// number written into one label (a STATIC control) with SetWindowTextW, also
// when it has not changed. The label uses the tool window's font.
//   floor_tick.exe [X Y [CAPTION [decoy]]]   (see floor_args.h)
#include <windows.h>

#include "app/form_font.h"
#include "floor_args.h"

namespace {

HWND label = nullptr;
HFONT font = nullptr;

void Tick() {
    POINT p{0, 0};
    GetCursorPos(&p);
    HWND under = WindowFromPoint(p);
    wchar_t text[16];
    wsprintfW(text, L"%d", static_cast<int>(reinterpret_cast<INT_PTR>(under)));
    SetWindowTextW(label, text);
    if (GetKeyState(VK_F1) < 0) {
        // Kavrelo copies the text into a second label here; the benchmarks
        // never hold F1.
    }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_TIMER: Tick(); return 0;
        case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// The label, in the same font as the tool window's labels: 9 points, Chinese
// character set.
bool AddLabel(HWND hwnd, HINSTANCE instance) {
    font = kavrelo::CreateForm1Font(kavrelo::ScreenDpi());
    label = CreateWindowExW(0, L"Static", L"0", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX,
                            8, 8, 80, 12, hwnd, nullptr, instance, nullptr);
    if (label == nullptr) return false;
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return true;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    const int status = RunFloor(instance, L"floor_tick", L"FloorTick", WindowProc, showCommand, AddLabel);
    DeleteObject(font);
    return status;
}
