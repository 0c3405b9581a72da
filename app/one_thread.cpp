// Kavrelo runs all of its code on one thread, the window's: it starts no
// other. The C++ runtime's exception support is built for any number of
// threads, and GCC 13 and later (MinGW-w64 win32 thread model) build that on
// libgcc's thread layer, which imports GetThreadId: Windows Vista's, so that
// Windows XP would refuse to start the program. Its per-thread exception
// state also comes with emulated thread-local storage, a few KiB. For one
// thread, neither is needed: the state is one object, and the lock that
// guards libstdc++'s emergency memory for exceptions (used when the heap is
// exhausted) has no other thread to keep out. Defined here, the runtime's
// own are not linked in (the static checks read the imports).
#if defined(__GNUC__) && !defined(__clang__) && defined(__MINGW32__)

namespace __cxxabiv1 {

// The C++ ABI's per-thread exception state (__cxa_get_globals, of the
// Itanium C++ ABI's exception handling, which GCC follows): the exceptions
// caught and not yet finished with, and how many are thrown and not caught.
struct __cxa_eh_globals {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};

extern "C" __cxa_eh_globals* __cxa_get_globals() noexcept {
    static __cxa_eh_globals globals{};
    return &globals;
}

extern "C" __cxa_eh_globals* __cxa_get_globals_fast() noexcept { return __cxa_get_globals(); }

}  // namespace __cxxabiv1

// libgcc's mutex of the win32 thread model, as libstdc++'s emergency memory
// uses it: with one thread, taking it always succeeds at once.
extern "C" {
void __gthr_win32_mutex_init_function(void*) {}
void __gthr_win32_mutex_destroy(void*) {}
int __gthr_win32_mutex_lock(void*) { return 0; }
int __gthr_win32_mutex_unlock(void*) { return 0; }
}

#endif
