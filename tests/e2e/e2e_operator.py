#!/usr/bin/env python3
"""The real QARDEL binary under Xvfb, driven with the keyboard and the mouse
the way an operator uses it; the table files are then read back with sqlite3.

usage: e2e_operator.py QARDEL_BINARY SCREENSHOT_DIR
"""
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

import xsession

BIN, SHOTS = sys.argv[1], sys.argv[2]
shutil.rmtree(SHOTS, ignore_errors=True)
os.makedirs(SHOTS, exist_ok=True)
failures = []


checks = [0]


def check(cond, what):
    checks[0] += 1
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)


def start_xvfb():
    proc, name = xsession.start_xvfb(os.path.join(SHOTS, "xvfb-output.txt"))
    xsession.add_cyrillic_keys(name)
    return proc, name


xvfb, DISPLAY = start_xvfb()
env = dict(os.environ, DISPLAY=DISPLAY)
appdata = tempfile.mkdtemp(prefix="qardel-e2e-")
env["APPDATA"] = appdata
data = os.path.join(appdata, "QARDEL")
step_no = [0]


def xdo(*args):
    return xsession.xdo(env, *args)


def shot(name):
    step_no[0] += 1
    path = os.path.join(SHOTS, "%02d-%s.png" % (step_no[0], name))
    subprocess.run(["import", "-window", "root", path], env=env, capture_output=True, timeout=30)


def settle(t=0.4):
    time.sleep(t)


def find_window(title, timeout=15):
    return xsession.find_window(env, title, timeout)


def close_window(wid):
    xsession.close_window(env, wid)


def close_program(wid, p):
    xsession.close_program(env, wid, p, on_hang=lambda: shot("close-hangs"))


def wait_gone(title, timeout=10):
    end = time.time() + timeout
    while time.time() < end and xdo("search", "--onlyvisible", "--name", "^%s$" % title):
        time.sleep(0.2)


def ensure_x():
    """A fresh X server when the one in use went away (the program cannot
    be judged without one)."""
    global xvfb, DISPLAY
    sock = "/tmp/.X11-unix/X" + DISPLAY.lstrip(":")
    if xvfb.poll() is None and os.path.exists(sock):
        return
    print("the X server went away (%s); starting another" % xvfb.poll(), flush=True)
    try:
        xvfb.kill()
    except Exception:
        pass
    xvfb, DISPLAY = start_xvfb()
    env["DISPLAY"] = DISPLAY


def start_program(retry=True):
    ensure_x()
    out = os.path.join(SHOTS, "program-output.txt")
    before = os.path.getsize(out) if os.path.exists(out) else 0
    log = open(out, "a")
    p = subprocess.Popen([BIN], env=env, stdout=log, stderr=subprocess.STDOUT)
    wid = find_window("QARDEL")
    if wid is None and p.poll() is not None and retry:
        with open(out) as f:
            f.seek(before)
            if "could not connect to display" in f.read():
                # the X server turned the program away: that says nothing of the program
                print("the X server refused the program; starting it again", flush=True)
                time.sleep(1)
                return start_program(retry=False)
    if wid is None:
        print("no window; the program %s; the X server %s" % (
            "runs" if p.poll() is None else "ended with %s" % p.returncode,
            "runs" if xvfb.poll() is None else "ended with %s" % xvfb.returncode))
    if wid:
        xdo("windowfocus", "--sync", wid)
        settle(0.6)
    return p, wid


def key(*keys):
    for k in keys:
        xdo("key", "--clearmodifiers", k)
        settle(0.15)


def typ(text):
    xdo("type", "--delay", "120", text)
    settle(0.3)


def click(wid, x, y, double=False):
    xdo("mousemove", "--window", wid, str(x), str(y))
    settle(0.1)
    xdo("click", "--repeat", "2" if double else "1", "--delay", "80", "1")
    settle(0.4)


def q(file, sql, args=()):
    con = sqlite3.connect("file:%s?mode=ro" % os.path.join(data, file), uri=True)
    try:
        return con.execute(sql, args).fetchall()
    finally:
        con.close()


try:
    # --- first start: an empty log
    p, wid = start_program()
    check(wid is not None, "the window QARDEL appears")
    shot("empty-log")
    # --- a QSO typed with Cyrillic keys: р а 3 а б в -> RA3ABW
    typ("ра3абв")
    key("Tab")
    typ("p")
    key("Tab")
    typ("иван")
    key("Tab")
    typ("москва")
    key("Tab")
    typ("россия")
    key("Tab")
    typ("100")
    key("Tab")
    typ("59")
    shot("first-qso-typed")
    key("Return")
    settle(0.8)
    shot("first-qso-saved")
    # --- a second QSO completes the known call sign from two keys
    click(wid, 130, 37)
    typ("ра")
    settle(0.5)
    shot("call-sign-completed")
    key("Return")
    settle(0.8)
    # --- a third QSO with another station
    click(wid, 130, 37)
    typ("UA9XYZ")
    key("Tab", "Tab", "Tab")
    typ("омск")
    key("Return")
    settle(0.8)
    shot("three-qsos")
    close_program(wid, p)
    check(p.returncode == 0, "the program ends cleanly (exit code %s)" % p.returncode)

    files = ["Main.db", "Cors.db", "Bands.db", "Modes.db", "RS.db", "Country.db", "City.db", "Names.db", "Ini.db"]
    check(all(os.path.getsize(os.path.join(data, f)) > 0 for f in files), "nine table files")
    calls = [r[0] for r in q("Cors.db", "SELECT CallName FROM records ORDER BY ID")]
    check(calls == ["RA3ABW", "UA9XYZ"], "correspondents RA3ABW, UA9XYZ (%s)" % calls)
    log = q("Main.db", "SELECT ID, CorID, CorSuffix, CorCity, CorCountry, CorPower FROM records ORDER BY ID")
    check(len(log) == 3, "three QSOs in Main.db (%d)" % len(log))
    if len(log) == 3:
        check(log[0][1:] == (1, "p", "Москва", "Россия", 100.0), "first QSO as typed %s" % (log[0],))
        check(log[1][1] == 1 and log[1][3] == "Москва", "completed QSO took RA3ABW's city %s" % (log[1],))
        check(log[2][1] == 2 and log[2][3] == "Омск", "third QSO %s" % (log[2],))
    cors = q("Cors.db", "SELECT CallName, CityID FROM records ORDER BY ID")
    check(cors == [("RA3ABW", 1), ("UA9XYZ", 2)], "correspondents' cities %s" % cors)
    check(q("Names.db", "SELECT Value FROM records") == [("Иван",)], "name list holds Иван")
    check(q("City.db", "SELECT Name FROM records ORDER BY ID") == [("Москва",), ("Омск",)], "city list")

    # --- second start: the log is there; correct the newest QSO, delete another, add a band
    p, wid = start_program()
    shot("restarted")
    # double-click the first grid row (the newest QSO, UA9XYZ): y of the grid's first row
    click(wid, 120, 222, double=True)
    shot("correcting")
    key("Tab", "Tab", "Tab")  # to the city: replace it
    key("ctrl+a")
    typ("тула")
    key("Return")
    settle(0.8)
    shot("question-on-correction")
    key("Return")  # Yes: UA9XYZ now lives in Тула
    settle(0.8)
    shot("corrected")
    # select the oldest QSO (third row) and delete it with the Delete key
    click(wid, 120, 256)
    key("Delete")
    settle(0.6)
    shot("delete-question")
    key("Return")  # Yes is the default button
    settle(0.8)
    shot("deleted")
    # open the band editor with its button and add a band
    click(wid, 473, 37)
    settle(1.0)
    ed = find_window("Редактор справочников", timeout=10)
    check(ed is not None, "the list editor opens")
    if ed:
        xdo("windowfocus", "--sync", ed)
        settle(0.4)
        typ("20m")
        key("Tab")
        typ("14")
        key("Return")
        settle(0.6)
        shot("editor-band-added")
        close_window(ed)
        wait_gone("Редактор справочников")
        settle(0.8)
    shot("after-editor")
    close_program(wid, p)
    check(p.returncode == 0, "the second run ends cleanly")

    log = q("Main.db", "SELECT ID, CorCity FROM records ORDER BY ID")
    check([r[0] for r in log] == [2, 3], "QSO 1 deleted, 2 and 3 kept (%s)" % log)
    check((3, "Тула") in log, "QSO 3 corrected to Тула (%s)" % log)
    bands = q("Bands.db", "SELECT Name, \"Begin\" FROM records")
    check(("20m", 14.0) in bands, "band 20m added with its beginning (%s)" % bands)

    # --- third start shows the corrected log
    p, wid = start_program()
    check(wid is not None, "the third start shows the window")
    shot("third-start")
    close_program(wid, p)
    check(p.returncode == 0, "the third run ends cleanly")
finally:
    try:
        xvfb.terminate()
    except Exception:
        pass
    shutil.rmtree(appdata, ignore_errors=True)

print("e2e: %d checks failed" % len(failures))
sys.exit(1 if failures else 0)
