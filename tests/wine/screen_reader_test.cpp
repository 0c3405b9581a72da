// What the tool window tells a screen reader through Dynamic Annotation, seen
// at the seam: the program binds COM and the annotation service by name
// (GetProcAddress), and this test hands it a recording service in place of
// oleacc's. Windows' proxies then say these names and this value; Wine's
// oleacc implements no annotation (E_NOTIMPL) and has no scroll bar proxy,
// so what a reader hears cannot be read back under Wine.
#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fake_window_system.h"
#include "form1.h"
#include "form1_layout.h"
#include "import_patch.h"
#include "screen_reader.h"
#include "wine_test.h"

namespace kavrelo::test {
namespace {

const GUID kName = {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
const GUID kValue = {0x123fe443, 0x211a, 0x4615, {0x95, 0x27, 0xc4, 0x5a, 0x7e, 0x93, 0x71, 0x7a}};
const GUID kAccPropServices = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};

// The annotation service, recording what it is given.
struct RecordingServices final : IAccPropServices {
    struct Annotation {
        DWORD object, child;
        std::wstring name;
        IAccPropServer* server = nullptr;
        std::vector<GUID> serverProperties;
        AnnoScope scope = ANNO_CONTAINER;
    };
    std::map<HWND, Annotation> annotations;
    struct Cleared {
        HWND control;
        std::vector<GUID> properties;
        bool windowExisted;
        ULONG serverReferencesLeft;  // after the release of the one it held
    };
    std::vector<Cleared> cleared;
    LONG references = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { return *out = nullptr, E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE SetHwndPropStr(HWND hwnd, DWORD object, DWORD child, MSAAPROPID property,
                                             LPCWSTR text) override {
        Annotation& a = annotations[hwnd];
        a.object = object;
        a.child = child;
        if (property == kName) a.name = text;
        return property == kName ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE SetHwndPropServer(HWND hwnd, DWORD object, DWORD child, const MSAAPROPID* properties,
                                                int count, IAccPropServer* server, AnnoScope scope) override {
        Annotation& a = annotations[hwnd];
        a.object = object;
        a.child = child;
        a.serverProperties.assign(properties, properties + count);
        a.scope = scope;
        a.server = server;
        server->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ClearHwndProps(HWND hwnd, DWORD, DWORD, const MSAAPROPID* properties, int count) override {
        Cleared c{hwnd, {properties, properties + count}, IsWindow(hwnd) != FALSE, 0};
        Annotation& a = annotations[hwnd];
        if (a.server != nullptr) c.serverReferencesLeft = a.server->Release();
        a.server = nullptr;
        cleared.push_back(c);
        return S_OK;
    }
    // What the program does not use.
    HRESULT STDMETHODCALLTYPE SetPropValue(const BYTE*, DWORD, MSAAPROPID, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPropServer(const BYTE*, DWORD, const MSAAPROPID*, int, IAccPropServer*,
                                            AnnoScope) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ClearProps(const BYTE*, DWORD, const MSAAPROPID*, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHwndProp(HWND, DWORD, DWORD, MSAAPROPID, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ComposeHwndIdentityString(HWND, DWORD, DWORD, BYTE**, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DecomposeHwndIdentityString(const BYTE*, DWORD, HWND*, DWORD*, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHmenuProp(HMENU, DWORD, MSAAPROPID, VARIANT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHmenuPropStr(HMENU, DWORD, MSAAPROPID, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHmenuPropServer(HMENU, DWORD, const MSAAPROPID*, int, IAccPropServer*,
                                                 AnnoScope) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ClearHmenuProps(HMENU, DWORD, const MSAAPROPID*, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ComposeHmenuIdentityString(HMENU, DWORD, BYTE**, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DecomposeHmenuIdentityString(const BYTE*, DWORD, HMENU*, DWORD*) override {
        return E_NOTIMPL;
    }
};

// COM as the program binds it by name, for as long as this lives: its
// initialization counted, and the annotation service `services` (or the
// failure `refusal`).
class ComCalls {
public:
    ComCalls() : patch_("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&GetProcAddressHook)) {
        real_ = patch_.original<decltype(&GetProcAddress)>();
        initialized = uninitialized = created = 0;
        initializeResult = S_OK;
        refusal = S_OK;
        services = RecordingServices{};
    }
    bool applied() const { return patch_.applied(); }
    static inline int initialized = 0, uninitialized = 0, created = 0;
    static inline HRESULT initializeResult = S_OK;  // what CoInitialize answers
    static inline HRESULT refusal = S_OK;           // what CoCreateInstance answers instead of the service
    static inline RecordingServices services;

private:
    static HRESULT WINAPI CoInitializeHook(void*) {
        ++initialized;
        return initializeResult;
    }
    static void WINAPI CoUninitializeHook() { ++uninitialized; }
    static HRESULT WINAPI CoCreateInstanceHook(REFCLSID cls, IUnknown*, DWORD, REFIID iid, void** out) {
        *out = nullptr;
        if (FAILED(refusal)) return refusal;
        if (cls != kAccPropServices || iid != IID_IAccPropServices) return REGDB_E_CLASSNOTREG;
        ++created;
        *out = static_cast<IAccPropServices*>(&services);
        return S_OK;
    }
    static FARPROC WINAPI GetProcAddressHook(HMODULE module, LPCSTR name) {
        return HookedEntry(real_(module, name), name,
                           {{"CoInitialize", reinterpret_cast<void*>(&CoInitializeHook)},
                            {"CoUninitialize", reinterpret_cast<void*>(&CoUninitializeHook)},
                            {"CoCreateInstance", reinterpret_cast<void*>(&CoCreateInstanceHook)}});
    }
    static inline decltype(&GetProcAddress) real_ = nullptr;
    ImportPatch patch_;
};

// What a reader asking the server hears for a property: the text, or nothing.
std::optional<std::wstring> Heard(IAccPropServer* server, const GUID& property) {
    VARIANT value;
    VariantInit(&value);
    BOOL has = TRUE;
    if (FAILED(server->GetPropValue(nullptr, 0, property, &value, &has)) || !has) return std::nullopt;
    std::wstring text = value.vt == VT_BSTR ? value.bstrVal : L"(not a text)";
    VariantClear(&value);
    return text;
}

class ScreenReader : public ::testing::Test {
protected:
    void TearDown() override {
        tool.reset();
        TakeQuit();
    }
    HWND control(int id) { return GetDlgItem(tool->form().hwnd(), id); }
    void scroll(int code, int position = 0) {
        SendMessageW(tool->form().hwnd(), WM_HSCROLL, MAKEWPARAM(code, position),
                     reinterpret_cast<LPARAM>(control(kIdHScroll1)));
    }
    ComCalls com;
    FakeWindowSystem ws;
    std::optional<Form1> tool;
};

TEST_F(ScreenReader, HearsTheBarAndTheTextBoxByNameAndTheBarsValueAsTheWindowShowsIt) {
    ASSERT_TRUE(com.applied());
    tool.emplace(GetModuleHandleW(nullptr), ws, 96);
    ASSERT_EQ(ComCalls::created, 1);
    auto& annotations = ComCalls::services.annotations;
    ASSERT_EQ(annotations.size(), 2u) << "the bar and the text box, nothing else";
    const auto& bar = annotations[control(kIdHScroll1)];
    const auto& text1 = annotations[control(kIdText1)];
    // The names the layout gives them, rather than nothing for the bar and the
    // version line for the text box.
    EXPECT_EQ(bar.name, std::wstring(kHScroll1Name, kHScroll1Name + std::size(kHScroll1Name) - 1));
    EXPECT_EQ(text1.name, std::wstring(kText1Name, kText1Name + std::size(kText1Name) - 1));
    for (const auto* a : {&bar, &text1}) {
        EXPECT_NE(a->name, L"");
        EXPECT_NE(a->name, TextOf(control(kIdLabel6)));
    }
    for (const auto* a : {&bar, &text1}) {
        EXPECT_EQ(a->object, static_cast<DWORD>(OBJID_CLIENT)) << "the control as a reader meets it";
        EXPECT_EQ(a->child, static_cast<DWORD>(CHILDID_SELF));
    }
    ASSERT_NE(bar.server, nullptr);
    EXPECT_EQ(bar.serverProperties, std::vector<GUID>{kValue});
    EXPECT_EQ(bar.scope, ANNO_THIS);
    EXPECT_EQ(text1.server, nullptr);

    // The value, each time it is asked, as Label1 shows it: not a percentage.
    EXPECT_EQ(Heard(bar.server, kValue), L"0");
    for (int code : {SB_PAGERIGHT, SB_RIGHT, SB_LINELEFT}) {
        scroll(code);
        EXPECT_EQ(Heard(bar.server, kValue), TextOf(control(kIdLabel1))) << code;
    }
    EXPECT_EQ(Heard(bar.server, kValue), L"254");
    scroll(SB_THUMBTRACK, 17);
    EXPECT_EQ(Heard(bar.server, kValue), L"254") << "a thumb on its way changes nothing yet";
    EXPECT_EQ(Heard(bar.server, kName), std::nullopt) << "the server answers for the value alone";

    // The server is a COM object: it answers IUnknown and its own interface only.
    void* object = nullptr;
    EXPECT_EQ(bar.server->QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<void*>(bar.server));
    static_cast<IUnknown*>(object)->Release();
    EXPECT_EQ(bar.server->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ScreenReader, EveryAnnotationIsClearedBeforeItsWindowGoesAndCOMIsLeftAsItWas) {
    ASSERT_TRUE(com.applied());
    tool.emplace(GetModuleHandleW(nullptr), ws, 96);
    const HWND bar = control(kIdHScroll1), text1 = control(kIdText1);
    tool.reset();
    auto& cleared = ComCalls::services.cleared;
    ASSERT_EQ(cleared.size(), 2u);
    std::set<HWND> controls;
    for (const auto& c : cleared) {
        controls.insert(c.control);
        EXPECT_TRUE(c.windowExisted) << "cleared while its window existed";
        for (const GUID& property : {kName, kValue}) {
            EXPECT_NE(std::find(c.properties.begin(), c.properties.end(), property), c.properties.end());
        }
    }
    EXPECT_EQ(controls, (std::set<HWND>{bar, text1}));
    EXPECT_EQ(cleared[0].control == bar ? cleared[0].serverReferencesLeft : cleared[1].serverReferencesLeft, 0u)
        << "nobody holds the value's server once it is cleared";
    EXPECT_EQ(ComCalls::services.references, 0) << "the service released";
    EXPECT_EQ(ComCalls::initialized, 1);
    EXPECT_EQ(ComCalls::uninitialized, 1);
}

TEST_F(ScreenReader, WithoutTheServiceOrWithCOMInAnotherModeTheWindowIsTheSameAndCOMIsLeftAsItWas) {
    ASSERT_TRUE(com.applied());
    // No annotation service (an old system): nothing annotated, COM still undone.
    ComCalls::refusal = REGDB_E_CLASSNOTREG;
    tool.emplace(GetModuleHandleW(nullptr), ws, 96);
    EXPECT_TRUE(IsWindow(tool->form().hwnd()));
    tool.reset();
    EXPECT_TRUE(ComCalls::services.annotations.empty());
    EXPECT_EQ(ComCalls::initialized, 1);
    EXPECT_EQ(ComCalls::uninitialized, 1);

    // The thread in a multithreaded apartment already: the service all the
    // same, and no uninitialization that was not the program's.
    ComCalls::refusal = S_OK;
    ComCalls::initializeResult = RPC_E_CHANGED_MODE;
    tool.emplace(GetModuleHandleW(nullptr), ws, 96);
    EXPECT_EQ(ComCalls::services.annotations.size(), 2u);
    tool.reset();
    EXPECT_EQ(ComCalls::initialized, 2);
    EXPECT_EQ(ComCalls::uninitialized, 1);
    EXPECT_EQ(ComCalls::services.references, 0);
}

}  // namespace
}  // namespace kavrelo::test
