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
