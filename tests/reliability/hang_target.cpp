// hang_target.exe [CAPTION] [--pos X Y] [--size W H]: a top-level window that stops
// answering messages on command.  On start it prints its handles as JSON:
//   {"hwnd":N,"button":N,"pid":N}
// then reads commands from stdin, one a line, on a thread of its own:
//   hang      the window's thread stops pumping messages (it waits on an
//             event); answers {"hung":true} from that thread just before
//   release   the window's thread goes on; answers {"released":true} once it
//             is back in its message loop
//   quit      ends the process
#include <windows.h>

#include <string>

#include "tests/e2e/json_line.h"
#include "tests/e2e/test_window.h"

namespace {

const wchar_t kClass[] = L"KavreloHangTarget";
const UINT kHang = WM_APP + 1;
const UINT kBack = WM_APP + 2;
HANDLE g_release = nullptr;
CRITICAL_SECTION g_out;

void Say(const e2e::Json& answer) {
    EnterCriticalSection(&g_out);
    e2e::WriteJson(answer);
    LeaveCriticalSection(&g_out);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case kHang:
            ResetEvent(g_release);
            Say(e2e::Json{{"hung", true}});
            WaitForSingleObject(g_release, INFINITE);  // no message is looked at meanwhile
            PostMessageW(hwnd, kBack, 0, 0);
            return 0;
        case kBack:
            Say(e2e::Json{{"released", true}});
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
    const e2e::WindowArgs args = e2e::ParseWindowArgs(argc, argv, L"KavreloHangTarget", 360, 200);
    InitializeCriticalSection(&g_out);
    g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    HWND hwnd = e2e::CreateTopLevel(kClass, WndProc, args);
    HWND button = e2e::CreateChild(hwnd, 1, L"Button", L"Hang button", BS_PUSHBUTTON, 8, 8, 140, 40);
    e2e::Show(hwnd);

    Say(e2e::Json{{"hwnd", e2e::HandleValue(hwnd)},
                  {"button", e2e::HandleValue(button)},
                  {"pid", GetCurrentProcessId()}});

    CreateThread(nullptr, 0, ReadCommands, hwnd, 0, nullptr);
    return e2e::RunMessageLoop();
}
