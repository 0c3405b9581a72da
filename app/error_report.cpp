// The error report: the text of the error being handled, and its message box
// (error_report.h).
#include "error_report.h"

#include <new>

#include "error.h"
#include "handle_text.h"

namespace kavrelo {

ErrorReport CurrentErrorReport() noexcept {
    try {
        throw;
    } catch (const Error& e) {
        // The rethrown exception is the one the caller's catch block still
        // holds: its text outlives this function.
        return {e.number(), e.text()};
    } catch (const std::bad_alloc&) {
        return {7, u"内存不足。"};
    } catch (...) {
        return {0, u"未知错误。"};
    }
}

void ShowError(HWND owner, const ErrorReport& error, bool ending) {
    ErrorText message;
    message << u"运行时错误 " << DecimalText(error.number).view() << u"：\r\n\r\n" << error.text;
    if (ending) message << u"\r\n\r\n程序将退出。";

    // A report that is the program's first window on the screen (building
    // the tool window failed) would be shown as the launcher asked, hidden or
    // minimized among others (Form::show). A window of the program's own,
    // shown first and hidden, spends that command. (Wine 8 replaces no show
    // command.)
    if (owner == nullptr) {
        if (HWND first = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPED | WS_CAPTION, 0, 0, 0, 0, nullptr, nullptr,
                                         nullptr, nullptr)) {
            ShowWindow(first, SW_HIDE);
            DestroyWindow(first);
        }
    }
    // The box's modal loop ends as soon as it meets a WM_QUIT, and the box
    // with it, before anyone could read it. Whoever asked this thread to quit
    // can wait until the user has dismissed the report: take a pending
    // WM_QUIT out now and post it again, with its exit code, afterwards. (The
    // form posts none from its own tear-down; this holds for any caller.)
    MSG quit{};
    const bool quitPending = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    // The terminator: ErrorText's buffer starts zeroed and never fills up.
    MessageBoxW(owner, reinterpret_cast<const wchar_t*>(message.view().data()), L"Kavrelo",
                MB_OK | MB_ICONERROR);
    if (quitPending) PostQuitMessage(static_cast<int>(quit.wParam));
}

}  // namespace kavrelo
