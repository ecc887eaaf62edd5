#pragma once

#include <functional>
#include <glib.h>
#include <xcb/xcb.h>

namespace tarnell::platform {

// Runs a handler on the default GLib main context whenever an X connection has events
// waiting. libxcb reads what the server sent whenever it writes requests or waits for
// a reply, and keeps the events among it in a queue of its own; the socket then has
// nothing to read, and a watch on the socket alone would leave those events unhandled
// until the server happened to send something else. This source looks at both.
class XcbEventSource {
public:
    // `handle` takes the waiting events with `next()`; returning false ends the source.
    XcbEventSource(xcb_connection_t* connection, std::function<bool()> handle);
    ~XcbEventSource();
    XcbEventSource(const XcbEventSource&) = delete;
    XcbEventSource& operator=(const XcbEventSource&) = delete;

    // The next event, already read or still on the socket; nullptr when none waits.
    // The caller frees it.
    xcb_generic_event_t* next();

private:
    struct Source;
    static gboolean prepare(GSource* source, gint* timeout);
    static gboolean check(GSource* source);
    static gboolean dispatch(GSource* source, GSourceFunc, gpointer);
    bool hasReadEvents();

    xcb_connection_t* connection_;
    std::function<bool()> handle_;
    xcb_generic_event_t* peeked_ = nullptr; // taken from libxcb's queue to see it is there
    GSource* source_ = nullptr;
};

} // namespace tarnell::platform
