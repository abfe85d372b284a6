#!/usr/bin/python3
"""A keyboard on the seat of a headless mutter, which has none of its own: a remote-desktop
session of mutter's D-Bus service, started and given one key press. wl-copy and wl-paste need
one there. Prints "ready" once the keyboard is there and holds the session until it is ended."""
import sys
import time

import dbus
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
NAME = "org.gnome.Mutter.RemoteDesktop"
for attempt in range(100):
    try:
        desktop = dbus.Interface(bus.get_object(NAME, "/org/gnome/Mutter/RemoteDesktop"), NAME)
        path = desktop.CreateSession()
        break
    except dbus.DBusException:
        time.sleep(0.1)
else:
    sys.exit("mutter's remote-desktop service did not answer")
session = dbus.Interface(bus.get_object(NAME, path), NAME + ".Session")
session.Start()
SHIFT = dbus.UInt32(42)  # evdev code of the left Shift key
session.NotifyKeyboardKeycode(SHIFT, True)
session.NotifyKeyboardKeycode(SHIFT, False)
print("ready", flush=True)
GLib.MainLoop().run()
