"""End-to-end cases of the real program: the rows of cases.toml, run natively or under Wine.

    python3 tests/e2e/e2e.py native build/linux/bin/orlenta
    python3 tests/e2e/e2e.py wine build/windows/bin/Orlenta.exe

Prints one line per case, then 'N skipped', and last 'N passed, N failed'.
Under Wine it needs the display and Wine server of scripts/common.sh; run
alone, it starts them through that script.
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import tomllib
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TIMEOUT = 120
ERROR_TITLE = "Orlenta エラー"
TRACE = re.compile(r'trace:msgbox:MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"')
ESCAPES = {"n": 0x0A, "r": 0x0D, "t": 0x09, '"': 0x22, "\\": 0x5C}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll", "advapi32.dll", "gdi32.dll",
               "ntdll.dll", "ucrtbase.dll", "comctl32.dll", "ole32.dll", "shlwapi.dll", "ws2_32.dll"}


class Failed(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise Failed(what)


def expect_bytes(actual, wanted, what):
    if actual != wanted:
        at = next((i for i, (a, w) in enumerate(zip(actual, wanted)) if a != w), min(len(actual), len(wanted)))
        def near(data):
            return data[max(at - 16, 0):at + 48].decode("utf-8", "backslashreplace")
        raise Failed("%s differs from byte %d: expected %r, got %r" % (what, at, near(wanted), near(actual)))


class Outcome:
    def __init__(self, exit_code, boxes, processing=False):
        self.exit_code = exit_code
        self.boxes = boxes            # (title, text) per message box, in order
        self.processing = processing  # a processing window was seen before the first box


class Native:
    """The native program prints an information box's text plus LF on standard
    output and an error box's on standard error."""

    line_end = "\n"

    def __init__(self, program):
        self.program = os.path.abspath(program)

    def spell(self, path):
        return path

    def run(self, args, cwd, program=None):
        try:
            p = subprocess.run([program or self.program] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failed("no exit within %d s" % TIMEOUT)
        boxes = [(title, stream.decode("utf-8", "backslashreplace"))
                 for title, stream in (("Orlenta", p.stdout), (ERROR_TITLE, p.stderr)) if stream]
        return Outcome(p.returncode, boxes)


def decode_trace(s):
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
    return b"".join(u.to_bytes(2, "little") for u in units).decode("utf-16-le", "surrogatepass")


class Wine:
    """Orlenta.exe on the private display: each box's text comes from Wine's
    msgbox trace, its title from the window found on the display, and it is
    dismissed by its OK button. A box's title is the titles of every window named
    Orlenta* while it is up, so a processing window left behind shows."""

    line_end = ""

    def __init__(self, program):
        self.program = os.path.abspath(program)
        self.env = dict(os.environ, WINEDEBUG="-all,+msgbox")

    def spell(self, path):
        return "Z:" + path.replace("/", "\\")

    def xdotool(self, *args):
        p = subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True, timeout=10)
        return p.stdout.decode("utf-8", "replace").strip()

    def windows(self):
        """Visible windows whose title begins with Orlenta, as (id, title, width, height);
        a window that reads no title does not answer yet and is left out."""
        found = []
        for wid in self.xdotool("search", "--onlyvisible", "--name", "^Orlenta").split():
            title = self.xdotool("getwindowname", wid)
            geometry = dict(line.split("=", 1) for line in
                            self.xdotool("getwindowgeometry", "--shell", wid).splitlines() if "=" in line)
            if title:
                found.append((wid, title, int(geometry.get("WIDTH", 0)), int(geometry.get("HEIGHT", 0))))
        return found

    def press_ok(self, shown):
        # Space, which the button acts on at its release: a Return closes the box on the press,
        # its release goes nowhere, and the boxes of later runs then close by themselves.
        for wid, _, _, _ in shown:
            self.xdotool("key", "--window", wid, "space")

    def run(self, args, cwd, program=None):
        boxes, processing, pressed_at = [], False, None
        with tempfile.TemporaryFile() as err:
            def traces():
                err.seek(0)
                return TRACE.findall(err.read().decode("utf-8", "replace"))

            proc = subprocess.Popen(["wine", program or self.program] + args, cwd=cwd, env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err,
                                    start_new_session=True)
            deadline = time.monotonic() + TIMEOUT
            try:
                while proc.poll() is None:
                    if time.monotonic() > deadline:
                        raise Failed("no exit within %d s (boxes so far: %r)" % (TIMEOUT, boxes))
                    before = traces()
                    if len(before) > len(boxes):
                        shown = self.windows()
                        if shown:  # else initialised, not mapped yet
                            time.sleep(0.2)  # let anything else that is about to appear appear
                            shown = self.windows()
                            boxes.append((" + ".join(sorted(w[1] for w in shown)),
                                          decode_trace(before[len(boxes)])))
                            self.press_ok(shown)
                            pressed_at = time.monotonic()
                    elif pressed_at is not None and time.monotonic() - pressed_at > 1:
                        self.press_ok(self.windows())  # the key did not reach the box: press again
                        pressed_at = time.monotonic()
                    elif not before and not processing:
                        # Before any box, a window titled Orlenta of about 360x120 is the processing
                        # window (under a window manager X sees only its client area, a little
                        # smaller); a box may share the title, hence the second look at the traces.
                        shown = self.windows()
                        processing = not traces() and any(t == "Orlenta" and 330 <= w <= 360 and 80 <= h <= 120
                                                          for _, t, w, h in shown)
                    time.sleep(0.05)
            finally:
                if proc.poll() is None:
                    # A stalled start may have spawned more than the loader: end the whole group.
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait()
            boxes += [("(never shown)", decode_trace(t)) for t in traces()[len(boxes):]]
        return Outcome(proc.returncode, boxes, processing)


def unpack_zip(runner, folder):
    """The package's Orlenta.exe, unpacked into folder."""
    build = os.path.dirname(os.path.dirname(runner.program))
    zips = [f for f in os.listdir(build) if re.fullmatch(r"Orlenta-[0-9.]+-win64\.zip", f)]
    expect(len(zips) == 1, "one Orlenta-*-win64.zip in %s (build the package target), found %r" % (build, zips))
    path = os.path.join(build, zips[0])
    expect(os.path.getmtime(path) >= os.path.getmtime(runner.program), "the zip is older than Orlenta.exe")
    with zipfile.ZipFile(path) as z:
        z.extractall(folder)
    return os.path.join(folder, zips[0][:-4], "Orlenta.exe")


def run_row(runner, row, root):
    """Builds the row's folder, runs the program in it and compares what the user sees and gets."""
    folder = os.path.join(root, "case")
    os.makedirs(folder)
    if row.get("example"):
        shutil.copytree(os.path.join(ROOT, "examples"), folder, dirs_exist_ok=True)
    base = folder  # where the CSV and the row's files sit
    if row.get("deep"):
        base = os.path.join(folder, *["深" * 60 + "x" * 40] * 3)
        os.makedirs(base)
    for name, source in row.get("files", {}).items():
        shutil.copyfile(os.path.join(folder, source), os.path.join(base, name))
    csv = os.path.join(base, row.get("csv_name", "list.csv"))
    if "csv" in row:
        lines = row["csv"].replace("{dir}", runner.spell(base)).split("\r\n")
        if "repeat" in row:  # the last row many times over, for a job that takes a while
            lines[-2:-1] = lines[-2:-1] * row["repeat"]
        with open(csv, "wb") as f:
            f.write("\r\n".join(lines).encode("utf-8"))
    if row.get("folder"):
        os.makedirs(csv)
    before = open(csv, "rb").read() if os.path.isfile(csv) else None
    program = unpack_zip(runner, os.path.join(root, "zip")) if row.get("program") == "zip" else None

    args = [runner.spell(csv) if a == "{csv}" else a for a in row.get("args", ["{csv}"])]
    out = runner.run(args, cwd=folder, program=program)

    text = row["text"].replace("{csv}", runner.spell(csv)) + runner.line_end
    expect(out.boxes == [(row["title"], text)], "boxes: expected [%r], got %r" % ((row["title"], text), out.boxes))
    expect(out.exit_code == row["exit"], "exit code %r, expected %r" % (out.exit_code, row["exit"]))
    if row.get("window"):
        expect(out.processing, "no processing window of about 360x120 seen while the job ran")
    after = row.get("after")
    if after == "untouched":
        expect_bytes(open(csv, "rb").read(), before, "the CSV (to be untouched)")
    elif after is not None:
        expect_bytes(open(csv, "rb").read(), after.encode("utf-8"), "the CSV afterwards")
    if "after_file" in row:
        with open(os.path.join(HERE, row["after_file"]), "rb") as f:
            expect_bytes(open(csv, "rb").read(), f.read(), "the CSV afterwards")


def check_imports(runner, root):
    """Load-time imports: Windows' own DLLs and qorimgio.dll, no toolchain runtime."""
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", runner.program], capture_output=True,
                          text=True, timeout=60)
    expect(dump.returncode == 0, "objdump failed: " + dump.stderr.strip())
    dlls = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump.stdout)}
    foreign = sorted(d for d in dlls if d not in SYSTEM_DLLS | {"qorimgio.dll"} and not d.startswith("api-ms-win-"))
    expect(not foreign, "imports beyond Windows' own DLLs and qorimgio.dll: %r" % foreign)
    expect("qorimgio.dll" in dlls, "qorimgio.dll is not imported at load time: %r" % sorted(dlls))


def check_resources(runner, root):
    """A manifest asking for no elevation and a version resource."""
    with open(runner.program, "rb") as f:
        exe = f.read()
    expect(b"<assembly" in exe and b'level="asInvoker"' in exe, "no manifest with asInvoker")
    expect("VS_VERSION_INFO".encode("utf-16-le") in exe and (0xFEEF04BD).to_bytes(4, "little") in exe,
           "no version resource")


CHECKS = {"imports": check_imports, "resources": check_resources}


def main(argv):
    if len(argv) != 3 or argv[1] not in ("native", "wine"):
        sys.exit("usage: e2e.py native|wine PROGRAM")
    mode, program = argv[1], argv[2]
    if mode == "wine" and not os.environ.get("ORLENTA_WINE_READY"):
        common = os.path.join(ROOT, "scripts", "common.sh")
        os.execvp("bash", ["bash", common, "with-wine", program, sys.executable] + argv)
    runner = Native(program) if mode == "native" else Wine(program)
    with open(os.path.join(HERE, "cases.toml"), "rb") as f:
        rows = tomllib.load(f)["case"]
    passed = failed = skipped = 0
    scratch = tempfile.mkdtemp(prefix="orlenta-e2e-")
    try:
        for row in rows:
            if row["on"] not in (mode, "both"):
                skipped += 1
                continue
            root = os.path.join(scratch, row["name"])
            os.makedirs(root)
            try:
                if "check" in row:
                    CHECKS[row["check"]](runner, root)
                else:
                    run_row(runner, row, root)
            except Exception as e:  # a broken row counts as failed, with its reason
                failed += 1
                reason = str(e) if isinstance(e, Failed) else "%s: %s" % (type(e).__name__, e)
                print("FAIL  %s: %s" % (row["name"], reason), flush=True)
            else:
                passed += 1
                print("ok    %s" % row["name"], flush=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("%d skipped" % skipped)
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main(sys.argv))
