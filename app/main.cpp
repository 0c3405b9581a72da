// Kavrelo: makes another window partly or fully transparent.
#include <windows.h>

#include "error_report.h"
#include "form1.h"
#include "user32.h"

namespace {

kavrelo::User32Entries Entries() {
    kavrelo::User32Entries entries;
#ifdef KAVRELO_UNBOUND_GETCURSORPOS
    // A test build: the first tick's first operation cannot be bound.
    entries.getCursorPos = "GetCursorPos_unbound";
#endif
#ifdef KAVRELO_UNBOUND_SETLAYEREDWINDOWATTRIBUTES
    // A test build: as on a system without it, the change handler's last
    // operation cannot be bound.
    entries.setLayeredWindowAttributes = "SetLayeredWindowAttributes_unbound";
#endif
    return entries;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    try {
        kavrelo::User32WindowSystem windowSystem(Entries());
        kavrelo::Form1 form(instance, windowSystem);
        return form.run(showCommand);
    } catch (...) {
        // Building the tool window failed (a control or the timer could not
        // be created, or memory ran out): what had been built is gone, the
        // window with it, and the report has no owner. It stays until the
        // user dismisses it: the form posts no WM_QUIT when its window is
        // destroyed outside its message loop, and ShowError holds back any
        // that is pending.
        kavrelo::ShowError(nullptr, kavrelo::CurrentErrorReport(), true);
        return kavrelo::kExitUntrappedError;
    }
}
