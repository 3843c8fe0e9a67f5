// Mirrors the platform's declarations for a syntax check on Linux; nothing more.
#pragma once

#include <stdint.h>

#if defined(__OBJC__)
// In Objective-C the platform makes Dispatch objects Objective-C objects.
#import <Foundation/NSObject.h>
@protocol OS_dispatch_object <NSObject>
@end
typedef NSObject<OS_dispatch_object> *dispatch_object_t;
@protocol OS_dispatch_queue <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_queue> *dispatch_queue_t;
@protocol OS_dispatch_source <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_source> *dispatch_source_t;
#else
// In plain C++ the platform makes them pointers to structs derived from dispatch_object_s.
typedef struct dispatch_object_s {
 private:
  dispatch_object_s();
  ~dispatch_object_s();
  dispatch_object_s(const dispatch_object_s &);
  void operator=(const dispatch_object_s &);
} *dispatch_object_t;
typedef struct dispatch_queue_s : public dispatch_object_s {} *dispatch_queue_t;
typedef struct dispatch_source_s : public dispatch_object_s {} *dispatch_source_t;
#endif

typedef const struct dispatch_source_type_s *dispatch_source_type_t;
typedef void (*dispatch_function_t)(void *);
#ifdef __BLOCKS__
typedef void (^dispatch_block_t)(void);
#endif

#ifdef __cplusplus
extern "C" {
#endif

extern const struct dispatch_source_type_s _dispatch_source_type_read;
#define DISPATCH_SOURCE_TYPE_READ (&_dispatch_source_type_read)

dispatch_queue_t dispatch_get_main_queue(void);
dispatch_source_t dispatch_source_create(dispatch_source_type_t type, uintptr_t handle, uintptr_t mask,
                                         dispatch_queue_t queue);
#ifdef __BLOCKS__
void dispatch_source_set_event_handler(dispatch_source_t source, dispatch_block_t handler);
#endif
void dispatch_source_set_event_handler_f(dispatch_source_t source, dispatch_function_t handler);
void dispatch_resume(dispatch_object_t object);
void dispatch_release(dispatch_object_t object);

#ifdef __cplusplus
}
#endif

#if defined(__OBJC__) && __has_feature(objc_arc)
// Under ARC the platform makes dispatch_release a message that ARC forbids: Dispatch objects are ARC's.
#undef dispatch_release
#define dispatch_release(object) __extension__({ dispatch_object_t _o = (object); [_o release]; })
#endif
