#!/usr/bin/env python3
"""Builds QARDEL's Debian package from a build folder and checks it as an
operator would meet it: the package's fields, every file the install puts in
place, the validators Debian's desktop tools and archive use, and the unpacked
programs themselves.

usage: check_package.py BUILD_DIR WORK_DIR APP_ID VERSION CPACK
"""
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import xsession  # noqa: E402

BUILD, WORK, APP_ID, VERSION, CPACK = sys.argv[1:6]
TABLES = ["Main.db", "Cors.db", "Bands.db", "Modes.db", "RS.db", "Country.db", "City.db", "Names.db", "Ini.db"]
ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond


def run(*cmd, **kw):
    """The command's exit code and its output, both streams together."""
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)
    return p.returncode, p.stdout


def validator(name, *cmd):
    rc, out = run(*cmd)
    print(out.rstrip())
    check(rc == 0, "%s passes (exit code %d)" % (name, rc))


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def expected_files():
    share = "usr/share/"
    files = ["usr/bin/qardel", "usr/bin/qardel-adif",
             share + "applications/%s.desktop" % APP_ID,
             share + "metainfo/%s.metainfo.xml" % APP_ID,
             share + "icons/hicolor/scalable/apps/qardel.svg",
             share + "man/man1/qardel.1.gz", share + "man/man1/qardel-adif.1.gz",
             share + "doc/qardel/README.md", share + "doc/qardel/copyright", share + "doc/qardel/changelog.gz"]
    files += [share + "icons/hicolor/%dx%d/apps/qardel.png" % (s, s) for s in ICON_SIZES]
    return files


def build_package():
    out = os.path.join(WORK, "deb")
    rc, log = run(CPACK, "-G", "DEB", "-B", out, "--config", os.path.join(BUILD, "CPackConfig.cmake"), cwd=BUILD)
    if not check(rc == 0, "cpack -G DEB builds the package"):
        print(log)
    arch = run("dpkg", "--print-architecture")[1].strip()
    return os.path.join(out, "qardel_%s_%s.deb" % (VERSION, arch))


def check_fields(deb):
    rc, info = run("dpkg-deb", "-f", deb, "Package", "Version", "Section", "Maintainer", "Depends")
    print(info.rstrip())
    fields = dict(line.split(": ", 1) for line in info.splitlines() if ": " in line)
    check(fields.get("Package") == "qardel", "the package is named qardel")
    check(fields.get("Version") == VERSION, "its version is the project's, %s" % VERSION)
    check(fields.get("Section") == "hamradio", "its section is hamradio")
    check("@" in fields.get("Maintainer", ""), "it names a maintainer with an address")
    depends = {d.strip().split(" ")[0] for d in fields.get("Depends", "").split(",")}
    for pkg in ["libc6", "libqt6widgets6", "libqt6charts6", "libsqlite3-0", "fonts-wine",
                "qt6-translations-l10n", "hamradio-files"]:
        check(pkg in depends, "it depends on %s" % pkg)


def check_files(root):
    for f in expected_files():
        check(os.path.isfile(os.path.join(root, f)), "the package holds /" + f)
    for s in ICON_SIZES:
        path = os.path.join(root, "usr/share/icons/hicolor/%dx%d/apps/qardel.png" % (s, s))
        if os.path.isfile(path):
            check(png_size(path) == (s, s), "the %d-pixel icon is a %dx%d PNG" % (s, s, s))
    for b in ["qardel", "qardel-adif"]:
        check(os.access(os.path.join(root, "usr/bin", b), os.X_OK), "/usr/bin/%s is executable" % b)


def read(path, opener=open):
    """The file's text; empty when the package lacks it (a check above says so)."""
    try:
        with opener(path, "rt", encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def check_references(root):
    """The desktop entry, the AppStream data and the changelog agree with the
    package they are in."""
    share = os.path.join(root, "usr/share")
    desktop = read(os.path.join(share, "applications", APP_ID + ".desktop"))
    exe = re.search(r"^Exec=(\S+)", desktop, re.M)
    check(exe and os.path.isfile(os.path.join(root, "usr/bin", exe.group(1))), "the menu entry starts a packaged program")
    icon = re.search(r"^Icon=(\S+)$", desktop, re.M)
    check(icon and os.path.isfile(os.path.join(share, "icons/hicolor/scalable/apps", icon.group(1) + ".svg")),
          "the menu entry's icon is packaged")
    meta = read(os.path.join(share, "metainfo", APP_ID + ".metainfo.xml"))
    check("<launchable type=\"desktop-id\">%s.desktop</launchable>" % APP_ID in meta,
          "the AppStream data launches the packaged menu entry")
    check(re.search(r'<release version="%s" date="\d{4}-\d\d-\d\d"' % re.escape(VERSION), meta),
          "the AppStream data has release %s with its date" % VERSION)
    top = read(os.path.join(share, "doc/qardel/changelog.gz"), gzip.open).partition("\n")[0]
    check(top.startswith("qardel (%s)" % VERSION), "the changelog's newest entry is %s (%s)" % (VERSION, top.strip()))


def check_programs(root):
    rc, out = run(os.path.join(root, "usr/bin/qardel-adif"), "--help", env=dict(os.environ, LC_ALL="C.UTF-8"))
    check(rc == 0 and "qardel-adif" in out and "import" in out, "the unpacked qardel-adif --help runs (%d)" % rc)

    appdata = tempfile.mkdtemp(prefix="qardel-package-")
    xvfb, display = xsession.start_xvfb(os.path.join(WORK, "xvfb-output.txt"))
    env = dict(os.environ, DISPLAY=display, APPDATA=appdata)
    env.pop("QT_QPA_PLATFORM", None)
    try:
        with open(os.path.join(WORK, "program-output.txt"), "w") as log:
            p = subprocess.Popen([os.path.join(root, "usr/bin/qardel")], env=env, stdout=log, stderr=subprocess.STDOUT)
        wid = xsession.find_window(env, "QARDEL", timeout=60)
        check(wid is not None, "the unpacked qardel shows its window")
        xsession.close_program(env, wid, p)
        check(p.returncode == 0, "it closes cleanly (exit code %s)" % p.returncode)
        data = os.path.join(appdata, "QARDEL")
        missing = [t for t in TABLES if not os.path.isfile(os.path.join(data, t))]
        check(not missing, "it wrote the nine table files (missing: %s)" % (", ".join(missing) or "none"))
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(appdata, ignore_errors=True)


shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
deb = build_package()
if check(os.path.isfile(deb), "the package is " + os.path.basename(deb)):
    root = os.path.join(WORK, "root")
    check(run("dpkg", "-x", deb, root)[0] == 0, "dpkg -x unpacks it")
    check_fields(deb)
    check_files(root)
    check_references(root)
    share = os.path.join(root, "usr/share")
    validator("desktop-file-validate", "desktop-file-validate", os.path.join(share, "applications", APP_ID + ".desktop"))
    validator("appstreamcli validate", "appstreamcli", "validate", "--no-net",
              os.path.join(share, "metainfo", APP_ID + ".metainfo.xml"))
    validator("lintian (no errors)", "lintian", "--fail-on", "error", deb)
    check_programs(root)

print("package: %d checks failed" % len(failures))
sys.exit(1 if failures else 0)
