// What a screen reader says of the tool window's two controls that take the
// focus, through Microsoft Active Accessibility's Dynamic Annotation (oleacc's
// IAccPropServices): a name for each, and the scroll bar's value as its
// position. Without them, Windows' accessibility proxies name a control by
// the nearest static text before it in z-order (none for the first control)
// and read a scroll bar's value as a percentage of its range.
//
// COM and the annotation service are bound at run time (ole32 and oleaut32
// by name), so that the executable imports only what it did; where they
// cannot be had, the controls stay as the proxies present them. Everything
// is cleared and released when this goes, before the windows it annotated.
//
// Wine's oleacc creates the service but implements none of its methods
// (E_NOTIMPL), and has no scroll bar proxy: under Wine a screen reader hears
// the defaults. What is annotated shows on Windows alone.
#pragma once

#include <windows.h>
#include <oleacc.h>

namespace kavrelo {

class ScreenReaderText {
public:
    // Names the scroll bar control and the text box as given, and has the
    // bar's value read as its position, in decimal: as the form shows it.
    ScreenReaderText(HWND scrollBar, const wchar_t* scrollBarName, HWND textBox, const wchar_t* textBoxName) noexcept;
    ~ScreenReaderText();
    ScreenReaderText(const ScreenReaderText&) = delete;
    ScreenReaderText& operator=(const ScreenReaderText&) = delete;

private:
    // The value of the scroll bar, each time a reader asks.
    class PositionServer final : public IAccPropServer {
    public:
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
        ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
        // Its owner holds it: nothing to delete at the last release.
        ULONG STDMETHODCALLTYPE Release() override { return --references_; }
        HRESULT STDMETHODCALLTYPE GetPropValue(const BYTE* identity, DWORD identityLength, MSAAPROPID property,
                                               VARIANT* value, BOOL* has) override;

        HWND bar = nullptr;
        BSTR(WINAPI* allocString)(const OLECHAR*) = nullptr;

    private:
        ULONG references_ = 0;
    };

    HMODULE ole32_, oleaut32_;
    bool initialized_ = false;
    IAccPropServices* services_ = nullptr;
    PositionServer position_;
    HWND textBox_;
};

}  // namespace kavrelo
