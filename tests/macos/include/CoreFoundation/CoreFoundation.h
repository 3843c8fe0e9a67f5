// Mirrors the platform's declarations for a syntax check on Linux; nothing more.
#pragma once

#include <stdint.h>

// On the platform these four come from MacTypes.h, which CoreFoundation includes.
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef SInt32 OSStatus;
typedef unsigned char Boolean;

typedef const void *CFTypeRef;
typedef const struct __CFString *CFStringRef;
typedef signed long CFIndex;
typedef UInt32 CFStringEncoding;

enum CFStringBuiltInEncodings : CFStringEncoding {
  kCFStringEncodingUTF8 = 0x08000100
};
typedef enum CFStringBuiltInEncodings CFStringBuiltInEncodings;

#ifdef __cplusplus
extern "C" {
#endif

const char *CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding);
Boolean CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize, CFStringEncoding encoding);
CFIndex CFStringGetLength(CFStringRef theString);
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);
void CFRelease(CFTypeRef cf);

#ifdef __cplusplus
}
#endif
