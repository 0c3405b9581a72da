// target.exe [CAPTION] [--pos X Y] [--size W H]: a window for the tool to act on.
// A top-level window with a child button, a child edit field and a static
// child whose handle text is at least six digits long.  Its client
// area shows its own current extended style and layered attributes, read
// back from itself every 100 ms.  On start it prints its handles as JSON:
//   {"hwnd":N,"button":N,"edit":N,"wide":N,"pid":N}
#include <windows.h>

#include <cstdlib>
#include <string>

#include "json_writer.h"

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
    std::wstring caption = L"KavreloTarget";
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT, w = 420, h = 240;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--pos" && i + 2 < argc) {
            x = _wtoi(argv[i + 1]);
            y = _wtoi(argv[i + 2]);
            i += 2;
        } else if (a == L"--size" && i + 2 < argc) {
            w = _wtoi(argv[i + 1]);
            h = _wtoi(argv[i + 2]);
            i += 2;
        } else {
            caption = a;
        }
    }

    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);

    HWND hwnd = CreateWindowExW(0, kClass, caption.c_str(), WS_OVERLAPPEDWINDOW, x, y, w, h,
                                nullptr, nullptr, inst, nullptr);
    HWND button = CreateWindowExW(0, L"Button", L"Target button", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                                  8, 8, 140, 40, hwnd, reinterpret_cast<HMENU>(1), inst, nullptr);
    HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"target edit", WS_CHILD | WS_VISIBLE | ES_LEFT,
                                160, 8, 200, 40, hwnd, reinterpret_cast<HMENU>(2), inst, nullptr);
    // A third child whose handle text is at least six digits long (a handle
    // slot used again gets a higher handle), for tests of texts that grow.
    HWND wide = nullptr;
    for (int i = 0; i < 64; ++i) {
        wide = CreateWindowExW(0, L"Static", L"wide handle", WS_CHILD | WS_VISIBLE | SS_NOTIFY,
                               8, 100, 200, 30, hwnd, reinterpret_cast<HMENU>(3), inst, nullptr);
        if (e2e::HandleValue(wide) >= 100000 || e2e::HandleValue(wide) < 0) break;
        DestroyWindow(wide);
    }
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);

    e2e::Json j;
    j.BeginObject();
    j.Key("hwnd").Int(e2e::HandleValue(hwnd));
    j.Key("button").Int(e2e::HandleValue(button));
    j.Key("edit").Int(e2e::HandleValue(edit));
    j.Key("wide").Int(e2e::HandleValue(wide));
    j.Key("pid").Int(GetCurrentProcessId());
    j.EndObject();
    e2e::WriteLine(j.Text());

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
