#include "error.h"

namespace kavrelo {

Error::Error(ErrorCode code, std::u16string_view text) noexcept : code_(code) {
    length_ = text.size() < kCapacity ? text.size() : kCapacity - 1;
    text.copy(text_, length_);
    text_[length_] = u'\0';
}

const char* Error::what() const noexcept {
    switch (code_) {
        case ErrorCode::Overflow: return "overflow";
        case ErrorCode::CreateFailed: return "window cannot be created";
        case ErrorCode::TypeMismatch: return "type mismatch";
        case ErrorCode::LibraryNotFound: return "library not found";
        case ErrorCode::ControlAccess: return "control text cannot be read or written";
        case ErrorCode::EntryNotFound: return "entry point not found";
    }
    return "error";
}

ErrorText& ErrorText::operator<<(std::u16string_view s) noexcept {
    for (char16_t c : s) {
        if (length_ + 1 >= Error::kCapacity) break;
        buf_[length_++] = c;
    }
    return *this;
}

ErrorText& ErrorText::operator<<(std::string_view ascii) noexcept {
    for (char c : ascii) {
        if (length_ + 1 >= Error::kCapacity) break;
        buf_[length_++] = static_cast<char16_t>(static_cast<unsigned char>(c));
    }
    return *this;
}

}  // namespace kavrelo
