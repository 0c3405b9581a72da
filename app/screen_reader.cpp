#include "screen_reader.h"

#include "handle_text.h"

namespace kavrelo {

namespace {

// oleacc's class and interfaces, and the two properties annotated (oleacc.h),
// defined here: the program links no oleacc or uuid library.
const GUID kAccPropServices = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const GUID kIAccPropServices = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const GUID kIAccPropServer = {0x76c0dbbb, 0x15e0, 0x4e7b, {0xb6, 0x1b, 0x20, 0xee, 0xea, 0x20, 0x01, 0xe0}};
const GUID kIUnknown = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const MSAAPROPID kAnnotated[] = {
    {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}},  // PROPID_ACC_NAME
    {0x123fe443, 0x211a, 0x4615, {0x95, 0x27, 0xc4, 0x5a, 0x7e, 0x93, 0x71, 0x7a}},  // PROPID_ACC_VALUE
};
const MSAAPROPID& kName = kAnnotated[0];
const MSAAPROPID& kValue = kAnnotated[1];

// An entry of a library that may not have been loaded, or nullptr.
FARPROC Bound(HMODULE module, const char* entry) noexcept {
    return module != nullptr ? GetProcAddress(module, entry) : nullptr;
}

template <typename Fn>
Fn As(FARPROC entry) noexcept {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
}

}  // namespace

HRESULT ScreenReaderText::PositionServer::QueryInterface(REFIID iid, void** object) {
    if (iid != kIUnknown && iid != kIAccPropServer) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = this;
    AddRef();
    return S_OK;
}

HRESULT ScreenReaderText::PositionServer::GetPropValue(const BYTE*, DWORD, MSAAPROPID property, VARIANT* value,
                                                       BOOL* has) {
    value->vt = VT_EMPTY;
    *has = FALSE;
    if (property != kValue) return S_OK;
    // Read as the bar's change shows it in the form: its signed 16-bit value
    // in decimal.
    const Text text = DecimalText(static_cast<std::int16_t>(GetScrollPos(bar, SB_CTL)));
    value->bstrVal = allocString(reinterpret_cast<const OLECHAR*>(text.c_str()));
    if (value->bstrVal == nullptr) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    *has = TRUE;
    return S_OK;
}

ScreenReaderText::ScreenReaderText(HWND scrollBar, const wchar_t* scrollBarName, HWND textBox,
                                   const wchar_t* textBoxName) noexcept
    : ole32_(LoadLibraryA("ole32")), oleaut32_(LoadLibraryA("oleaut32")), textBox_(textBox) {
    const auto initialize = As<HRESULT(WINAPI*)(void*)>(Bound(ole32_, "CoInitialize"));
    using CreateFn = HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);
    const auto create = As<CreateFn>(Bound(ole32_, "CoCreateInstance"));
    position_.allocString = As<BSTR(WINAPI*)(const OLECHAR*)>(Bound(oleaut32_, "SysAllocString"));
    if (initialize == nullptr || create == nullptr || position_.allocString == nullptr) return;
    // The window's thread, a single-threaded apartment: the readers' calls
    // come through its message loop. Another mode already set there
    // (RPC_E_CHANGED_MODE) serves as well, with nothing to undo.
    initialized_ = SUCCEEDED(initialize(nullptr));
    void* services = nullptr;
    if (FAILED(create(kAccPropServices, nullptr, CLSCTX_INPROC_SERVER, kIAccPropServices, &services))) return;
    services_ = static_cast<IAccPropServices*>(services);
    position_.bar = scrollBar;
    const DWORD client = static_cast<DWORD>(OBJID_CLIENT);
    services_->SetHwndPropStr(scrollBar, client, CHILDID_SELF, kName, scrollBarName);
    services_->SetHwndPropServer(scrollBar, client, CHILDID_SELF, &kValue, 1, &position_, ANNO_THIS);
    services_->SetHwndPropStr(textBox, client, CHILDID_SELF, kName, textBoxName);
}

ScreenReaderText::~ScreenReaderText() {
    if (services_ != nullptr) {
        // Annotations outlive their windows unless cleared, and hold the
        // position server; once they are cleared nothing does: a reader's
        // calls come and go through this thread's messages, and the last
        // CoUninitialize of the thread cuts off any still connected.
        for (HWND control : {position_.bar, textBox_}) {
            services_->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kAnnotated, 2);
        }
        services_->Release();
    }
    if (initialized_) As<void(WINAPI*)()>(Bound(ole32_, "CoUninitialize"))();
    if (oleaut32_ != nullptr) FreeLibrary(oleaut32_);
    if (ole32_ != nullptr) FreeLibrary(ole32_);
}

}  // namespace kavrelo
