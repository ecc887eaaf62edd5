// Tarnell's part inside GNOME Shell: one small D-Bus interface on the session bus
// through which Tarnell learns which application is in front and which ones run,
// brings an application forward and hides it. The shell lets no other program do
// this on Wayland.
//
// Whoever shares the session bus may call it, so it offers only what a window list
// or a dock offers anyway: desktop file IDs of running applications and the input
// source in use, never titles or window contents, and no operation beyond showing
// and minimising an application's windows. Every argument is checked.
//
// This file is shared by both variants of the extension: the one for GNOME Shell
// 43 and 44 loads it as a script, the one for 45 and later as a module. It takes
// what it needs from the shell as arguments and touches nothing else.

const BUS_NAME = 'io.github.tarnell.Tarnell.GnomeShell';
const OBJECT_PATH = '/io/github/tarnell/Tarnell/GnomeShell';
const INTERFACE_XML = `<node>
  <interface name="io.github.tarnell.Tarnell.GnomeShell1">
    <method name="GetState">
      <arg type="b" name="focused" direction="out"/>
      <arg type="s" name="focusedApp" direction="out"/>
      <arg type="as" name="runningApps" direction="out"/>
      <arg type="s" name="inputSourceType" direction="out"/>
      <arg type="s" name="inputSourceId" direction="out"/>
    </method>
    <method name="Activate">
      <arg type="s" name="desktopId" direction="in"/>
      <arg type="b" name="found" direction="out"/>
    </method>
    <method name="Hide">
      <arg type="s" name="desktopId" direction="in"/>
      <arg type="b" name="found" direction="out"/>
    </method>
    <signal name="FocusChanged">
      <arg type="b" name="focused"/>
      <arg type="s" name="focusedApp"/>
    </signal>
    <signal name="RunningAppsChanged">
      <arg type="as" name="runningApps"/>
    </signal>
    <signal name="InputSourceChanged">
      <arg type="s" name="inputSourceType"/>
      <arg type="s" name="inputSourceId"/>
    </signal>
  </interface>
</node>`;

// Bounds on what goes out and comes in; Tarnell holds to the same ones.
const MAX_TEXT_BYTES = 255;
const MAX_RUNNING_APPS = 512;
// How many recently focused windows are remembered, to pick an application's latest.
const MAX_RECENT_WINDOWS = 256;

const INVALID_ARGS = 'org.freedesktop.DBus.Error.InvalidArgs';

function byteLength(text) {
    return new TextEncoder().encode(text).length;
}

// A desktop file ID as the shell names applications: "org.gnome.Calculator.desktop".
function isDesktopId(text) {
    return typeof text === 'string' && text.endsWith('.desktop') && text !== '.desktop' &&
        byteLength(text) <= MAX_TEXT_BYTES && !/[\u0000-\u001f\u007f/]/.test(text);
}

// Text that goes out as it is, cut to the bound.
function bounded(text) {
    if (typeof text !== 'string' || byteLength(text) > MAX_TEXT_BYTES)
        return '';
    return text;
}

var TarnellService = class TarnellService {
    // `shell`: {Gio, GLib, Shell, Main, inputSourceManager()} from the running shell.
    constructor(shell) {
        this._shell = shell;
        this._connections = [];
        this._hidden = new Map(); // window ID -> {window, signal IDs}, minimised by Hide
        this._recent = []; // window IDs, most recently focused first
        this._focus = [false, ''];
        this._running = [];
        this._inputSource = ['', ''];
    }

    enable() {
        const {Gio, Shell} = this._shell;
        const tracker = Shell.WindowTracker.get_default();
        const apps = Shell.AppSystem.get_default();
        this._listen(tracker, 'notify::focus-app', () => this._updateFocus());
        this._listen(global.display, 'notify::focus-window', () => this._noteFocusedWindow());
        this._listen(apps, 'app-state-changed', () => this._updateRunning());
        const sources = this._shell.inputSourceManager();
        if (sources)
            this._listen(sources, 'current-source-changed', () => this._updateInputSource());

        this._focus = this._currentFocus();
        this._running = this._currentRunning();
        this._inputSource = this._currentInputSource();
        this._noteFocusedWindow();

        this._dbus = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this);
        this._dbus.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        const {Gio} = this._shell;
        if (this._nameId) {
            Gio.bus_unown_name(this._nameId);
            this._nameId = 0;
        }
        if (this._dbus) {
            this._dbus.unexport();
            this._dbus = null;
        }
        for (const [object, id] of this._connections)
            object.disconnect(id);
        this._connections = [];
        for (const windowId of [...this._hidden.keys()])
            this._forgetHidden(windowId);
        this._recent = [];
    }

    // --- D-Bus methods -------------------------------------------------------------

    GetState() {
        return [this._focus[0], this._focus[1], this._running,
            this._inputSource[0], this._inputSource[1]];
    }

    ActivateAsync([desktopId], invocation) {
        if (!isDesktopId(desktopId)) {
            invocation.return_dbus_error(INVALID_ARGS, 'not a desktop file ID');
            return;
        }
        invocation.return_value(new this._shell.GLib.Variant('(b)', [this._activate(desktopId)]));
    }

    // An empty ID stands for the focused application when it has no desktop file.
    HideAsync([desktopId], invocation) {
        if (desktopId !== '' && !isDesktopId(desktopId)) {
            invocation.return_dbus_error(INVALID_ARGS, 'not a desktop file ID');
            return;
        }
        invocation.return_value(new this._shell.GLib.Variant('(b)', [this._hide(desktopId)]));
    }

    // --- What the methods do ----------------------------------------------------------

    _activate(desktopId) {
        const app = this._runningApp(desktopId);
        const windows = app ? this._windowsByRecency(app) : [];
        if (windows.length === 0)
            return false;
        const [latest] = windows;
        // Everything a hide put away comes back, the oldest first, so that the
        // windows stack as they did; then the latest window takes the focus.
        for (const window of windows.slice(1).reverse()) {
            if (this._hidden.has(window.get_id()) && window.minimized)
                window.unminimize();
        }
        if (latest.minimized)
            latest.unminimize();
        // The time of the request, later than any input the user gave before it, so
        // that focus-stealing prevention lets the window forward.
        this._shell.Main.activateWindow(latest, global.display.get_current_time_roundtrip());
        return true;
    }

    _hide(desktopId) {
        const app = desktopId === '' ? this._focusedAppWithoutId() : this._runningApp(desktopId);
        if (!app)
            return false;
        for (const window of app.get_windows()) {
            if (window.minimized || !window.can_minimize())
                continue;
            window.minimize();
            this._rememberHidden(window);
        }
        return true;
    }

    _runningApp(desktopId) {
        const app = this._shell.Shell.AppSystem.get_default().lookup_app(desktopId);
        return app && app.get_n_windows() > 0 ? app : null;
    }

    _focusedAppWithoutId() {
        const app = this._shell.Shell.WindowTracker.get_default().focus_app;
        return app && app.is_window_backed() ? app : null;
    }

    _windowsByRecency(app) {
        // The shell's own order (current workspace, shown, last used) breaks ties
        // among windows that never had the focus while this ran.
        const windows = app.get_windows();
        const rank = window => {
            const index = this._recent.indexOf(window.get_id());
            return index < 0 ? this._recent.length : index;
        };
        return windows
            .map((window, order) => ({window, order, rank: rank(window)}))
            .sort((a, b) => a.rank - b.rank || a.order - b.order)
            .map(entry => entry.window);
    }

    // A window stays on the record until it is shown again or goes, by whatever
    // means: the user may restore it from the overview or close it.
    _rememberHidden(window) {
        const windowId = window.get_id();
        if (this._hidden.has(windowId))
            return;
        const ids = [
            window.connect('notify::minimized', () => {
                if (!window.minimized)
                    this._forgetHidden(windowId);
            }),
            window.connect('unmanaged', () => this._forgetHidden(windowId)),
        ];
        this._hidden.set(windowId, {window, ids});
    }

    _forgetHidden(windowId) {
        const entry = this._hidden.get(windowId);
        if (!entry)
            return;
        for (const id of entry.ids)
            entry.window.disconnect(id);
        this._hidden.delete(windowId);
    }

    // --- State sent to Tarnell ---------------------------------------------------------

    _currentFocus() {
        const app = this._shell.Shell.WindowTracker.get_default().focus_app;
        if (!app)
            return [false, ''];
        return [true, app.is_window_backed() ? '' : bounded(app.get_id())];
    }

    _currentRunning() {
        return this._shell.Shell.AppSystem.get_default().get_running()
            .filter(app => !app.is_window_backed() && app.get_n_windows() > 0)
            .map(app => app.get_id())
            .filter(isDesktopId)
            .sort()
            .slice(0, MAX_RUNNING_APPS);
    }

    _currentInputSource() {
        const sources = this._shell.inputSourceManager();
        const source = sources ? sources.currentSource : null;
        return source ? [bounded(source.type), bounded(source.id)] : ['', ''];
    }

    _updateFocus() {
        const focus = this._currentFocus();
        if (focus[0] === this._focus[0] && focus[1] === this._focus[1])
            return;
        this._focus = focus;
        this._emit('FocusChanged', '(bs)', focus);
    }

    _noteFocusedWindow() {
        const window = global.display.focus_window;
        if (!window)
            return;
        const windowId = window.get_id();
        this._recent = [windowId, ...this._recent.filter(id => id !== windowId)]
            .slice(0, MAX_RECENT_WINDOWS);
    }

    _updateRunning() {
        const running = this._currentRunning();
        if (running.length === this._running.length &&
            running.every((id, i) => id === this._running[i]))
            return;
        this._running = running;
        this._emit('RunningAppsChanged', '(as)', [running]);
    }

    _updateInputSource() {
        const source = this._currentInputSource();
        if (source[0] === this._inputSource[0] && source[1] === this._inputSource[1])
            return;
        this._inputSource = source;
        this._emit('InputSourceChanged', '(ss)', source);
    }

    _emit(name, signature, values) {
        if (this._dbus)
            this._dbus.emit_signal(name, new this._shell.GLib.Variant(signature, values));
    }

    _listen(object, signal, handler) {
        this._connections.push([object, object.connect(signal, handler)]);
    }
};
