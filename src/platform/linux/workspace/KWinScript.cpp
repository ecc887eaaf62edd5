#include "platform/linux/workspace/KWinScript.h"

#include <nlohmann/json.hpp>

namespace tarnell::platform {
namespace {

// Runs in KWin's JavaScript engine. Plasma 6 renamed the window API (clientList,
// activeClient, clientActivated became windowList, activeWindow, windowActivated);
// the script finds out which one it has. Calls without a callback are not answered,
// calls keep their order.
constexpr const char* scriptBody = R"js(
var plasma6 = typeof workspace.windowList === "function";
var longestName = 255; // longer names are no application's and go empty
var answered = false;
var watchdog = null;

function tell(method, a, b, c, d, e, f, g, h) {
    callDBus(tarnell.service, tarnell.path, tarnell.iface, method, a, b, c, d, e, f, g, h);
}

function windows() {
    var list = plasma6 ? workspace.windowList() : workspace.clientList();
    var result = [];
    for (var i = 0; i < list.length; ++i) {
        result.push(list[i]);
    }
    return result;
}

function idOf(w) {
    return String(w.internalId);
}

function name(value) {
    var text = value === undefined || value === null ? "" : String(value);
    return text.length > longestName ? "" : text;
}

function describe(w) {
    var pid = typeof w.pid === "number" && w.pid > 0 ? String(Math.floor(w.pid)) : "0";
    tell("WindowChanged", idOf(w), name(w.desktopFileName), name(w.resourceClass),
         name(w.resourceName), pid, w.normalWindow === true,
         w.desktopWindow === true || w.dock === true, w.minimized === true);
}

function watch(w) {
    describe(w);
    var again = function () { describe(w); };
    var signals = ["minimizedChanged", "desktopFileNameChanged", "windowClassChanged"];
    for (var i = 0; i < signals.length; ++i) {
        var signal = w[signals[i]];
        if (signal && typeof signal.connect === "function") {
            signal.connect(again);
        }
    }
}

function activate(w) {
    w.minimized = false;
    if (plasma6) {
        workspace.activeWindow = w;
    } else {
        workspace.activeClient = w;
    }
}

function idList(value) {
    return Array.isArray(value) ? value : [];
}

function carryOut(text) {
    var commands;
    try {
        commands = JSON.parse(text);
    } catch (error) {
        return;
    }
    if (!Array.isArray(commands)) {
        return;
    }
    var byId = Object.create(null);
    var all = windows();
    for (var i = 0; i < all.length; ++i) {
        byId[idOf(all[i])] = all[i];
    }
    for (var c = 0; c < commands.length; ++c) {
        var command = commands[c] || {};
        idList(command.minimize).forEach(function (id) {
            if (typeof id === "string" && byId[id]) {
                byId[id].minimized = true;
            }
        });
        idList(command.unminimize).forEach(function (id) {
            if (typeof id === "string" && byId[id]) {
                byId[id].minimized = false;
            }
        });
        if (typeof command.activate === "string" && byId[command.activate]) {
            activate(byId[command.activate]);
        }
    }
}

// Tarnell holds each call until it has something to do, and answers within
// seconds even when it has not.
function fetchCommands() {
    callDBus(tarnell.service, tarnell.path, tarnell.iface, "NextCommands", function (text) {
        answered = true;
        fetchCommands();
        carryOut(text);
    });
}

// A call that failed ends the loop above. Fetch again; or, when Tarnell is gone
// (it ended without unloading us), unload this script.
function checkOnTarnell() {
    if (answered) {
        answered = false;
        return;
    }
    callDBus("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "NameHasOwner", tarnell.service, function (owned) {
        if (owned === true) {
            fetchCommands();
        } else {
            callDBus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript",
                     tarnell.pluginName);
        }
    });
}

(plasma6 ? workspace.windowAdded : workspace.clientAdded).connect(watch);
(plasma6 ? workspace.windowRemoved : workspace.clientRemoved).connect(function (w) {
    tell("WindowRemoved", idOf(w));
});
(plasma6 ? workspace.windowActivated : workspace.clientActivated).connect(function (w) {
    tell("WindowActivated", w ? idOf(w) : "");
});

// Bottom to top, so that the order of the reports is the order of recent use.
var current = windows();
current.sort(function (a, b) { return (a.stackingOrder || 0) - (b.stackingOrder || 0); });
current.forEach(watch);
var active = plasma6 ? workspace.activeWindow : workspace.activeClient;
tell("WindowActivated", active ? idOf(active) : "");
tell("Hello", plasma6 ? "6" : "5", tarnell.token);
fetchCommands();

if (typeof QTimer === "function") {
    watchdog = new QTimer();
    watchdog.interval = 30000;
    watchdog.timeout.connect(checkOnTarnell);
    watchdog.start();
}
)js";

} // namespace

std::string kwinScriptSource(const KWinScriptParameters& parameters) {
    const nlohmann::json data{{"service", parameters.service},
                              {"path", kwinScriptObjectPath},
                              {"iface", kwinScriptInterface},
                              {"pluginName", parameters.pluginName},
                              {"token", parameters.token}};
    // ASCII only: older engines take U+2028 in a literal for the end of a line.
    const auto literal = data.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
    return "// Written by Tarnell for one run; KWin loads it from here.\nvar tarnell = " + literal +
           ";\n" + scriptBody;
}

} // namespace tarnell::platform
