// What the tests' Win32 programs print: one JSON object a line on stdout,
// UTF-8, built with nlohmann::json. ordered_json keeps the keys in the order
// they are set, so that a line reads the same from run to run.
#pragma once

#include <windows.h>

#include <nlohmann/json.hpp>

#include <string>

namespace e2e {

using Json = nlohmann::ordered_json;

// UTF-16 to UTF-8, and back.
inline std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), length, &out[0], bytes, nullptr, nullptr);
    return out;
}

inline std::wstring Utf16(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (chars <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &out[0], chars);
    return out;
}

// The value on one line. A string that is not valid UTF-8 (Windows XP encodes
// a lone surrogate as three bytes) gets U+FFFD where it is broken instead of
// an exception.
inline std::string Line(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Writes bytes to stdout as they are (no code page conversion, no buffering).
inline void WriteLine(const std::string& line) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string data = line + "\n";
    DWORD written = 0;
    WriteFile(out, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
}

inline void WriteJson(const Json& value) { WriteLine(Line(value)); }

// The handle as the tool shows it: a signed 32-bit decimal.
inline long long HandleValue(HWND hwnd) {
    return static_cast<long long>(static_cast<LONG>(reinterpret_cast<LONG_PTR>(hwnd)));
}

}  // namespace e2e
