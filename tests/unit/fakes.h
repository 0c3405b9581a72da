// Fakes of the tool window's controls and of the window system, recording
// what the behaviours do to them.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "controls.h"
#include "error.h"
#include "window_system.h"

namespace kavrelo::testing {

class FakeLabel final : public TextControl {
public:
    explicit FakeLabel(std::u16string_view initial) : text_(initial) {}

    Text text() const override {
        if (failRead) throw Error(ErrorCode::ControlAccess, u"read");
        return Text(text_);
    }
    void setText(std::u16string_view text) override {
        if (failWrite) throw Error(ErrorCode::ControlAccess, u"write");
        text_ = std::u16string(text);
        ++writes;
    }

    std::u16string text_;
    int writes = 0;
    bool failRead = false;
    bool failWrite = false;
};

class FakeBar final : public ValueControl {
public:
    std::int16_t value() const override { return value_; }
    std::int16_t value_ = 0;
};

struct Call {
    std::string op;
    std::vector<std::int64_t> args;
    bool operator==(const Call& o) const { return op == o.op && args == o.args; }
};

inline std::ostream& operator<<(std::ostream& os, const Call& c) {
    os << c.op << "(";
    for (size_t i = 0; i < c.args.size(); ++i) os << (i ? ", " : "") << c.args[i];
    return os << ")";
}

// A window system of a few windows. Windows that are not known do not exist:
// calls on them fail the way the real ones do (0 returned, nothing changed).
class FakeWindowSystem final : public WindowSystem {
public:
    struct Window {
        std::int32_t exStyle = 0;
        bool layeredSet = false;
        std::uint8_t alpha = 0;
        std::uint32_t flags = 0;
    };

    std::int32_t GetCursorPos(Point* point) override {
        record("GetCursorPos", {point->x, point->y});
        if (!cursorAnswers) return 0;
        *point = cursor;
        return 1;
    }
    Handle WindowFromPoint(std::int32_t x, std::int32_t y) override {
        record("WindowFromPoint", {x, y});
        auto it = windowAt.find({x, y});
        return it == windowAt.end() ? 0 : it->second;
    }
    std::int16_t GetKeyState(std::int32_t vk) override {
        record("GetKeyState", {vk});
        return keyState;
    }
    std::int32_t GetWindowLongA(Handle h, std::int32_t index) override {
        record("GetWindowLongA", {h, index});
        auto it = windows.find(h);
        return it == windows.end() || index != kGwlExStyle ? 0 : it->second.exStyle;
    }
    std::int32_t SetWindowLongA(Handle h, std::int32_t index, std::int32_t value) override {
        record("SetWindowLongA", {h, index, value});
        auto it = windows.find(h);
        if (it == windows.end() || index != kGwlExStyle) return 0;
        const std::int32_t old = it->second.exStyle;
        it->second.exStyle = value;
        return old;
    }
    std::int32_t SetLayeredWindowAttributes(Handle h, std::uint32_t key, std::uint8_t alpha,
                                            std::uint32_t flags) override {
        record("SetLayeredWindowAttributes", {h, key, alpha, flags});
        auto it = windows.find(h);
        if (it == windows.end() || !(it->second.exStyle & kWsExLayered)) return 0;
        it->second.layeredSet = true;
        it->second.alpha = alpha;
        it->second.flags = flags;
        return 1;
    }

    std::vector<std::string> ops() const {
        std::vector<std::string> out;
        for (const auto& c : calls) out.push_back(c.op);
        return out;
    }

    Point cursor{0, 0};
    bool cursorAnswers = true;
    std::map<std::pair<std::int32_t, std::int32_t>, Handle> windowAt;
    std::int16_t keyState = 0;
    std::map<Handle, Window> windows;
    std::set<std::string> unbound;  // entries that cannot be bound
    std::vector<Call> calls;

private:
    void record(const char* op, std::vector<std::int64_t> args) {
        if (unbound.count(op)) {
            throw Error(ErrorCode::EntryNotFound, u"entry not found");
        }
        calls.push_back({op, std::move(args)});
    }
};

// The three labels and the bar of a freshly opened tool window.
struct FakeForm {
    FakeLabel label1{u"0"};
    FakeLabel label2{u"0"};
    FakeLabel label3{u"未设置窗口"};
    FakeBar bar;
    Form1Controls controls{label1, label2, label3, bar};
};

}  // namespace kavrelo::testing
