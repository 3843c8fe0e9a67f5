// The workspace, its activation notifications, the read source on standard
// input, the activation policy and the main loop, as the focus watcher
// reaches them. Each call forwards to one platform operation; every decision
// stays with the caller.
//
// The handle types are opaque: each platform hands out its own objects
// behind them. A handle stays valid while the handler or start-up that got it
// is running; the workspace and the read source live as long as the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct Workspace;
struct Application;  // a running application
struct Notification;
struct UserInfo;       // a notification's user info dictionary
struct UserInfoEntry;  // one value of a user info dictionary, of any kind
struct ReadSource;

// Handlers are plain functions: the platform calls them on the main thread,
// from the main loop, one at a time.
using NotificationHandler = void (*)(Notification*);
using EventHandler = void (*)();

// The activation policy that gives no Dock icon and no windows.
inline constexpr int kActivationPolicyProhibited = 2;

// setvbuf on stdout: no buffer of our own, line buffered, size 0.
void setLineBuffered();

// The shared workspace; never null.
Workspace* sharedWorkspace();

// The frontmost running application, or null when there is none.
Application* frontmostApplication(Workspace* workspace);

// Registers `handler` on the workspace's notification center for every
// application activation, from any sender, delivered on the main queue.
// The registration stays for the life of the process.
void addActivationObserver(Workspace* workspace, NotificationHandler handler);

// The notification's user info, or null when it has none.
UserInfo* userInfo(Notification* notification);

// The entry under NSWorkspaceApplicationKey, or null when there is none.
UserInfoEntry* applicationEntry(UserInfo* info);

// The entry as a running application, or null when it is something else.
Application* runningApplication(UserInfoEntry* entry);

// The application's properties; the texts are UTF-8, none when the
// application has none.
std::optional<std::string> bundleIdentifier(Application* application);
std::optional<std::string> localizedName(Application* application);
std::int32_t processIdentifier(Application* application);

// The current wall-clock time in seconds since 1970-01-01 00:00:00 UTC.
double currentTime();

// The descriptor of the standard-input file handle.
int standardInputDescriptor();

// A read source on `fd` that delivers on the main queue; created suspended.
ReadSource* makeReadSource(int fd);

// Installs `handler`, called whenever the descriptor has data or is at end
// of file.
void setEventHandler(ReadSource* source, EventHandler handler);

// Starts the source's delivery.
void resume(ReadSource* source);

// read: the number of bytes read, 0 at end of file, negative on failure.
std::int64_t readInput(int fd, void* buffer, std::size_t size);

// Sets the shared application's activation policy; the result is not given.
void setActivationPolicy(int policy);

// Runs the main loop, which serves the handlers. Returns only if the loop
// itself ends.
void runMainLoop();

}  // namespace platform
