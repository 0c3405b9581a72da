// This executable's imports: each entry it imports by name, and the address
// it calls for one of them replaced for a while.
#pragma once

#include <windows.h>

#include <cstring>
#include <initializer_list>
#include <regex>
#include <set>
#include <string>

namespace kavrelo::test {

// Calls f(dll, entry, slot) for each entry this executable imports by name,
// with its slot in the import address table.
template <typename F>
void ForEachImport(F f) {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports); imp->Name != 0; ++imp) {
        auto* slot = reinterpret_cast<void**>(base + imp->FirstThunk);
        for (auto* name = reinterpret_cast<const ULONG_PTR*>(base + imp->OriginalFirstThunk); *name; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(*name)) continue;
            f(reinterpret_cast<const char*>(base + imp->Name),
              reinterpret_cast<const char*>(reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + *name)->Name), slot);
        }
    }
}

// The entries of user32 and gdi32 this executable imports whose names say they
// make something (a window, a DC, a font, a bitmap, an icon or cursor, an
// image) or read the system's metrics, other than those named in `except`,
// each followed by a space.
inline std::string MakingImports(const std::set<std::string>& except) {
    static const std::regex makes("(Create|Copy|Load|GetDC|GetWindowDC|GetSystemMetrics).*");
    std::string names;
    ForEachImport([&](const char* dll, const char* entry, void**) {
        if ((lstrcmpiA(dll, "gdi32.dll") == 0 || lstrcmpiA(dll, "user32.dll") == 0) && except.count(entry) == 0 &&
            std::regex_match(entry, makes)) {
            names += std::string(entry) + " ";
        }
    });
    return names;
}

// Replaces, for its lifetime, the address this executable calls for one
// entry it imports (its slot in the import address table).
class ImportPatch {
public:
    ImportPatch(const char* dll, const char* entry, void* replacement) : slot_(Slot(dll, entry)) {
        if (slot_ == nullptr) return;
        original_ = *slot_;
        write(replacement);
    }
    // The slot of an entry this executable imports, or nullptr.
    static void** Slot(const char* dll, const char* entry) {
        void** found = nullptr;
        ForEachImport([&](const char* d, const char* e, void** slot) {
            if (lstrcmpiA(d, dll) == 0 && std::strcmp(e, entry) == 0) found = slot;
        });
        return found;
    }
    ~ImportPatch() {
        if (slot_ != nullptr) write(original_);
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;
    bool applied() const { return slot_ != nullptr; }
    template <typename Fn>
    Fn original() const { return reinterpret_cast<Fn>(original_); }

private:
    void write(void* value) {
        DWORD protection = 0;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &protection);
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, protection, &protection);
    }
    void* original_ = nullptr;
    void** slot_ = nullptr;
};

// What a GetProcAddress stand-in hands out for an entry asked by name: the
// test's own function where `hooks` names the entry, else the real address
// (also where the entry does not exist: nullptr stays nullptr).
struct EntryHook {
    const char* entry;
    void* hook;
};
inline FARPROC HookedEntry(FARPROC real, LPCSTR name, std::initializer_list<EntryHook> hooks) {
    if (real == nullptr || IS_INTRESOURCE(name)) return real;
    for (const EntryHook& h : hooks) {
        if (std::strcmp(name, h.entry) == 0) return reinterpret_cast<FARPROC>(h.hook);
    }
    return real;
}

}  // namespace kavrelo::test
