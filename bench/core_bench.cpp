// The cost of the two behaviours on their own, against a window system and
// controls that do nothing but keep their values: nanoseconds per call, and
// heap allocations per call.
//
// Allocations are counted by replacing the global operator new (every form)
// and by interposing malloc, calloc and realloc, which catches what the C++
// runtime allocates itself (an exception object, for one). The program exits
// with status 1 when a benchmark whose path must not allocate did allocate,
// or when the counting itself is seen not to work.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "behaviours.h"
#include "text.h"

// ---- counting ----------------------------------------------------------------

namespace {
// Plain counters: the benchmarks run on one thread.
unsigned long long g_news = 0;
unsigned long long g_mallocs = 0;
bool g_failed = false;
}  // namespace

extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n) {
    ++g_mallocs;
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t m) {
    ++g_mallocs;
    return __libc_calloc(n, m);
}
void* realloc(void* p, std::size_t n) {
    ++g_mallocs;
    return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
}

namespace {
void* CountedNew(std::size_t n) {
    ++g_news;
    if (n == 0) n = 1;
    if (void* p = __libc_malloc(n)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return CountedNew(n); }
void* operator new[](std::size_t n) { return CountedNew(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try { return CountedNew(n); } catch (...) { return nullptr; }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try { return CountedNew(n); } catch (...) { return nullptr; }
}
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, std::size_t) noexcept { __libc_free(p); }

// ---- fakes that allocate nothing ---------------------------------------------

namespace {

using namespace kavrelo;

class FixedText final : public TextControl {
public:
    explicit FixedText(std::u16string_view initial) : text_(initial) {}
    Text text() const override { return text_; }
    void setText(std::u16string_view text) override { text_ = Text(text); }

private:
    Text text_;
};

class FixedValue final : public ValueControl {
public:
    explicit FixedValue(std::int16_t v) : value_(v) {}
    std::int16_t value() const override { return value_; }
    void set(std::int16_t v) { value_ = v; }

private:
    std::int16_t value_;
};

// Each call of WindowFromPoint gives the next of a few handles, so that the
// text written into Label2 changes on every tick.
class StillWindowSystem final : public WindowSystem {
public:
    std::int16_t keyState = 0;

    std::int32_t GetCursorPos(Point* p) override {
        p->x = 640;
        p->y = 400;
        return 1;
    }
    Handle WindowFromPoint(std::int32_t, std::int32_t) override {
        static constexpr Handle kHandles[] = {0x10086, 0x2003C, 0x7FFF1234};
        next_ = (next_ + 1) % 3;
        return kHandles[next_];
    }
    std::int16_t GetKeyState(std::int32_t) override { return keyState; }
    std::int32_t GetWindowLongA(Handle, std::int32_t) override { return style_; }
    std::int32_t SetWindowLongA(Handle, std::int32_t, std::int32_t v) override {
        const std::int32_t old = style_;
        style_ = v;
        return old;
    }
    std::int32_t SetLayeredWindowAttributes(Handle, std::uint32_t, std::uint8_t a, std::uint32_t) override {
        alpha_ = a;
        return 1;
    }

private:
    int next_ = 0;
    std::int32_t style_ = 0;
    std::uint8_t alpha_ = 255;
};

struct Fixture {
    FixedText label1{u"0"};
    FixedText label2{u"0"};
    FixedText label3;
    FixedValue bar{0};
    StillWindowSystem ws;
    Form1Controls form{label1, label2, label3, bar};

    explicit Fixture(std::u16string_view target) : label3(target) {}
};

// Runs the loop and reports both counts per call; a path that must not
// allocate and did marks the run as failed.
template <typename Body>
void Measure(benchmark::State& state, bool mustNotAllocate, Body body) {
    const unsigned long long news0 = g_news, mallocs0 = g_mallocs;
    for (auto _ : state) body();
    const unsigned long long news = g_news - news0, mallocs = g_mallocs - mallocs0;
    const double calls = static_cast<double>(state.iterations());
    state.counters["new_per_call"] = benchmark::Counter(static_cast<double>(news) / calls);
    state.counters["malloc_per_call"] = benchmark::Counter(static_cast<double>(mallocs) / calls);
    if (mustNotAllocate && (news != 0 || mallocs != 0)) {
        g_failed = true;
        state.SkipWithError("heap allocations on a path that must not allocate");
    }
}

// One tick with the pointer moving: Label2 gets a new text every time.
void BM_Timer1_Timer(benchmark::State& state) {
    Fixture f(u"未设置窗口");
    Measure(state, true, [&] { Timer1_Timer(f.form, f.ws); });
}
BENCHMARK(BM_Timer1_Timer);

// One tick with F1 held: Label2's text is also copied into Label3.
void BM_Timer1_Timer_F1(benchmark::State& state) {
    Fixture f(u"未设置窗口");
    f.ws.keyState = -128;
    Measure(state, true, [&] { Timer1_Timer(f.form, f.ws); });
}
BENCHMARK(BM_Timer1_Timer_F1);

// One change of the bar with a target chosen: the three window operations.
void BM_HScroll1_Change(benchmark::State& state) {
    Fixture f(u"65670");
    std::int16_t v = 0;
    Measure(state, true, [&] {
        f.bar.set(v);
        v = static_cast<std::int16_t>((v + 1) & 0xFF);
        HScroll1_Change(f.form, f.ws);
    });
}
BENCHMARK(BM_HScroll1_Change);

// One change of the bar before any target was chosen: Label3 still holds its
// first text, which is no handle, and the handler ends after showing the
// value, without raising (an exception object would be allocated).
void BM_HScroll1_Change_NoTarget(benchmark::State& state) {
    Fixture f(u"未设置窗口");
    Measure(state, true, [&] { HScroll1_Change(f.form, f.ws); });
}
BENCHMARK(BM_HScroll1_Change_NoTarget);

// The counting must see an allocation, or a zero above would mean nothing.
bool CountingWorks() {
    const unsigned long long news0 = g_news, mallocs0 = g_mallocs;
    std::vector<int>* v = new std::vector<int>(100);
    benchmark::DoNotOptimize(v->data());
    delete v;
    void* p = std::malloc(64);
    benchmark::DoNotOptimize(p);
    std::free(p);
    return g_news - news0 >= 2 && g_mallocs - mallocs0 >= 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (!CountingWorks()) {
        std::fprintf(stderr, "core_bench: allocation counting does not work\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_failed) {
        std::fprintf(stderr, "core_bench: a behaviour allocated on the heap (see new_per_call, malloc_per_call)\n");
        return 1;
    }
    return 0;
}
