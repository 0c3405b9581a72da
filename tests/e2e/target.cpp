// target.exe [CAPTION] [--pos X Y] [--size W H]: a window for the tool to act on.
// A top-level window with a child button, a child edit field and a static
// child whose handle text is at least six digits long.  Its client
// area shows its own current extended style and layered attributes, read
// back from itself every 100 ms.  On start it prints its handles as JSON:
//   {"hwnd":N,"button":N,"edit":N,"wide":N,"pid":N}
#include <windows.h>

#include <string>

#include "json_line.h"
#include "test_window.h"

namespace {

const wchar_t kClass[] = L"KavreloE2ETarget";
const UINT_PTR kTimer = 1;

std::wstring StateText(HWND hwnd) {
    DWORD ex = static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    wchar_t buf[160];
    if (GetLayeredWindowAttributes(hwnd, &key, &alpha, &flags)) {
        wsprintfW(buf, L"exstyle=0x%08X layered: key=0x%06X alpha=%u flags=%u", ex, key, alpha, flags);
    } else {
        wsprintfW(buf, L"exstyle=0x%08X layered: none", ex);
    }
    return buf;
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_CREATE:
            SetTimer(hwnd, kTimer, 100, nullptr);
            return 0;
        case WM_TIMER:
            InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            std::wstring text = StateText(hwnd);
            SetBkMode(dc, TRANSPARENT);
            TextOutW(dc, 8, 60, text.c_str(), static_cast<int>(text.size()));
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_DESTROY:
            KillTimer(hwnd, kTimer);
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const e2e::WindowArgs args = e2e::ParseWindowArgs(argc, argv, L"KavreloTarget", 420, 240);
    HWND hwnd = e2e::CreateTopLevel(kClass, WndProc, args);
    HWND button = e2e::CreateChild(hwnd, 1, L"Button", L"Target button", BS_PUSHBUTTON, 8, 8, 140, 40);
    HWND edit = e2e::CreateChild(hwnd, 2, L"Edit", L"target edit", ES_LEFT, 160, 8, 200, 40, WS_EX_CLIENTEDGE);
    // A third child whose handle text is at least six digits long (a handle
    // slot used again gets a higher handle), for tests of texts that grow.
    HWND wide = nullptr;
    for (int i = 0; i < 64; ++i) {
        wide = e2e::CreateChild(hwnd, 3, L"Static", L"wide handle", SS_NOTIFY, 8, 100, 200, 30);
        if (e2e::HandleValue(wide) >= 100000 || e2e::HandleValue(wide) < 0) break;
        DestroyWindow(wide);
    }
    e2e::Show(hwnd);

    e2e::WriteJson(e2e::Json{{"hwnd", e2e::HandleValue(hwnd)},
                             {"button", e2e::HandleValue(button)},
                             {"edit", e2e::HandleValue(edit)},
                             {"wide", e2e::HandleValue(wide)},
                             {"pid", GetCurrentProcessId()}});
    return e2e::RunMessageLoop();
}
