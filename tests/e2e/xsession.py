"""The X session QARDEL's real binary is run in by the end-to-end test and by
the package check: an Xvfb server, windows found with xdotool, and a close as
the window's close button sends it."""
import os
import subprocess
import time

from Xlib import X, display as xdisplay, protocol


def start_xvfb(log_path, screen="1024x768x24"):
    """A new Xvfb on a free display; returns (process, ":N")."""
    # -noreset: a server that resets when its last client leaves refuses the
    # next program while it does
    r, w = os.pipe()
    log = open(log_path, "w")
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", screen, "-nolisten", "tcp", "-noreset"],
                            pass_fds=[w], stderr=log, stdout=log)
    os.close(w)
    num = b""
    while not num.endswith(b"\n"):
        c = os.read(r, 1)
        if not c:
            break
        num += c
    os.close(r)
    return proc, ":" + num.decode().strip()


CYRILLIC = ["a", "be", "ve", "ghe", "de", "ie", "io", "zhe", "ze", "i", "shorti", "ka", "el", "em",
            "en", "o", "pe", "er", "es", "te", "u", "ef", "ha", "tse", "che", "sha", "shcha",
            "hardsign", "yeru", "softsign", "e", "yu", "ya"]


def add_cyrillic_keys(display_name):
    """Gives the Russian letters keys of their own on keycodes nobody uses.
    Without them xdotool maps each letter onto a spare key just before it
    types it, and a program busy at that moment reads the key as the next
    letter or as none."""
    from Xlib import XK
    d = xdisplay.Display(display_name)
    first, last = d.display.info.min_keycode, d.display.info.max_keycode
    mapping = d.get_keyboard_mapping(first, last - first + 1)
    free = [first + i for i, syms in enumerate(mapping) if not any(syms)]
    for code, name in zip(free, CYRILLIC):
        lower = XK.string_to_keysym("Cyrillic_" + name)
        upper = XK.string_to_keysym("Cyrillic_" + name.upper())
        d.change_keyboard_mapping(code, [(lower, upper)])
    d.sync()
    d.close()


def xdo(env, *args):
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True, timeout=30).stdout.strip()


def find_window(env, title, timeout=15):
    end = time.time() + timeout
    while time.time() < end:
        out = xdo(env, "search", "--onlyvisible", "--name", "^%s$" % title)
        if out:
            return out.split()[-1]
        time.sleep(0.2)
    return None


def close_window(env, wid):
    """As the window's close button does: WM_DELETE_WINDOW."""
    d = xdisplay.Display(env["DISPLAY"])
    w = d.create_resource_object("window", int(wid))
    proto = d.intern_atom("WM_PROTOCOLS")
    delete = d.intern_atom("WM_DELETE_WINDOW")
    ev = protocol.event.ClientMessage(window=w, client_type=proto, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    w.send_event(ev, event_mask=0)
    # A connection closed with requests still unread by the server may lose
    # them: on a loaded machine the message never reached the program.
    d.sync()
    d.close()


def close_program(env, wid, p, on_hang=lambda: None):
    """Closes the main window; a close that lands while a modal window is
    still going away is ignored by the program, so it is sent again. A
    program that does not end is killed after on_hang()."""
    if wid is None:
        p.kill()
        p.wait()
        return
    for _ in range(3):
        close_window(env, wid)
        try:
            p.wait(timeout=8)
            return
        except subprocess.TimeoutExpired:
            pass
    on_hang()
    p.kill()
    p.wait()
