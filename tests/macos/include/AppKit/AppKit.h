// Mirrors the platform's declarations for a syntax check on Linux; nothing more.
#pragma once

#include_next <AppKit/AppKit.h>
// On the platform AppKit brings in CoreGraphics and CoreFoundation.
#include <CoreGraphics/CoreGraphics.h>

// What GNUstep's AppKit lacks (GNUstep already has NSRunningApplication's bundleIdentifier, localizedName,
// processIdentifier, NSWorkspace's frontmostApplication and notificationCenter, NSEdgeInsets and
// NSApplicationActivationPolicy).

// GNUstep declares this constant itself; it must hold the platform's value.
static_assert(NSApplicationActivationPolicyProhibited == 2, "the platform's value");
extern NSNotificationName const NSWorkspaceDidActivateApplicationNotification;
extern NSString *const NSWorkspaceApplicationKey;

@interface NSApplication (MirroredActivationPolicy)
- (BOOL)setActivationPolicy:(NSApplicationActivationPolicy)activationPolicy;
@end

@interface NSScreen (MirroredScreenAreas)
@property (readonly) NSEdgeInsets safeAreaInsets;
@property (readonly) NSRect auxiliaryTopLeftArea;
@property (readonly) NSRect auxiliaryTopRightArea;
@end
