#include "import_table.h"

#include <cstdint>
#include <cstring>

namespace b58::standin {
namespace {

bool SameNameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

bool WriteEntry(IMAGE_THUNK_DATA* entry, void* replacement) {
    DWORD previous = 0;
    if (!VirtualProtect(&entry->u1.Function, sizeof entry->u1.Function, PAGE_READWRITE, &previous))
        return false;
    entry->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
    DWORD ignored = 0;
    VirtualProtect(&entry->u1.Function, sizeof entry->u1.Function, previous, &ignored);
    FlushInstructionCache(GetCurrentProcess(), &entry->u1.Function, sizeof entry->u1.Function);
    return true;
}

}  // namespace

int RebindImports(HMODULE module, const std::vector<ImportBinding>& bindings, std::string* error) {
    auto* base = reinterpret_cast<uint8_t*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    if (base == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) {
        if (error != nullptr) *error = "not a loaded module";
        return -1;
    }
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) {
        if (error != nullptr) *error = "the module has no PE header";
        return -1;
    }
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return 0;

    int rebound = 0;
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         dll->Name != 0; ++dll) {
        const char* dllName = reinterpret_cast<const char*>(base + dll->Name);
        // The lookup table keeps the names; the address table is what calls go through.
        // Without a lookup table the address table still holds the names (unbound image).
        DWORD lookupAt = dll->OriginalFirstThunk != 0 ? dll->OriginalFirstThunk : dll->FirstThunk;
        auto* lookup = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookupAt);
        auto* address = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; lookup->u1.AddressOfData != 0; ++lookup, ++address) {
            if (IMAGE_SNAP_BY_ORDINAL(lookup->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + lookup->u1.AddressOfData);
            const char* function = reinterpret_cast<const char*>(byName->Name);
            for (const ImportBinding& binding : bindings) {
                if (std::strcmp(function, binding.function) != 0 ||
                    !SameNameIgnoringCase(dllName, binding.dll))
                    continue;
                if (!WriteEntry(address, binding.replacement)) {
                    if (error != nullptr) *error = std::string("cannot rebind ") + dllName + "!" + function;
                    return -1;
                }
                ++rebound;
            }
        }
    }
    return rebound;
}

}  // namespace b58::standin
