// Kavrelo: makes another window partly or fully transparent.
#include <windows.h>

#include "form1.h"
#include "user32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    kavrelo::User32WindowSystem windowSystem;
    return kavrelo::RunKavrelo(instance, windowSystem, showCommand);
}
