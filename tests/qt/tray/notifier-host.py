#!/usr/bin/python3
"""A StatusNotifierWatcher and host of our own on a private session bus, as a Wayland desktop's
panel would be: it takes the items that register, records what they show (id, title, status,
tool tip, icon sizes, menu) into a JSON file, and clicks each with the left button and then the
right one, writing the record again after every step.
Usage: notifier-host.py RECORD.json"""
import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
record_path = sys.argv[1]
INTROSPECTION = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg type="s" direction="out"/></method>
  </interface>
</node>"""
record = {"registered": [], "items": [], "clicks": [], "errors": []}


def save():
    import os
    with open(record_path + ".new", "w", encoding="utf-8") as f:
        json.dump(record, f, ensure_ascii=False)
    os.replace(record_path + ".new", record_path)


def plain(value):
    """D-Bus values as JSON: byte arrays as their length."""
    if isinstance(value, dbus.Array) and value.signature == "y":
        return {"bytes": len(value)}
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Dictionary):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (dbus.Boolean,)):
        return bool(value)
    if isinstance(value, (dbus.Int32, dbus.UInt32, dbus.Int64, dbus.UInt64, dbus.Int16, dbus.UInt16, dbus.Byte)):
        return int(value)
    return str(value)


def failed(what):
    return lambda e: (record["errors"].append(f"{what}: {e}"), save())


def look(bus, service, path):
    proxy = bus.get_object(service, path)
    props = proxy.GetAll(ITEM, dbus_interface=dbus.PROPERTIES_IFACE)
    record["items"].append({k: plain(v) for k, v in props.items()})
    save()
    item = dbus.Interface(proxy, ITEM)

    def click(which, method):
        getattr(item, method)(40, 40, reply_handler=lambda: None, error_handler=failed(method))
        record["clicks"].append(which)
        save()
        return False

    GLib.timeout_add(200, click, "left", "Activate")
    GLib.timeout_add(2500, click, "right", "ContextMenu")
    return False


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        self.bus = bus
        super().__init__(dbus.service.BusName(WATCHER, bus), "/StatusNotifierWatcher")

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        path = "/StatusNotifierItem"
        if service.startswith("/"):
            path, service = service, sender
        record["registered"].append(service + path)
        save()
        self.StatusNotifierItemRegistered(service + path)
        GLib.timeout_add(300, look, self.bus, service, path)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    # Qt reads the watcher's properties through its introspection, which must name them.
    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(record["registered"], signature="s"),
            "IsStatusNotifierHostRegistered": True,
            "ProtocolVersion": dbus.Int32(0),
        }


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
watcher = Watcher(dbus.SessionBus())
save()
GLib.MainLoop().run()
