<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<!-- The texts that read differently on a Linux desktop: where input access is
     granted, the tray icon and the names of the modifier keys; and the texts only
     Linux has, the GNOME Shell extension's notice, for translators to find. Every
     other text is shown as written in the source. -->
<context>
    <name>Tarnell</name>
    <message>
        <source>Tarnell needs Accessibility access</source>
        <translation>Tarnell needs input access</translation>
    </message>
    <message>
        <source>Allow Tarnell in Privacy &amp; Security › Accessibility to use Caps Lock as the Hyper key.</source>
        <translation>Allow Tarnell to read the keyboard and create its virtual keyboard to use Caps Lock as the Hyper key.</translation>
    </message>
    <message>
        <source>Open Settings</source>
        <translation>Grant Access…</translation>
    </message>
    <message>
        <source>Waiting for Accessibility access…</source>
        <translation>Waiting for input access…</translation>
    </message>
    <message>
        <source>Hold Caps Lock and press a key to open an app. Other keys are sent as ⌃⌥⇧⌘ + key. Tap Caps Lock on its own to turn capitals on or off.

Menu bar icon hidden? Hold Caps Lock and press , or open Tarnell again to get back here.</source>
        <translation>Hold Caps Lock and press a key to open an app. Other keys are sent as Ctrl+Alt+Shift+Super + key. Tap Caps Lock on its own to turn capitals on or off.

Tray icon hidden? Hold Caps Lock and press , or open Tarnell again to get back here.</translation>
    </message>
    <message>
        <source>Tarnell needs its GNOME Shell extension</source>
        <translation>Tarnell needs its GNOME Shell extension</translation>
    </message>
    <message>
        <source>Turn on Tarnell’s extension to bring apps to the front and hide them.</source>
        <translation>Turn on Tarnell’s extension to bring apps to the front and hide them.</translation>
    </message>
    <message>
        <source>Log out and back in once, so that GNOME Shell loads Tarnell’s extension to bring apps to the front and hide them.</source>
        <translation>Log out and back in once, so that GNOME Shell loads Tarnell’s extension to bring apps to the front and hide them.</translation>
    </message>
    <message>
        <source>GNOME Shell could not start Tarnell’s extension. Install the Tarnell package made for this version of GNOME.</source>
        <translation>GNOME Shell could not start Tarnell’s extension. Install the Tarnell package made for this version of GNOME.</translation>
    </message>
    <message>
        <source>Turn On</source>
        <translation>Turn On</translation>
    </message>
</context>
</TS>
