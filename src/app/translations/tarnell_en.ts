<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<!-- Only the texts that read differently on a Linux desktop: where input access is
     granted, the tray icon and the names of the modifier keys. Every other text is
     shown as written in the source. -->
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
</context>
</TS>
