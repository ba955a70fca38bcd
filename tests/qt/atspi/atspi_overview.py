#!/usr/bin/python3
"""Reads the domain overview over the accessibility bus (AT-SPI), as a screen reader does: each
row's cells under their column headings, for an answering, a silent, a refusing controller and one
without performance data; a row's state change heard on the bus; then the picker's list, whose row
is selected through the bus, and the picker follows.

Run by run_atspi_test.sh with the program of overview_program.cpp, which opens the overview at
start. Prints one line per check ("ok - ..." / "not ok - ...") and exits non-zero on any failure."""
import os
import sys
import time

import pyatspi
from gi.repository import GLib

HEADINGS = ["Controller", "State", "Processor %", "Committed memory %", "Free disk %", "LSASS handles",
            "Page faults/sec", "Age", "Health", "Replication"]

failures = 0


def check(passed, what):
    global failures
    print(("ok - " if passed else "not ok - ") + what, flush=True)
    failures += 0 if passed else 1


def spin_until(predicate, timeout_s):
    """Runs the bus's events until predicate holds or the time is up."""
    loop = GLib.MainLoop()
    end = time.monotonic() + timeout_s

    def look():
        if predicate() or time.monotonic() > end:
            loop.quit()
            return False
        return True

    GLib.timeout_add(100, look)
    loop.run()
    return predicate()


def find_window(title, timeout_s=30):
    found = []

    def look():
        for app in pyatspi.Registry.getDesktop(0):
            for window in app if app is not None else []:
                if window is not None and window.name == title:
                    found.append(window)
        return bool(found)

    spin_until(look, timeout_s)
    return found[0] if found else None


def descendants(accessible):
    for child in accessible:
        if child is not None:
            yield child
            yield from descendants(child)


def named(window, name, role):
    for a in descendants(window):
        if a.name == name and a.getRoleName() == role:
            return a
    return None


# The overview's cells whose names changed, heard from the time the program starts, with the name
# each has when heard (the event itself names only the cell).
names_heard = []


def on_name(event):
    try:
        names_heard.append((event.source.getIndexInParent(), event.source.name))
    except Exception as e:  # a cell gone meanwhile is reported, not lost
        names_heard.append((None, f"({e})"))


pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
# Listening: the program may start.
open(os.environ["ZELTOR_ATSPI_READY"], "w").close()

overview = find_window("Domain Overview")
check(overview is not None, "the overview is on the accessibility bus")
if overview is None:
    sys.exit(1)
tables = [a for a in descendants(overview) if "Table" in pyatspi.listInterfaces(a)]
check(len(tables) == 1, f"the overview has one table ({[t.getRoleName() for t in tables]})")
table = tables[0].queryTable()
check([table.getColumnDescription(c) for c in range(table.nColumns)] == HEADINGS,
      "the columns' descriptions are their headings")
check([table.getColumnHeader(c).name for c in range(table.nColumns)] == HEADINGS,
      "the column headers are named by their headings")


def rows():
    """Each row as a screen reader speaks it: "heading: text" per cell, by controller."""
    read = {}
    for r in range(table.nRows):
        cells = [table.getAccessibleAt(r, c).name for c in range(table.nColumns)]
        read[cells[0]] = [f"{h}: {t}" for h, t in zip(HEADINGS, cells)]
    return read


def settled():
    read = rows()
    return (read.get("DC01", [""] * 2)[1] == "State: answering"
            and read.get("DC02", [""] * 2)[1].startswith("State: not answering: ")
            and read.get("DC03", [""] * 2)[1].startswith("State: credentials refused: ")
            and read.get("DC04", [""] * 2)[1].startswith("State: no performance data: "))


# The silent controller is given up after 4 s.
check(spin_until(settled, 15), "the four controllers' states are read as they settle")
read = rows()
for name in sorted(read):
    print(f"#   {' | '.join(read[name])}")
check(sorted(read) == ["DC01", "DC02", "DC03", "DC04"], "one row per controller")
check(read.get("DC01", [])[2:7] == ["Processor %: 95 (high)", "Committed memory %: 42", "Free disk %: 55",
                                    "LSASS handles: 1234", "Page faults/sec: 300"],
      "the answering controller's figures under their headings, the high one in words")
check(read.get("DC01", [""] * 8)[7].endswith(" s"), "the answering controller's figures have an age")
for name in ("DC02", "DC03", "DC04"):
    check(all(cell.endswith(": ") for cell in read.get(name, ["x"] * 9)[2:8]), f"{name} shows no figures")


def row_of(name):
    return next(r for r in range(table.nRows) if table.getAccessibleAt(r, 0).name == name)


# The silent controller's state went from "reading" to "not answering" while we listened.
silent_state = table.getAccessibleAt(row_of("DC02"), 1).getIndexInParent()
print(f"# names heard until the rows settled: {names_heard}")
check(any(i == silent_state and t.startswith("not answering") for i, t in names_heard),
      "the silent controller's change to \"not answering\" is heard as its state cell's new name")

# Health: DC01's directory does not answer while its counters do; the cell says what fails and
# why, and its description carries the same for a cell narrower than its text.
health = lambda name: table.getAccessibleAt(row_of(name), 8)
expected = "LDAP, global catalog, clock failing (LDAP: no answer from DC01; global catalog: no answer from DC01; "
check(spin_until(lambda: health("DC01").name.startswith(expected), 10),
      f"DC01's health in words: {health('DC01').name!r}")
check(health("DC01").description == health("DC01").name, f"its description: {health('DC01').description!r}")
check(spin_until(lambda: health("DC04").name == "ok", 10), f"DC04's health: {health('DC04').name!r}")
refused = "LDAP bind, SYSVOL, NETLOGON failing (not tried: the logon was refused; Refresh tries again)"
check(spin_until(lambda: health("DC03").name == refused, 10),
      f"DC03's refused logon holds the checks' credentials back: {health('DC03').name!r}")

# Replication: DC04 has failed to pull from DC05 for 3 hours; the cell's description is its text.
replication = lambda name: table.getAccessibleAt(row_of(name), 9)
failing = "DC05 failing for 3 h: The RPC server is unavailable."
check(spin_until(lambda: replication("DC04").name == failing, 10), f"DC04's replication: {replication('DC04').name!r}")
check(replication("DC04").description == failing, f"its description: {replication('DC04').description!r}")
check(spin_until(lambda: replication("DC01").name == "ok, 1 partner", 10),
      f"DC01's replication: {replication('DC01').name!r}")

# "Refresh now" on the selected row (the first, DC01): reading, then answering again; two changes,
# the second may come before the first is read.
check(table.isRowSelected(row_of("DC01")), "the first row is selected")
answering_state = table.getAccessibleAt(row_of("DC01"), 1).getIndexInParent()
del names_heard[:]
refresh = named(overview, "Refresh now", "push button")
check(refresh is not None and refresh.queryAction().doAction(0), "Refresh now pressed through the bus")
heard = lambda: [t for i, t in names_heard if i == answering_state]
check(spin_until(lambda: len(heard()) >= 2 and heard()[-1] == "answering", 10),
      f"the refreshed row's state changes are heard: {heard()}")

close = named(overview, "Close", "push button")
check(close is not None and close.queryAction().doAction(0), "the overview closed through the bus")

# The picker: its list's rows are selected through the bus.
main = find_window("Zeltor", 10)
find = named(main, "Find", "push button") if main is not None else None
check(find is not None and find.queryAction().doAction(0), "Find pressed through the bus")
picker = find_window("Select Domain Controller", 15)
check(picker is not None, "the picker is on the bus")
if picker is None:
    sys.exit(1)
lists = [a for a in descendants(picker) if a.getRoleName() == "list"]
check(len(lists) == 1, "the picker has one list")
interfaces = pyatspi.listInterfaces(lists[0])
print(f"# the picker's list offers {interfaces}")
ok = named(picker, "OK", "push button")
check(ok is not None and not ok.getState().contains(pyatspi.STATE_SENSITIVE), "OK is unavailable before a pick")
if "Selection" in interfaces:
    selection = lists[0].querySelection()
    check(selection.selectChild(1), "the second controller selected through the Selection interface")
    check(spin_until(lambda: selection.isChildSelected(1), 5), "the Selection interface says it is selected")
else:
    rows_of_list = lists[0].queryTable()
    check(rows_of_list.addRowSelection(1), "the second controller selected through the Table interface")
    check(spin_until(lambda: list(rows_of_list.getSelectedRows()) == [1], 5),
          "the Table interface says it alone is selected")
check(spin_until(lambda: ok.getState().contains(pyatspi.STATE_SENSITIVE), 5), "the picker follows: OK is available")
check(ok.queryAction().doAction(0), "OK pressed through the bus")
field = named(main, "Domain Controller", "text")
value = lambda: field.queryText().getText(0, -1) if field is not None else None
check(spin_until(lambda: value() == "DC02", 5), f"the picked controller is in the main window: {value()!r}")
check(named(main, "Close", "push button").queryAction().doAction(0), "the main window closed through the bus")

sys.exit(1 if failures else 0)
