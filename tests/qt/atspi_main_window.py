#!/usr/bin/python3
"""Reads the real program's main window over the accessibility bus (AT-SPI), as a screen reader
does: every field by its name with its value, the buttons and the check box by their texts; then
presses Update through the bus and listens for the value fields' changes, which must come from
the named fields. Last it opens the About box from the system menu (with xdotool's pointer and
keys), reads its links as links named by their texts, and clicks one through the bus.

Run by run_atspi_test.sh, which starts the bus, a display and the program. Prints one line per
check ("ok - ..." / "not ok - ...") and exits non-zero on any failure."""
import os
import subprocess
import sys
import time

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
# Nothing to listen for before the window shows: the program may start.
open(os.environ["ZELTOR_ATSPI_READY"], "w").close()


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


def find_window(title="Zeltor", timeout_s=30):
    """A window of the program once it is on the bus."""
    found = []

    def look():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == "zeltor":
                for window in app:
                    if window is not None and window.name == title:
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


def wait_until(predicate, timeout_s=10):
    end = time.monotonic() + timeout_s
    while not predicate() and time.monotonic() < end:
        time.sleep(0.1)
    return predicate()


# The system menu is the window's context menu, whose popup is not among the application's
# windows on the bus: a right click on the banner, then its About item by its mnemonic.
x, y = window.queryComponent().getPosition(pyatspi.DESKTOP_COORDS)
subprocess.run(["xdotool", "mousemove", str(x + 4), str(y + 4), "click", "3", "sleep", "0.5", "key", "a"], check=True)
about = find_window("About Zeltor", 15)
check(about is not None, "the About box is on the bus")
if about is None:
    sys.exit(1)
links = {a.name: a for a in descendants(about) if a.getRoleName() == "link"}
check(sorted(links) == ["https://www.zeltor.example/", "sales@zeltor.example", "support@zeltor.example"],
      f"the About box's links by their texts: {sorted(links)}")
opened = os.environ["ZELTOR_ATSPI_OPENED"]
support = links.get("support@zeltor.example")
check(support is not None and support.queryAction().nActions >= 1 and support.queryAction().doAction(0),
      "the support link clicked through the bus")
# The opener makes the file before it writes the target into it.
check(wait_until(lambda: os.path.exists(opened) and os.path.getsize(opened) > 0), "the link is opened")
with open(opened) as f:
    targets = f.read().split()
check(targets == ["mailto:support@zeltor.example"], f"the link opens its target: {targets}")
ok = [a for a in descendants(about) if a.name == "OK" and a.getRoleName() == "push button"]
check(len(ok) == 1 and ok[0].queryAction().doAction(0), "OK pressed through the bus")

sys.exit(1 if failures else 0)
