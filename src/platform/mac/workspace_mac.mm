// The workspace, its activation notifications, the stdin read source, the
// activation policy and the main run loop on the Mac. Built with ARC.
//
// Objects cross the seam as plain pointers (__bridge, no ownership moves),
// so each must be kept alive by someone else while the caller uses it: the
// workspace is a singleton, the read source is held below, and every other
// object handed out is put in the current autorelease pool, which lasts as
// long as the start-up or the handler that asked for it.

#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>

#include "platform/workspace.h"

namespace platform {

// The shared logic passes the policy as a number; it must be the SDK's.
static_assert(kActivationPolicyProhibited == NSApplicationActivationPolicyProhibited);

namespace {

// Holds the read source for the life of the process.
dispatch_source_t stdinReadSource;

template <typename Handle>
Handle* pooled(id object) {
  __autoreleasing id held = object;
  return (__bridge Handle*)held;
}

NSRunningApplication* application(Application* handle) { return (__bridge NSRunningApplication*)handle; }

std::optional<std::string> utf8Text(NSString* text) {
  if (text == nil) return std::nullopt;
  // NSData keeps every byte, an embedded NUL included. A text that cannot
  // be converted is no text, like a missing one.
  NSData* bytes = [text dataUsingEncoding:NSUTF8StringEncoding];
  if (bytes == nil) return std::nullopt;
  return std::string(static_cast<const char*>(bytes.bytes), bytes.length);
}

}  // namespace

Workspace* sharedWorkspace() { return pooled<Workspace>([NSWorkspace sharedWorkspace]); }

Application* frontmostApplication(Workspace* workspace) {
  return pooled<Application>(((__bridge NSWorkspace*)workspace).frontmostApplication);
}

void addActivationObserver(Workspace* workspace, NotificationHandler handler) {
  // The center keeps the registration; the token is not needed.
  [((__bridge NSWorkspace*)workspace).notificationCenter
      addObserverForName:NSWorkspaceDidActivateApplicationNotification
                  object:nil
                   queue:[NSOperationQueue mainQueue]
              usingBlock:^(NSNotification* note) {
                @autoreleasepool {
                  handler((__bridge Notification*)note);
                }
              }];
}

UserInfo* userInfo(Notification* notification) {
  return pooled<UserInfo>(((__bridge NSNotification*)notification).userInfo);
}

UserInfoEntry* applicationEntry(UserInfo* info) {
  return pooled<UserInfoEntry>([(__bridge NSDictionary*)info objectForKey:NSWorkspaceApplicationKey]);
}

Application* runningApplication(UserInfoEntry* entry) {
  id value = (__bridge id)entry;
  return [value isKindOfClass:[NSRunningApplication class]] ? (__bridge Application*)value : nullptr;
}

std::optional<std::string> bundleIdentifier(Application* handle) {
  return utf8Text(application(handle).bundleIdentifier);
}

std::optional<std::string> localizedName(Application* handle) {
  return utf8Text(application(handle).localizedName);
}

std::int32_t processIdentifier(Application* handle) { return application(handle).processIdentifier; }

double currentTime() { return [NSDate date].timeIntervalSince1970; }

int standardInputDescriptor() { return [NSFileHandle fileHandleWithStandardInput].fileDescriptor; }

ReadSource* makeReadSource(int fd) {
  stdinReadSource = dispatch_source_create(DISPATCH_SOURCE_TYPE_READ, static_cast<uintptr_t>(fd), 0,
                                           dispatch_get_main_queue());
  return (__bridge ReadSource*)stdinReadSource;
}

void setEventHandler(ReadSource* source, EventHandler handler) {
  dispatch_source_set_event_handler((__bridge dispatch_source_t)source, ^{
    @autoreleasepool {
      handler();
    }
  });
}

void resume(ReadSource* source) { dispatch_resume((__bridge dispatch_source_t)source); }

void setActivationPolicy(int policy) {
  [[NSApplication sharedApplication] setActivationPolicy:static_cast<NSApplicationActivationPolicy>(policy)];
}

void runMainLoop() { [[NSRunLoop mainRunLoop] run]; }

}  // namespace platform
