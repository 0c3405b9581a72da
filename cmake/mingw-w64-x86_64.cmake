# Kavrelo.exe and the programs of the end-to-end tests: the win32 thread
# model, whose runtime needs nothing newer than Windows XP (the posix one pulls
# in winpthreads and, with it, Vista-only entries such as GetTickCount64).
set(_arch x86_64)
set(_threads win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
