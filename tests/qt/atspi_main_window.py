#!/usr/bin/python3
"""Reads the real program's main window over the accessibility bus (AT-SPI), as a screen reader
does: every field by its name with its value, the buttons and the check box by their texts; then
presses Update through the bus and listens for the value fields' changes, which must come from
the named fields.

Run by run_atspi_test.sh, which starts the bus, a display and the program. Prints one line per
check ("ok - ..." / "not ok - ...") and exits non-zero on any failure."""
import sys

import pyatspi
from gi.repository import GLib

FIELDS = {  # name: role
    "Domain": "text",
    "Domain Controller": "text",
    "User name": "text",
    "Password": "password text",
}
VALUES = ["CPU Usage (%)", "Memory Usage (%)", "Disk Usage (%)", "Page Reads/sec", "Page Writes/sec",
          "NTFRS Handles", "File Reads/sec", "File Writes/sec", "Interrupt time(%)", "LSASS Handles",
          "Page Faults/sec", "Pages Input/sec", "Pages Output/sec"]
BUTTONS = {"Find": "push button", "Update": "push button", "Close": "push button", "Auto Update": "check box"}

failures = 0


def check(passed, what):
    global failures
    print(("ok - " if passed else "not ok - ") + what, flush=True)
    failures += 0 if passed else 1


def text_of(accessible):
    text = accessible.queryText()
    return text.getText(0, text.characterCount)


def descendants(accessible):
    for child in accessible:
        if child is None:
            continue
        yield child
        yield from descendants(child)


def find_window(timeout_s=30):
    """The program's main window once its application is on the bus."""
    found = []

    def look():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "zeltor":
                for window in app:
                    if window is not None and window.name == "Zeltor":
                        found.append(window)
        if found:
            loop.quit()
            return False
        return True

    loop = GLib.MainLoop()
    GLib.timeout_add(200, look)
    GLib.timeout_add(timeout_s * 1000, loop.quit)
    loop.run()
    return found[0] if found else None


window = find_window()
if window is None:
    check(False, "the program's window is on the accessibility bus")
    sys.exit(1)
check(True, "the program's window is on the accessibility bus")

by_name = {}
for a in descendants(window):
    if a.name:
        by_name.setdefault(a.name, a)

for name, role in FIELDS.items():
    a = by_name.get(name)
    check(a is not None and a.getRoleName() == role,
          f"{role} field \"{name}\"" + ("" if a is None else f" reads {text_of(a)!r}"))
for name in VALUES:
    a = by_name.get(name)
    value = text_of(a) if a is not None else None
    check(a is not None and a.getRoleName() == "label" and value == "0"
          and a.description == "DC Performance Data",
          f"value field \"{name}\" reads {value!r} before Update")
for name, role in BUTTONS.items():
    a = by_name.get(name)
    check(a is not None and a.getRoleName() == role, f"{role} \"{name}\"")
# The labels are spoken as the fields' names; none of the fields is left unnamed.
unnamed = [a.getRoleName() for a in descendants(window)
           if not a.name and a.getRoleName() in ("text", "password text", "label", "push button", "check box")]
check(unnamed == [], f"no unnamed field ({unnamed})")

# Update through the bus; Auto Update is ticked at start, so the values refresh every second.
changes = {}


def on_change(event):
    name = event.source.name
    if name in VALUES:
        changes[name] = text_of(event.source)


pyatspi.Registry.registerEventListener(on_change, "object:text-changed:insert")
update = by_name["Update"].queryAction()
check(update.doAction(0), "Update pressed through the bus")
loop = GLib.MainLoop()


def enough():
    if len(changes) >= 2:
        loop.quit()
        return False
    return True


GLib.timeout_add(200, enough)
GLib.timeout_add(15000, loop.quit)
loop.run()
pyatspi.Registry.deregisterEventListener(on_change, "object:text-changed:insert")
check(len(changes) >= 2, f"changes announced by the named value fields: {changes}")
check(all(v.lstrip("-").isdigit() for v in changes.values()), "each announced value is a number")
memory = text_of(by_name["Memory Usage (%)"])
check(memory.isdigit() and int(memory) > 0, f"Memory Usage (%) reads {memory} after Update")

sys.exit(1 if failures else 0)
