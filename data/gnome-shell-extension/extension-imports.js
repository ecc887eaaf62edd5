// Tarnell's GNOME Shell extension for GNOME Shell 43 and 44, which load extensions
// as scripts. The work is done by service.js, shared with the variant for 45 and
// later.
/* exported init */
const {Gio, GLib, Shell} = imports.gi;
const Main = imports.ui.main;
const Keyboard = imports.ui.status.keyboard;
const {TarnellService} = imports.misc.extensionUtils.getCurrentExtension().imports.service;

class TarnellExtension {
    enable() {
        this._service = new TarnellService({
            Gio, GLib, Shell, Main,
            inputSourceManager: () => Keyboard.getInputSourceManager(),
        });
        this._service.enable();
    }

    disable() {
        this._service.disable();
        this._service = null;
    }
}

function init() {
    return new TarnellExtension();
}
