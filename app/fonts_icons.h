// The GDI and USER objects a form owns, each released when it goes: its font,
// the device context its labels measure their texts in, and its icons
// (loaded at the window's DPI: form_icons.cpp).
#pragma once

#include <windows.h>

namespace kavrelo {

// Owns a handle and releases it with Release when it goes.
template <typename Handle, auto Release>
class Owned {
public:
    explicit Owned(Handle handle) noexcept : handle_(handle) {}
    ~Owned() { reset(nullptr); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Handle get() const noexcept { return handle_; }
    // Releases the handle held and takes another.
    void reset(Handle handle) noexcept {
        if (handle_ != nullptr) Release(handle_);
        handle_ = handle;
    }

private:
    Handle handle_;
};

// A GDI font.
using Font = Owned<HFONT, &DeleteObject>;
// An icon that is not shared (loaded without LR_SHARED).
using Icon = Owned<HICON, &DestroyIcon>;

// A memory device context with the form's font selected, in which labels
// measure their texts: no window DC to get and release on every change.
class MeasuringDC {
public:
    explicit MeasuringDC(HFONT font) noexcept : dc_(CreateCompatibleDC(nullptr)) {
        if (dc_ != nullptr) previous_ = SelectObject(dc_, font);
    }
    ~MeasuringDC() {
        if (dc_ == nullptr) return;
        SelectObject(dc_, previous_);
        DeleteDC(dc_);
    }
    MeasuringDC(const MeasuringDC&) = delete;
    MeasuringDC& operator=(const MeasuringDC&) = delete;
    HDC get() const noexcept { return dc_; }
    void select(HFONT font) noexcept { SelectObject(dc_, font); }

private:
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

}  // namespace kavrelo
