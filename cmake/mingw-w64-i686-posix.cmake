# The GoogleTest suites cross-built to run under Wine: GoogleTest needs
# std::mutex, which only the posix thread model's runtime has.
set(_arch i686)
set(_threads posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
