// Fixture for tests/macos/check_test.sh: uses the AppKit, Foundation and Dispatch APIs the macOS
// platform files rely on.
#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>
#include <unistd.h>

#include <cstdio>

static void on_stdin_readable(void *context) {
  @autoreleasepool {
    (void)context;
    char buffer[256];
    ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) _exit(0);
  }
}

static void report_screens() {
  for (NSScreen *screen in [NSScreen screens]) {
    NSRect frame = [screen frame];
    CGFloat notch_height = screen.safeAreaInsets.top;
    NSRect left = screen.auxiliaryTopLeftArea;
    NSRect right = [screen auxiliaryTopRightArea];
    if (!NSIsEmptyRect(left) && !NSIsEmptyRect(right)) {
      CGFloat gap = CGRectGetWidth(frame) - CGRectGetWidth(left) - CGRectGetWidth(right);
      std::printf("notch %.0f x %.0f\n", gap, notch_height);
    }
  }
  NSScreen *main_screen = [NSScreen mainScreen];
  if (main_screen != nil) std::printf("main width %.0f\n", CGRectGetWidth([main_screen frame]));
}

int main() {
  @autoreleasepool {
    [[NSApplication sharedApplication] setActivationPolicy:NSApplicationActivationPolicyProhibited];

    NSWorkspace *workspace = [NSWorkspace sharedWorkspace];
    NSRunningApplication *front = workspace.frontmostApplication;
    if (front != nil) std::printf("%d %s\n", front.processIdentifier, [front.bundleIdentifier UTF8String]);

    [workspace.notificationCenter addObserverForName:NSWorkspaceDidActivateApplicationNotification
                                              object:nil
                                               queue:[NSOperationQueue mainQueue]
                                          usingBlock:^(NSNotification *note) {
                                            @autoreleasepool {
                                              id app = [note.userInfo objectForKey:NSWorkspaceApplicationKey];
                                              if ([app isKindOfClass:[NSRunningApplication class]]) {
                                                NSRunningApplication *running = app;
                                                std::printf("%s\n", [running.localizedName UTF8String]);
                                              }
                                            }
                                          }];

    int fd = [[NSFileHandle fileHandleWithStandardInput] fileDescriptor];
    dispatch_source_t source = dispatch_source_create(DISPATCH_SOURCE_TYPE_READ, static_cast<uintptr_t>(fd), 0,
                                                      dispatch_get_main_queue());
    dispatch_source_set_event_handler_f(source, on_stdin_readable);
    dispatch_resume(source);

    report_screens();
    [[NSRunLoop mainRunLoop] run];
  }
  return 0;
}
