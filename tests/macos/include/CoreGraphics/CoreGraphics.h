// Mirrors the platform's declarations for a syntax check on Linux; nothing more.
#pragma once

#include <stdint.h>
#include <CoreFoundation/CoreFoundation.h>
#include <mach/boolean.h>

typedef double CGFloat;

#if defined(__OBJC__) && defined(GNUSTEP)
// GNUstep defines NSPoint, NSSize and NSRect as structs of its own; on the platform NSRect is CGRect,
// so here the CG names alias GNUstep's types and an NSRect can be passed where a CGRect is wanted.
#import <Foundation/NSGeometry.h>
typedef NSPoint CGPoint;
typedef NSSize CGSize;
typedef NSRect CGRect;
#else
struct CGPoint { CGFloat x; CGFloat y; };
typedef struct CGPoint CGPoint;
struct CGSize { CGFloat width; CGFloat height; };
typedef struct CGSize CGSize;
struct CGRect { CGPoint origin; CGSize size; };
typedef struct CGRect CGRect;
#endif

typedef uint32_t CGDirectDisplayID;

enum CGError : int32_t {
  kCGErrorSuccess = 0
};
typedef enum CGError CGError;

#ifdef __cplusplus
extern "C" {
#endif

CGError CGGetOnlineDisplayList(uint32_t maxDisplays, CGDirectDisplayID *onlineDisplays, uint32_t *displayCount);
boolean_t CGDisplayIsBuiltin(CGDirectDisplayID display);
CGFloat CGRectGetWidth(CGRect rect);

#ifdef __cplusplus
}
#endif
