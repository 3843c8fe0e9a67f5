// For the ARC pass of check.sh only: GCC's Objective-C runtime header, read
// so that GNUstep's headers can be parsed with -fobjc-arc.
//
// GCC's runtime cannot do ARC, and one inline function of its runtime.h
// reads a field through `id`, which clang allows only for that runtime. Here
// `id` in that header's own declarations stands for the struct that GCC's
// objc.h defines behind it. Nothing of the Mac sources or of GNUstep's
// class declarations is changed: they still see the `id` of ARC.
#pragma once

#include <objc/objc.h>

#define id struct objc_object *
#include_next <objc/runtime.h>
#undef id
