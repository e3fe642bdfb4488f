#!/usr/bin/env python3
"""Hostile inputs and faults through the whole program.

  hostile.py native BINARY      the native program (it prints its one message)
  hostile.py wine EXE           Orlenta.exe under Wine, inside a private Xvfb

Each case builds its folder under a fresh temporary folder, runs the program
once (with a hard time limit) and checks the outcome that the program
promises: exit code, the one message, the CSV either untouched or holding the
complete new content, every rewritten image cell naming a real copy, and one
log entry per emptied cell. The last line is "N passed, N failed".

Set HOSTILE_ONLY to a comma-separated list of case names to run only those.
"""
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

BOM = b"\xef\xbb\xbf"
FRONT = "画像（表）"
BACK = "画像（裏）"
LOG = "Orlenta_Error.log"

DONE = "処理が完了しました。"
MISSING = "画像ファイルが存在しません: "
UNSUPPORTED = "対応外の画像形式です: "
COPY_FAILED = "画像ファイルのコピーに失敗しました。\n\nコピー元:\n"
COPY_FAILED_TO = "\n\nコピー先:\n"
NO_HEADER = "CSVヘッダが見つかりません: "
WRITE_FAILED = "CSVファイルの書き込みに失敗しました: "
NAME_TAKEN = "同名の別の画像ファイルが既にコピーされています: "

PNG = b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR" + bytes(range(256)) * 8
JPEG = b"\xff\xd8\xff\xe0\0\x10JFIF\0" + bytes(range(255, -1, -1)) * 8


def completion(failures):
    if failures == 0:
        return DONE
    return (DONE + "\r\n画像処理に失敗した件数: %d件\r\n" % failures +
            "失敗した項目は空欄にし、エラーログを出力しました。")


def copy_failed(source, destination):
    return COPY_FAILED + source + COPY_FAILED_TO + destination


class Failure(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise Failure(what)


def short(value, limit=160):
    text = repr(value)
    return text if len(text) <= limit else text[:limit] + "..."


def expect_equal(got, wanted, what):
    if got != wanted:
        raise Failure("%s: got %s, wanted %s" % (what, short(got), short(wanted)))


# ---------------------------------------------------------------------------
# CSV as the program writes it, and as the rules read any bytes

def quote(field):
    return b'"' + field.replace(b'"', b'""') + b'"'


def serialize(rows, bom):
    return (BOM if bom else b"") + b"".join(
        b",".join(quote(f) for f in row) + b"\r\n" for row in rows)


def loose(rows, bom):
    """The rows as an export would write them: bare fields where it can."""
    def field(f):
        return quote(f) if any(c in f for c in b'",\r\n') else f
    return (BOM if bom else b"") + b"".join(
        b",".join(field(f) for f in row) + b"\r\n" for row in rows)


_CANONICAL = re.compile(rb'"((?:[^"]|"")*)"(,|\r\n)', re.S)


def parse_written(data):
    """Rows of a text in the written form (every field quoted, CR LF after
    every row); raises Failure when the text is in any other form."""
    rows, row, pos = [], [], 0
    while pos < len(data):
        m = _CANONICAL.match(data, pos)
        if not m:
            raise Failure("output not in the fully quoted form at byte %d" % pos)
        row.append(m.group(1).replace(b'""', b'"'))
        if m.group(2) == b"\r\n":
            rows.append(row)
            row = []
        pos = m.end()
    return rows


def parse_rules(data):
    """Any bytes read by the CSV rules, one byte at a time."""
    table, row, field, quoted, i, n = [], [], bytearray(), False, 0, len(data)
    while i < n:
        c = data[i]
        if not quoted:
            if c == 0x22:
                quoted = True
            elif c == 0x2C:
                row.append(bytes(field))
                field.clear()
            elif c in (0x0D, 0x0A):
                row.append(bytes(field))
                field.clear()
                table.append(row)
                row = []
                if c == 0x0D and i + 1 < n and data[i + 1] == 0x0A:
                    i += 1
            else:
                field.append(c)
        elif c == 0x22 and i + 1 < n and data[i + 1] == 0x22:
            field.append(c)
            i += 1
        elif c == 0x22:
            quoted = False
        else:
            field.append(c)
        i += 1
    if field or row:
        row.append(bytes(field))
        table.append(row)
    return table


def u8(text):
    return text.encode("utf-8")


def header(*names):
    return [u8(n) for n in names]


_ENTRY = re.compile(rb"\[(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\] \xe5\x86\x85\xe5\xae\xb9=")


def read_log(path):
    """The entries of an error log as (message, row line) byte pairs."""
    data = open(path, "rb").read()
    expect(data.startswith(BOM), "the log begins with the byte-order mark")
    entries, pos = [], 3
    while pos < len(data):
        m = _ENTRY.match(data, pos)
        expect(m is not None, "log entry %d begins with a timestamp" % (len(entries) + 1))
        end = data.index(b"\r\n", m.end())
        row_end = data.index(b"\r\n", end + 2)
        entries.append((data[m.end():end], data[end + 2:row_end]))
        pos = row_end + 2
    return entries


def count_entries(path):
    if not os.path.exists(path):
        return 0
    return len(re.findall(rb"\] \xe5\x86\x85\xe5\xae\xb9=", open(path, "rb").read()))


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


# ---------------------------------------------------------------------------
# Running the program

class Outcome:
    def __init__(self, rc, texts, titles, seconds, rss_kib=None, timed_out=False):
        self.rc, self.texts, self.titles = rc, texts, titles
        self.seconds, self.rss_kib, self.timed_out = seconds, rss_kib, timed_out

    def note(self):
        rss = "" if self.rss_kib is None else ", peak %d MiB" % (self.rss_kib // 1024)
        return "%.1f s%s" % (self.seconds, rss)


class NativeRunner:
    name = "native"

    def __init__(self, binary, work):
        self.binary, self.work = os.path.abspath(binary), work
        self.gnu_time = shutil.which("time") and os.path.exists("/usr/bin/time")

    def arg(self, path):
        return path

    def cell(self, path):
        return path

    def run(self, csv_path, timeout=60, cwd=None, background=None):
        """Runs the program on `csv_path`; `background` is called while it
        runs (with the process) and may act on the file system meanwhile."""
        rss_file = os.path.join(self.work, "rss")
        command = [self.binary, self.arg(csv_path)]
        if self.gnu_time:
            command = ["/usr/bin/time", "-f", "%M", "-o", rss_file] + command
        out_path, err_path = os.path.join(self.work, "out"), os.path.join(self.work, "err")
        start = time.monotonic()
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            process = subprocess.Popen(command, cwd=cwd or self.work, stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=err, start_new_session=True)
            if background:
                background(process)
            try:
                rc = process.wait(timeout=timeout)
                timed_out = False
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                rc = process.wait()
                timed_out = True
        seconds = time.monotonic() - start
        rss = None
        if self.gnu_time and os.path.exists(rss_file):
            lines = open(rss_file).read().split()
            rss = int(lines[-1]) if lines and lines[-1].isdigit() else None
        stdout, stderr = open(out_path, "rb").read(), open(err_path, "rb").read()
        texts, titles = [], []
        for stream, title in ((stdout, "Orlenta"), (stderr, "Orlenta エラー")):
            if stream:
                # One box is its text and one line feed, nothing else.
                expect(stream.endswith(b"\n"), "printed message ends in a line feed")
                texts.append(stream[:-1].decode("utf-8", "replace"))
                titles.append(title)
        return Outcome(rc, texts, titles, seconds, rss, timed_out)


def decode_debugstr(text):
    """The text of a Wine debugstr_w rendering: \\xxxx code units, \\n, \\r,
    \\t, \\\\ and \\" escapes; a cut text keeps its trailing '...'."""
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            e = text[i + 1]
            if e in "nrt":
                out.append({"n": "\n", "r": "\r", "t": "\t"}[e])
                i += 2
            elif re.match(r"[0-9a-fA-F]{4}", text[i + 1:i + 5]):
                out.append(chr(int(text[i + 1:i + 5], 16)))
                i += 5
            else:
                out.append(e)
                i += 2
        else:
            out.append(c)
            i += 1
    # Surrogate pairs arrive as two units.
    return "".join(out).encode("utf-16", "surrogatepass").decode("utf-16", "replace")


class WineRunner:
    name = "wine"

    def __init__(self, exe, work, display):
        self.exe, self.work, self.display = os.path.abspath(exe), work, display

    def arg(self, path):
        # Spelled as given ('.' and '..' stay): every path here is absolute.
        assert path.startswith("/")
        return "Z:" + path.replace("/", "\\")

    cell = arg

    def warm_up(self, limit=90):
        """Waits until a program of the prefix can open windows on our display:
        the prefix's desktop may have been started without one (by whoever
        started the server), and until it ends every window fails. A run on a
        missing file shows one box once windows work; it is not a case."""
        deadline = time.monotonic() + limit
        while True:
            outcome = self.run(os.path.join(self.work, "warm-up.csv"), timeout=60)
            if len(outcome.texts) == 1 and outcome.titles:
                return
            if time.monotonic() > deadline:
                raise RuntimeError("no window could be opened under Wine within %d s" % limit)
            time.sleep(1)

    def run(self, csv_path, timeout=90, cwd=None, background=None):
        env = dict(os.environ, WINEDEBUG="+msgbox", DISPLAY=self.display)
        err_path = os.path.join(self.work, "wine.err")
        start = time.monotonic()
        with open(err_path, "wb") as err:
            process = subprocess.Popen(["wine", self.exe, self.arg(csv_path)], cwd=cwd or self.work,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=err, env=env, start_new_session=True)
            if background:
                background(process)
            titles, pressed_at = {}, 0.0
            timed_out = False
            while process.poll() is None:
                now = time.monotonic()
                if now - start > timeout:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
                    timed_out = True
                    break
                if now - pressed_at > 0.3 and b"MSGBOX_OnInit" in open(err_path, "rb").read():
                    found = subprocess.run(["xdotool", "search", "--name", "^Orlenta"], env=env,
                                           capture_output=True, text=True).stdout.split()
                    for window in found:
                        name = subprocess.run(["xdotool", "getwindowname", window], env=env,
                                              capture_output=True).stdout
                        name = name.decode("utf-8", "replace").strip()
                        # A window matched by the search may not answer yet
                        # or be gone (its name then reads empty): the box is
                        # dismissed only once its title has been read.
                        if not name:
                            continue
                        titles.setdefault(window, name)
                        subprocess.run(["xdotool", "key", "--window", window, "Return"], env=env,
                                       capture_output=True)
                    pressed_at = now
                time.sleep(0.05)
            rc = process.returncode
        seconds = time.monotonic() - start
        texts = []
        for line in open(err_path, "rb").read().decode("utf-8", "replace").splitlines():
            m = re.search(r'MSGBOX_OnInit L"(.*)$', line)
            if m:
                body = m.group(1)
                body = body[:-1] if body.endswith('"') else body
                texts.append(decode_debugstr(body))
        return Outcome(rc, texts, list(titles.values()), seconds, None, timed_out)


def same_text(got, wanted):
    # Wine's trace cuts a text after about 300 characters of its escaped
    # form (some 60 Japanese characters) and ends it in '"...'.
    if got == wanted:
        return True
    return len(got) > 40 and got.endswith('"...') and wanted.startswith(got[:-4])


def expect_box(outcome, rc, title, text):
    expect(not outcome.timed_out, "the run ended within its time limit")
    expect_equal(len(outcome.texts), 1, "number of message boxes")
    expect(same_text(outcome.texts[0], text),
           "message: got %s, wanted %s" % (short(outcome.texts[0], 300), short(text, 300)))
    if outcome.titles:
        expect(title in outcome.titles, "box title %s among %s" % (title, outcome.titles))
    expect_equal(outcome.rc, rc, "exit code")


def expect_done(outcome, failures):
    expect_box(outcome, 0, "Orlenta", completion(failures))


def expect_error(outcome, text):
    expect_box(outcome, 1, "Orlenta エラー", text)


# ---------------------------------------------------------------------------
# The cases

class Case:
    """One case's folder and the program's spellings of paths in it."""

    def __init__(self, runner, root, name):
        self.runner = runner
        self.dir = os.path.join(root, name)
        os.makedirs(self.dir)
        self.csv = os.path.join(self.dir, "list.csv")

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def cell(self, *parts):
        """A cell naming a file of the case folder, as the program's user
        would write it on this system."""
        return u8(self.runner.cell(self.path(*parts)))

    def text(self, *parts):
        """The program's own spelling of a path of the case folder: the CSV
        folder as passed, then what JoinPath adds (backslashes)."""
        folder = self.runner.arg(self.dir)
        return "\\".join([folder] + list(parts))

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def run(self, **kw):
        return self.runner.run(self.csv, **kw)

    def listing(self, folder):
        return sorted(os.listdir(self.path(folder))) if os.path.isdir(self.path(folder)) else None


def expect_untouched(case, original):
    expect(open(case.csv, "rb").read() == original, "the CSV is untouched")


def expect_consistent(case, before_rows, bom, front, back, failures):
    """The whole rewritten CSV against the one it came from: same rows, other
    fields unchanged, each image cell empty (and then counted and logged) or
    naming a copy that exists in Fore or Back."""
    data = open(case.csv, "rb").read()
    expect_equal(data.startswith(BOM), bom, "byte-order mark kept as it was")
    rows = parse_written(data[3:] if bom else data)
    expect_equal(len(rows), len(before_rows), "number of rows")
    expect_equal(rows[0], before_rows[0], "header row")
    reach = max(front, back) + 1
    emptied = 0
    for i in range(1, len(rows)):
        wanted = before_rows[i] + [b""] * (reach - len(before_rows[i]))
        got = rows[i]
        expect_equal(len(got), len(wanted), "fields in row %d" % i)
        for j in range(len(got)):
            if j not in (front, back):
                expect_equal(got[j], wanted[j], "row %d field %d" % (i, j))
        for column, folder in ((front, b"Fore"), (back, b"Back")):
            if not wanted[column]:
                expect_equal(got[column], b"", "row %d: an empty image cell stays empty" % i)
            elif not got[column]:
                emptied += 1
            else:
                expect(got[column].startswith(folder + b"\\") and
                       b"\\" not in got[column][5:] and b"/" not in got[column][5:],
                       "row %d: cell %s names a copy in %s" % (i, short(got[column]), folder))
                copy = os.path.join(case.dir.encode(), folder, got[column][5:])
                expect(os.path.isfile(copy) and not os.path.islink(copy),
                       "row %d: the copy %s exists as a file" % (i, short(got[column])))
    expect_equal(emptied, failures, "emptied image cells")
    expect_equal(count_entries(case.path(LOG)), failures, "log entries")
    expect(not os.path.exists(case.csv + ".tmp"), "no temporary file is left")


def make_rows(case, rows, bom=True):
    """Writes `rows` as the CSV (bare fields where possible) and returns the
    rows as the rules read them back."""
    data = loose(rows, bom)
    case.write("list.csv", data)
    return parse_rules(data[3:] if bom else data)


CASES = []


def case(*modes):
    def register(function):
        CASES.append((function.__name__, modes, function))
        return function
    return register


@case("native", "wine")
def huge_quoted_field(c):
    """One data field of 256 MiB, quoted, full of commas, line ends, doubled
    quotes, NUL and high bytes: carried through byte for byte."""
    rng = random.Random(256)
    alphabet = b',\r\n"\0\xff\xe3\x81\x82abc 0123'
    block = bytes(rng.choice(alphabet) for _ in range(1 << 20))
    written = quote(block)[1:-1]  # the block in its quoted form, less the quotes
    head = b"ID," + u8(FRONT) + b"," + u8(BACK) + u8(",メモ\r\n")
    out_head = serialize([header("ID", FRONT, BACK, "メモ")], True)
    expected = hashlib.sha256()
    expected.update(out_head + b'"1","","","')
    with open(c.csv, "wb") as f:
        f.write(BOM + head + b'1,,,"')
        for _ in range(256):
            f.write(written)
            expected.update(written)
        f.write(b'"\r\n')
    expected.update(b'"\r\n')
    outcome = c.run(timeout=300)
    expect_done(outcome, 0)
    expect_equal(sha256_file(c.csv), expected.hexdigest(), "SHA-256 of the rewritten CSV")
    expect(not os.path.exists(c.path(LOG)), "no log")
    return outcome.note()


@case("native")
def ten_million_empty_lines(c):
    """A header and ten million empty lines: each comes back as a row of
    three empty quoted fields."""
    lines = 10_000_000
    with open(c.csv, "wb") as f:
        f.write(b"ID," + u8(FRONT) + b"," + u8(BACK) + b"\r\n")
        for _ in range(lines // 1_000_000):
            f.write(b"\n" * 1_000_000)
    expected = hashlib.sha256(serialize([header("ID", FRONT, BACK)], False))
    chunk = b'"","",""\r\n' * 1_000_000
    for _ in range(lines // 1_000_000):
        expected.update(chunk)
    outcome = c.run(timeout=300)
    expect_done(outcome, 0)
    expect_equal(sha256_file(c.csv), expected.hexdigest(), "SHA-256 of the rewritten CSV")
    return outcome.note()


@case("native", "wine")
def million_fields(c):
    """A header of a million fields with the image columns last, a data row
    of a million fields naming an image there, and a row of one field that
    is extended to a million."""
    count = 1_000_000
    c.write("a.png", PNG)
    head = [b"c%d" % i for i in range(count - 2)] + header(FRONT, BACK)
    full = [b"v%d" % i for i in range(count - 2)] + [c.cell("a.png"), b""]
    rows = [head, full, [b"x"]]
    data = loose(rows, False)
    c.write("list.csv", data)
    outcome = c.run(timeout=300)
    expect_done(outcome, 0)
    full[-2] = b"Fore\\a.png"
    rows[2] = [b"x"] + [b""] * (count - 1)
    expect_equal(sha256_file(c.csv), hashlib.sha256(serialize(rows, False)).hexdigest(),
                 "SHA-256 of the rewritten CSV")
    expect_equal(open(c.path("Fore", "a.png"), "rb").read(), PNG, "the copy")
    return outcome.note()


def expect_header_missing_and_untouched(c, original):
    outcome = c.run()
    expect_error(outcome, NO_HEADER + FRONT)
    expect_untouched(c, original)
    expect_equal(c.listing("Fore"), [], "Fore exists and is empty")
    expect_equal(c.listing("Back"), [], "Back exists and is empty")
    expect(not os.path.exists(c.csv + ".tmp"), "no temporary file")
    expect(not os.path.exists(c.path(LOG)), "no log")


@case("native", "wine")
def utf16_file(c):
    """A CSV saved as UTF-16: its bytes hold no UTF-8 column name."""
    c.write("a.png", PNG)
    text = "ID,%s,%s\r\n1,%s,\r\n" % (FRONT, BACK, c.runner.cell(c.path("a.png")))
    original = b"\xff\xfe" + text.encode("utf-16-le")
    c.write("list.csv", original)
    expect_header_missing_and_untouched(c, original)


@case("native", "wine")
def random_binary(c):
    """A megabyte of random bytes as the CSV."""
    original = random.Random(1).randbytes(1 << 20)
    c.write("list.csv", original)
    expect_header_missing_and_untouched(c, original)


@case("native", "wine")
def random_body(c):
    """A valid header over random bytes: every image cell holds garbage,
    fails, is emptied, counted and logged; all other bytes survive."""
    head = loose([header("ID", FRONT, BACK)], True)
    body = random.Random(2).randbytes(256 << 10)
    c.write("list.csv", head + body)
    before = parse_rules(head[3:] + body)
    nonempty = sum(1 for row in before[1:] for j in (1, 2) if j < len(row) and row[j])
    # The run's current folder is empty, so relative garbage names nothing.
    os.makedirs(c.path("cwd"))
    outcome = c.runner.run(c.csv, cwd=c.path("cwd"), timeout=120)
    expect_done(outcome, nonempty)
    expect_consistent(c, before, True, 1, 2, nonempty)
    return "%d garbage cells, %s" % (nonempty, outcome.note())


def make_deep_file(root, length):
    """A file whose absolute path is about `length` characters long, made
    one folder at a time (no single call sees the whole path)."""
    part = "d" * 200
    fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    path = root
    try:
        while len(path) < length - 210:
            os.mkdir(part, dir_fd=fd)
            child = os.open(part, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = child
            path += "/" + part
        leaf = os.open("x.png", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
        os.write(leaf, PNG)
        os.close(leaf)
    finally:
        os.close(fd)
    return path + "/x.png"


@case("native", "wine")
def long_paths(c):
    """Cells of 40,000 characters: a missing file, a name of 40,000 Japanese
    characters, and a file that exists but lies too deep to be queried.
    Each fails as a missing image, with the whole path in the log."""
    long_missing = c.runner.cell(c.path("a" * 40000 + ".png"))
    long_name = "長" * 40000
    deep = c.runner.cell(make_deep_file(c.dir, 40000))
    rows = [header("ID", FRONT, BACK), [b"1", u8(long_missing), u8(long_name)], [b"2", u8(deep)]]
    make_rows(c, rows)
    outcome = c.run()
    expect_done(outcome, 3)
    got = read_log(c.path(LOG))
    expect_equal([m for m, _ in got], [u8(MISSING + long_missing), u8(MISSING + long_name),
                                       u8(MISSING + deep)], "log messages")
    expect_equal([r for _, r in got], [b",".join(quote(f) for f in row) for row in (
        [b"1", u8(long_missing), u8(long_name)], [b"1", b"", u8(long_name)],
        [b"2", u8(deep), b""])], "logged rows")
    expected = [header("ID", FRONT, BACK), [b"1", b"", b""], [b"2", b"", b""]]
    expect_equal(open(c.csv, "rb").read(), serialize(expected, True), "rewritten CSV")
    return outcome.note()


@case("native", "wine")
def dot_names(c):
    """'.' and '..' as names, alone and at the end of paths: folders, never
    files; nothing is copied anywhere."""
    os.makedirs(c.path("img"))
    c.write("img/a.png", PNG)
    cells = [".", "..", c.runner.cell(c.dir + "/."), c.runner.cell(c.dir + "/.."),
             c.runner.cell(c.path("img") + "/.."), c.runner.cell(c.path("img", "a.png") + "/..")]
    rows = [header("ID", FRONT, BACK)]
    for i in range(0, len(cells), 2):
        rows.append([b"%d" % i, u8(cells[i]), u8(cells[i + 1])])
    make_rows(c, rows)
    parent_before = sorted(os.listdir(os.path.dirname(c.dir)))
    outcome = c.run()
    expect_done(outcome, len(cells))
    expect_equal([m for m, _ in read_log(c.path(LOG))], [u8(MISSING + x) for x in cells],
                 "log messages")
    expect_equal(c.listing("Fore"), [], "Fore stays empty")
    expect_equal(c.listing("Back"), [], "Back stays empty")
    expect_equal(sorted(os.listdir(os.path.dirname(c.dir))), parent_before,
                 "nothing written beside the case folder")
    expect_equal(sorted(os.listdir(c.dir)), sorted(["Back", "Fore", "img", "list.csv", LOG]),
                 "case folder")


def expect_device_cells_fail(c, cells, timeout):
    """Cells naming devices and other non-files: each fails (emptied, counted,
    logged with a message naming the cell), nothing hangs, and no copy is
    claimed that is not a real file."""
    rows = [header("ID", FRONT, BACK)]
    for i in range(0, len(cells), 2):
        rows.append([b"%d" % i, u8(cells[i]), u8(cells[i + 1]) if i + 1 < len(cells) else b""])
    before = make_rows(c, rows)
    outcome = c.run(timeout=timeout)
    expect(not outcome.timed_out, "the run ended within %d s" % timeout)
    expect_done(outcome, len(cells))
    expect_consistent(c, before, True, 1, 2, len(cells))
    messages = [m.decode("utf-8") for m, _ in read_log(c.path(LOG))]
    for cell, message in zip(cells, messages):
        expect(message in (MISSING + cell, UNSUPPORTED + cell) or
               message.startswith(COPY_FAILED + cell + COPY_FAILED_TO),
               "a failure naming %s: %s" % (cell, short(message)))
    return ", ".join("%s: %s" % (re.split(r"[\\/]", cell)[-1], m.split(":")[0].split("\n")[0])
                     for cell, m in zip(cells, messages))


@case("native")
def device_files(c):
    """What POSIX offers in place of Windows' device names: a FIFO with an
    image's name, a link to /dev/zero (endless), and the devices themselves."""
    os.mkfifo(c.path("pipe.png"))
    os.mkfifo(c.path("pipe"))
    os.symlink("/dev/zero", c.path("zero.png"))
    cells = [c.path("pipe.png"), c.path("pipe"), c.path("zero.png"), "/dev/null", "/dev/zero",
             "/dev/stdin"]
    return expect_device_cells_fail(c, cells, timeout=30)


@case("wine")
def device_names(c):
    """Windows' reserved device names, bare, with an extension and inside a
    folder path: none of them is an image file."""
    # COM1 is a serial port (Wine maps it to this machine's first one): an
    # open of it can wait forever for a carrier, so it must not be opened.
    cells = ["CON", "NUL", "PRN", "LPT1", "AUX", "COM1", "NUL.png", "con.jpg",
             c.runner.cell(c.path("NUL")), c.runner.cell(c.path("LPT1.png")),
             c.runner.cell(c.path("COM1.jpg"))]
    return expect_device_cells_fail(c, cells, timeout=60)


@case("native", "wine")
def self_references(c):
    """Image cells naming the CSV itself, the log, the temporary file, the
    image folders and copies already in them."""
    original_pre = PNG + b"pre"
    os.makedirs(c.path("Fore"))
    c.write("Fore/pre.png", original_pre)
    head = header("ID", FRONT, BACK)
    rows = [head,
            [b"1", c.cell("missing.png"), c.cell("list.csv")],
            [b"2", c.cell(LOG), c.cell("list.csv.tmp")],
            [b"3", c.cell("Fore", "pre.png"), c.cell("Back")],
            [b"4", c.cell(), c.cell("Back", "list.csv")]]
    make_rows(c, rows)
    original = open(c.csv, "rb").read()
    outcome = c.run()
    expect_done(outcome, 4)
    expect_equal(open(c.path("Back", "list.csv"), "rb").read(), original,
                 "Back/list.csv is the CSV as it was read")
    expect_equal(open(c.path("Fore", "pre.png"), "rb").read(), original_pre,
                 "a cell naming its own copy leaves the copy alone")
    first_entry = open(c.path("Fore", LOG), "rb").read()
    expect(first_entry.startswith(BOM) and count_entries(c.path("Fore", LOG)) == 1,
           "Fore/%s is the log as it stood after its first entry" % LOG)
    expected = [head, [b"1", b"", b"Back\\list.csv"], [b"2", u8("Fore\\" + LOG), b""],
                [b"3", b"Fore\\pre.png", b""], [b"4", b"", b"Back\\list.csv"]]
    expect_equal(open(c.csv, "rb").read(), serialize(expected, True), "rewritten CSV")
    log = read_log(c.path(LOG))
    expect_equal([m for m, _ in log], [
        u8(MISSING) + c.cell("missing.png"), u8(MISSING) + c.cell("list.csv.tmp"),
        u8(MISSING) + c.cell("Back"), u8(MISSING) + c.cell()], "log messages")
    expect_equal([r for _, r in log], [b",".join(quote(f) for f in row) for row in (
        [b"1", c.cell("missing.png"), c.cell("list.csv")],
        [b"2", u8("Fore\\" + LOG), c.cell("list.csv.tmp")],
        [b"3", b"Fore\\pre.png", c.cell("Back")],
        [b"4", c.cell(), c.cell("Back", "list.csv")])], "logged rows")
    expect(not os.path.exists(c.csv + ".tmp"), "no temporary file is left")


@case("native", "wine")
def stale_temporary_file(c):
    """A temporary file left by an earlier run, named in a cell: copied as it
    was, then truncated, rewritten and moved onto the CSV."""
    c.write("list.csv.tmp", b"stale content of an earlier run")
    head = header("ID", FRONT, BACK)
    make_rows(c, [head, [b"1", c.cell("list.csv.tmp"), c.cell("list.csv")]], bom=False)
    original = open(c.csv, "rb").read()
    outcome = c.run()
    expect_done(outcome, 0)
    expect_equal(open(c.path("Fore", "list.csv.tmp"), "rb").read(),
                 b"stale content of an earlier run", "copy of the stale file")
    expect_equal(open(c.path("Back", "list.csv"), "rb").read(), original, "copy of the CSV")
    expect_equal(open(c.csv, "rb").read(),
                 serialize([head, [b"1", b"Fore\\list.csv.tmp", b"Back\\list.csv"]], False),
                 "rewritten CSV")
    expect(not os.path.exists(c.csv + ".tmp"), "no temporary file is left")


@case("native", "wine")
def names_outside_ansi(c):
    """File names with characters that no ANSI code page holds (emoji,
    Hangul, a CJK character beyond the BMP, Greek): copied under their own
    names. A name without '.' must be probed, which goes through the ANSI
    form: natively that is UTF-8 and finds the file; under Wine the lost
    characters make the probe fail as an unsupported format."""
    names = ["😀表.png", "Ωμέγα.jpg", "𠮷野家.png", "한글😀"]
    contents = [PNG, JPEG, PNG + b"2", PNG + b"3"]
    for name, data in zip(names, contents):
        c.write(name, data)
    rows = [header("ID", FRONT, BACK),
            [b"1", c.cell(names[0]), c.cell(names[2])],
            [b"2", c.cell(names[1]), c.cell(names[3])]]
    make_rows(c, rows)
    outcome = c.run()
    probed = c.runner.name == "native"
    expect_done(outcome, 0 if probed else 1)
    last = u8("Back\\" + names[3] + ".png") if probed else b""
    expected = [header("ID", FRONT, BACK),
                [b"1", u8("Fore\\" + names[0]), u8("Back\\" + names[2])],
                [b"2", u8("Fore\\" + names[1]), last]]
    expect_equal(open(c.csv, "rb").read(), serialize(expected, True), "rewritten CSV")
    expect_equal(open(c.path("Fore", names[0]), "rb").read(), contents[0], "copy of " + names[0])
    expect_equal(open(c.path("Fore", names[1]), "rb").read(), contents[1], "copy of " + names[1])
    expect_equal(open(c.path("Back", names[2]), "rb").read(), contents[2], "copy of " + names[2])
    if probed:
        expect_equal(open(c.path("Back", names[3] + ".png"), "rb").read(), contents[3],
                     "copy of the probed " + names[3])
        expect(not os.path.exists(c.path(LOG)), "no log")
    else:
        expect_equal(c.listing("Back"), [names[2]], "Back holds only the copy that worked")
        expect_equal([m for m, _ in read_log(c.path(LOG))],
                     [u8(UNSUPPORTED) + c.cell(names[3])], "log message names the UTF-16 path")
    return outcome.note()


@case("native", "wine")
def images_vanishing(c):
    """Images disappear and reappear (renamed away and back) while the run
    checks and copies them, so some vanish between the check and the copy.
    Every cell either names a complete copy or is emptied with a message
    naming it and its destination, counted and logged; the CSV is whole."""
    sources = 4
    rows = 4000 if c.runner.name == "native" else 1500
    os.makedirs(c.path("img"))
    contents = []
    for k in range(sources):
        contents.append(PNG[:16] + random.Random(k).randbytes(8 << 10))
        c.write("img/f%d.png" % k, contents[k])
    table = [header("ID", FRONT, BACK)]
    for r in range(rows):
        table.append([b"%d" % r, c.cell("img", "f%d.png" % (r % sources)), b""])
    before = make_rows(c, table)
    togglers = []

    def toggle(process):
        def loop():
            k = 0
            while process.poll() is None:
                name = c.path("img", "f%d.png" % (k % sources))
                os.rename(name, name + ".away")
                os.rename(name + ".away", name)
                k += 1
        togglers.append(threading.Thread(target=loop, daemon=True))
        togglers[0].start()

    outcome = c.run(timeout=240, background=toggle)
    for thread in togglers:
        thread.join(timeout=10)
    expect(not outcome.timed_out and outcome.rc == 0 and len(outcome.texts) == 1,
           "the run completed with one message")
    m = re.search(r"画像処理に失敗した件数: (\d+)件", outcome.texts[0])
    failures = int(m.group(1)) if m else 0
    expect_done(outcome, failures)
    rows_after = parse_written(open(c.csv, "rb").read()[3:])
    expect_equal(len(rows_after), len(before), "number of rows")
    log = read_log(c.path(LOG)) if failures else []
    expect_equal(len(log), failures, "log entries")
    kinds = {"missing": 0, "copy": 0, "name": 0}
    entry = 0
    for i in range(1, len(rows_after)):
        k = (i - 1) % sources
        expect_equal(rows_after[i][0], before[i][0], "row %d ID" % i)
        expect_equal(rows_after[i][2], b"", "row %d back cell" % i)
        if rows_after[i][1]:
            expect_equal(rows_after[i][1], b"Fore\\f%d.png" % k, "row %d front cell" % i)
            continue
        message, logged = log[entry]
        entry += 1
        cell = before[i][1].decode()
        expect_equal(logged, b",".join(quote(f) for f in before[i]), "logged row %d" % i)
        message = message.decode()
        if message == MISSING + cell:
            kinds["missing"] += 1
        elif message == copy_failed(cell, c.text("Fore", "f%d.png" % k)):
            kinds["copy"] += 1
        elif message == NAME_TAKEN + cell:
            kinds["name"] += 1  # the image was away when its identity was asked
        else:
            raise Failure("row %d: unexpected message %s" % (i, short(message)))
    for k in range(sources):
        copy = c.path("Fore", "f%d.png" % k)
        if os.path.exists(copy):
            expect_equal(open(copy, "rb").read(), contents[k], "the copy f%d.png is whole" % k)
    expect(kinds["copy"] > 0, "no image vanished between the check and the copy (%s)" % kinds)
    expect(not os.path.exists(c.csv + ".tmp"), "no temporary file is left")
    return "%d of %d cells failed: %d missing at the check, %d vanished before the copy, " \
        "%d before the identity query; %s" % (failures, rows, kinds["missing"], kinds["copy"],
                                              kinds["name"], outcome.note())


def make_images(c, rows, size):
    os.makedirs(c.path("img"))
    rng = random.Random(rows)
    noise = rng.randbytes(size * 2)
    table = [header("ID", FRONT, BACK)]
    for r in range(rows):
        for side in "fb":
            start = rng.randrange(size)
            c.write("img/%s%05d.png" % (side, r), PNG[:16] + noise[start:start + size])
        table.append([b"%d" % r, c.cell("img", "f%05d.png" % r), c.cell("img", "b%05d.png" % r)])
    return make_rows(c, table)


@case("native", "wine")
def folder_deleted_during_run(c):
    """The Back folder is deleted while the run copies into it: every later
    back image fails with the copy message, front images go on, and the CSV
    is rewritten whole."""
    rows = 3000
    before = make_images(c, rows, 24 << 10)
    gone = c.path("Back.gone")

    def delete_back(process):
        deadline = time.monotonic() + 120
        while process.poll() is None and time.monotonic() < deadline:
            if os.path.isdir(c.path("Back")) and len(os.listdir(c.path("Back"))) >= 50:
                os.rename(c.path("Back"), gone)
                shutil.rmtree(gone)
                return
            time.sleep(0.005)

    outcome = c.run(timeout=300, background=delete_back)
    expect(not outcome.timed_out, "the run ended")
    expect(outcome.rc == 0 and len(outcome.texts) == 1, "the run completed with one message")
    m = re.search(r"画像処理に失敗した件数: (\d+)件", outcome.texts[0])
    expect(m is not None, "the run ended before the folder was deleted; nothing was tested")
    failures = int(m.group(1))
    expect_done(outcome, failures)
    expect_consistent_after_deletion(c, before, failures)
    return "%d of %d back images failed after the deletion, %s" % (failures, rows, outcome.note())


def expect_consistent_after_deletion(c, before, failures):
    data = open(c.csv, "rb").read()
    rows = parse_written(data[3:])
    expect_equal(len(rows), len(before), "number of rows")
    failed_from = None
    for i in range(1, len(rows)):
        expect_equal(rows[i][0], before[i][0], "row %d ID" % i)
        name = before[i][1].replace(b"\\", b"/").rsplit(b"/", 1)[1]
        expect_equal(rows[i][1], b"Fore\\" + name, "row %d front cell" % i)
        expect(os.path.isfile(os.path.join(c.dir.encode(), b"Fore", name)), "row %d front copy" % i)
        if rows[i][2] == b"":
            failed_from = failed_from or i
        else:
            expect(failed_from is None, "row %d: a back copy after the deletion succeeded" % i)
    expect_equal(len(rows) - (failed_from or len(rows)), failures, "failed back cells")
    log = read_log(c.path(LOG))
    expect_equal(len(log), failures, "log entries")
    for k, (message, _) in enumerate(log):
        row = before[failed_from + k]
        name = row[2].replace(b"\\", b"/").rsplit(b"/", 1)[1].decode()
        wanted = copy_failed(row[2].decode(), c.text("Back", name))
        expect_equal(message.decode(), wanted, "log message %d" % k)
    expect(not os.path.isdir(c.path("Back")), "Back was not made again")


class Tmpfs:
    """A small tmpfs of our own, unmounted on exit; None when mounting is
    refused here."""

    def __init__(self, folder, size):
        self.folder = folder
        os.makedirs(folder)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s" % size, "tmpfs", folder],
                                capture_output=True, text=True)
        self.mounted = result.returncode == 0
        self.reason = result.stderr.strip()

    def close(self):
        if self.mounted:
            subprocess.run(["umount", self.folder], capture_output=True)
            self.mounted = False


class Skip(Exception):
    pass


@case("native", "wine")
def disk_full_temporary_file(c):
    """The disk fills while the temporary file is written: the write-failure
    message, exit 1, and the CSV untouched."""
    disk = Tmpfs(c.path("disk"), "8m")
    try:
        if not disk.mounted:
            raise Skip("mount -t tmpfs refused: %s" % disk.reason)
        inner = Case(c.runner, disk.folder, "data")
        rng = random.Random(3)
        rows = [header("ID", FRONT, BACK, "メモ")]
        rows += [[b"%d" % i, b"", b"", b"%d %d" % (rng.getrandbits(64), rng.getrandbits(64))]
                 for i in range(110000)]
        make_rows(inner, rows)
        original = open(inner.csv, "rb").read()
        expect(4 << 20 < len(original) < 6 << 20, "the CSV fills more than half of the disk")
        outcome = inner.run(timeout=120)
        expect_error(outcome, WRITE_FAILED + inner.runner.arg(inner.csv) + ".tmp")
        expect_untouched(inner, original)
        expect_equal(inner.listing("Fore"), [], "Fore exists")
        expect_equal(inner.listing("Back"), [], "Back exists")
        return outcome.note()
    finally:
        disk.close()


@case("native", "wine")
def disk_full_during_copies(c):
    """The disk fills while images are copied: failed copies are emptied,
    counted and logged where the log still fits; then the CSV is either
    untouched (its new content did not fit) or holds the complete new
    content."""
    disk = Tmpfs(c.path("disk"), "4m")
    try:
        if not disk.mounted:
            raise Skip("mount -t tmpfs refused: %s" % disk.reason)
        source = Case(c.runner, c.dir, "source")
        inner = Case(c.runner, disk.folder, "data")
        os.makedirs(source.path("img"))
        rows = [header("ID", FRONT, BACK)]
        for r in range(12):
            source.write("img/f%d.png" % r, PNG[:16] + random.Random(r).randbytes(500 << 10))
            rows.append([b"%d" % r, source.cell("img", "f%d.png" % r), b""])
        before = make_rows(inner, rows)
        original = open(inner.csv, "rb").read()
        outcome = inner.run(timeout=120)
        expect(not outcome.timed_out and len(outcome.texts) == 1, "one message, in time")
        if outcome.rc == 1:
            expect_error(outcome, WRITE_FAILED + inner.runner.arg(inner.csv) + ".tmp")
            expect_untouched(inner, original)
            return "CSV untouched (its new content did not fit)"
        m = re.search(r"画像処理に失敗した件数: (\d+)件", outcome.texts[0])
        expect(m is not None, "some copies failed on the full disk")
        failures = int(m.group(1))
        expect_done(outcome, failures)
        data = open(inner.csv, "rb").read()
        rows_after = parse_written(data[3:])
        expect_equal(len(rows_after), len(before), "number of rows")
        emptied = sum(1 for row in rows_after[1:] if row[1] == b"")
        expect_equal(emptied, failures, "emptied cells")
        for row in rows_after[1:]:
            if row[1]:
                copy = os.path.join(inner.dir.encode(), b"Fore", row[1][5:])
                expect(os.path.getsize(copy) == 16 + (500 << 10),
                       "a cell that names a copy names a complete one")
        return "%d copies failed, CSV rewritten" % failures
    finally:
        disk.close()


# ---------------------------------------------------------------------------

class Display:
    """A private Xvfb on a free display number, for the windows of Wine."""

    def __init__(self):
        for number in range(91, 140):
            if not os.path.exists("/tmp/.X11-unix/X%d" % number) and \
                    not os.path.exists("/tmp/.X%d-lock" % number):
                break
        self.name = ":%d" % number
        self.process = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "1024x768x24",
                                         "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 20
        while not os.path.exists("/tmp/.X11-unix/X%d" % number):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("Xvfb did not start on %s" % self.name)
            time.sleep(0.1)

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


class Unmanaged:
    """Wine's windows unmanaged for the suite: the display has no window
    manager, and Wine waits two seconds for one at each window it hides.
    The prefix's setting is put back as it was."""

    KEY = "HKCU\\Software\\Wine\\X11 Driver"

    def __init__(self):
        self.changed = False
        try:
            query = subprocess.run(["wine", "reg", "query", self.KEY, "/v", "Managed"],
                                   capture_output=True, text=True, errors="replace", timeout=120)
        except subprocess.TimeoutExpired:
            print("note  the prefix did not answer; windows stay managed (slower)")
            return
        m = re.search(r"Managed\s+REG_SZ\s+(\S+)", query.stdout)
        self.before = m.group(1) if m else None
        self.changed = self.set("N")

    def set(self, value):
        if value is None:
            command = ["wine", "reg", "delete", self.KEY, "/v", "Managed", "/f"]
        else:
            command = ["wine", "reg", "add", self.KEY, "/v", "Managed", "/t", "REG_SZ", "/d",
                       value, "/f"]
        try:
            return subprocess.run(command, capture_output=True, timeout=120).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    def close(self):
        if self.changed:
            self.set(self.before)


def main(argv):
    if len(argv) != 3 or argv[1] not in ("native", "wine"):
        sys.stderr.write(__doc__)
        return 2
    mode, program = argv[1], argv[2]
    only = set(filter(None, os.environ.get("HOSTILE_ONLY", "").split(",")))
    passed = failed = 0
    start = time.monotonic()
    display = unmanaged = None
    work = tempfile.mkdtemp(prefix="orlenta-hostile.")
    try:
        if not os.path.isfile(program):
            print("FAIL  the program %s is missing" % program)
            failed = 1
            return 1
        if mode == "wine":
            display = Display()
            unmanaged = Unmanaged()
            runner = WineRunner(program, work, display.name)
            runner.warm_up()
        else:
            runner = NativeRunner(program, work)
        for name, modes, function in CASES:
            if mode not in modes or (only and name not in only):
                continue
            case_start = time.monotonic()
            try:
                note = function(Case(runner, work, name))
                print("ok    %s (%s)" % (name, note or "%.1f s" % (time.monotonic() - case_start)))
                passed += 1
            except Skip as skip:
                print("skip  %s: %s" % (name, skip))
            except Failure as failure:
                print("FAIL  %s: %s" % (name, failure))
                failed += 1
            except Exception as error:  # a broken case is a failed case
                print("FAIL  %s: %s: %s" % (name, type(error).__name__, error))
                failed += 1
            sys.stdout.flush()
            shutil.rmtree(os.path.join(work, name), ignore_errors=True)
        print("suite time %.0f s" % (time.monotonic() - start))
    except Exception as error:  # a suite that could not start has failed
        print("FAIL  the suite could not start: %s: %s" % (type(error).__name__, error))
        failed += 1
    finally:
        if unmanaged:
            unmanaged.close()
        if display:
            display.close()
        shutil.rmtree(work, ignore_errors=True)
        print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
