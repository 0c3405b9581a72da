// A control's text held by value in a fixed buffer: reading or writing a label
// never touches the heap.
#pragma once

#include <cstddef>
#include <string_view>

#include "error.h"

namespace kavrelo {

class Text {
public:
    static constexpr std::size_t kCapacity = 64;  // characters, the terminator included

    Text() noexcept = default;
    // Raises ControlAccess when the text does not fit.
    explicit Text(std::u16string_view s);

    std::u16string_view view() const noexcept { return {buf_, length_}; }
    const char16_t* c_str() const noexcept { return buf_; }
    std::size_t size() const noexcept { return length_; }
    bool operator==(std::u16string_view other) const noexcept { return view() == other; }
    bool operator!=(std::u16string_view other) const noexcept { return view() != other; }

private:
    char16_t buf_[kCapacity] = {};
    std::size_t length_ = 0;
};

}  // namespace kavrelo
