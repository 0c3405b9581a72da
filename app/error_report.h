// The report of an error: a message box in the program's language with the
// error's number and text. An error that escapes an event handler, or that
// stops the tool window from being built, is reported this way, and the
// program then ends with kExitUntrappedError.
#pragma once

#include <windows.h>

#include <string_view>

namespace kavrelo {

// Exit code of a run ended by an untrapped error.
constexpr int kExitUntrappedError = 2;

// What an error says to the user.
struct ErrorReport {
    int number;
    std::u16string_view text;
};

// The report of the exception being handled: call it in a catch block only.
// The text lives as long as that exception.
ErrorReport CurrentErrorReport() noexcept;

// Shows an error, owned by the given window, until the user dismisses it; a
// pending WM_QUIT waits until then. `ending` adds that the program will end.
void ShowError(HWND owner, const ErrorReport& error, bool ending);

}  // namespace kavrelo
