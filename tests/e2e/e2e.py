"""End-to-end cases of the real program: the rows of cases.toml, run natively or under Wine.

    python3 tests/e2e/e2e.py native build/linux/bin/orlenta
    python3 tests/e2e/e2e.py wine build/windows/bin/Orlenta.exe   # after the target package

Prints one line per case, then 'N skipped', and last 'N passed, N failed'; exits 1 if a case
failed. ctest runs it as e2e_native and e2e_wine. Under Wine it needs the display and Wine server
of scripts/common.sh; run alone, it starts them through it.
"""

import collections
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
from pathlib import Path

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
TIMEOUT = 120
TRACE = re.compile(r'trace:msgbox:MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"')
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
# boxes: (title, text) per message box, in order; processing: a processing window was seen before the first;
# first_box: when the first box's text was seen (time.monotonic(), under Wine), which is when the job ended
Outcome = collections.namedtuple("Outcome", "exit_code boxes processing first_box", defaults=[False, None])


class Native:
    """The native program prints an information box's text plus LF on standard
    output and an error box's on standard error; its processing window, a line on
    standard error when that is a terminal, has a unit test of its own."""
    line_end = "\n"
    spell = staticmethod(lambda path: path)

    def __init__(self, program):
        self.program = os.path.abspath(program)

    def run(self, args, cwd, program=None):
        p = subprocess.run([program or self.program] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=TIMEOUT)
        return Outcome(p.returncode, [(title, stream.decode("utf-8", "backslashreplace")) for title, stream
                                      in (("Orlenta", p.stdout), ("Orlenta エラー", p.stderr)) if stream])


def decode_trace(s):
    """Wine's debugstr_w form back to text: \\n \\r \\t \\" \\\\ and \\XXXX code units."""
    units = "".join(ESCAPES[t[1]] if len(t) == 2 else chr(int(t[1:], 16)) if len(t) == 5 else t
                    for t in re.findall(r'\\[nrt"\\]|\\[0-9a-fA-F]{4}|.', s, re.S))
    return units.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "surrogatepass")


class Wine(Native):
    """Orlenta.exe on the private display: each box's text comes from Wine's
    msgbox trace, its title from the window found on the display, and it is
    dismissed by its OK button. A box's title is the titles of every window named
    Orlenta* while it is up, so a processing window left behind shows."""
    line_end = ""
    spell = staticmethod(lambda path: "Z:" + path.replace("/", "\\"))
    env = dict(os.environ, WINEDEBUG="-all,+msgbox")  # the display and prefix of scripts/common.sh
    timeout = TIMEOUT  # the benchmarks' long runs raise it

    def xdotool(self, *args):
        p = subprocess.run(["xdotool"] + list(args), env=self.env, capture_output=True, timeout=10)
        return p.stdout.decode("utf-8", "replace").strip()

    def windows(self):
        """Visible windows titled Orlenta*, as (id, title, width, height); one that
        reads no title does not answer yet and is left out."""
        found = []
        for wid in self.xdotool("search", "--onlyvisible", "--name", "^Orlenta").split():
            size = dict(kv.split("=", 1) for kv in self.xdotool("getwindowgeometry", "--shell", wid).split())
            found.append((wid, self.xdotool("getwindowname", wid), int(size.get("WIDTH", 0)),
                          int(size.get("HEIGHT", 0))))
        return [w for w in found if w[1]]

    def press_ok(self, shown):
        # Space, which the button acts on at its release: a Return closes the box on the press,
        # its release goes nowhere, and the boxes of later runs then close by themselves.
        for wid, _, _, _ in shown:
            self.xdotool("key", "--window", wid, "space")

    def run(self, args, cwd, program=None):
        boxes, processing, pressed_at, first_box = [], False, None, None
        err = os.path.join(os.path.dirname(cwd), "wine.stderr")  # beside the row's folder
        with open(err, "wb") as f:
            proc = subprocess.Popen(["wine", program or self.program] + args, cwd=cwd, env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=f,
                                    start_new_session=True)
        traces = lambda: TRACE.findall(Path(err).read_text("utf-8", "replace"))
        deadline = time.monotonic() + self.timeout
        try:
            while proc.poll() is None:
                assert time.monotonic() < deadline, "no exit within %d s (boxes so far: %r)" % (self.timeout, boxes)
                before = traces()
                first_box = first_box or (time.monotonic() if before else None)
                if len(before) > len(boxes):
                    if self.windows():  # else initialised, not mapped yet
                        time.sleep(0.2)  # let anything else that is about to appear appear
                        shown = self.windows()
                        boxes.append((" + ".join(sorted(w[1] for w in shown)), decode_trace(before[len(boxes)])))
                        self.press_ok(shown)
                        pressed_at = time.monotonic()
                elif pressed_at is not None and time.monotonic() - pressed_at > 1:
                    self.press_ok(self.windows())  # the key did not reach the box: press again
                    pressed_at = time.monotonic()
                elif not before and not processing:
                    # Before any box, a window titled Orlenta of about 360x120 is the processing
                    # window (under a window manager X sees only its client area, a little
                    # smaller); a box may share the title, hence the second look at the traces.
                    processing = not traces() and any(t == "Orlenta" and 330 <= w <= 360 and 80 <= h <= 120
                                                      for _, t, w, h in self.windows())
                time.sleep(0.05)
        finally:
            if proc.poll() is None:  # a stalled start may have spawned more than the loader: end the group
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
        boxes += [("(never shown)", decode_trace(t)) for t in traces()[len(boxes):]]
        return Outcome(proc.returncode, boxes, processing, first_box)


def unpack_zip(runner, folder):
    """The package's Orlenta.exe, unpacked into folder."""
    build = os.path.dirname(os.path.dirname(runner.program))
    zips = [f for f in os.listdir(build) if re.fullmatch(r"Orlenta-[0-9.]+-win64\.zip", f)]
    assert len(zips) == 1, "one Orlenta-*-win64.zip in %s (build the package target), found %r" % (build, zips)
    assert os.path.getmtime(os.path.join(build, zips[0])) >= os.path.getmtime(runner.program), \
        "the zip is older than Orlenta.exe"
    with zipfile.ZipFile(os.path.join(build, zips[0])) as z:
        z.extractall(folder)
    return os.path.join(folder, zips[0][:-4], "Orlenta.exe")


def run_row(runner, row, root):
    """Builds the row's folder, runs the program in it and compares what the user sees and gets."""
    folder = base = os.path.join(root, "case")  # base: where the CSV and the row's files sit
    os.makedirs(folder)
    if row.get("example"):
        shutil.copytree(os.path.join(ROOT, "examples"), folder, dirs_exist_ok=True)
    if row.get("deep"):
        base = os.path.join(folder, *["深" * 60 + "x" * 40] * 3)
        os.makedirs(base)
    for name, source in row.get("files", {}).items():
        shutil.copyfile(os.path.join(folder, source), os.path.join(base, name))
    csv = os.path.join(base, row.get("csv_name", "list.csv"))
    if "link" in row:
        os.makedirs(os.path.dirname(os.path.join(base, row["link"])), exist_ok=True)
        os.symlink(row["link"], csv)
    if "csv" in row:
        lines = row["csv"].replace("{dir}", runner.spell(base)).split("\r\n")
        lines[-2:-1] *= row.get("repeat", 1)  # the last row many times over, for a job that takes a while
        with open(csv, "wb") as f:
            f.write("\r\n".join(lines).encode("utf-8"))
    before = Path(csv).read_bytes() if os.path.isfile(csv) else None
    program = unpack_zip(runner, os.path.join(root, "zip")) if row.get("program") == "zip" else None

    out = runner.run([runner.spell(csv) if a == "{csv}" else a for a in row.get("args", ["{csv}"])],
                     cwd=folder, program=program)
    box = (row["title"], row["text"].replace("{csv}", runner.spell(csv)) + runner.line_end)
    assert out.boxes == [box], "boxes: expected [%r], got %r" % (box, out.boxes)
    assert out.exit_code == row["exit"], "exit code %r, expected %r" % (out.exit_code, row["exit"])
    assert out.processing or not row.get("window"), "no processing window seen while the job ran"
    assert "link" not in row or os.path.islink(csv) and os.readlink(csv) == row["link"], "the link was replaced"
    after = row.get("after")
    wanted = (before if after == "untouched" else after.encode("utf-8") if after is not None
              else Path(HERE, row["after_file"]).read_bytes() if "after_file" in row else None)
    if wanted is not None:
        got = Path(csv).read_bytes()
        at = next((i for i, (a, w) in enumerate(zip(got, wanted)) if a != w), min(len(got), len(wanted)))
        near = lambda data: data[max(at - 16, 0):at + 48].decode("utf-8", "backslashreplace")
        assert got == wanted, ("the CSV afterwards differs from byte %d: expected %r, got %r"
                               % (at, near(wanted), near(got)))


def check_exe(runner, row, _):
    """Load-time imports: only the row's DLLs (Windows' own and qorimgio.dll, no toolchain runtime).
    Resources: a manifest asking for no elevation and a version resource."""
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", runner.program], capture_output=True,
                          text=True, timeout=60)
    assert dump.returncode == 0, "objdump failed: " + dump.stderr.strip()
    dlls = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump.stdout)}
    foreign = sorted(d for d in dlls if d not in row["allowed"] and not d.startswith("api-ms-win-"))
    assert not foreign, "imports beyond the allowed DLLs: %r" % foreign
    assert "qorimgio.dll" in dlls, "qorimgio.dll is not imported at load time: %r" % sorted(dlls)
    exe = Path(runner.program).read_bytes()
    assert b"<assembly" in exe and b'level="asInvoker"' in exe, "no manifest with asInvoker"
    assert "VS_VERSION_INFO".encode("utf-16-le") in exe and (0xFEEF04BD).to_bytes(4, "little") in exe, \
        "no version resource"


CHECKS = {"exe": check_exe}


def main(argv):
    if len(argv) != 3 or argv[1] not in ("native", "wine"):
        sys.exit("usage: e2e.py native|wine PROGRAM")
    if not __debug__:
        sys.exit("e2e.py checks with assert: run it without -O")
    mode, program = argv[1], argv[2]
    if mode == "wine" and not os.environ.get("ORLENTA_WINE_READY"):
        os.execvp("bash", ["bash", os.path.join(ROOT, "scripts", "common.sh"), "with-wine", program,
                           sys.executable] + argv)
    runner = Native(program) if mode == "native" else Wine(program)
    count = collections.Counter()
    scratch = tempfile.mkdtemp(prefix="orlenta-e2e-")
    try:
        for row in tomllib.loads(Path(HERE, "cases.toml").read_text("utf-8"))["case"]:
            if row["on"] not in (mode, "both"):
                count["skipped"] += 1
                continue
            try:
                CHECKS.get(row.get("check"), run_row)(runner, row, os.path.join(scratch, row["name"]))
                count["passed"] += 1
                print("ok    %s" % row["name"], flush=True)
            except Exception as e:  # a broken row counts as failed, with its reason
                count["failed"] += 1
                reason = str(e) if isinstance(e, AssertionError) else "%s: %s" % (type(e).__name__, e)
                print("FAIL  %s: %s" % (row["name"], reason), flush=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("%d skipped\n%d passed, %d failed" % (count["skipped"], count["passed"], count["failed"]))
    return 1 if count["failed"] else 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main(sys.argv))
