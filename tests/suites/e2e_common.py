"""Cases shared by the end-to-end suites: the real program on real folders.

Each suite supplies a runner that starts the program as a user would and
reports what the user saw (exit code, message boxes); the cases here build
the folders, run it and compare the files it left with the expected bytes.
"""

import os
import re
import shutil
import sys
import tempfile
import time
import traceback

BOM = b"\xef\xbb\xbf"
CRLF = b"\r\n"

ERROR_TITLE = "Orlenta エラー"
COMPLETION_TITLE = "Orlenta"
USAGE_TEXT = "引数が不足しています。\n使い方:\n  Orlenta.exe <CSVファイルパス>"
MISSING_PREFIX = "CSVファイルが存在しません:\n"
COMPLETED = "処理が完了しました。"

# Bytes that are valid file starts of the three formats, plus a tail that
# tells the copies apart.
JPEG = b"\xff\xd8\xff\xe0\x00\x10JFIF\x00"
PNG = b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR"
TIFF = b"II*\x00\x08\x00\x00\x00"

# A timestamp at the start of a line (the first line follows the BOM).
TIMESTAMP = re.compile(rb"(?:^|(?<=^\xef\xbb\xbf))\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] ", re.M)


def completion_text(failures):
    if failures == 0:
        return COMPLETED
    return (COMPLETED + "\r\n画像処理に失敗した件数: " + str(failures) + "件\r\n"
            "失敗した項目は空欄にし、エラーログを出力しました。")


class CheckFailed(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise CheckFailed(what)


def _shown(value):
    """Bytes shown as their UTF-8 text (undecodable bytes escaped), so diffs stay readable."""
    if isinstance(value, bytes):
        return "bytes " + repr(value.decode("utf-8", "backslashreplace"))
    return repr(value)


def expect_eq(actual, expected, what):
    if actual != expected:
        raise CheckFailed("%s:\n    expected %s\n    actual   %s" % (what, _shown(expected), _shown(actual)))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def listing(folder):
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else None


def csv_bytes(lines, bom=True):
    return (BOM if bom else b"") + b"".join(line.encode("utf-8") + CRLF for line in lines)


def normalised_log(data):
    return TIMESTAMP.sub(b"[YYYY-MM-DD hh:mm:ss] ", data)


def log_bytes(entries):
    """The log a fresh run writes: BOM, then per entry message line and row line."""
    out = BOM
    for message, row in entries:
        out += ("[YYYY-MM-DD hh:mm:ss] 内容=" + message).encode("utf-8") + CRLF
        out += row.encode("utf-8") + CRLF
    return out


class Suite:
    """Runs cases, counts them, and prints 'N passed, N failed' last."""

    def __init__(self, runner):
        self.runner = runner
        self.passed = 0
        self.failed = 0
        self.scratch = tempfile.mkdtemp(prefix="orlenta-e2e-")

    def folder(self, name):
        path = os.path.join(self.scratch, name)
        os.makedirs(path)
        return path

    def run_case(self, name, case):
        start = time.monotonic()
        try:
            case(self, self.folder(name))
        except CheckFailed as e:
            self.failed += 1
            print("FAIL %s (%.1f s): %s" % (name, time.monotonic() - start, e), flush=True)
            return
        except Exception:  # a broken case counts as failed, with its trace
            self.failed += 1
            print("FAIL %s (%.1f s):\n%s" % (name, time.monotonic() - start,
                                              traceback.format_exc()), flush=True)
            return
        self.passed += 1
        print("ok   %s (%.1f s)" % (name, time.monotonic() - start), flush=True)

    def finish(self):
        shutil.rmtree(self.scratch, ignore_errors=True)
        print("%d passed, %d failed" % (self.passed, self.failed), flush=True)
        return 0 if self.failed == 0 and self.passed > 0 else 1


# ---------------------------------------------------------------------------
# The cases. `r` is the runner: r.path(p) turns a path of this machine into
# the program's spelling, r.join(a, b) joins two such paths with a backslash,
# r.run(args, cwd) runs the program, r.expect_box(outcome, icon, text) checks
# that exactly that one box was shown.

def case_worked_example(suite, root):
    """The documented run: two placed rows, a missing front and a missing back image."""
    r = suite.runner
    data = os.path.join(root, "data")
    img = os.path.join(root, "img")
    images = {"a.jpg": JPEG + b"a", "b.png": PNG + b"b", "c.tif": TIFF + b"c", "d.jpg": JPEG + b"d"}
    for name, content in images.items():
        write(os.path.join(img, name), content)
    p_img = r.path(img)
    csv = os.path.join(data, "list.csv")
    write(csv, csv_bytes([
        "ID,画像（表）,画像（裏）",
        "1,%s,%s" % (r.join(p_img, "a.jpg"), r.join(p_img, "b.png")),
        "2,%s" % r.join(p_img, "missing.jpg"),
        '3,,"%s"' % r.join(p_img, "c.tif"),
        "4,%s,%s" % (r.join(p_img, "d.jpg"), r.join(p_img, "gone.png")),
    ]))
    out = r.run([r.path(csv)], cwd=root)
    r.expect_box(out, "information", completion_text(2))
    expect_eq(out.exit_code, 0, "exit code")
    expect_eq(read(csv), csv_bytes([
        '"ID","画像（表）","画像（裏）"',
        '"1","Fore\\a.jpg","Back\\b.png"',
        '"2","",""',
        '"3","","Back\\c.tif"',
        '"4","Fore\\d.jpg",""',
    ]), "rewritten CSV")
    expect_eq(listing(data), ["Back", "Fore", "Orlenta_Error.log", "list.csv"], "CSV folder")
    expect_eq(listing(os.path.join(data, "Fore")), ["a.jpg", "d.jpg"], "Fore")
    expect_eq(listing(os.path.join(data, "Back")), ["b.png", "c.tif"], "Back")
    for folder, name in (("Fore", "a.jpg"), ("Back", "b.png"), ("Back", "c.tif"), ("Fore", "d.jpg")):
        expect_eq(read(os.path.join(data, folder, name)), images[name], "copy " + name)
    missing = r.join(p_img, "missing.jpg")
    gone = r.join(p_img, "gone.png")
    log = read(os.path.join(data, "Orlenta_Error.log"))
    expect_eq(len(TIMESTAMP.findall(log)), 2, "timestamps in the log")
    expect_eq(normalised_log(log), log_bytes([
        ("画像ファイルが存在しません: " + missing, '"2","%s",""' % missing),
        ("画像ファイルが存在しません: " + gone, '"4","Fore\\d.jpg","%s"' % gone),
    ]), "error log")
    expect_eq(listing(img), sorted(images), "source images untouched")


def case_no_argument(suite, root):
    r = suite.runner
    out = r.run([], cwd=root)
    r.expect_box(out, "error", USAGE_TEXT)
    expect_eq(out.exit_code, 1, "exit code")
    expect_eq(listing(root), [], "nothing written")


def case_folder_argument(suite, root):
    r = suite.runner
    folder = os.path.join(root, "list.csv")  # a folder that looks like a CSV
    os.makedirs(folder)
    out = r.run([r.path(folder)], cwd=root)
    r.expect_box(out, "error", MISSING_PREFIX + r.path(folder))
    expect_eq(out.exit_code, 1, "exit code")
    expect_eq(listing(root), ["list.csv"], "nothing written beside it")
    expect_eq(listing(folder), [], "nothing written inside it")


def case_missing_file(suite, root):
    r = suite.runner
    csv = os.path.join(root, "見つからない.csv")
    out = r.run([r.path(csv)], cwd=root)
    r.expect_box(out, "error", MISSING_PREFIX + r.path(csv))
    expect_eq(out.exit_code, 1, "exit code")
    expect_eq(listing(root), [], "nothing written")


def case_empty_argument(suite, root):
    r = suite.runner
    out = r.run([""], cwd=root)
    r.expect_box(out, "error", MISSING_PREFIX)
    expect_eq(out.exit_code, 1, "exit code")
    expect_eq(listing(root), [], "nothing written")


def case_missing_header(suite, root):
    """A job-level failure: the front-image column is missing."""
    r = suite.runner
    csv = os.path.join(root, "list.csv")
    content = csv_bytes(["ID,画像(表),画像（裏）", "1,a.jpg,b.jpg"])
    write(csv, content)
    out = r.run([r.path(csv)], cwd=root)
    r.expect_box(out, "error", "CSVヘッダが見つかりません: 画像（表）")
    expect_eq(out.exit_code, 1, "exit code")
    expect_eq(read(csv), content, "CSV untouched")
    expect_eq(listing(root), ["Back", "Fore", "list.csv"], "folders made before the read")
    expect_eq(listing(os.path.join(root, "Fore")) + listing(os.path.join(root, "Back")), [],
              "image folders empty")


def case_empty_csv(suite, root):
    r = suite.runner
    csv = os.path.join(root, "list.csv")
    write(csv, BOM)
    out = r.run([r.path(csv)], cwd=root)
    r.expect_box(out, "error", "CSVが空です: " + r.path(csv))
    expect_eq(out.exit_code, 1, "exit code")
    expect_eq(read(csv), BOM, "CSV untouched")


def case_fore_is_a_file(suite, root):
    r = suite.runner
    csv = os.path.join(root, "list.csv")
    content = csv_bytes(["ID,画像（表）,画像（裏）"])
    write(csv, content)
    write(os.path.join(root, "Fore"), b"not a folder")
    out = r.run([r.path(csv)], cwd=root)
    r.expect_box(out, "error", "ディレクトリを作成できません: " + r.join(r.path(root), "Fore"))
    expect_eq(out.exit_code, 1, "exit code")
    expect_eq(listing(root), ["Fore", "list.csv"], "Back not created")
    expect_eq(read(csv), content, "CSV untouched")


def case_bundled_example(suite, root):
    """The example of the repository: relative paths, a probed name, a missing image."""
    r = suite.runner
    examples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")
    shutil.copytree(examples, root, dirs_exist_ok=True)
    csv = os.path.join(root, "list.csv")
    out = r.run([r.path(csv)], cwd=root)
    r.expect_box(out, "information", completion_text(1))
    expect_eq(out.exit_code, 0, "exit code")
    expect_eq(read(csv), csv_bytes([
        '"ID","商品名","画像（表）","画像（裏）","備考"',
        '"1","りんご","Fore\\apple_front.jpg","Back\\apple_back.png",""',
        '"2","みかん","Fore\\orange_front.png","Back\\orange_back.tif","表の画像は拡張子なし"',
        '"3","ぶどう","Fore\\grape_front.jpg","","裏の画像がありません"',
        '"4","もも","","Back\\peach_back.jpg","表は空欄, 裏だけ"',
    ]), "rewritten CSV")
    expect_eq(listing(os.path.join(root, "Fore")),
              ["apple_front.jpg", "grape_front.jpg", "orange_front.png"], "Fore")
    expect_eq(listing(os.path.join(root, "Back")),
              ["apple_back.png", "orange_back.tif", "peach_back.jpg"], "Back")
    expect_eq(read(os.path.join(root, "Fore", "orange_front.png")),
              read(os.path.join(root, "images", "orange_front")), "probed copy")
    expect_eq(normalised_log(read(os.path.join(root, "Orlenta_Error.log"))), log_bytes([
        ("画像ファイルが存在しません: images\\grape_back.png",
         '"3","ぶどう","Fore\\grape_front.jpg","images\\grape_back.png","裏の画像がありません"'),
    ]), "error log")


def case_extra_arguments(suite, root):
    """Only the first argument counts; a run without failures says so in one line."""
    r = suite.runner
    write(os.path.join(root, "img", "x.png"), PNG + b"x")
    csv = os.path.join(root, "list.csv")
    write(csv, csv_bytes(["画像（裏）,画像（表）", "%s," % r.join(r.path(os.path.join(root, "img")), "x.png")],
                         bom=False))
    out = r.run([r.path(csv), r.path(os.path.join(root, "other.csv")), ""], cwd=root)
    r.expect_box(out, "information", COMPLETED)
    expect_eq(out.exit_code, 0, "exit code")
    expect_eq(read(csv), csv_bytes(['"画像（裏）","画像（表）"', '"Back\\x.png",""'], bom=False),
              "rewritten CSV without BOM")
    expect_eq(listing(root), ["Back", "Fore", "img", "list.csv"], "no log without failures")


COMMON_CASES = [
    ("worked_example", case_worked_example),
    ("no_argument", case_no_argument),
    ("folder_argument", case_folder_argument),
    ("missing_file", case_missing_file),
    ("empty_argument", case_empty_argument),
    ("missing_header", case_missing_header),
    ("empty_csv", case_empty_csv),
    ("fore_is_a_file", case_fore_is_a_file),
    ("bundled_example", case_bundled_example),
    ("extra_arguments", case_extra_arguments),
]


def main_guard(body):
    """Runs `body`; an unexpected crash of the suite itself still ends in a count."""
    try:
        return body()
    except Exception:
        traceback.print_exc()
        print("0 passed, 1 failed", flush=True)
        return 1


if __name__ == "__main__":
    sys.exit("run through e2e_native.sh or e2e_wine.sh")
