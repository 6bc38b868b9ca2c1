#!/usr/bin/python3
"""Prints the texts of a live GTK window, read through the accessibility bus (AT-SPI).

    read_gtk_window.py [--timeout SECONDS] [--all] [--json] TITLE

Finds the top-level window titled TITLE (waiting for it up to the time-out) and prints its
title, then every text drawn in it, in tree order, one per line: labels, button and
expander labels, and the content of text views. Only what is showing is printed unless
--all is given (a closed expander's content is not showing). Backslashes and line breaks
inside a text are written as \\\\ and \\n, so that each text stays on one line. --json
prints a list of {"role", "text", "showing", "focused"} objects instead, icons and progress
bars included.

The window's program and this script must share a D-Bus session with the accessibility
bus running (at-spi-bus-launcher), and the program must load GTK's accessibility bridge
(NO_AT_BRIDGE unset). Exit status: 0 found, 1 not found in time, 2 bad arguments.
Runs with the system's Python 3 (python3-pyatspi).
"""

import argparse
import json
import sys
import time

import pyatspi

_TOP_LEVEL_ROLES = {pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_WINDOW,
                    pyatspi.ROLE_ALERT}
# Texts that are read from the object's name.
_NAMED_ROLES = {pyatspi.ROLE_LABEL, pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON,
                pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_HEADING,
                pyatspi.ROLE_STATIC}
# Texts that are read from the object's text content.
_CONTENT_ROLES = {pyatspi.ROLE_TEXT, pyatspi.ROLE_PARAGRAPH, pyatspi.ROLE_ENTRY}
# Shown in --json only.
_OTHER_ROLES = {pyatspi.ROLE_ICON, pyatspi.ROLE_IMAGE, pyatspi.ROLE_PROGRESS_BAR}


def _content(accessible):
    try:
        text = accessible.queryText()
    except NotImplementedError:
        return accessible.name or ""
    return text.getText(0, -1)


def find_window(title):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        try:
            application = desktop.getChildAtIndex(index)
            if application is None:
                continue
            for window in application:
                if (window is not None and window.getRole() in _TOP_LEVEL_ROLES
                        and window.name == title
                        and window.getState().contains(pyatspi.STATE_SHOWING)):
                    return window
        except Exception:  # an application that went away while we looked
            continue
    return None


def collect(window, include_hidden):
    items = [{"role": window.getRoleName(), "text": window.name, "showing": True,
              "focused": False}]

    def walk(accessible):
        for child in accessible:
            if child is None:
                continue
            role = child.getRole()
            states = child.getState()
            showing = states.contains(pyatspi.STATE_SHOWING)
            if not showing and not include_hidden:
                continue
            if role in _NAMED_ROLES:
                text = child.name or ""
            elif role in _CONTENT_ROLES:
                text = _content(child)
            elif role in _OTHER_ROLES:
                text = child.name or ""
            else:
                text = None
            if text is not None:
                items.append({"role": child.getRoleName(), "text": text, "showing": showing,
                              "focused": states.contains(pyatspi.STATE_FOCUSED),
                              "other": role in _OTHER_ROLES})
            walk(child)

    walk(window)
    return items


def _one_line(text):
    return text.replace("\\", "\\\\").replace("\n", "\\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("title")
    parser.add_argument("--timeout", type=float, default=10.0)
    parser.add_argument("--all", action="store_true", help="include what is not showing")
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()

    deadline = time.monotonic() + args.timeout
    while True:
        window = find_window(args.title)
        if window is not None:
            break
        if time.monotonic() >= deadline:
            print("no window titled %r" % args.title, file=sys.stderr)
            return 1
        time.sleep(0.1)

    items = collect(window, args.all)
    if args.json:
        for item in items:
            item.pop("other", None)
        json.dump(items, sys.stdout, ensure_ascii=False, indent=1)
        print()
    else:
        for item in items:
            if not item.get("other"):
                print(_one_line(item["text"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
