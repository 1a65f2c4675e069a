#!/usr/bin/python3
# Prints the accessibility tree of the running application named in the first argument, one element a line:
# role, name, description and whether it is showing, separated by tabs. Waits for the application
# to appear on the accessibility bus of the session (5 s); exits 1 when it does not.
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi


def walk(node):
    showing = node.get_state_set().contains(Atspi.StateType.SHOWING)
    print(f"{node.get_role_name()}\t{node.get_name()}\t{node.get_description()}\t{int(showing)}")
    for i in range(node.get_child_count()):
        walk(node.get_child_at_index(i))


deadline = time.time() + 5
while time.time() < deadline:
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app.get_name() == sys.argv[1]:
            walk(app)
            sys.exit(0)
    time.sleep(0.2)
sys.exit(1)
