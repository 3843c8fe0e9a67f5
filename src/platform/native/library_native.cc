// The dynamic loader on the Mac: the plain POSIX interface. (Linux has its
// own, which answers the DisplayServices path itself.)

#include <dlfcn.h>

#include "platform/display.h"

namespace platform {

void* openLibrary(const char* path, int mode) { return dlopen(path, mode); }

void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }

}  // namespace platform
