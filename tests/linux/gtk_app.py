"""A real GTK 3 application for the window manager tests: a
Gtk.Application with one main window. It prints the X id of its main window
once it is shown, and for each line "about" on standard input opens an About
dialog (transient for the main window) and prints its id. It ends at the end
of its input."""

import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import Gdk, GdkX11, GLib, Gtk  # noqa: E402,F401  (GdkX11 gives windows their X ids)

APPLICATION_ID = "org.example.Sketchpad"


def shown_id(window):
    window.show_all()
    print(window.get_window().get_xid(), flush=True)


def main():
    GLib.set_prgname("sketchpad")
    Gdk.set_program_class("Sketchpad")
    app = Gtk.Application(application_id=APPLICATION_ID)

    def command(channel, condition):
        line = sys.stdin.readline()
        if not line:
            app.quit()
            return False
        if line.strip() == "about":
            dialog = Gtk.AboutDialog(transient_for=app.get_active_window(), program_name="Sketchpad")
            shown_id(dialog)
        return True

    def activate(app):
        window = Gtk.ApplicationWindow(application=app, title="Sketchpad")
        window.set_default_size(300, 200)
        shown_id(window)
        GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.PRIORITY_DEFAULT,
                          GLib.IOCondition.IN | GLib.IOCondition.HUP, command)

    app.connect("activate", activate)
    app.run([sys.argv[0]])


if __name__ == "__main__":
    main()
