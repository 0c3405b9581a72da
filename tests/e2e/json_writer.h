// A tiny JSON writer for the end-to-end test programs: builds one UTF-8 text
// from UTF-16 strings, integers, booleans and nulls.
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

inline std::string Utf8(const wchar_t* text, int length = -1) {
    if (length == 0) return std::string();
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return std::string();
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], bytes, nullptr, nullptr);
    if (length < 0 && !out.empty() && out.back() == '\0') out.pop_back();
    return out;
}

inline std::wstring Utf16(const std::string& text) {
    if (text.empty()) return std::wstring();
    int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], chars);
    return out;
}

// Writes values separated by commas inside objects and arrays; the caller
// keeps the nesting right.
class Json {
public:
    Json& BeginObject() { Separate(); out_ += '{'; first_ = true; return *this; }
    Json& EndObject() { out_ += '}'; first_ = false; return *this; }
    Json& BeginArray() { Separate(); out_ += '['; first_ = true; return *this; }
    Json& EndArray() { out_ += ']'; first_ = false; return *this; }

    Json& Key(const char* key) {
        Separate();
        String8(key);
        out_ += ':';
        first_ = true;  // the value follows without a comma
        return *this;
    }
    Json& Int(long long value) { Separate(); out_ += std::to_string(value); return *this; }
    Json& Bool(bool value) { Separate(); out_ += value ? "true" : "false"; return *this; }
    Json& Null() { Separate(); out_ += "null"; return *this; }
    Json& Str(const std::wstring& value) { Separate(); String8(Utf8(value.c_str(), static_cast<int>(value.size()))); return *this; }
    Json& Str8(const std::string& value) { Separate(); String8(value); return *this; }

    const std::string& Text() const { return out_; }

private:
    void Separate() {
        if (!first_) out_ += ',';
        first_ = false;
    }
    void String8(const std::string& s) {
        out_ += '"';
        for (unsigned char c : s) {
            switch (c) {
                case '"': out_ += "\\\""; break;
                case '\\': out_ += "\\\\"; break;
                case '\n': out_ += "\\n"; break;
                case '\r': out_ += "\\r"; break;
                case '\t': out_ += "\\t"; break;
                default:
                    if (c < 0x20) {
                        char buf[8];
                        wsprintfA(buf, "\\u%04x", c);
                        out_ += buf;
                    } else {
                        out_ += static_cast<char>(c);
                    }
            }
        }
        out_ += '"';
    }

    std::string out_;
    bool first_ = true;
};

// Writes bytes to stdout as they are (no code page conversion, no buffering).
inline void WriteLine(const std::string& line) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string data = line + "\n";
    DWORD written = 0;
    WriteFile(out, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
}

// The handle as the tool shows it: a signed 32-bit decimal.
inline long long HandleValue(HWND hwnd) {
    return static_cast<long long>(static_cast<LONG>(reinterpret_cast<LONG_PTR>(hwnd)));
}

}  // namespace e2e
