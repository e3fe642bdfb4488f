#!/usr/bin/env bash
# End-to-end cases of the Windows program (build/windows/bin/Orlenta.exe)
# under Wine, inside a private Xvfb display, as a user would run it: each
# message box is read from Wine's msgbox trace and found and dismissed on the
# display; the exit code is Wine's. Also builds the zip, runs the program from
# the unpacked folder, and checks the imports and resources of the .exe.
# Last line: 'N passed, N failed'. E2E_WINEDEBUG replaces Wine's debug
# channels (default -all,+msgbox) when a failure needs more of Wine's view.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
export ORLENTA_PROGRAM=${ORLENTA_WINDOWS_PROGRAM:-$root/build/windows/bin/Orlenta.exe}
export ORLENTA_SOURCE_DIR=$root
export PYTHONPATH=$here${PYTHONPATH:+:$PYTHONPATH}

# Run alone, the suite needs its own prefix and Wine server; under test.sh
# both are already there.
if [ -z "${WINEPREFIX:-}" ]; then
  source "$root/scripts/common.sh"
  trap orlenta_stop_wine EXIT
  orlenta_start_wine "$(dirname "$(dirname "$ORLENTA_PROGRAM")")" >/dev/null
fi
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

python3 - <<'PY'
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

import e2e_common as e2e

PROGRAM = os.environ["ORLENTA_PROGRAM"]
BUILD = os.path.dirname(os.path.dirname(PROGRAM))
CASE_TIMEOUT = 60
TRACE = re.compile(r'trace:msgbox:MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"(\.\.\.)?')
ESCAPES = {"n": 0x0A, "r": 0x0D, "t": 0x09, '"': 0x22, "\\": 0x5C}


def decode_debugstr(s):
    """Wine's debugstr_w form back to text: \\n \\r \\t \\" \\\\ and \\XXXX code units."""
    units, i = [], 0
    while i < len(s):
        if s[i] == "\\":
            if s[i + 1] in ESCAPES:
                units.append(ESCAPES[s[i + 1]])
                i += 2
            else:
                units.append(int(s[i + 1:i + 5], 16))
                i += 5
        else:
            units.append(ord(s[i]))
            i += 1
    raw = b"".join(u.to_bytes(2, "little") for u in units)
    return raw.decode("utf-16-le", "surrogatepass")


class Display:
    """A private Xvfb server on a free display number, ended by its pid."""

    def __init__(self):
        for n in range(91, 160):
            if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
                break
        self.name = ":%d" % n
        self.proc = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while not os.path.exists("/tmp/.X11-unix/X%d" % n):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("Xvfb did not start on " + self.name)
            time.sleep(0.05)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def looks_like_processing_window(size):
    """The processing window is 360 by 120 outside; without a window manager X
    sees its client area, a few pixels smaller. A box with the same title may
    be mapped before its trace line is read, so the title alone cannot tell
    them apart."""
    width, height = size
    return 330 <= width <= 360 and 80 <= height <= 120


class Outcome:
    pass


class WineRunner:
    def __init__(self, display):
        self.env = dict(os.environ, DISPLAY=display.name, WINEDEBUG=os.environ.get("E2E_WINEDEBUG", "-all,+msgbox"))
        self.program = PROGRAM
        self._winepath = {}

    def path(self, p):
        """The Windows spelling of a path of this machine (winepath -w)."""
        if p not in self._winepath:
            out = subprocess.run(["winepath", "-w", p], env=self.env, capture_output=True,
                                 text=True, timeout=120)
            self._winepath[p] = out.stdout.strip()
        return self._winepath[p]

    def join(self, folder, name):
        return folder + "\\" + name

    def xdotool(self, *args):
        out = subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True, timeout=10)
        return out.stdout.decode("utf-8", "replace").strip()

    def windows(self):
        """Visible top-level windows whose title begins with Orlenta: (id, title, (w, h))."""
        found = []
        for wid in self.xdotool("search", "--onlyvisible", "--name", "^Orlenta").split():
            title = self.xdotool("getwindowname", wid)
            shell = dict(line.split("=", 1) for line in
                         self.xdotool("getwindowgeometry", "--shell", wid).splitlines() if "=" in line)
            found.append((wid, title, (int(shell.get("WIDTH", 0)), int(shell.get("HEIGHT", 0)))))
        return found

    def run(self, args, cwd, program=None):
        out = Outcome()
        out.boxes = []       # per box: decoded text, cut short?, windows up when it showed
        out.processing = {}  # windows titled exactly "Orlenta" seen before any box: id -> size
        with tempfile.TemporaryFile() as err_file, tempfile.TemporaryFile() as out_file:
            proc = subprocess.Popen(["wine", program or self.program] + args, cwd=cwd, env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=out_file, stderr=err_file,
                                    start_new_session=True)
            deadline = time.monotonic() + CASE_TIMEOUT
            dismissed_at = None
            try:
                while proc.poll() is None:
                    if time.monotonic() > deadline:
                        raise e2e.CheckFailed("no exit within %d s (boxes so far: %r)"
                                              % (CASE_TIMEOUT, out.boxes))
                    err_file.seek(0)
                    traces = TRACE.findall(err_file.read().decode("utf-8", "replace"))
                    shown = self.windows()
                    if len(traces) == len(out.boxes):
                        err_file.seek(0)
                        if len(TRACE.findall(err_file.read().decode("utf-8", "replace"))) != len(traces):
                            continue  # a box began while the windows were listed: look again
                        for wid, title, size in shown:
                            if title == "Orlenta" and looks_like_processing_window(size):
                                out.processing[wid] = size
                        if dismissed_at and time.monotonic() - dismissed_at > 1:
                            # The key press did not reach the box: press again.
                            for wid, _, _ in shown:
                                self.xdotool("key", "--window", wid, "Return")
                            dismissed_at = time.monotonic()
                        time.sleep(0.05)
                        continue
                    if not shown:
                        time.sleep(0.05)  # box initialised, not mapped yet
                        continue
                    time.sleep(0.2)  # let anything else that is about to appear appear
                    shown = self.windows()
                    text, cut = traces[len(out.boxes)]
                    out.boxes.append({"text": decode_debugstr(text), "cut": bool(cut), "windows": shown})
                    for wid, _, _ in shown:
                        self.xdotool("key", "--window", wid, "Return")
                    dismissed_at = time.monotonic()
            finally:
                if proc.poll() is None:
                    # A stalled start may have spawned more than the loader: end the whole group.
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait()
            out.exit_code = proc.returncode
            err_file.seek(0)
            out.stderr = err_file.read()
            out_file.seek(0)
            out.stdout = out_file.read()
        err = out.stderr.decode("utf-8", "replace")
        out.trace_count = len(TRACE.findall(err))
        return out

    def warm_up(self, limit=90):
        """Waits until a program of this prefix can open windows on our display.

        The prefix's desktop process may have been started without a display
        (by whoever started the server); until it has ended, every window
        fails with 'no driver'. A run without argument shows the usage box
        once windows work; it is dismissed and not counted as a case."""
        self.path("/")
        deadline = time.monotonic() + limit
        tries = 0
        while True:
            tries += 1
            try:
                out = self.run([], cwd="/")
            except e2e.CheckFailed:
                out = None
            if out is not None and out.trace_count == 1 and len(out.boxes) == 1:
                return tries
            if time.monotonic() > deadline:
                raise RuntimeError("no window could be opened under Wine within %d s" % limit)
            time.sleep(1)

    def expect_box(self, out, icon, text):
        if out.trace_count == 0:
            noise = re.compile(r"XGetInputFocus|wine32 is missing|multiarch needs|dpkg --add-arch|wine32:i386")
            tail = [l for l in out.stderr.decode("utf-8", "replace").splitlines() if not noise.search(l)]
            raise e2e.CheckFailed("no message box (exit code %r); standard error ends:\n    %s"
                                  % (out.exit_code, "\n    ".join(tail[-8:])))
        e2e.expect_eq(out.trace_count, 1, "message boxes initialised")
        e2e.expect_eq(len(out.boxes), 1, "message boxes seen")
        box = out.boxes[0]
        if box["cut"]:
            e2e.expect(text.startswith(box["text"]), "box text (cut) %r is not the start of %r"
                       % (box["text"], text))
        else:
            e2e.expect_eq(box["text"], text, "box text")
        title = e2e.COMPLETION_TITLE if icon == "information" else e2e.ERROR_TITLE
        e2e.expect_eq([w[1] for w in box["windows"]], [title],
                      "windows titled Orlenta* while the box is up")
        for wid, _, _ in box["windows"]:
            e2e.expect(wid not in out.processing, "the processing window is still up under the box "
                       "(box windows %r, processing windows seen before %r)" % (box["windows"], out.processing))


def case_processing_window(suite, root):
    """A job long enough to see the processing window; it is gone when the box shows."""
    r = suite.runner
    img = os.path.join(root, "img")
    e2e.write(os.path.join(img, "a.jpg"), e2e.JPEG + b"x" * 4096)
    p_img = r.join(r.path(img), "a.jpg")
    rows = ["ID,画像（表）,画像（裏）"] + ["%d,%s,%s" % (i, p_img, p_img) for i in range(3000)]
    csv = os.path.join(root, "list.csv")
    e2e.write(csv, e2e.csv_bytes(rows))
    out = r.run([r.path(csv)], cwd=root)
    r.expect_box(out, "information", e2e.completion_text(0))
    e2e.expect_eq(out.exit_code, 0, "exit code")
    e2e.expect(len(out.processing) == 1, "one processing window seen while the job ran, got %r"
               % out.processing)
    print("     processing window seen, X geometry %r" % list(out.processing.values()), flush=True)


def case_package(suite, root):
    """The zip builds; its Orlenta.exe runs from the unpacked folder."""
    r = suite.runner
    build = subprocess.run(["cmake", "--build", BUILD, "--target", "package"], capture_output=True,
                           text=True, timeout=600)
    e2e.expect(build.returncode == 0, "package target failed:\n" + build.stdout + build.stderr)
    zips = [f for f in os.listdir(BUILD) if re.fullmatch(r"Orlenta-[0-9.]+-win64\.zip", f)]
    e2e.expect_eq(len(zips), 1, "zips in the build folder")
    name = zips[0][:-4]
    with zipfile.ZipFile(os.path.join(BUILD, zips[0])) as z:
        e2e.expect_eq(sorted(n for n in z.namelist() if not n.endswith("/")),
                      sorted(name + "/" + f for f in ("Orlenta.exe", "README.txt", "qorimgio.dll")),
                      "zip contents")
        z.extractall(os.path.join(root, "unpacked"))
    readme = e2e.read(os.path.join(root, "unpacked", name, "README.txt"))
    e2e.expect(readme.startswith(e2e.BOM) and b"\r\n" in readme and b"\n" not in readme.replace(b"\r\n", b""),
               "read-me is UTF-8 with BOM and CR LF")
    readme.decode("utf-8")
    data = os.path.join(root, "data")
    e2e.write(os.path.join(data, "img", "0001"), e2e.PNG + b"p")
    csv = os.path.join(data, "list.csv")
    e2e.write(csv, e2e.csv_bytes(["画像（表）,画像（裏）", r.join(r.path(os.path.join(data, "img")), "0001")]))
    out = r.run([r.path(csv)], cwd=root, program=os.path.join(root, "unpacked", name, "Orlenta.exe"))
    r.expect_box(out, "information", e2e.COMPLETED)
    e2e.expect_eq(out.exit_code, 0, "exit code")
    e2e.expect_eq(e2e.read(csv), e2e.csv_bytes(['"画像（表）","画像（裏）"', '"Fore\\0001.png",""']),
                  "rewritten CSV")


SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll", "advapi32.dll", "gdi32.dll",
               "ntdll.dll", "ucrtbase.dll", "comctl32.dll", "ole32.dll", "shlwapi.dll", "ws2_32.dll"}


def case_imports(suite, root):
    """Load-time imports: Windows' own DLLs and qorimgio.dll, no toolchain runtime."""
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", PROGRAM], capture_output=True, text=True,
                          timeout=60)
    e2e.expect_eq(dump.returncode, 0, "objdump")
    dlls = sorted({m.lower() for m in re.findall(r"DLL Name: (\S+)", dump.stdout)})
    foreign = [d for d in dlls if d not in SYSTEM_DLLS and d != "qorimgio.dll"
               and not d.startswith("api-ms-win-")]
    e2e.expect_eq(foreign, [], "DLLs beyond Windows' own and qorimgio.dll")
    e2e.expect("qorimgio.dll" in dlls, "qorimgio.dll linked at load time, imports %r" % dlls)
    e2e.expect(re.search(r"Subsystem\s+00000002", dump.stdout) is not None, "GUI subsystem")


def case_resources(suite, root):
    """Manifest, version information from the project version, and our icon are in the .exe."""
    exe = e2e.read(PROGRAM)
    for needle in (b'level="asInvoker"', b"<longPathAware", b">true</longPathAware>",
                   b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", b"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                   b"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
                   b'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"'):
        e2e.expect(needle in exe, "manifest lacks %r" % needle)
    e2e.expect(b"activeCodePage" not in exe, "manifest must leave the ANSI code page alone")
    cache = e2e.read(os.path.join(BUILD, "CMakeCache.txt")).decode("utf-8", "replace")
    version = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(\d+)\.(\d+)\.(\d+)", cache, re.M)
    e2e.expect(version is not None, "project version in the cache")
    major, minor, patch = (int(v) for v in version.groups())
    fixed = (0xFEEF04BD).to_bytes(4, "little") + (0x10000).to_bytes(4, "little") + \
        ((major << 16) | minor).to_bytes(4, "little") + (patch << 16).to_bytes(4, "little")
    e2e.expect(fixed in exe, "fixed version %d.%d.%d.0" % (major, minor, patch))
    for key, value in (("FileDescription", "CSV 画像整理ツール"), ("ProductName", "Orlenta"),
                       ("FileVersion", "%d.%d.%d" % (major, minor, patch)),
                       ("OriginalFilename", "Orlenta.exe")):
        e2e.expect((key + "\0").encode("utf-16-le") in exe and
                   (value + "\0").encode("utf-16-le") in exe, "version string %s = %s" % (key, value))
    ico = e2e.read(ICON)
    count = int.from_bytes(ico[4:6], "little")
    for i in range(count):
        entry = ico[6 + 16 * i:22 + 16 * i]
        size, offset = int.from_bytes(entry[8:12], "little"), int.from_bytes(entry[12:16], "little")
        e2e.expect(ico[offset:offset + size] in exe, "icon image %d not in the .exe" % i)


ICON = os.path.join(os.environ.get("ORLENTA_SOURCE_DIR", ""), "src", "app", "orlenta.ico")


def body():
    if not os.path.isfile(PROGRAM):
        print("program not built: " + PROGRAM)
        print("0 passed, 1 failed")
        return 1
    display = Display()
    try:
        runner = WineRunner(display)
        tries = runner.warm_up()
        if tries > 1:
            print("     windows work after %d warm-up runs" % tries, flush=True)
        suite = e2e.Suite(runner)
        for name, case in e2e.COMMON_CASES + [("processing_window", case_processing_window),
                                              ("package", case_package), ("imports", case_imports),
                                              ("resources", case_resources)]:
            suite.run_case(name, case)
        return suite.finish()
    finally:
        display.stop()


def stop_on_signal(signum, frame):
    raise KeyboardInterrupt


signal.signal(signal.SIGTERM, stop_on_signal)
sys.exit(e2e.main_guard(body))
PY
