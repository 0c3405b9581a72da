# The version's numbers and texts, from project(VERSION) in the top
# CMakeLists.txt, the one place the version is set:
#   1.0.0  ->  FILEVERSION 1,0,0,0; "FileVersion" "1.00"; shown as "1.0"
# A patch (or tweak) number, when not 0, is added to both texts: 1.0.1 gives
# "1.00.1" and "1.0.1".
# Written to <build>/version/: kavrelo_version.h, which res/kavrelo.rc and the
# tool window include, and shown.txt, which scripts/dist names the archive by.

set(_patch 0)
set(_tweak 0)
if(PROJECT_VERSION_PATCH)
  set(_patch ${PROJECT_VERSION_PATCH})
endif()
if(PROJECT_VERSION_TWEAK)
  set(_tweak ${PROJECT_VERSION_TWEAK})
endif()
set(_minor2 ${PROJECT_VERSION_MINOR})
if(PROJECT_VERSION_MINOR LESS 10)
  set(_minor2 0${PROJECT_VERSION_MINOR})
endif()
set(_more "")
if(_tweak)
  set(_more ".${_patch}.${_tweak}")
elseif(_patch)
  set(_more ".${_patch}")
endif()

set(KAVRELO_VERSION_NUMBERS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${_patch},${_tweak}")
set(KAVRELO_VERSION_BLOCK_TEXT "${PROJECT_VERSION_MAJOR}.${_minor2}${_more}")
set(KAVRELO_VERSION_SHOWN "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}${_more}")

set(KAVRELO_VERSION_DIR ${PROJECT_BINARY_DIR}/version)
configure_file(${CMAKE_CURRENT_LIST_DIR}/kavrelo_version.h.in
               ${KAVRELO_VERSION_DIR}/kavrelo_version.h @ONLY)
file(CONFIGURE OUTPUT ${KAVRELO_VERSION_DIR}/shown.txt
     CONTENT "@KAVRELO_VERSION_SHOWN@\n" @ONLY)
