// This executable's imports: each entry it imports by name, and the address
// it calls for one of them replaced for a while.
#pragma once

#include <windows.h>

#include <cstring>

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

}  // namespace kavrelo::test
