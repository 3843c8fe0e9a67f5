"""A fake application for the focus tests: it connects to the X display named
by its argument and, for each line of properties on standard input (a
Python literal of keyword arguments for xserver.make_window), makes a window
and prints its id. It ends, closing its windows, at the end of its input."""

import ast
import sys

from Xlib import display as xdisplay

import xserver

d = xdisplay.Display(sys.argv[1])
for line in sys.stdin:
    window = xserver.make_window(d, **ast.literal_eval(line))
    print(window.id, flush=True)
d.close()
