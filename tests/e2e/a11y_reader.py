#!/usr/bin/env python3
"""The real QARDEL binary under Xvfb, read the way a screen reader (Orca)
reads it: over the AT-SPI accessibility bus. The log grid must be a table
(rows, columns, titles, each cell's text, the selected row, focus on the
current cell as keys and clicks move it), and every field of the entry panel
and of the reference-list editor must have a name.

Run under its own session bus:
  dbus-run-session -- python3 a11y_reader.py QARDEL QARDEL_ADIF OUTPUT_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

import xsession

BIN, ADIF, OUT = sys.argv[1], sys.argv[2], sys.argv[3]
shutil.rmtree(OUT, ignore_errors=True)
os.makedirs(OUT, exist_ok=True)
# A loaded two-core machine: every wait polls up to this long.
DEADLINE = 90

failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond


# --- what the reader is told ------------------------------------------------

events = []  # (kind, role, name, index in parent) in arrival order


def on_event(e):
    try:
        events.append((e.type, e.source.getRoleName(), e.source.name, e.source.getIndexInParent(),
                       e.detail1))
    except Exception as ex:  # an object gone meanwhile tells nothing
        events.append((e.type, "gone", str(ex), -1, 0))


for kind in ("focus:", "object:state-changed:selected"):
    pyatspi.Registry.registerEventListener(on_event, kind)
context = GLib.MainContext.default()


def pump():
    while context.pending():
        context.iteration(False)


def wait_for(what, probe, deadline=DEADLINE):
    """Polls probe() (pumping the bus's events) until it gives a true value."""
    end = time.time() + deadline
    last = None
    while time.time() < end:
        pump()
        try:
            last = probe()
        except Exception as ex:  # the tree is still being built
            last = None
            print("  (%s: %s)" % (what, ex), flush=True)
        if last:
            return last
        time.sleep(0.1)
    check(False, "%s within %d s" % (what, deadline))
    return last


def last_focus():
    focus = [e for e in events if e[0] == "focus:"]
    return focus[-1] if focus else None


# --- a log of three QSOs, through the companion command ---------------------

xvfb, DISPLAY = xsession.start_xvfb(os.path.join(OUT, "xvfb-output.txt"))
appdata = tempfile.mkdtemp(prefix="qardel-a11y-")
data = os.path.join(appdata, "QARDEL")
os.makedirs(data)
env = dict(os.environ, DISPLAY=DISPLAY, APPDATA=appdata, LC_ALL="ru_RU.UTF-8", LANG="ru_RU.UTF-8",
           TZ="UTC", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
QSOS = [  # oldest first: IDs 1, 2, 3
    dict(CALL="UA3AAA", QSO_DATE="20240101", TIME_ON="1200", BAND="20m", MODE="SSB", NAME="Иван",
         QTH="Тула", COUNTRY="Россия", RST_SENT="59", RST_RCVD="57", TX_PWR="100", RX_PWR="50"),
    dict(CALL="RW3456789/P", QSO_DATE="20240102", TIME_ON="0930", BAND="40m", MODE="CW",
         NAME="Пётр", RST_SENT="599", RST_RCVD="579", PROP_MODE="RPT"),
    dict(CALL="DL1ABC", QSO_DATE="20240103", TIME_ON="1815", BAND="2m", MODE="FM", NAME="Hans",
         COUNTRY="Германия", RST_SENT="59", TX_PWR="5"),
]


def adi_field(name, value):
    return "<%s:%d>%s" % (name, len(value.encode()), value)


adi = os.path.join(appdata, "log.adi")
with open(adi, "w", encoding="utf-8") as f:
    f.write("<EOH>\n")
    for q in QSOS:
        f.write("".join(adi_field(k, v) for k, v in q.items()) + "<EOR>\n")
imported = subprocess.run([ADIF, "--data", data, "import", adi], env=env, capture_output=True,
                          text=True, timeout=120)
check(imported.returncode == 0, "the log is imported (%s)" % imported.stdout.strip().replace("\n", "; "))

TITLES = ["№", "Время", "Позывной", "Суффикс", "Имя", "Город", "Страна", "Диапазон", "Модуляция",
          "Кор.мощн.", "Кор.RS", "Моя мощн", "Мой RS", "Репитер"]
NEWEST = ["3", "03.01.2024 18:15:00", "DL1ABC", "", "Hans", "", "Германия", "2m", "FM", "", "59",
          "5", "", "-"]
PANEL = sorted([
    "check box: Через ретранслятор", "combo box: RS", "combo box: Город", "combo box: Диапазон",
    "combo box: Имя", "combo box: Модуляция", "combo box: Мой RS", "combo box: Страна",
    "push button: Отменить", "push button: Редактировать список видов модуляции",
    "push button: Редактировать список диапазонов", "push button: Сохранить", "table: Журнал",
    # the windows and the card added beside the panel
    "push button: Мой локатор…", "push button: Поиск", "push button: Статистика", "push button: Радио",
    "text: Моя мощность", "text: Мощность", "text: Позывной", "text: Примечания", "text: Суффикс"])
EDITOR = sorted([
    "combo box: Модуляция", "push button: Сохранить", "push button: Удалить", "table: Диапазоны",
    "text: Конец", "text: Название", "text: Начало", "text: Типичная мощность"])
FIELD_ROLES = {"text", "combo box", "check box", "push button", "table"}


def spoken_name(a):
    """The name a reader gives a control: its label's (the labelled-by
    relation; on Linux a list's own name is its text), else its own."""
    for r in a.getRelationSet():
        if r.getRelationType() == pyatspi.RELATION_LABELLED_BY and r.getNTargets() > 0:
            return r.getTarget(0).name.strip()
    return a.name.strip()


def named_controls(root):
    """What a reader names on a window: the showing fields, lists, buttons and
    tables; the parts of a combo box speak for it."""
    out = []

    def walk(a):
        role = a.getRoleName()
        showing = a.getState().contains(pyatspi.STATE_SHOWING)
        if role in FIELD_ROLES and showing:
            out.append("%s: %s" % (role, spoken_name(a)))
        if role in ("combo box", "table", "page tab list") or not showing:
            return
        for i in range(a.childCount):
            c = a.getChildAtIndex(i)
            if c is not None:
                walk(c)

    walk(root)
    return sorted(out)


def find_frame(app, name):
    for i in range(app.childCount):
        c = app.getChildAtIndex(i)
        if c is not None and c.name == name and c.getRoleName() in ("frame", "dialog"):
            return c
    return None


def close_editor():
    """As its close button does."""
    ed = xsession.find_window(env, "Редактор справочников", timeout=DEADLINE)
    if check(ed is not None, "the editor is a window of its own"):
        xsession.close_window(env, ed)
        wait_for("the editor closes",
                 lambda: xsession.find_window(env, "Редактор справочников", timeout=0.1) is None)


p = subprocess.Popen([BIN], env=env, stdout=open(os.path.join(OUT, "program-output.txt"), "w"),
                     stderr=subprocess.STDOUT)
wid = xsession.find_window(env, "QARDEL", timeout=DEADLINE)
check(wid is not None, "the window QARDEL appears")
try:
    if wid is None:
        raise SystemExit(1)
    xsession.xdo(env, "windowfocus", "--sync", wid)
    desktop = pyatspi.Registry.getDesktop(0)

    def the_app():
        for i in range(desktop.childCount):
            a = desktop.getChildAtIndex(i)
            if a is not None and a.name == "QARDEL":
                return a
        return None

    app = wait_for("the program on the accessibility bus", the_app)
    frame = wait_for("its main window", lambda: find_frame(app, "QARDEL"))
    grid = wait_for("the log as a table",
                    lambda: pyatspi.findDescendant(frame, lambda a: a.getRoleName() == "table"
                                                   and a.name == "Журнал"))
    table = grid.queryTable()

    # --- the grid as a table
    check(table.nRows == 3 and table.nColumns == 14,
          "3 rows and 14 columns (%d, %d)" % (table.nRows, table.nColumns))
    titles = [table.getColumnDescription(c) for c in range(table.nColumns)]
    check(titles == TITLES, "column titles %s" % titles)
    headers = [table.getColumnHeader(c) for c in range(table.nColumns)]
    check([h.name if h else None for h in headers] == TITLES, "column header cells")
    newest = [table.getAccessibleAt(0, c).name for c in range(table.nColumns)]
    check(newest == NEWEST, "the newest QSO's cells %s" % newest)
    print("A screen reader reads the newest QSO's row as:")
    for t, v in zip(titles, newest):
        print("  %s: %s" % (t, v if v else "(пусто)"))
    check(table.getSelectedRows() == [0], "the newest QSO is the selected row at start")
    check(table.getAccessibleAt(0, 0).getRoleName() == "table cell", "a cell is a table cell")

    # --- the panel's fields are named by their labels
    panel = named_controls(frame)
    check(panel == PANEL, "the main window's controls are named: %s" % panel)

    # --- a click on a row: it is selected and its cell has the focus
    cols = table.nColumns

    def focus_at(row, column, name=None):
        def probe():
            f = last_focus()
            if not f or f[1] != "table cell" or f[3] != (row + 1) * cols + column:
                return False
            return name is None or f[2] == name
        return probe

    x, y, w, h = table.getAccessibleAt(1, 2).queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    events.clear()
    xsession.xdo(env, "mousemove", str(x + w // 2), str(y + h // 2), "click", "1")
    wait_for("the focus on the clicked cell", focus_at(1, 2, "RW3456789"))
    check(table.getSelectedRows() == [1], "a click selects its row (%s)" % table.getSelectedRows())
    wait_for("the reader told of the new selection",
             lambda: any(e[0] == "object:state-changed:selected" and e[4] == 1 for e in events))

    def key_to(k, row, column, what):
        xsession.xdo(env, "key", "--clearmodifiers", k)
        wait_for(what, focus_at(row, column))
        rows = table.getSelectedRows()
        check(rows == [row], "%s: row %d stays the selected one (%s)" % (what, row, rows))

    key_to("Down", 2, 2, "Down moves the focus to the oldest QSO")
    check(last_focus()[2] == "UA3AAA", "its call sign is read (%s)" % (last_focus(),))
    key_to("Home", 2, 0, "Home goes to the № column")
    # a typed digit moves nothing: Up then lands one row above the oldest
    xsession.xdo(env, "type", "3")
    key_to("Up", 1, 0, "a typed 3 and then Up")
    key_to("ctrl+Right", 1, 1, "Ctrl+Right")
    key_to("ctrl+Home", 0, 0, "Ctrl+Home")
    key_to("ctrl+End", 2, 13, "Ctrl+End")
    # away and back: the reader lands on the current cell again
    events.clear()
    xsession.xdo(env, "key", "--clearmodifiers", "shift+Tab")
    wait_for("the focus on «Отменить»", lambda: last_focus() and last_focus()[2] == "Отменить")
    xsession.xdo(env, "key", "--clearmodifiers", "Tab")
    wait_for("the focus back on the current cell", focus_at(2, 13))

    # --- the reference-list editor's fields are named too
    button = pyatspi.findDescendant(frame, lambda a: a.name == "Редактировать список диапазонов")
    x, y, w, h = button.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    xsession.xdo(env, "mousemove", str(x + w // 2), str(y + h // 2), "click", "1")
    dialog = wait_for("the reference-list editor", lambda: find_frame(app, "Редактор справочников"))
    if dialog:
        names = wait_for("its named controls",
                         lambda: named_controls(dialog) if named_controls(dialog) == EDITOR else None)
        check(names == EDITOR, "the editor's controls are named: %s" % named_controls(dialog))
        close_editor()
    subprocess.run(["import", "-window", "root", os.path.join(OUT, "end.png")], env=env,
                   capture_output=True, timeout=60)
finally:
    xsession.close_program(env, wid, p)
    check(p.returncode == 0, "the program ends cleanly (exit code %s)" % p.returncode)
    xvfb.terminate()
    shutil.rmtree(appdata, ignore_errors=True)

print("a11y: %d checks failed" % len(failures))
sys.exit(1 if failures else 0)
