"""Checks of the main screen's layout and of what reached the terminal, shared by the
end-to-end tests of hostile clients and terminal abuse."""

import re
import time
import unicodedata

# The only sequences tmux writes into a captured pane are colour and attribute changes.
SGR = re.compile(r"\x1b\[[0-9;]*m")

# What a selected task and no selection look like in the coloured status line: the hot
# key letters of the task commands are yellow only while a task is selected.
SELECTED = re.compile(r" S\x1b\[[0-9;]*muspend")
UNSELECTED = re.compile(r"\x1b\[30m Suspend")

VLINE = "\u2502"
HLINE = "\u2500"


def cells(line):
    """The row as a list of terminal cells: a wide character takes its cell and leaves
    an empty string in the next one; combining marks join the cell before them."""
    out = []
    for ch in line:
        if unicodedata.combining(ch) and out:
            out[-1] += ch
            continue
        out.append(ch)
        if unicodedata.east_asian_width(ch) in ("W", "F"):
            out.append("")
    return out


def cell(line, col):
    c = cells(line)
    return c[col] if 0 <= col < len(c) else " "


def frame_problems(rows, cols, nrows):
    """What is wrong with the frame of the main window (rows 1 to nrows - 2), the
    rule between panes and panel (column cols - 22) and the status line, or []."""
    problems = []
    if len(rows) != nrows:
        problems.append("%d rows captured, not %d" % (len(rows), nrows))
        return problems
    rule = cols - 22

    def expect(r, col, allowed, what):
        got = cell(rows[r], col)
        if got not in allowed:
            problems.append("row %d col %d: %r where %s belongs" % (r, col, got, what))

    expect(1, 0, "\u250c", "the top left corner")
    expect(1, cols - 1, "\u2510", "the top right corner")
    expect(1, rule, "\u252c", "the top of the rule")
    last = nrows - 2
    for r in range(2, last):
        expect(r, 0, VLINE, "the left border")
        expect(r, cols - 1, VLINE, "the right border")
        # The rule is the two scroll bars; a thumb is a blank in another colour.
        expect(r, rule, (VLINE, " ", "\u2592"), "the rule")
    expect(last, 0, "\u2514", "the bottom left corner")
    expect(last, cols - 1, "\u2518", "the bottom right corner")
    expect(last, rule, "\u2534", "the bottom of the rule")
    if "PgUp/PgDn" not in rows[-1] and "Esc" not in rows[-1]:
        problems.append("no status line on the last row: %r" % rows[-1])
    return problems


def stray_sequences(coloured_rows):
    """Control characters and escape sequences other than colour changes in a pane
    captured with colours: anything a client text could have smuggled in."""
    found = []
    for r, line in enumerate(coloured_rows):
        rest = SGR.sub("", line)
        for ch in rest:
            if unicodedata.category(ch) == "Cc" or ch == "\ufffd":
                found.append((r, repr(ch), line))
    return found


def wait_selected(session, selected, timeout=10):
    """Waits until the status line shows the task keys on (or off)."""
    pattern = SELECTED if selected else UNSELECTED
    deadline = time.monotonic() + timeout
    while True:
        last = session.capture(colors=True)[-1:]
        if last and pattern.search(last[0]):
            return
        if time.monotonic() > deadline:
            raise AssertionError("status line does not show the task keys %s: %r"
                                 % ("on" if selected else "off", last))
        time.sleep(0.05)


def send_bytes(session, data):
    """Types raw bytes, whatever they are, as if they came from the terminal."""
    session._tmux("send-keys", "-t", session.target, "-H", *("%02x" % b for b in data))
