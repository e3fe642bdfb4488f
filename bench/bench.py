#!/usr/bin/env python3
"""Whole-run benchmark: the program on large generated data beside its floor measured in the same run.

Each case generates its data, then runs its sides (the program, the baseline when given, the floor)
once a round, in reverse order every other round and the disks synced before each side, and shows
medians over the rounds in one table. Builds into build/bench and build/bench-windows (Release),
and with --threads a variant of each per thread count into build/bench-tN and build/bench-windows-tN.
Orlenta.exe runs through the end-to-end harness's Wine runner on the display and Wine server of
scripts/common.sh (prefix build/bench-windows/wineprefix, windows unmanaged). Needs cmake, ninja and
strace; for Wine also mingw-w64, wine, Xvfb and xdotool. Case 8 mounts bench/latency_fs.c, which it
builds with gcc into build/bench (installing fuse3 and libfuse3-dev when missing): it needs root and
/dev/fuse, and is skipped, saying why, without them.
"""
import argparse
import collections
import contextlib
import csv
import functools
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import e2e  # noqa: E402
import gen_data  # noqa: E402

DONE = "処理が完了しました。"
BIN, EXE = ROOT / "build/bench/bin/orlenta", ROOT / "build/bench-windows/bin/Orlenta.exe"
FLOOR_EXE = ROOT / "build/bench-windows/bin/copy_floor.exe"
LATENCY_FS, COPY_THREADS = ROOT / "build/bench/latency_fs", ROOT / "build/bench/copy_threads"
DELAYS_US = (1000, 200)  # case 8: a LAN share's round trip, and a fast one's
Run = collections.namedtuple("Run", "seconds user rss", defaults=[None, None])  # wall s, user CPU s, peak KiB
ROWS, LINES, NOTES, KEPT = [], [], [], {}
med = statistics.median


def build(preset, folder, *targets, threads=None):
    """The targets in build/folder, Release; threads: the copy threads compiled in (ORLENTA_COPY_THREADS)."""
    print("== building the %s preset (Release) in build/%s" % (preset, folder), flush=True)
    threads = [] if threads is None else ["--no-warn-unused-cli", "-DORLENTA_COPY_THREADS=%d" % threads]
    for command in (["cmake", "--preset", preset, "-B", "build/" + folder, "-DCMAKE_BUILD_TYPE=Release",
                     "-DORLENTA_BUILD_TESTS=OFF", *threads],
                    ["cmake", "--build", "build/" + folder, "--target", *targets]):
        subprocess.run(command, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def variant(threads, wine=False):
    """The program built with that many copy threads (--threads)."""
    return ROOT / (("build/bench-windows-t%d/bin/Orlenta.exe" if wine else "build/bench-t%d/bin/orlenta") % threads)


def timed(*command, expect=None, env=None):
    """Runs command once, its output into a file; ends the bench when it fails or prints other than expect."""
    command = [str(c) for c in command]
    with tempfile.TemporaryFile() as out:
        start = time.monotonic()
        proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=out, env=env)
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        except BaseException:  # interrupted: a run left behind would hold its files (on case 8's mount)
            proc.kill()
            proc.wait()
            raise
        seconds = time.monotonic() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        text = out.read().decode("utf-8", "replace")
    if proc.returncode or expect is not None and text != expect:
        sys.exit("bench: %s: exit code %d, output %r" % (" ".join(command), proc.returncode, text))
    return Run(seconds, usage.ru_utime, usage.ru_maxrss)


def native(program, listing):
    return timed(program, listing, expect=DONE + "\n")


def on_wine(exe, listing):
    """Orlenta.exe timed until its completion box shows (the job has ended then), dismissed untimed."""
    start = time.monotonic()
    out = WINE.run([WINE.spell(str(listing))], cwd=str(listing.parent), program=str(exe))
    if out.exit_code or [text for _, text in out.boxes] != [DONE]:
        sys.exit("bench: %s: exit code %d, boxes %r" % (exe, out.exit_code, out.boxes))
    return Run(out.first_box - start)


def side(folder, run, source=None, copies=0, folders=False):
    """One side of a case: folder cleared of what earlier sides made, source copied to list.csv, empty
    Fore and Back made when asked, all synced so that no side pays for another's writes; then run()
    and a count of the copies."""
    def once():
        for path in (folder / "Fore", folder / "Back", folder / "copy"):
            shutil.rmtree(path) if path.is_dir() else path.unlink(missing_ok=True)
        if source:
            shutil.copyfile(source, folder / "list.csv")
        for path in (folder / "Fore", folder / "Back") if folders else ():
            path.mkdir()
        os.sync()
        result = run()
        got = sum(len(os.listdir(folder / d)) for d in ("Fore", "Back") if (folder / d).is_dir())
        if got != copies:
            sys.exit("bench: %d copies in %s, expected %d" % (got, folder, copies))
        return result
    return once


def programs(folder, source, copies, run=native, wine=False, threads=False):
    """The (name, side) of run(program, list.csv) on a fresh copy of source, and of the baseline when given;
    threads: also of each --threads variant, named tN."""
    old = OPT.baseline_exe if wine else OPT.baseline
    named = ([("old", old)] if old else []) + [("new", EXE if wine else BIN)] + (
        [("t%d" % n, variant(n, wine)) for n in OPT.threads] if threads else [])
    return [(name, side(folder, functools.partial(run, program, folder / "list.csv"), source, copies))
            for name, program in named]


def cp_sync(folder, source=None):
    """The durable floor of the images case: the copies, and nothing reported done until they are on the disk."""
    return "floor", side(folder, lambda: timed("sh", "-c", 'cp -r "$0" "$1" && sync', source or folder / "img",
                                               folder / "copy"))


def rounds(sides, count=None):
    """Runs each (name, side) once a round, in reverse order every other round, so that each side runs
    as often before as after another and a change in the machine's load meets them alike: {name: [result, ...]}."""
    runs = {name: [] for name, _ in sides}
    for i in range(count or OPT.rounds):
        for name, once in sides[::-1] if i % 2 else sides:
            runs[name].append(once())
    return runs


def add_row(case, runs, floor_name, target=None, bound=None, unit=" s", absolute=False, below=False,
            old_target=None, images=None, info=()):
    """Rows of the table from the rounds' runs {"new", "floor", "old"?, "tN"?, ...: [Run, ...]}: the program's,
    then one for each thread count and one for each side named in info (for information). Ratios are medians
    of the per-round ratios; target bounds the ratio to the floor (absolute: the figure itself; below: strictly),
    old_target the ratio to the baseline; images: user CPU per image too."""
    of = lambda name, field="seconds": [getattr(r, field) for r in runs[name]]
    per_round = lambda name, other, field="seconds": [a / b if b > 0 else float("inf")
                                                      for a, b in zip(of(name, field), of(other, field))]
    old_target = old_target if "old" in runs else None
    threads = sorted((n for n in runs if re.fullmatch(r"t\d+", n)), key=lambda n: int(n[1:]))
    for name in ["new"] + threads + list(info):
        new, ratio = med(of(name)), med(per_round(name, "floor"))
        timed_user = runs[name][0].user is not None
        user, rss = (med(of(name, "user")), med(of(name, "rss"))) if timed_user else (None, None)
        figure = round(new if absolute else ratio, 2)
        judged = name not in info and (target is not None or bound is not None or old_target is not None)
        missed = [text for text, miss in (
            ("MISSED", target is not None and (figure >= target if below else figure > target)),
            ("MISSED (against old)", old_target is not None and round(med(per_round(name, "old")), 2) > old_target),
            ("MISSED (memory)", bound is not None and rss > bound)) if miss and judged]
        bounds = ([] if target is None else ["%s %g%s" % ("<" if below else "≤", target, "" if absolute else "×")]) + (
            [] if old_target is None else ["old ≤ %g×" % old_target])
        label = case if name == "new" else "   " + (name if name in info else "%s thread%s" % (
            name[1:], "" if name == "t1" else "s"))
        cells = [label, "%.2f%s" % (new, unit), "%s %.2f%s" % (floor_name, med(of("floor")), unit),
                 "%.2f×" % ratio, "; ".join(bounds) if bounds and name not in info else "-"]
        if OPT.baseline or OPT.baseline_exe:
            both = "old" in runs and timed_user and runs["old"][0].user is not None
            cells += ["%.2f%s" % (med(of("old")), unit), "%.2f×" % med(per_round(name, "old"))] if "old" in runs else [
                "-"] * 2
            cells += ["%.2f×" % med(per_round(name, "old", "user")) if both else "-"]
        memory = "-" if rss is None else "%.0f MiB" % (rss / 1024) + (
            "" if bound is None else " (%.0f MiB)" % (bound / 1024))
        user_cell = "-" if user is None else "%.3f s" % user + ("" if images is None else
                                                               ", %.1f µs/image" % (user / images * 1e6))
        ROWS.append(cells + [user_cell, memory, ", ".join(missed) or ("ok" if judged else "for information")])
    if len(of("new")) > 1:
        spread = lambda xs: "%.2f (%.2f-%.2f)" % (med(xs), min(xs), max(xs))
        sides = ["%s %s" % (name, spread(of(name))) + ("" if rs[0].user is None else
                                                         ", user CPU %.3f" % med(of(name, "user")))
                 for name, rs in runs.items()]
        NOTES.append("case %s, %d rounds, median (min-max) s: %s; program/floor per round %s" % (
            case, len(of("new")), "; ".join(sides), spread(per_round("new", "floor"))))


def blank(source, out, keep):
    """source with each image cell that keep refuses emptied; returns the number of cells kept."""
    with open(source, encoding="utf-8-sig", newline="") as f:
        rows = list(csv.reader(f))
    columns = [rows[0].index(gen_data.FRONT), rows[0].index(gen_data.BACK)]
    for row in rows[1:]:
        for c in columns:
            row[c] = row[c] if keep(row[c]) else ""
    with open(out, "w", encoding="utf-8-sig", newline="") as f:
        csv.writer(f, lineterminator="\r\n").writerows(rows)
    return sum(bool(row[c]) for row in rows[1:] for c in columns)


def size_text(n):
    return "%.0f MiB" % (n / 2**20) if n < 2**30 else "%.1f GiB" % (n / 2**30)


def csv_case(label, size, target, dd_notes):
    folder = SCRATCH / ("c" + label)
    pristine, copy = folder / "pristine.csv", folder / "copy"
    gen_data.write_csv(gen_data.parse_size(size), pristine)
    size = pristine.stat().st_size  # whole rows: a little more than asked
    floor = lambda name, *command: (name, side(folder, lambda: timed(*command)))
    # cp copies inside the kernel and syncs nothing; dd conv=fsync reads, writes and syncs, and dd
    # through one buffer of the file's size also pays for that much fresh memory, as the program must.
    dd = ["dd", "if=%s" % pristine, "of=%s" % copy, "conv=fsync", "status=none"]
    notes = [floor("dd bs=2M", *dd, "bs=2M"),
             floor("dd of one buffer", *dd, "bs=%d" % size, "count=1", "iflag=fullblock")] if dd_notes else []
    runs = rounds(programs(folder, pristine, 0) + [floor("floor", "cp", pristine, copy)] + notes)
    add_row("%s  %s CSV, no images" % (label, size_text(size)), runs, "cp", target, size * 5 // 2 // 1024 + 32 * 1024)
    with open(folder / "list.csv", "rb") as f:
        if b'"ID","' not in f.read(20):
            sys.exit("bench: case %s: the CSV was not rewritten" % label)
    shutil.rmtree(folder)


def case_2():
    rows, folder = OPT.image_rows, SCRATCH / "c2"
    gen_data.write_images(rows, str(folder / "img"), str(folder / "pristine.csv"))
    runs = rounds(programs(folder, folder / "pristine.csv", 2 * rows, threads=True) + [cp_sync(folder)])
    images = sum(f.stat().st_size for f in (folder / "img").iterdir())
    add_row("2  %d rows, %d images (%s)" % (rows, 2 * rows, size_text(images)), runs, "cp -r + sync", 1.1)
    KEPT["2"] = folder, rows, runs["floor"]


def wine_data(folder, rows):
    """folder/img, and folder/wine.csv naming it the Windows way; returns the CSV's path."""
    gen_data.write_images(rows, str(folder / "img"), str(folder / "wine.csv"), WINE.spell(str(folder / "img")))
    return folder / "wine.csv"


def case_4():
    # Wine looks a name up case-blind: a name that does not exist yet costs a scan of its folder, so
    # each new copy costs in proportion to the copies already made, which Windows' indexed folders
    # do not. The full case runs once; a tenth of it runs as often as the others.
    rows, folder = OPT.image_rows // 10, SCRATCH / "c4"
    sides = programs(folder, wine_data(folder, rows), 2 * rows, on_wine, wine=True)
    sides[-1][1]()  # the first run loads Wine's own files
    add_row("4a %d rows, %d images, Wine" % (rows, 2 * rows), rounds(sides + [cp_sync(folder)]), "cp -r + sync")
    shutil.rmtree(folder)
    if "2" in KEPT:
        folder, rows, floor = KEPT["2"]
        img = str(folder / "img")
        (folder / "wine.csv").write_bytes((folder / "pristine.csv").read_bytes().replace(
            (img + "/").encode(), (WINE.spell(img) + "\\").encode()))
        runs = rounds(programs(folder, folder / "wine.csv", 2 * rows, on_wine, wine=True), 1)
        add_row("4b case 2 once, Wine", dict(runs, floor=[Run(med(r.seconds for r in floor))]), "cp -r + sync")


def case_5():
    # The same copies of the same files into fresh folders, so that Wine's own costs (its folder
    # scans above all) fall on both sides alike; runs without image cells take the fixed cost off.
    for rows in OPT.wine_rows:
        folder = SCRATCH / "c5"
        full, none = wine_data(folder, rows), folder / "none.csv"
        blank(full, none, lambda cell: False)
        gen_data.write_pairs(str(full), str(folder / "img"), WINE.spell(str(folder / "Fore")),
                             WINE.spell(str(folder / "Back")), str(folder / "pairs.txt"))
        (folder / "no_pairs.txt").write_bytes(b"")
        floor = lambda pairs, copies: side(folder, lambda: timed(
            "wine", FLOOR_EXE, "--flush", WINE.spell(str(folder / pairs)), env=WINE.env), copies=copies, folders=True)
        sides = (programs(folder, full, 2 * rows, on_wine, wine=True, threads=True) + [
            (name + " without images", once)
            for name, once in programs(folder, none, 0, on_wine, wine=True, threads=True)] +
            [("floor", floor("pairs.txt", 2 * rows)), ("floor without images", floor("no_pairs.txt", 0))])
        for name in ("floor", "new"):  # the first runs load Wine's own files
            dict(sides)[name]()
        runs = rounds(sides, max(OPT.rounds, 3))
        add_row("5  %d rows, %d images, Wine, less the run without" % (rows, 2 * rows), {
            name: [Run(a.seconds - b.seconds) for a, b in zip(rs, runs[name + " without images"])]
            for name, rs in runs.items() if name + " without images" in runs}, "CopyFileW + flush", 1.2)
        NOTES.append("case 5 at %d rows, whole runs, s: %s" % (rows, "; ".join(
            "%s %.2f" % (name, med(r.seconds for r in rs)) for name, rs in runs.items())))
        shutil.rmtree(folder)


def strace_counts(*command):
    """{system call: count, "total": count} of command and its children."""
    trace = SCRATCH / "strace.txt"
    subprocess.run(["strace", "-c", "-f", "-o", trace, *command], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)
    lines = (line.split() for line in trace.read_text().splitlines())
    return {f[-1]: int(f[3]) for f in lines if len(f) >= 5 and f[3].isdigit()}


def case_6():
    # Whole processes less the same process without images (start-up, the CSV read and written; for
    # cp -r, an empty folder), on the common path (every name with a '.': check, copy) and with the
    # names that need the format probe too. The count does not depend on the size. Calls on files
    # are counted: a futex, the hand-over of a cell between the job's thread and a copying thread,
    # stays in the process and is shown apart.
    rows, folder = 1000, SCRATCH / "c6"
    gen_data.write_images(rows, str(folder / "img"), str(folder / "all.csv"))
    common = blank(folder / "all.csv", folder / "common.csv", lambda cell: "." in cell.rsplit("/", 1)[-1])
    blank(folder / "all.csv", folder / "none.csv", lambda cell: False)
    per_call = lambda counts, n: ", ".join("%s %.2f" % (name, c / n) for name, c in counts.items()
                                           if name != "total" and c >= n / 2)
    counts = {}  # (program, CSV): calls
    for csv_name, n in (("none", 0), ("common", common), ("all", 2 * rows)):
        for name, once in programs(folder, folder / (csv_name + ".csv"), n, strace_counts):
            counts[name, csv_name] = once()
    files = lambda c: c["total"] - c.get("futex", 0)
    per_image = lambda name, csv_name, n: (files(counts[name, csv_name]) - files(counts[name, "none"])) / n
    (folder / "empty").mkdir()
    cp = [side(folder, lambda: strace_counts("cp", "-r", folder / d, folder / "copy"))() for d in ("empty", "img")]
    runs = {name: [Run(per_image(name, "common", common))] for name, _ in counts}
    runs["floor"] = [Run((cp[1]["total"] - cp[0]["total"]) / (2 * rows))]
    add_row("6  file system calls per image (%d images, strace)" % common, runs, "cp -r", 8, unit="", absolute=True)
    for name in runs:
        NOTES.append("case 6, %s: per image %s" % (name, per_call(cp[1], 2 * rows) if name == "floor" else
                     "%.2f with the probed names too (%d images); on the common path %s" % (
                         per_image(name, "all", 2 * rows), 2 * rows, per_call(counts[name, "common"], common))))
    shutil.rmtree(folder)


def calls_before_rename(program, listing):
    """The program's file calls under strace: the number of copies, and the calls that follow the last
    copy until the rename of the temporary file over the CSV."""
    trace = SCRATCH / "strace.txt"
    subprocess.run(["strace", "-f", "-qq", "-e", "trace=%file,%desc,sync", "-o", trace, program, listing],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    calls = [re.sub(r"^\d+ +", "", line).replace(str(listing.parent), "…")
             for line in trace.read_text().splitlines()]
    end = next(i for i, c in enumerate(calls) if c.startswith("rename") and ".tmp" in c)
    copies = [i for i, c in enumerate(calls[:end]) if c.startswith("copy_file_range(")]
    return len(copies), [c for c in calls[copies[-1] + 1:end] if not c.startswith(("mmap(", "munmap("))]


def case_7():
    # Whether the copies are on the disk before the new CSV, which names them, replaces the old one.
    rows, folder = 20, SCRATCH / "c7"
    gen_data.write_images(rows, str(folder / "img"), str(folder / "pristine.csv"))
    for name, once in programs(folder, folder / "pristine.csv", 2 * rows, calls_before_rename):
        copies, between = once()
        LINES.append("7  %s: %d copies (copy_file_range), then until the rename of the temporary file:\n%s\n"
                     "   copies flushed before the CSV is replaced (one syncfs): %s" % (
                         name, copies, "\n".join("     " + c[:100] for c in between),
                         "ok" if any(c.startswith(("syncfs(", "sync(")) for c in between) else "MISSED"))


class Unavailable(Exception):
    """What keeps FUSE from this machine: case 8 is skipped."""


def install(*packages):
    """Installs those of the Debian packages that are missing, as scripts/common.sh does."""
    missing = [p for p in packages if "install ok installed" not in subprocess.run(
        ["dpkg-query", "-W", "-f=${Status}", p], capture_output=True, text=True).stdout]
    if missing:
        print("== installing: " + " ".join(missing), flush=True)
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        for command in (["apt-get", "update", "-qq"],
                        ["apt-get", "install", "-y", "-qq", "--no-install-recommends", *missing]):
            done = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            if done.returncode:
                raise Unavailable("%s failed: %s" % (" ".join(command), done.stderr.strip()[-300:]))


def build_share_tools():
    """build/bench/latency_fs and build/bench/copy_threads, after checking that this process may mount."""
    if os.geteuid() != 0:
        raise Unavailable("the mount needs root; this bench runs as uid %d" % os.geteuid())
    try:
        os.close(os.open("/dev/fuse", os.O_RDWR))
    except OSError as e:
        raise Unavailable("/dev/fuse: %s" % e.strerror)
    install("fuse3", "libfuse3-dev", "pkg-config")
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "fuse3"], check=True, capture_output=True,
                           text=True).stdout.split()
    LATENCY_FS.parent.mkdir(parents=True, exist_ok=True)
    for command in (["gcc", "-O2", "-Wall", "-Wextra", "-o", LATENCY_FS, ROOT / "bench/latency_fs.c", *flags],
                    ["g++", "-O2", "-std=c++20", "-Wall", "-Wextra", "-pthread", "-o", COPY_THREADS,
                     ROOT / "bench/copy_threads.cpp"]):
        subprocess.run([str(c) for c in command], check=True)


def mounted(path):
    """Whether path is a mount point now, answering or not (a file system that died stays mounted)."""
    with open("/proc/self/mountinfo") as f:
        points = [re.sub(r"\\([0-7]{3})", lambda m: chr(int(m[1], 8)), line.split()[4]) for line in f]
    return str(path) in points


@contextlib.contextmanager
def latency_mount(folder, mountpoint, micros):
    """folder served at mountpoint, micros microseconds before every call, for the with block; unmounted
    at its end however it ends. Raises Unavailable when the mount does not come up."""
    log = mountpoint.parent / "latency_fs.log"
    with open(log, "wb") as out:  # a session of its own: a Ctrl-C reaches the bench, which unmounts
        fs = subprocess.Popen([str(LATENCY_FS), str(micros), str(folder), str(mountpoint), "-f", "-o",
                               "max_threads=64"], stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                              start_new_session=True)
    try:
        deadline = time.monotonic() + 10
        while not mounted(mountpoint):
            if fs.poll() is not None or time.monotonic() > deadline:
                raise Unavailable("latency_fs did not mount: %s" % (log.read_text().strip() or "no message"))
            time.sleep(0.05)
        yield
    finally:
        for _ in range(20):
            if not mounted(mountpoint) or subprocess.run(["fusermount3", "-u", str(mountpoint)],
                                                         stderr=subprocess.DEVNULL).returncode == 0:
                break
            time.sleep(0.25)  # a run just ended may still hold a file there
        else:
            print("bench: %s busy, detached lazily" % mountpoint, file=sys.stderr)
            subprocess.run(["fusermount3", "-u", "-z", str(mountpoint)])
        try:
            fs.wait(timeout=10)
        except subprocess.TimeoutExpired:
            fs.kill()
            fs.wait()


def case_8():
    # The images on a share: every call waits a round trip, which copies made side by side overlap
    # and a one-at-a-time copy pays in full. The CSV names them through the mount; Fore and Back are
    # made beside it, on the local disk, as are the floor's copies.
    rows, folder = OPT.latency_rows, SCRATCH / "c8"
    img, share = folder / "img", folder / "share"
    try:
        build_share_tools()
        gen_data.write_images(rows, str(img), str(folder / "local.csv"))
        (folder / "pristine.csv").write_bytes((folder / "local.csv").read_bytes().replace(
            (str(img) + "/").encode(), (str(share) + "/").encode()))
        share.mkdir()
        for micros in DELAYS_US:
            loop = "8-thread copy loop + sync"
            with latency_mount(img, share, micros):
                runs = rounds(programs(folder, folder / "pristine.csv", 2 * rows, threads=True) + [
                    cp_sync(folder, share), (loop, side(folder, lambda: timed(
                        "sh", "-c", '"$0" 8 "$1" "$2" && sync', COPY_THREADS, share, folder / "copy")))])
            add_row("8  %d images on a share, %g ms a call" % (2 * rows, micros / 1000), runs, "cp -r + sync", 1,
                    below=True, old_target=0.25 if micros >= 1000 else None, images=2 * rows, info=[loop])
    except Unavailable as e:
        print("== case 8 skipped: %s" % e, flush=True)
        LINES.append("8  skipped: %s" % e)
    shutil.rmtree(folder)


SIZES = {False: dict(csv_size="200M", big_size="1G", image_rows=20000, rounds=5, wine_rows=[2000, 8000],
                     latency_rows=5000),
         True: dict(csv_size="20M", big_size="100M", image_rows=2000, rounds=3, wine_rows=[2000],
                    latency_rows=500)}  # --quick
CASES = [("1", "a %(csv_size)s CSV, image cells empty, against cp", lambda: csv_case("1", OPT.csv_size, 3, True)),
         ("2", "%(image_rows)d rows naming twice as many images, against cp -r and sync", case_2),
         ("3", "a %(big_size)s CSV, against cp", lambda: csv_case("3", OPT.big_size, None, False)),
         ("4", "the images case under Wine, a tenth of it and case 2's data once, for information", case_4),
         ("5", "the cost per image under Wine, against CopyFileW and FlushFileBuffers", case_5),
         ("6", "system calls per image (strace)", case_6),
         ("7", "the calls between the last copy and the CSV's replacement (strace)", case_7),
         ("8", "%(latency_rows)d rows naming twice as many images on a share with latency (FUSE), 1 and 0.2 ms a "
               "call, against cp -r from it and sync", case_8)]


def counts(text):
    """--threads: positive whole numbers separated by commas."""
    numbers = [int(n) for n in text.split(",") if n.strip().isdigit()]
    if len(numbers) != len(text.split(",")) or 0 in numbers:
        raise argparse.ArgumentTypeError("expected thread counts such as 1,2,4,8,16")
    return numbers


def main():
    global OPT, SCRATCH, WINE
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog="cases, at full size:\n" + "\n".join(
                                         "  %s  %s" % (name, what % SIZES[False]) for name, what, _ in CASES))
    parser.add_argument("--quick", action="store_true", help="small sizes, 3 rounds: a smoke run")
    parser.add_argument("--no-wine", action="store_true", help="leave out cases 4 and 5")
    parser.add_argument("--only", default="1,2,3,4,5,6,7,8", help="the cases to run, e.g. 2,5")
    parser.add_argument("--baseline", type=os.path.abspath, help="an older native program, run in the same rounds")
    parser.add_argument("--baseline-exe", type=os.path.abspath, help="an older Orlenta.exe, run in the same rounds")
    parser.add_argument("--threads", type=counts, default=[], metavar="N,N,...",
                        help="also the program built with each of these copy thread counts, in the rounds of "
                             "cases 2, 5 and 8 (build/bench-tN, build/bench-windows-tN), e.g. 1,2,4,8,16")
    OPT = parser.parse_args()
    want = set(OPT.only.split(",")) - ({"4", "5"} if OPT.no_wine else set())
    vars(OPT).update(SIZES[OPT.quick])
    if want & {"4", "5"}:
        build("windows", "bench-windows", "orlenta", "qorimgio", "copy_floor")
        for n in OPT.threads if "5" in want else ():
            build("windows", "bench-windows-t%d" % n, "orlenta", "qorimgio", threads=n)
        if not os.environ.get("ORLENTA_WINE_READY"):  # again, on the display and Wine server of common.sh
            os.execvp("bash", ["bash", str(ROOT / "scripts/common.sh"), "with-wine", str(EXE), sys.executable,
                               *sys.argv])
        WINE = e2e.Wine(str(EXE))
        WINE.timeout = 3600
    build("linux", "bench", "orlenta")
    for n in OPT.threads if want & {"2", "8"} else ():
        build("linux", "bench-t%d" % n, "orlenta", threads=n)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("bench: terminated"))  # so that case 8 unmounts
    SCRATCH = Path(tempfile.mkdtemp(prefix="orlenta-bench-"))
    try:
        for name, what, case in CASES:
            if name in want:
                print("== case %s: %s" % (name, what % vars(OPT)), flush=True)
                (SCRATCH / ("c" + name)).mkdir()
                case()
    finally:
        shutil.rmtree(SCRATCH, ignore_errors=True)
    head = ["case", "program", "floor", "ratio", "target"] + (
        ["old", "new/old", "user CPU new/old"] if OPT.baseline or OPT.baseline_exe else []) + [
        "user CPU", "peak RSS (bound)", "verdict"]
    widths = [max(len(row[i]) for row in [head] + ROWS) for i in range(len(head))]
    print()
    for row in [head] + ROWS:
        print("  ".join(c.ljust(w) if i in (0, len(row) - 1) else c.rjust(w)
                        for i, (c, w) in enumerate(zip(row, widths))).rstrip())
    print("\n" + "\n".join(LINES + NOTES))
    print("medians of %d rounds (case 5: %d); %d cores, %.0f GiB" % (OPT.rounds, max(OPT.rounds, 3), os.cpu_count(),
          os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") / 2**30))


if __name__ == "__main__":
    main()
