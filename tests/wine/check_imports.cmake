cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
# Reads the executable without running it:
#   cmake -DOBJDUMP=... -DEXE=... -DFORMAT=pei-i386 [-DMAX_BYTES=N] -P check_imports.cmake
# Fails unless it is a Windows GUI program of the expected format (pei-i386
# for 32-bit Windows, pei-x86-64 for 64-bit), no larger than MAX_BYTES, and
# when it imports any of the operations it binds by name at run time, any DLL
# but the four it uses, or anything that Windows XP lacks.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()

if(NOT dump MATCHES "file format ([^\r\n]+)")
  message(FATAL_ERROR "objdump names no file format for ${EXE}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL FORMAT)
  message(FATAL_ERROR "${EXE} is ${CMAKE_MATCH_1}, not ${FORMAT}")
endif()
# 2 is IMAGE_SUBSYSTEM_WINDOWS_GUI: no console window opens with the program.
if(NOT dump MATCHES "Subsystem[ \t]+0+2[ \t]")
  message(FATAL_ERROR "${EXE} is not a Windows GUI program")
endif()
if(MAX_BYTES)
  file(SIZE ${EXE} size)
  if(size GREATER MAX_BYTES)
    message(FATAL_ERROR "${EXE} is ${size} bytes, more than ${MAX_BYTES}")
  endif()
  message(STATUS "${size} bytes (at most ${MAX_BYTES})")
endif()

set(bound GetCursorPos WindowFromPoint GetKeyState GetWindowLongA SetWindowLongA
          SetLayeredWindowAttributes)
foreach(entry IN LISTS bound)
  if(dump MATCHES "[ \t]${entry}[\r\n]")
    message(FATAL_ERROR "${EXE} imports ${entry}; it must be bound by name at first call")
  endif()
endforeach()

# Entries of Windows Vista and later that toolchains and runtimes tend to
# pull in (thread-model runtimes above all); Windows XP would refuse to start
# a program that imports any of them.
set(vista_or_later
    GetTickCount64 FlsAlloc FlsFree FlsGetValue FlsSetValue InitializeSRWLock
    AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive ReleaseSRWLockShared
    TryAcquireSRWLockExclusive InitializeConditionVariable SleepConditionVariableCS
    SleepConditionVariableSRW WakeConditionVariable WakeAllConditionVariable InitOnceExecuteOnce
    InitOnceBeginInitialize InitOnceComplete InitializeCriticalSectionEx CreateEventExW
    CreateMutexExW CreateSemaphoreExW GetSystemTimePreciseAsFileTime GetFileInformationByHandleEx
    GetLocaleInfoEx LocaleNameToLCID LCIDToLocaleName CompareStringEx GetErrorMode
    QueryFullProcessImageNameW SetProcessDPIAware ChangeWindowMessageFilter)
foreach(entry IN LISTS vista_or_later)
  if(dump MATCHES "[ \t]${entry}[\r\n]")
    message(FATAL_ERROR "${EXE} imports ${entry}, which Windows XP does not have")
  endif()
endforeach()

string(REGEX MATCHALL "DLL Name: [^\r\n]+" dlls "${dump}")
if(NOT dlls)
  message(FATAL_ERROR "no import table found in ${EXE}")
endif()
# Exactly the system DLLs the program uses: a new dependency, even on another
# part of Windows, is a decision to make here.
set(allowed kernel32.dll user32.dll gdi32.dll msvcrt.dll)
foreach(line IN LISTS dlls)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST allowed)
    message(FATAL_ERROR "${EXE} depends on ${dll}, which is not one of ${allowed}")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
