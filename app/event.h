// An event binding of the form layer: the handler to call and what it works on.
#pragma once

namespace kavrelo {

struct Event {
    void (*handler)(void* context) = nullptr;
    void* context = nullptr;

    explicit operator bool() const noexcept { return handler != nullptr; }
    void operator()() const { handler(context); }
};

}  // namespace kavrelo
