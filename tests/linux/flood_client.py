"""A window manager gone wild: writes the root's _NET_ACTIVE_WINDOW as fast as
it can. Run as its own process, so the test's threads take none of its time.

Usage: flood_client.py DISPLAY, then one command a line on standard input:
  flood ID...  write these window ids in turn, without pause, until the next command
  stay ID      write this one once and then nothing (the application stays put)
  quit         end
Each command is answered with a line "ok" once the server has carried out the
writes so far (the command's first write included)."""

import queue
import sys
import threading

from Xlib import Xatom
from Xlib import display as xdisplay

BATCH = 200  # writes between two looks at the next command


def main():
    d = xdisplay.Display(sys.argv[1])
    root = d.screen().root
    active = d.intern_atom("_NET_ACTIVE_WINDOW")
    commands = queue.Queue()

    def read_commands():
        for line in sys.stdin:
            commands.put(line.split())
        commands.put(["quit"])

    threading.Thread(target=read_commands, daemon=True).start()
    flood = []
    while True:
        try:
            word, *ids = commands.get(block=not flood)
        except queue.Empty:
            pass
        else:
            if word == "quit":
                break
            windows = [int(i) for i in ids]
            flood = windows if word == "flood" else []
            root.change_property(active, Xatom.WINDOW, 32, windows[:1])
            d.sync()
            print("ok", flush=True)
        for i in range(BATCH if flood else 0):
            root.change_property(active, Xatom.WINDOW, 32, [flood[i % len(flood)]])
        d.flush()
    d.close()


if __name__ == "__main__":
    main()
