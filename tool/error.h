// Errors of the program: an error number and a text in the program's language.
// They are raised as exceptions at the point of failure; a handler either traps
// them or leaves them to the form layer, which reports them and ends the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

namespace kavrelo {

enum class ErrorCode : std::int32_t {
    Overflow = 6,          // a number outside the range of its type
    CreateFailed = 7,      // a window or control that cannot be created
    TypeMismatch = 13,     // text that is not a number where a number is needed
    LibraryNotFound = 48,  // a system library that cannot be loaded
    ControlAccess = 380,   // a control's text that cannot be read or written
    EntryNotFound = 453,   // an entry point missing from its library
};

class Error : public std::exception {
public:
    static constexpr std::size_t kCapacity = 160;

    // The text is copied (and cut to kCapacity - 1 characters): an Error owns
    // everything it carries and allocates nothing.
    Error(ErrorCode code, std::u16string_view text) noexcept;

    ErrorCode code() const noexcept { return code_; }
    std::int32_t number() const noexcept { return static_cast<std::int32_t>(code_); }
    std::u16string_view text() const noexcept { return {text_, length_}; }
    const char16_t* c_text() const noexcept { return text_; }
    const char* what() const noexcept override;

private:
    ErrorCode code_;
    std::size_t length_ = 0;
    char16_t text_[kCapacity] = {};
};

// Builds an error text from pieces, e.g. a fixed sentence and an entry name
// given in ASCII.
class ErrorText {
public:
    ErrorText& operator<<(std::u16string_view s) noexcept;
    ErrorText& operator<<(std::string_view ascii) noexcept;
    std::u16string_view view() const noexcept { return {buf_, length_}; }

private:
    char16_t buf_[Error::kCapacity] = {};
    std::size_t length_ = 0;
};

}  // namespace kavrelo
