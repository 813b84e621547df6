#include "engine/mpv_library.h"

#include <dlfcn.h>
#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/stream_cb.h>

#include <string>

namespace {

// Every libmpv function the program calls.
#define TIBROK_MPV_FUNCTIONS(X)             \
  X(mpv_client_api_version)                 \
  X(mpv_command_async)                      \
  X(mpv_create)                             \
  X(mpv_error_string)                       \
  X(mpv_free)                               \
  X(mpv_get_property_async)                 \
  X(mpv_get_property_string)                \
  X(mpv_initialize)                         \
  X(mpv_observe_property)                   \
  X(mpv_render_context_create)              \
  X(mpv_render_context_free)                \
  X(mpv_render_context_get_info)            \
  X(mpv_render_context_render)              \
  X(mpv_render_context_set_update_callback) \
  X(mpv_render_context_update)              \
  X(mpv_request_log_messages)               \
  X(mpv_set_option_string)                  \
  X(mpv_set_property_async)                 \
  X(mpv_set_wakeup_callback)                \
  X(mpv_stream_cb_add_ro)                   \
  X(mpv_terminate_destroy)                  \
  X(mpv_unobserve_property)                 \
  X(mpv_wait_event)

struct Api {
#define TIBROK_DECLARE(name) decltype(&::name) name = nullptr;
  TIBROK_MPV_FUNCTIONS(TIBROK_DECLARE)
#undef TIBROK_DECLARE
  QString error;  // empty when every function above is set
};

// The library built against: same major API version, at least this minor.
const std::string kSoname = "libmpv.so." + std::to_string(MPV_CLIENT_API_VERSION >> 16);

const Api* Load() {
  // Never unloaded: engine threads may outlive any owner that could. Lazy
  // binding, as when a program links a library: symbols resolve when first
  // called, not all of them during the load.
  auto* api = new Api;
  void* library = dlopen(kSoname.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!library) {
    api->error = QString::fromLocal8Bit(dlerror());
    return api;
  }
  bool complete = true;
#define TIBROK_RESOLVE(name)                                                \
  api->name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name));   \
  if (!api->name && complete) {                                             \
    complete = false;                                                       \
    api->error = QStringLiteral("%1 lacks %2").arg(kSoname.c_str(), #name); \
  }
  TIBROK_MPV_FUNCTIONS(TIBROK_RESOLVE)
#undef TIBROK_RESOLVE
  if (complete) {
    const unsigned long version = api->mpv_client_api_version();
    if ((version >> 16) != (MPV_CLIENT_API_VERSION >> 16) || version < MPV_CLIENT_API_VERSION) {
      complete = false;
      api->error = QStringLiteral("%1 has client API %2.%3, not %4.%5 or a later %4.x")
                       .arg(kSoname.c_str())
                       .arg(version >> 16)
                       .arg(version & 0xffff)
                       .arg(MPV_CLIENT_API_VERSION >> 16)
                       .arg(MPV_CLIENT_API_VERSION & 0xffff);
    }
  }
  if (!complete) {
    // Nothing half-usable: either every call reaches the library or none.
    const QString error = api->error;
    *api = Api{};
    api->error = error;
  }
  return api;
}

// Loads on first use, on the calling thread. Every engine call comes through
// here: after the load, a check of an initialised static.
const Api& Get() {
  static const Api* const api = Load();
  return *api;
}

}  // namespace

namespace mpv_library {

void Preload() { Get(); }
bool Available() { return Get().error.isEmpty(); }
QString Error() { return Get().error; }

}  // namespace mpv_library

// The functions of <mpv/client.h> and <mpv/render.h> the program uses, each
// forwarding to the loaded library. Without it, calls fail the way libmpv's
// own fail without a core: no core is ever created.
extern "C" {

unsigned long mpv_client_api_version(void) {
  return Get().mpv_client_api_version ? Get().mpv_client_api_version() : 0;
}

const char* mpv_error_string(int error) {
  return Get().mpv_error_string ? Get().mpv_error_string(error) : "libmpv is not available";
}

void mpv_free(void* data) {
  if (Get().mpv_free) Get().mpv_free(data);
}

mpv_handle* mpv_create(void) { return Get().mpv_create ? Get().mpv_create() : nullptr; }

int mpv_initialize(mpv_handle* ctx) {
  return Get().mpv_initialize ? Get().mpv_initialize(ctx) : MPV_ERROR_UNINITIALIZED;
}

void mpv_terminate_destroy(mpv_handle* ctx) {
  if (Get().mpv_terminate_destroy) Get().mpv_terminate_destroy(ctx);
}

int mpv_set_option_string(mpv_handle* ctx, const char* name, const char* data) {
  return Get().mpv_set_option_string ? Get().mpv_set_option_string(ctx, name, data)
                                     : MPV_ERROR_UNINITIALIZED;
}

int mpv_command_async(mpv_handle* ctx, uint64_t reply_userdata, const char** args) {
  return Get().mpv_command_async ? Get().mpv_command_async(ctx, reply_userdata, args)
                                 : MPV_ERROR_UNINITIALIZED;
}

int mpv_set_property_async(mpv_handle* ctx, uint64_t reply_userdata, const char* name,
                           mpv_format format, void* data) {
  return Get().mpv_set_property_async
             ? Get().mpv_set_property_async(ctx, reply_userdata, name, format, data)
             : MPV_ERROR_UNINITIALIZED;
}

char* mpv_get_property_string(mpv_handle* ctx, const char* name) {
  return Get().mpv_get_property_string ? Get().mpv_get_property_string(ctx, name) : nullptr;
}

int mpv_get_property_async(mpv_handle* ctx, uint64_t reply_userdata, const char* name,
                           mpv_format format) {
  return Get().mpv_get_property_async
             ? Get().mpv_get_property_async(ctx, reply_userdata, name, format)
             : MPV_ERROR_UNINITIALIZED;
}

int mpv_observe_property(mpv_handle* mpv, uint64_t reply_userdata, const char* name,
                         mpv_format format) {
  return Get().mpv_observe_property ? Get().mpv_observe_property(mpv, reply_userdata, name, format)
                                    : MPV_ERROR_UNINITIALIZED;
}

int mpv_unobserve_property(mpv_handle* mpv, uint64_t registered_reply_userdata) {
  return Get().mpv_unobserve_property ? Get().mpv_unobserve_property(mpv, registered_reply_userdata)
                                      : MPV_ERROR_UNINITIALIZED;
}

int mpv_request_log_messages(mpv_handle* ctx, const char* min_level) {
  return Get().mpv_request_log_messages ? Get().mpv_request_log_messages(ctx, min_level)
                                        : MPV_ERROR_UNINITIALIZED;
}

mpv_event* mpv_wait_event(mpv_handle* ctx, double timeout) {
  static mpv_event none{};  // MPV_EVENT_NONE: nothing happened
  return Get().mpv_wait_event ? Get().mpv_wait_event(ctx, timeout) : &none;
}

int mpv_stream_cb_add_ro(mpv_handle* ctx, const char* protocol, void* user_data,
                         mpv_stream_cb_open_ro_fn open_fn) {
  return Get().mpv_stream_cb_add_ro ? Get().mpv_stream_cb_add_ro(ctx, protocol, user_data, open_fn)
                                    : MPV_ERROR_UNINITIALIZED;
}

void mpv_set_wakeup_callback(mpv_handle* ctx, void (*cb)(void* d), void* d) {
  if (Get().mpv_set_wakeup_callback) Get().mpv_set_wakeup_callback(ctx, cb, d);
}

int mpv_render_context_create(mpv_render_context** res, mpv_handle* mpv, mpv_render_param* params) {
  return Get().mpv_render_context_create ? Get().mpv_render_context_create(res, mpv, params)
                                         : MPV_ERROR_UNINITIALIZED;
}

void mpv_render_context_free(mpv_render_context* ctx) {
  if (Get().mpv_render_context_free) Get().mpv_render_context_free(ctx);
}

int mpv_render_context_get_info(mpv_render_context* ctx, mpv_render_param param) {
  return Get().mpv_render_context_get_info ? Get().mpv_render_context_get_info(ctx, param)
                                           : MPV_ERROR_UNINITIALIZED;
}

int mpv_render_context_render(mpv_render_context* ctx, mpv_render_param* params) {
  return Get().mpv_render_context_render ? Get().mpv_render_context_render(ctx, params)
                                         : MPV_ERROR_UNINITIALIZED;
}

void mpv_render_context_set_update_callback(mpv_render_context* ctx, mpv_render_update_fn callback,
                                            void* callback_ctx) {
  if (Get().mpv_render_context_set_update_callback) {
    Get().mpv_render_context_set_update_callback(ctx, callback, callback_ctx);
  }
}

uint64_t mpv_render_context_update(mpv_render_context* ctx) {
  return Get().mpv_render_context_update ? Get().mpv_render_context_update(ctx) : 0;
}

}  // extern "C"
