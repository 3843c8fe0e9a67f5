// The dynamic loader is the same POSIX interface on every native platform.

#include <dlfcn.h>

#include "platform/display.h"

namespace platform {

void* openLibrary(const char* path, int mode) { return dlopen(path, mode); }

void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }

}  // namespace platform
