// Mirrors the platform's declarations for a syntax check on Linux; nothing more.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

typedef UInt32 AudioObjectID;
typedef UInt32 AudioObjectPropertySelector;
typedef UInt32 AudioObjectPropertyScope;
typedef UInt32 AudioObjectPropertyElement;

struct AudioObjectPropertyAddress {
  AudioObjectPropertySelector mSelector;
  AudioObjectPropertyScope mScope;
  AudioObjectPropertyElement mElement;
};
typedef struct AudioObjectPropertyAddress AudioObjectPropertyAddress;

enum : int {
  kAudioObjectSystemObject = 1
};

enum : AudioObjectPropertySelector {
  kAudioHardwarePropertyDevices = 0x64657623,              // 'dev#'
  kAudioHardwarePropertyDefaultOutputDevice = 0x644F7574,  // 'dOut'
  kAudioDevicePropertyStreams = 0x73746D23,                // 'stm#'
  kAudioObjectPropertyName = 0x6C6E616D                    // 'lnam'
};

enum : AudioObjectPropertyScope {
  kAudioObjectPropertyScopeGlobal = 0x676C6F62,  // 'glob'
  kAudioObjectPropertyScopeOutput = 0x6F757470   // 'outp'
};

enum : AudioObjectPropertyElement {
  kAudioObjectPropertyElementMain = 0
};

#ifdef __cplusplus
extern "C" {
#endif

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID, const AudioObjectPropertyAddress *inAddress,
                                        UInt32 inQualifierDataSize, const void *inQualifierData,
                                        UInt32 *outDataSize);
OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID, const AudioObjectPropertyAddress *inAddress,
                                    UInt32 inQualifierDataSize, const void *inQualifierData,
                                    UInt32 *ioDataSize, void *outData);
OSStatus AudioObjectSetPropertyData(AudioObjectID inObjectID, const AudioObjectPropertyAddress *inAddress,
                                    UInt32 inQualifierDataSize, const void *inQualifierData,
                                    UInt32 inDataSize, const void *inData);

#ifdef __cplusplus
}
#endif
