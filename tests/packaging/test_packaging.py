"""What a user gets: `make dist`'s zip, `make install`/`make uninstall` with the `tickora`
launcher, menu entry and icons, and the Wine prefixes `make run` and the launcher set up.

Run through ctest (scripts/run-tests.sh): the test bed gives DISPLAY (an X server without a
window manager) and WINEPREFIX (the test bed's own prefix); CTest gives the built program in
TICKORA_EXE, its build directory in TICKORA_BUILD_DIR and a scratch directory in
TICKORA_PACKAGING_DIR. Prefixes made here live in the scratch directory and are stopped by
their own `wineserver -k`; every wait is bounded.
"""
import hashlib
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import unittest
import zipfile
from xml.etree import ElementTree

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from harness import (IDC_START_STOP, App, Listener, env_path, wait_for,  # noqa: E402
                     write_wave)
from testbed import Program, x_windows  # noqa: E402

MAIN_TITLE = "Tickora 1.0"  # the panel's caption (res/tickora.rc)
# What make install writes under PREFIX, and what uninstall leaves: PREFIX's own directories.
INSTALLED_FILES = [
    "bin/tickora",
    "lib/tickora/host-runs-i386",
    "lib/tickora/run-env.sh",
    "lib/tickora/tickora-x86-64.exe",
    "lib/tickora/tickora.exe",
    "lib/tickora/wine64/wine",
    "lib/tickora/wine64/wine-stable",
    "lib/tickora/wineprefix.sh",
    "share/applications/tickora.desktop",
    "share/doc/tickora/LICENSE",
    "share/icons/hicolor/16x16/apps/tickora.png",
    "share/icons/hicolor/32x32/apps/tickora.png",
]
SHARED_DIRS = ["", "bin", "lib", "share"]
# Debian's 32-bit Wine loader: where the kernel refuses i386 code, it cannot start.
WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"


def host_runs_i386():
    """The answer every part of the project takes (TICKORA_NO_I386=1 makes it no)."""
    return subprocess.run([os.path.join(ROOT, "scripts", "host-runs-i386")],
                          stdin=subprocess.DEVNULL, timeout=120).returncode == 0


def refused_loader(loader, work):
    """A copy of a Wine loader that the kernel refuses with "Exec format error", as a kernel
    without ia32 emulation refuses the 32-bit one: its ELF header names no known machine.
    Where the 32-bit loader is not installed (such hosts get no wine32), the 64-bit one is
    copied in its place."""
    path = os.path.join(work, "refused-" + os.path.basename(loader))
    data = bytearray(read(loader if os.path.exists(loader) else WINE64_LOADER))
    data[18:20] = b"\xff\xff"  # e_machine
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, 0o755)
    return path


def mapped_files(pid):
    with open("/proc/%d/maps" % pid, encoding="utf-8", errors="replace") as f:
        return {line.split(None, 5)[5].strip() for line in f if len(line.split(None, 5)) == 6}


def scratch(name):
    path = os.path.join(env_path("TICKORA_PACKAGING_DIR"), name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def make(*args):
    """Runs make in the source tree on the build CTest runs from, as a user would."""
    env = {k: v for k, v in os.environ.items() if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL")}
    r = subprocess.run(["make", "-s", "-C", ROOT, "BUILD_DIR=" + env_path("TICKORA_BUILD_DIR")]
                       + list(args), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, env=env, timeout=600)
    output = r.stdout.decode("utf-8", "replace")
    if r.returncode != 0:
        raise AssertionError("make %s failed (%d):\n%s" % (" ".join(args), r.returncode, output))
    return output


def read(path):
    with open(path, "rb") as f:
        return f.read()


def tree(root):
    """Files and directories under root, relative, sorted."""
    files, dirs = [], []
    for here, subdirs, names in os.walk(root):
        rel = os.path.relpath(here, root)
        dirs.append("" if rel == "." else rel)
        files += [os.path.normpath(os.path.join(rel, n)) for n in names]
    return sorted(files), sorted(dirs)


def run_env(env=None):
    """The environment after scripts/run-env.sh is sourced in env (an empty one by default)."""
    out = subprocess.run(["sh", "-c", '. "$1" && env -0', "sh",
                          os.path.join(ROOT, "scripts", "run-env.sh")],
                         env=env or {}, stdout=subprocess.PIPE, check=True, timeout=10).stdout
    values = dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)
    return {k: v for k, v in values.items() if k not in ("PWD", "SHLVL", "_")}


def without_locale(env):
    return {k: v for k, v in env.items() if k != "LANG" and k != "LANGUAGE"
            and not k.startswith("LC_")}


def saved_desktop(prefix):
    """The virtual desktop saved in a prefix's user.reg: (Desktop, its size), "" if absent."""
    found = {}
    key = None
    with open(os.path.join(prefix, "user.reg"), encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("["):
                key = line[1:line.index("]")]
            elif key in ("Software\\\\Wine\\\\Explorer", "Software\\\\Wine\\\\Explorer\\\\Desktops"):
                m = re.match(r'"(Desktop|Default)"="([^"]*)"', line)
                if m:
                    found[m.group(1)] = m.group(2)
    return found.get("Desktop", ""), found.get("Default", "")


def process_env(pid):
    with open("/proc/%d/environ" % pid, "rb") as f:
        items = f.read().decode("utf-8", "replace").split("\0")
    return dict(item.split("=", 1) for item in items if "=" in item)


class WineRun:
    """A program started (by make run or the launcher) in a prefix of its own; its main
    window is looked up as a top-level X window, and Wine is stopped by that prefix."""

    def __init__(self, args, prefix, env, log_path):
        self.prefix = prefix
        self.env = env
        self.log_path = log_path
        open(log_path, "wb").close()  # this run's output only
        # The whole environment is env: what this process's has beyond it stays out.
        self.program = Program(args, log_path, base_env=env)
        self.proc = self.program.proc

    def main_windows(self):
        """The X windows of the panel. In a virtual desktop Wine's windows are not X windows
        at all, so finding it tells that the panel is a window of the X desktop itself."""
        def find():
            if self.proc.poll() is not None:
                raise AssertionError("exited (%s) before its window showed; log:\n%s"
                                     % (self.proc.returncode, read(self.log_path).decode()))
            # Once set up, a prefix with a virtual desktop would never show the window.
            if os.path.exists(os.path.join(self.prefix, ".tickora-prefix")):
                desktop = saved_desktop(self.prefix)
                if desktop != ("", ""):
                    raise AssertionError("a virtual desktop in %s: %r" % (self.prefix, desktop))
            return x_windows(MAIN_TITLE)
        # The first start makes the prefix: up to a minute on a busy machine.
        return wait_for("the window '%s'" % MAIN_TITLE, find, timeout=240, interval=0.5)

    def window_pid(self, window):
        out = subprocess.run(["xdotool", "getwindowpid", str(window)], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=10)
        return int(out.stdout.strip() or 0)

    def stop(self):
        env = dict(os.environ, WINEPREFIX=self.prefix)
        if os.path.exists(os.path.join(self.prefix, "system.reg")):
            subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait(timeout=10)
        self.program.kill()


class Packaging(unittest.TestCase):

    def assert_runs_as_own_window(self, run, prefix):
        windows = run.main_windows()
        self.assertEqual(len(windows), 1, "more than one '%s' window" % MAIN_TITLE)
        self.assertEqual(saved_desktop(prefix), ("", ""), "a virtual desktop in %s" % prefix)
        # The program itself runs in that prefix, with the tuned sound environment.
        pid = run.window_pid(windows[0])
        self.assertGreater(pid, 0, "the window names no process")
        env = process_env(pid)
        self.assertEqual(os.path.realpath(env.get("WINEPREFIX", "")), os.path.realpath(prefix))
        # The names run-env.sh may set, with the values it gives them in this environment.
        after = run_env(run.env)
        expected = {k: after.get(k) for k in run_env()}
        self.assertIn("WINEDEBUG", expected)
        self.assertEqual({k: env.get(k) for k in expected}, expected)
        return pid

    def assert_launcher_runs(self, run, root, x86_64):
        """The launcher's program shows its window; with x86_64, it is the x86-64 build under
        wine64."""
        try:
            pid = self.assert_runs_as_own_window(run, run.prefix)
            if x86_64:
                self.assertIn(root + "/lib/tickora/tickora-x86-64.exe", mapped_files(pid))
                self.assertIn(WINE64_LOADER, mapped_files(pid))
        finally:
            run.stop()

    def test_make_run_has_no_virtual_desktop_and_the_test_bed_has_one(self):
        self.assertEqual(saved_desktop(env_path("WINEPREFIX")), ("Default", "1024x768"))
        work = scratch("run")
        given = os.path.join(work, "wineprefix-run")
        # The x86-64 build gets a 64-bit prefix beside the 32-bit one.
        prefix = given + ("" if host_runs_i386() else "64")
        # A TMPDIR of the user's own, which Debian 13's 64-bit Wine does not survive.
        env = {k: v for k, v in os.environ.items()
               if k not in ("MAKEFLAGS", "MFLAGS", "MAKELEVEL", "WINEPREFIX")}
        run = WineRun(["make", "-s", "-C", ROOT, "run", "RUN_PREFIX=" + given,
                       "BUILD_DIR=" + env_path("TICKORA_BUILD_DIR")], prefix,
                      dict(env, TMPDIR=work), os.path.join(work, "make-run.log"))
        try:
            self.assert_runs_as_own_window(run, prefix)
        finally:
            run.stop()

    def test_install_run_and_uninstall(self):
        work = scratch("install")
        destdir = os.path.join(work, "root")
        root = destdir + "/usr"
        make("install", "DESTDIR=" + destdir, "PREFIX=/usr")
        self.assertEqual(tree(root)[0], INSTALLED_FILES)
        self.assertEqual(read(root + "/lib/tickora/tickora.exe"), read(env_path("TICKORA_EXE")))
        self.assertEqual(read(root + "/lib/tickora/tickora-x86-64.exe"),
                         read(env_path("TICKORA_EXE64")))
        self.assertTrue(os.access(root + "/bin/tickora", os.X_OK))
        r = subprocess.run(["desktop-file-validate", root + "/share/applications/tickora.desktop"],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
        self.assertEqual((r.returncode, r.stdout.decode()), (0, ""))
        for size in (16, 32):
            png = read(root + "/share/icons/hicolor/%dx%d/apps/tickora.png" % (size, size))
            self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual(struct.unpack(">II", png[16:24]), (size, size))

        self.check_launcher_messages(root + "/bin/tickora", work)

        # The launcher as a user runs it: its own prefix under the user's data directory,
        # whatever WINEPREFIX the caller had (here the test bed's).
        home = os.path.join(work, "home")
        os.makedirs(home)
        env = {k: v for k, v in os.environ.items() if k != "XDG_DATA_HOME"}
        env["HOME"] = home
        # The PE32 build where Wine can run it, else the x86-64 one in a prefix of its own.
        x86_64 = not host_runs_i386()
        prefix = os.path.join(home, ".local", "share", "tickora",
                              "wineprefix64" if x86_64 else "wineprefix")
        run = WineRun([root + "/bin/tickora"], prefix, env, os.path.join(work, "launcher.log"))
        self.assert_launcher_runs(run, root, x86_64)
        if x86_64:
            self.assertEqual(os.listdir(os.path.dirname(prefix)), ["wineprefix64"])
        self.check_non_ascii_file_plays_without_a_locale(root + "/bin/tickora", env, prefix,
                                                         work)

        make("uninstall", "DESTDIR=" + destdir, "PREFIX=/usr")
        self.assertEqual(tree(root), ([], SHARED_DIRS))

    def check_non_ascii_file_plays_without_a_locale(self, launcher, env, prefix, work):
        """Wine maps file names through the locale's character type; a session with no locale
        (LANG unset, as in many minimal installs) must still play a file named in Latin-1."""
        env = dict(without_locale(env), WINEPREFIX=prefix)  # the probe's; the launcher's own
        self.assertEqual(run_env(env).get("LC_CTYPE"), "C.UTF-8")
        folder = os.path.join(work, "T\u00e4kt \u00fcbung")
        os.makedirs(folder)
        path = os.path.join(folder, "Kl\u00e4ng \u00e9.wav")
        write_wave(path, [(3000, 50, 16000)])
        ear = Listener(work)
        app = App(work, "launcher-no-locale", command=[launcher], env=env)
        try:
            app.wait_ready(timeout=120)
            s = app.choose_file(path)
            self.assertEqual(app.message_boxes(s), [], "the file was refused")
            self.assertTrue(s["wave"])
            app.click_control(IDC_START_STOP)
            start, end = ear.listen(1600)
            self.assertGreaterEqual(len(ear.onsets(start, end)), 2, "the file was not heard")
            self.assertEqual(app.message_boxes(), [])
        finally:
            app.kill()
            ear.stop()
            subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)

    def test_launcher_where_the_kernel_refuses_i386_code(self):
        """With the 32-bit loader refused, as without ia32 emulation, the launcher starts the
        x86-64 build under wine64 in a prefix of its own; with wine64 refused too, it says
        what to do and starts nothing."""
        work = scratch("no-i386")
        destdir = os.path.join(work, "root")
        root = destdir + "/usr"
        make("install", "DESTDIR=" + destdir, "PREFIX=/usr")
        home = os.path.join(work, "home")
        os.makedirs(home)
        # The refused loaders play the kernel here; the switch, when the run has it, would
        # answer before them.
        env = {k: v for k, v in os.environ.items()
               if k not in ("XDG_DATA_HOME", "WINEPREFIX", "TICKORA_NO_I386")}
        env.update(HOME=home, TICKORA_WINE32_LOADER=refused_loader(WINE32_LOADER, work))
        # The installed wine64 shim runs the loader it is given (the launcher gives it
        # TICKORA_WINE64_LOADER), not always Debian's.
        shim = root + "/lib/tickora/wine64/wine"
        for loader, runs in ((WINE64_LOADER, True), (refused_loader(WINE64_LOADER, work), False)):
            r = subprocess.run([shim, "--version"], env=dict(env, WINELOADER=loader),
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=60)
            self.assertEqual(r.returncode == 0, runs, (loader, r.stdout.decode()))
        # Where the kernel itself refuses i386 code, the launcher test above took this path.
        if host_runs_i386():
            data = os.path.join(home, ".local", "share", "tickora")
            run = WineRun([root + "/bin/tickora"], os.path.join(data, "wineprefix64"), env,
                          os.path.join(work, "launcher.log"))
            self.assert_launcher_runs(run, root, x86_64=True)
            self.assertEqual(os.listdir(data), ["wineprefix64"])

        # No DISPLAY: the message comes first all the same, and no message window stays open.
        del env["DISPLAY"]
        env.update(HOME=os.path.join(work, "nobody"),
                   TICKORA_WINE64_LOADER=refused_loader(WINE64_LOADER, work))
        r = subprocess.run([root + "/bin/tickora"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
        said = r.stdout.decode().replace("\n  ", " ")
        self.assertEqual(r.returncode, 1, said)
        self.assertIn("does not run 32-bit programs", said)
        self.assertIn("kernel option ia32_emulation=on", said)
        self.assertIn("apt-get install wine64", said)
        self.assertFalse(os.path.exists(env["HOME"]), "the launcher made files anyway")
        # With the switch, the message names it rather than the kernel.
        r = subprocess.run([root + "/bin/tickora"], env=dict(env, TICKORA_NO_I386="1"),
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=30)
        self.assertIn("TICKORA_NO_I386=1 asks for 64-bit Wine", r.stdout.decode())

    def check_launcher_messages(self, launcher, work):
        """Without a display, or without Wine, the launcher says what to do and starts nothing."""
        no_display = {k: v for k, v in os.environ.items()
                      if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        no_display["HOME"] = os.path.join(work, "nobody")
        r = subprocess.run([launcher], env=no_display, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
        self.assertEqual(r.returncode, 1)
        self.assertIn("DISPLAY is not set", r.stdout.decode())
        # A PATH with the shell tools and no Wine.
        bin_dir = os.path.join(work, "bin-without-wine")
        os.makedirs(bin_dir)
        for tool in ("bash", "env", "readlink", "dirname"):
            os.symlink(shutil.which(tool), os.path.join(bin_dir, tool))
        no_wine = dict(os.environ, PATH=bin_dir, HOME=no_display["HOME"])
        r = subprocess.run([launcher], env=no_wine, stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=30)
        self.assertEqual(r.returncode, 1)
        self.assertIn("apt-get install wine wine32:i386", r.stdout.decode())
        self.assertFalse(os.path.exists(no_display["HOME"]), "the launcher made files anyway")

    def test_dist_zip(self):
        work = scratch("dist")
        with open(os.path.join(ROOT, "res", "tickora.rc"), encoding="ascii") as f:
            version = ".".join(re.search(r"^\s*PRODUCTVERSION\s+(\d+),\s*(\d+),\s*(\d+),\s*(\d+)",
                                         f.read(), re.MULTILINE).groups())
        name = "tickora-%s-win32.zip" % version
        out = [os.path.join(work, d) for d in ("first", "second")]
        for d in out:
            make("dist", "DIST_DIR=" + d)
            self.assertEqual(sorted(os.listdir(d)), ["SHA256SUMS", name])
        data, exe = read(os.path.join(out[0], name)), read(env_path("TICKORA_EXE"))
        self.assertEqual(data, read(os.path.join(out[1], name)), "two make dist, two zips")
        self.assertEqual(read(os.path.join(out[0], "SHA256SUMS")).decode(),
                         "%s  %s\n" % (hashlib.sha256(data).hexdigest(), name))
        # A clean build in another folder, later, gives the same exe: no link time, no build
        # path. Its header says so, and terminal-server aware.
        make("program", "BUILD_DIR=" + os.path.join(work, "clean"))
        self.assertEqual(read(os.path.join(work, "clean", "tickora.exe")), exe)
        pe = struct.unpack_from("<I", exe, 0x3C)[0]
        self.assertEqual(struct.unpack_from("<I", exe, pe + 8)[0], 0, "a TimeDateStamp")
        self.assertTrue(struct.unpack_from("<H", exe, pe + 94)[0] & 0x8000)
        # Only DLLs that ship with Windows: the stack protector's support is linked in.
        dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", env_path("TICKORA_EXE")],
                              stdout=subprocess.PIPE, check=True, timeout=60).stdout.decode()
        self.assertEqual(sorted(n.lower() for n in re.findall(r"DLL Name: (\S+)", dump)),
                         ["advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll",
                          "msvcrt.dll", "user32.dll", "winmm.dll"])
        # One manifest, well-formed XML as Windows insists, naming no other processor than "*".
        manifests = re.findall(rb"<\?xml.*?</assembly>", exe, re.S)
        self.assertEqual(len(manifests), 1)
        self.assertEqual({e.get("processorArchitecture") for e in ElementTree.fromstring(
            manifests[0]).iter("{urn:schemas-microsoft-com:asm.v1}assemblyIdentity")}, {"*"})
        with zipfile.ZipFile(os.path.join(out[0], name)) as z:
            self.assertEqual(z.namelist(), ["tickora.exe", "README.txt", "LICENSE.txt"])
            self.assertEqual(z.read("tickora.exe"), exe)
            readme = z.read("README.txt")
            license_text = z.read("LICENSE.txt")
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"), "README.txt is not CRLF")
        self.assertIn(b"Windows Vista or later", readme.replace(b"\r\n", b" "))
        self.assertIn(b"MIT License", license_text)
        self.assertIn(b"the Tickora authors", license_text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
