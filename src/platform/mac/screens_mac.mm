// The screens on the Mac, read through NSScreen.

#import <AppKit/AppKit.h>

#include "platform/screens.h"

namespace platform {
namespace {

// Handles are plain pointers and keep nothing alive, so the list and the
// main screen last handed out are held here until the process ends.
NSArray<NSScreen *> *listedScreens;
NSScreen *heldMainScreen;

NSScreen *object(ScreenHandle screen) { return (__bridge NSScreen *)screen; }

ScreenHandle handle(NSScreen *screen) { return (__bridge ScreenHandle)screen; }

Rect rect(NSRect r) { return Rect{r.origin.x, r.origin.y, r.size.width, r.size.height}; }

// AppKit wants the shared application to exist before NSScreen is asked
// anything; without it a notched Mac may report no notch. Creating it once
// is enough, and asking again returns the same object.
void ensureApplication() { (void)[NSApplication sharedApplication]; }

// An absent area is an empty rectangle.
std::optional<Rect> area(NSRect r) {
  if (NSIsEmptyRect(r)) return std::nullopt;
  return rect(r);
}

}  // namespace

std::vector<ScreenHandle> screens() {
  @autoreleasepool {
    ensureApplication();
    listedScreens = [NSScreen screens];
    std::vector<ScreenHandle> result;
    for (NSScreen *screen in listedScreens) result.push_back(handle(screen));
    return result;
  }
}

ScreenHandle mainScreen() {
  @autoreleasepool {
    ensureApplication();
    heldMainScreen = [NSScreen mainScreen];
    return handle(heldMainScreen);
  }
}

double safeAreaTop(ScreenHandle screen) { return object(screen).safeAreaInsets.top; }

Rect frame(ScreenHandle screen) { return rect(object(screen).frame); }

std::optional<Rect> auxiliaryTopLeftArea(ScreenHandle screen) {
  return area(object(screen).auxiliaryTopLeftArea);
}

std::optional<Rect> auxiliaryTopRightArea(ScreenHandle screen) {
  return area(object(screen).auxiliaryTopRightArea);
}

double rectWidth(const Rect &r) { return CGRectGetWidth(CGRect{{r.x, r.y}, {r.width, r.height}}); }

}  // namespace platform
