// Libraries that only some runs need (the sound server's client, the X
// client, the system bus) are opened at run time, on first use, so that a run
// that never reaches those services does not pay for loading them.
#pragma once

#include <dlfcn.h>

namespace platform::runtime {

// dlopen by soname, local binding; null when the library is not installed.
inline void* openLibrary(const char* soname) { return dlopen(soname, RTLD_LAZY | RTLD_LOCAL); }

// Sets `slot` to the symbol `name` of `library` (null when either is
// missing) and tells whether it was found. `Function` is the entry point's
// own type, so every call through `slot` is checked against its header.
template <typename Function>
bool bindSymbol(void* library, const char* name, Function*& slot) {
  slot = library != nullptr ? reinterpret_cast<Function*>(dlsym(library, name)) : nullptr;
  return slot != nullptr;
}

}  // namespace platform::runtime
