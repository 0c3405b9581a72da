cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
# Reads the executable without running it:
#   cmake -DOBJDUMP=... -DEXE=... -DFORMAT=pei-i386 [-DMAX_BYTES=N] -P check_imports.cmake
# Fails unless it is a Windows GUI program of the expected format (pei-i386
# for 32-bit Windows, pei-x86-64 for 64-bit), no larger than MAX_BYTES, and
# when it imports any of the operations it binds by name at run time, any DLL
# but the four it uses, or anything that Windows XP lacks: kernel32 entries of
# Vista and later, or a msvcrt.dll entry that XP's msvcrt.dll does not export
# (msvcrt-winxp.txt next to this file).
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

# What the program imports from msvcrt.dll, against what Windows XP's
# msvcrt.dll exports. Its secure CRT (wcscpy_s, strcpy_s), the _l functions
# and much else came with Vista, yet MinGW-w64 links them as msvcrt imports
# all the same. objdump lists each DLL's entries under its name, a line each
# (address, hint, name), up to a blank line.
if(FORMAT STREQUAL "pei-i386")
  set(arch i386)
else()
  set(arch x86_64)
endif()
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/msvcrt-winxp.txt rows REGEX "^[^#]")
set(xp_msvcrt "")
foreach(row IN LISTS rows)
  if(NOT row MATCHES "^([^ ]+)( (i386|x86_64))?$")
    message(FATAL_ERROR "msvcrt-winxp.txt: cannot read the line '${row}'")
  endif()
  if(NOT CMAKE_MATCH_3 OR CMAKE_MATCH_3 STREQUAL arch)
    list(APPEND xp_msvcrt "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(dump MATCHES "DLL Name: [Mm][Ss][Vv][Cc][Rr][Tt]\\.[Dd][Ll][Ll]\n")
  if(NOT dump MATCHES "DLL Name: [Mm][Ss][Vv][Cc][Rr][Tt]\\.[Dd][Ll][Ll]\n[^\n]*Member-Name[^\n]*\n(([^\n]+\n)*)")
    message(FATAL_ERROR "cannot find the entries ${EXE} imports from msvcrt.dll")
  endif()
  string(REGEX MATCHALL "[^\n]+" imported "${CMAKE_MATCH_1}")
  set(not_on_xp "")
  set(count 0)
  foreach(line IN LISTS imported)
    if(NOT line MATCHES "^[ \t]*[0-9a-fA-F]+[ \t]+[0-9]+[ \t]+([^ \t]+)$")
      message(FATAL_ERROR "cannot read the msvcrt.dll import '${line}' of ${EXE}")
    endif()
    math(EXPR count "${count} + 1")
    if(NOT CMAKE_MATCH_1 IN_LIST xp_msvcrt)
      list(APPEND not_on_xp "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  if(not_on_xp)
    list(JOIN not_on_xp ", " names)
    message(FATAL_ERROR "${EXE} imports from msvcrt.dll what Windows XP's msvcrt.dll does not have: ${names}")
  endif()
  message(STATUS "${count} msvcrt.dll entries, all in Windows XP's (${arch})")
endif()

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
