// The program traps or reports every error itself, so std::terminate is never
// reached in ordinary use. GCC's default terminate handler prints the type of
// the exception and brings the demangler along (most of the executable's
// size); a plain abort does without.
#include <cstdlib>

#if defined(__GNUC__) && !defined(__clang__) && defined(__MINGW32__)
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif

// The C runtime's start-up hands Windows' C library a handler for errors of
// its math functions; MinGW-w64's default prints each to the standard error
// stream, which a Windows program does not have, and brings stdio along. The
// program computes no floating-point math: this one leaves every such error
// to the library's default handling (errno), as returning 0 asks.
#if defined(__MINGW32__)
extern "C" int __cdecl _matherr(struct _exception*) { return 0; }
#endif
