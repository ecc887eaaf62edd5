// Tarnell's GNOME Shell extension for GNOME Shell 45 and later, which load
// extensions as modules. The work is done by service.js, shared with the variant
// for 43 and 44.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Shell from 'gi://Shell';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as Keyboard from 'resource:///org/gnome/shell/ui/status/keyboard.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

import {TarnellService} from './service.js';

export default class TarnellExtension extends Extension {
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
