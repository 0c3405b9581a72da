// Fakes of the tool window's controls and of the window system. They record
// what the behaviours do in fixed buffers, never on the heap, so that the
// allocation test can use them too.
#pragma once

#include <cstdint>
#include <cstring>
#include <ostream>
#include <vector>

#include "controls.h"
#include "window_system.h"

namespace kavrelo::testing {

struct FakeLabel final : TextControl {
    explicit FakeLabel(std::u16string_view initial) : text_(initial) {}
    Text text() const override {
        if (failRead) throw Error(ErrorCode::ControlAccess, u"read");
        return text_;
    }
    void setText(std::u16string_view text) override {
        if (failWrite) throw Error(ErrorCode::ControlAccess, u"write");
        text_ = Text(text);
        ++writes;
    }
    Text text_;
    int writes = 0;
    bool failRead = false, failWrite = false;
};

struct FakeBar final : ValueControl {
    std::int16_t value() const override { return value_; }
    std::int16_t value_ = 0;
};

struct Call {
    const char* op;
    std::int64_t args[4];
    bool operator==(const Call& o) const { return !std::strcmp(op, o.op) && !std::memcmp(args, o.args, sizeof args); }
};

inline std::ostream& operator<<(std::ostream& os, const Call& c) {
    return os << c.op << "(" << c.args[0] << ", " << c.args[1] << ", " << c.args[2] << ", " << c.args[3] << ")";
}

// Every call recorded with its arguments (GetCursorPos: the incoming point).
// The window under any point is `under`; GetWindowLongA answers `style` (0,
// as when it fails, unless set); the entry named `unbound` cannot be bound.
struct FakeWindowSystem final : WindowSystem {
    std::int32_t GetCursorPos(Point* p) override {
        record("GetCursorPos", p->x, p->y);
        if (cursorAnswers) *p = cursor;
        return cursorAnswers;
    }
    Handle WindowFromPoint(std::int32_t x, std::int32_t y) override {
        record("WindowFromPoint", x, y);
        return under;
    }
    std::int16_t GetKeyState(std::int32_t vk) override {
        record("GetKeyState", vk);
        return keyState;
    }
    std::int32_t GetWindowLongA(Handle h, std::int32_t i) override {
        record("GetWindowLongA", h, i);
        return style;
    }
    std::int32_t SetWindowLongA(Handle h, std::int32_t i, std::int32_t v) override {
        record("SetWindowLongA", h, i, v);
        return style;
    }
    std::int32_t SetLayeredWindowAttributes(Handle h, std::uint32_t key, std::uint8_t a, std::uint32_t f) override {
        record("SetLayeredWindowAttributes", h, key, a, f);
        return 1;
    }
    void record(const char* op, std::int64_t a, std::int64_t b = 0, std::int64_t c = 0, std::int64_t d = 0) {
        if (!std::strcmp(op, unbound)) throw Error(ErrorCode::EntryNotFound, u"entry not found");
        if (count < 8) calls[count++] = Call{op, {a, b, c, d}};
    }
    std::vector<Call> log() const { return {calls, calls + count}; }

    Point cursor{0, 0};
    bool cursorAnswers = true;
    Handle under = 0;
    std::int16_t keyState = 0;
    std::int32_t style = 0;
    const char* unbound = "";
    Call calls[8] = {};
    int count = 0;
};

// The three labels and the bar of a freshly opened tool window.
struct FakeForm {
    FakeLabel label1{u"0"}, label2{u"0"}, label3{u"未设置窗口"};
    FakeBar bar;
    Form1Controls controls{label1, label2, label3, bar};
};

}  // namespace kavrelo::testing
