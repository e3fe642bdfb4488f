#!/usr/bin/env bash
# End-to-end cases of the native program (build/linux/bin/orlenta) on real
# folders: exit codes, the exact bytes it prints for its message boxes, and
# the files it leaves. Last line: 'N passed, N failed'.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
export ORLENTA_PROGRAM=${ORLENTA_NATIVE_PROGRAM:-$root/build/linux/bin/orlenta}
export PYTHONPATH=$here${PYTHONPATH:+:$PYTHONPATH}

exec python3 - <<'PY'
import os
import subprocess
import sys

import e2e_common as e2e

PROGRAM = os.environ["ORLENTA_PROGRAM"]


class Outcome:
    def __init__(self, exit_code, stdout, stderr):
        self.exit_code, self.stdout, self.stderr = exit_code, stdout, stderr


class NativeRunner:
    """The program as a shell user starts it; its boxes are printed lines."""

    def path(self, p):
        return p

    def join(self, folder, name):
        return folder + "\\" + name

    def run(self, args, cwd):
        try:
            p = subprocess.run([PROGRAM] + args, cwd=cwd, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=60)
        except subprocess.TimeoutExpired:
            raise e2e.CheckFailed("no exit within 60 s")
        return Outcome(p.returncode, p.stdout, p.stderr)

    def expect_box(self, out, icon, text):
        printed = text.encode("utf-8") + b"\n"
        if icon == "information":
            e2e.expect_eq(out.stdout, printed, "standard output")
            e2e.expect_eq(out.stderr, b"", "standard error")
        else:
            e2e.expect_eq(out.stderr, printed, "standard error")
            e2e.expect_eq(out.stdout, b"", "standard output")


def case_processing_text_on_terminal(suite, root):
    """With standard error on a terminal the processing text comes first, then the box."""
    import pty
    r = suite.runner
    e2e.write(os.path.join(root, "img", "a.png"), e2e.PNG)
    csv = os.path.join(root, "list.csv")
    e2e.write(csv, e2e.csv_bytes(["画像（表）,画像（裏）", r.join(os.path.join(root, "img"), "a.png")]))
    master, slave = pty.openpty()
    try:
        p = subprocess.Popen([PROGRAM, csv], cwd=root, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=slave)
        os.close(slave)
        slave = None
        stdout, _ = p.communicate(timeout=60)
        terminal = b""
        while True:
            try:
                chunk = os.read(master, 4096)
            except OSError:  # the terminal is closed once the program has gone
                break
            if not chunk:
                break
            terminal += chunk
    finally:
        os.close(master)
        if slave is not None:
            os.close(slave)
    e2e.expect_eq(p.returncode, 0, "exit code")
    # The terminal turns the line feed into CR LF.
    e2e.expect_eq(terminal, "処理中です。しばらくお待ちください。\r\n".encode("utf-8"), "terminal")
    e2e.expect_eq(stdout, (e2e.COMPLETED + "\n").encode("utf-8"), "standard output")


def body():
    if not os.access(PROGRAM, os.X_OK):
        print("program not built: " + PROGRAM)
        print("0 passed, 1 failed")
        return 1
    suite = e2e.Suite(NativeRunner())
    for name, case in e2e.COMMON_CASES + [("processing_text_on_terminal",
                                           case_processing_text_on_terminal)]:
        suite.run_case(name, case)
    return suite.finish()


sys.exit(e2e.main_guard(body))
PY
