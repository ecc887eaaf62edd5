#include "platform/linux/workspace/XcbEventSource.h"

#include <cstdlib>
#include <utility>

namespace tarnell::platform {

struct XcbEventSource::Source {
    GSource base;
    XcbEventSource* owner;
};

XcbEventSource::XcbEventSource(xcb_connection_t* connection, std::function<bool()> handle)
    : connection_(connection), handle_(std::move(handle)) {
    static GSourceFuncs functions{&XcbEventSource::prepare,
                                  &XcbEventSource::check,
                                  &XcbEventSource::dispatch,
                                  nullptr,
                                  nullptr,
                                  nullptr};
    source_ = g_source_new(&functions, sizeof(Source));
    reinterpret_cast<Source*>(source_)->owner = this;
    // Any other state of the socket (hung up, in error) makes the source ready too.
    g_source_add_unix_fd(source_, xcb_get_file_descriptor(connection_), G_IO_IN);
    g_source_attach(source_, nullptr);
}

XcbEventSource::~XcbEventSource() {
    g_source_destroy(source_);
    g_source_unref(source_);
    std::free(peeked_);
}

xcb_generic_event_t* XcbEventSource::next() {
    if (peeked_ != nullptr) {
        return std::exchange(peeked_, nullptr);
    }
    return xcb_poll_for_event(connection_);
}

bool XcbEventSource::hasReadEvents() {
    if (peeked_ == nullptr) {
        peeked_ = xcb_poll_for_queued_event(connection_);
    }
    return peeked_ != nullptr;
}

gboolean XcbEventSource::prepare(GSource* source, gint* timeout) {
    *timeout = -1;
    return reinterpret_cast<Source*>(source)->owner->hasReadEvents() ? TRUE : FALSE;
}

gboolean XcbEventSource::check(GSource* source) {
    return reinterpret_cast<Source*>(source)->owner->hasReadEvents() ? TRUE : FALSE;
}

gboolean XcbEventSource::dispatch(GSource* source, GSourceFunc, gpointer) {
    return reinterpret_cast<Source*>(source)->owner->handle_() ? G_SOURCE_CONTINUE
                                                               : G_SOURCE_REMOVE;
}

} // namespace tarnell::platform
