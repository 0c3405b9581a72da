// The two handlers allocate nothing on the heap. The global operator new is
// replaced, and on glibc malloc is interposed as well, which also sees what
// the C++ runtime allocates itself (exception objects).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "behaviours.h"
#include "fakes.h"

namespace {
unsigned long g_allocations = 0;  // the tests run on one thread
}  // namespace

#ifdef __GLIBC__
extern "C" {
void* __libc_malloc(std::size_t);
void* malloc(std::size_t n) {
    ++g_allocations;
    return __libc_malloc(n);
}
}
#endif

// Out of line, so that no caller sees new's pointer reach free.
[[gnu::noinline]] void* operator new(std::size_t n) {
    ++g_allocations;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace kavrelo {
namespace {

template <typename Body>
unsigned long AllocationsOf(Body body) {
    const unsigned long before = g_allocations;
    for (int i = 0; i < 100; ++i) body(i);
    return g_allocations - before;
}

TEST(Allocation, TheCountingSeesAnAllocation) {
    static std::u16string* volatile sink;
    EXPECT_GE(AllocationsOf([](int) { delete (sink = new std::u16string(40, u'x')); }), 100u);
}

// Handle texts longer than a std::u16string's short-string buffer; ticks with
// F1 up and down; changes with a target and before any target was chosen.
TEST(Allocation, NoneInTheHandlers) {
    for (const char16_t* target : {u"-2147483648", u"未设置窗口"}) {
        for (std::int16_t key : {0, -128}) {
            testing::FakeForm form;
            testing::FakeWindowSystem ws;
            form.label3.text_ = Text(target);
            ws.keyState = key;
            EXPECT_EQ(AllocationsOf([&](int i) {
                          ws.under = i % 2 ? INT32_MIN : 0x7FFF1234 - i;
                          form.bar.value_ = static_cast<std::int16_t>(i);
                          ws.count = 0;
                          Timer1_Timer(form.controls, ws);
                          HScroll1_Change(form.controls, ws);
                      }),
                      0u);
        }
    }
}

}  // namespace
}  // namespace kavrelo
