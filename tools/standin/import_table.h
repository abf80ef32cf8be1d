// Rebinding a loaded module's imports: the entries of its import address table that name a
// given function of a given DLL are pointed at a replacement. The module's code is not
// touched; its calls through the table go to the replacement from then on.
#pragma once

#include <string>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace b58::standin {

struct ImportBinding {
    const char* dll;       // as the module names it, compared without regard to case
    const char* function;  // imported by this name
    void* replacement;
};

// Points every import of `module` that one of `bindings` names at its replacement. Returns
// the number of table entries rebound; -1, with a message in *error, when the module's
// headers cannot be read or a table cannot be made writable.
int RebindImports(HMODULE module, const std::vector<ImportBinding>& bindings, std::string* error);

}  // namespace b58::standin
