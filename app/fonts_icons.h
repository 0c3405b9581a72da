// The GDI and USER objects a form owns, each released when it goes: its font,
// the device context its labels measure their texts in, and its icons.
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

// The icon group's image for the task bar and the task switcher, at the
// system's large icon size; shared (LR_SHARED): it belongs to the system and
// is never released. nullptr for group 0, the system's default.
inline HICON LoadLargeIcon(HINSTANCE instance, int iconId) noexcept {
    if (iconId == 0) return nullptr;
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                         GetSystemMetrics(SM_CYICON), LR_SHARED));
}

// The icon group's image for the caption, at the system's small icon size,
// loaded for the caller alone; nullptr for group 0. Not shared: a shared load
// (LR_SHARED) returns the first image of that resource name in the cache,
// whatever size is asked for (Microsoft's LoadImage documentation): after the
// shared large icon, the large image again, shrunk. Wine keys its cache on the
// image it picked and does not show the difference.
inline HICON LoadSmallIcon(HINSTANCE instance, int iconId) noexcept {
    if (iconId == 0) return nullptr;
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                         GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

}  // namespace kavrelo
