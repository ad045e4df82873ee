#!/usr/bin/python3
"""A desktop portal for tests, on the session bus the test gives it.

It serves org.freedesktop.portal.Desktop at /org/freedesktop/portal/desktop with the
GlobalShortcuts and RemoteDesktop interfaces as xdg-desktop-portal documents them: each
method answers with a request object path, and the outcome follows as that object's
Response signal. The test steers and reads it through org.zibtam.test.Portal:
Activate(shortcut, token) presses a bound shortcut and lets it go, Calls() lists the
methods called, Keysyms() the key events sent.

Options: --decline-shortcuts, --decline-keyboard (the user says no), --no-shortcuts,
--no-keyboard (the interface is missing), --grant-only ID (only that shortcut is bound).
"""
import argparse

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"
REMOTE = "org.freedesktop.portal.RemoteDesktop"
CONTROL = "org.zibtam.test.Portal"
SUCCESS, CANCELLED = 0, 1

args = argparse.ArgumentParser()
for flag in ("--decline-shortcuts", "--decline-keyboard", "--no-shortcuts", "--no-keyboard"):
    args.add_argument(flag, action="store_true")
args.add_argument("--grant-only")
options = args.parse_args()


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass


class Session(dbus.service.Object):
    @dbus.service.method("org.freedesktop.portal.Session")
    def Close(self):
        portal.calls.append("Session.Close")
        self.remove_from_connection()

    @dbus.service.signal("org.freedesktop.portal.Session")
    def Closed(self):
        pass


class Base(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.bus = bus
        self.calls = []
        self.keysyms = []
        self.bound = {}  # session -> shortcut ids
        self.sessions = {}

    def answer(self, sender, token, response, results):
        """The request object's path, with its Response sent from the main loop."""
        path = "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"), token)
        request = Request(self.bus, path)

        def respond():
            request.Response(dbus.UInt32(response), dbus.Dictionary(results, signature="sv"))
            request.remove_from_connection()
            return False

        GLib.timeout_add(20, respond)
        return dbus.ObjectPath(path)

    def new_session(self, sender, opts):
        path = "%s/session/%s/%s" % (PATH, sender[1:].replace(".", "_"),
                                     opts["session_handle_token"])
        self.sessions[path] = Session(self.bus, path)
        return path

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if name == "version" and interface in self.interfaces():
            return dbus.UInt32(1 if interface == SHORTCUTS else 2)
        raise dbus.exceptions.DBusException(
            "no such property", name="org.freedesktop.DBus.Error.UnknownProperty")

    def interfaces(self):
        return [i for i, absent in ((SHORTCUTS, options.no_shortcuts),
                                    (REMOTE, options.no_keyboard)) if not absent]

    @dbus.service.method(CONTROL, in_signature="ss")
    def Activate(self, shortcut, token):
        for session, ids in self.bound.items():
            if shortcut in ids:
                extra = dbus.Dictionary({"activation_token": token} if token else {},
                                        signature="sv")
                self.Activated(dbus.ObjectPath(session), shortcut, dbus.UInt64(1), extra)
                GLib.timeout_add(100, lambda s=session: self.Deactivated(
                    dbus.ObjectPath(s), shortcut, dbus.UInt64(2),
                    dbus.Dictionary({}, signature="sv")) and False)

    @dbus.service.method(CONTROL, out_signature="as")
    def Calls(self):
        return self.calls

    @dbus.service.method(CONTROL, out_signature="a(iu)")
    def Keysyms(self):
        return self.keysyms


class GlobalShortcuts(dbus.service.Object):
    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, opts, sender=None):
        self.calls.append("GlobalShortcuts.CreateSession")
        session = self.new_session(sender, opts)
        return self.answer(sender, opts["handle_token"], SUCCESS, {"session_handle": session})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, opts, sender=None):
        self.calls.append("GlobalShortcuts.BindShortcuts " + " ".join(
            "%s=%s" % (sid, props.get("preferred_trigger", "")) for sid, props in shortcuts))
        if options.decline_shortcuts:
            return self.answer(sender, opts["handle_token"], CANCELLED, {})
        granted = [(sid, props) for sid, props in shortcuts
                   if options.grant_only in (None, sid)]
        self.bound[str(session)] = [sid for sid, _ in granted]
        result = dbus.Array([dbus.Struct((sid, dbus.Dictionary(
            {"description": props["description"],
             "trigger_description": props.get("preferred_trigger", "")}, signature="sv")))
            for sid, props in granted], signature="(sa{sv})")
        return self.answer(sender, opts["handle_token"], SUCCESS, {"shortcuts": result})

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session, shortcut, timestamp, opts):
        pass

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Deactivated(self, session, shortcut, timestamp, opts):
        pass


class RemoteDesktop(dbus.service.Object):
    @dbus.service.method(REMOTE, in_signature="a{sv}", out_signature="o",
                         sender_keyword="sender")
    def CreateSession(self, opts, sender=None):
        self.calls.append("RemoteDesktop.CreateSession")
        session = self.new_session(sender, opts)
        return self.answer(sender, opts["handle_token"], SUCCESS, {"session_handle": session})

    @dbus.service.method(REMOTE, in_signature="oa{sv}", out_signature="o",
                         sender_keyword="sender")
    def SelectDevices(self, session, opts, sender=None):
        self.calls.append("RemoteDesktop.SelectDevices types=%d persist=%d restore=%s" % (
            opts.get("types", 0), opts.get("persist_mode", 0), opts.get("restore_token", "")))
        return self.answer(sender, opts["handle_token"], SUCCESS, {})

    @dbus.service.method(REMOTE, in_signature="osa{sv}", out_signature="o",
                         sender_keyword="sender")
    def Start(self, session, parent, opts, sender=None):
        self.calls.append("RemoteDesktop.Start")
        if options.decline_keyboard:
            return self.answer(sender, opts["handle_token"], CANCELLED, {})
        return self.answer(sender, opts["handle_token"], SUCCESS,
                           {"devices": dbus.UInt32(1), "restore_token": "granted-once"})

    @dbus.service.method(REMOTE, in_signature="oa{sv}iu")
    def NotifyKeyboardKeysym(self, session, opts, keysym, state):
        self.keysyms.append((keysym, state))


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    bases = [Base]
    if not options.no_shortcuts:
        bases.insert(0, GlobalShortcuts)
    if not options.no_keyboard:
        bases.insert(0, RemoteDesktop)
    global portal
    portal = type("Portal", tuple(bases), {})(bus)
    # The name last: a test that sees it may call at once.
    name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
    GLib.MainLoop().run()
    del name


main()
