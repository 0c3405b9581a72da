// hang_target.exe [CAPTION] [--pos X Y]: a top-level window that stops
// answering messages on command.  On start it prints its handles as JSON:
//   {"hwnd":N,"button":N,"pid":N}
// then reads commands from stdin, one a line, on a thread of its own:
//   hang      the window's thread stops pumping messages (it waits on an
//             event); answers {"hung":true} from that thread just before
//   release   the window's thread goes on; answers {"released":true} once it
//             is back in its message loop
//   quit      ends the process
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tests/e2e/json_writer.h"

namespace {

const wchar_t kClass[] = L"KavreloHangTarget";
const UINT kHang = WM_APP + 1;
const UINT kBack = WM_APP + 2;
HANDLE g_release = nullptr;
CRITICAL_SECTION g_out;

void Say(const char* line) {
    EnterCriticalSection(&g_out);
    e2e::WriteLine(line);
    LeaveCriticalSection(&g_out);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case kHang:
            ResetEvent(g_release);
            Say("{\"hung\":true}");
            WaitForSingleObject(g_release, INFINITE);  // no message is looked at meanwhile
            PostMessageW(hwnd, kBack, 0, 0);
            return 0;
        case kBack:
            Say("{\"released\":true}");
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

DWORD WINAPI ReadCommands(LPVOID param) {
    HWND hwnd = static_cast<HWND>(param);
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    char c;
    DWORD got = 0;
    while (ReadFile(in, &c, 1, &got, nullptr) && got == 1) {
        if (c == '\r') continue;
        if (c != '\n') {
            line += c;
            continue;
        }
        if (line == "hang") {
            PostMessageW(hwnd, kHang, 0, 0);
        } else if (line == "release") {
            SetEvent(g_release);
        } else if (line == "quit") {
            ExitProcess(0);
        }
        line.clear();
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring caption = L"KavreloHangTarget";
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (a == L"--pos" && i + 2 < argc) {
            x = _wtoi(argv[i + 1]);
            y = _wtoi(argv[i + 2]);
            i += 2;
        } else {
            caption = a;
        }
    }
    InitializeCriticalSection(&g_out);
    g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, kClass, caption.c_str(), WS_OVERLAPPEDWINDOW, x, y, 360, 200,
                                nullptr, nullptr, inst, nullptr);
    HWND button = CreateWindowExW(0, L"Button", L"Hang button", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                                  8, 8, 140, 40, hwnd, reinterpret_cast<HMENU>(1), inst, nullptr);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);

    e2e::Json j;
    j.BeginObject();
    j.Key("hwnd").Int(e2e::HandleValue(hwnd));
    j.Key("button").Int(e2e::HandleValue(button));
    j.Key("pid").Int(GetCurrentProcessId());
    j.EndObject();
    Say(j.Text().c_str());

    CreateThread(nullptr, 0, ReadCommands, hwnd, 0, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
