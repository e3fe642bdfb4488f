#!/usr/bin/env python3
"""Data for the whole-run benchmark.

  gen_data.py csv SIZE OUT
      A CSV of at least SIZE bytes (suffixes K, M, G: powers of 1024) with a
      byte-order mark, the two image columns in its header and realistic
      rows whose image cells are empty, the way an export writes them: most
      fields bare, some quoted with commas and doubled quotes inside.

  gen_data.py images ROWS FOLDER OUT [PREFIX]
      2 * ROWS distinct small images (10-50 KB of random bytes behind a
      valid PNG, JPEG or TIFF signature; one in ten without an extension, so
      that the format probe runs) in FOLDER, and a CSV at OUT whose rows
      name them, a front and a back image per row. A cell holds the image's
      absolute path; with PREFIX (a Windows spelling of FOLDER, such as
      Z:\\tmp\\x\\img) it holds PREFIX, a backslash and the file name.

  gen_data.py pairs CSV FOLDER FORE BACK OUT
      The copies that the program makes for CSV (written by "images" from
      the images in FOLDER), as UTF-8 lines "source<TAB>destination" at OUT:
      each image cell's path, and FORE or BACK (the target folders as the
      copying program spells them), a backslash and the cell's file name,
      with the extension of the image's signature when the name has no '.'.

Everything is drawn from a fixed seed, so two runs write the same bytes.
"""
import csv
import os
import random
import sys

BOM = b"\xef\xbb\xbf"
FRONT = "画像（表）"
BACK = "画像（裏）"
HEADER = ",".join(["ID", "商品コード", "商品名", "説明", "価格", "在庫", "登録日",
                   FRONT, BACK, "備考"]).encode() + b"\r\n"

WORDS = ["青", "赤い", "小型", "限定", "新品", "ケース", "カード", "セット", "木製",
         "ステンレス", "Premium", "mini", "ver.2", "北海道産", "手作り", "（箱付き）",
         "ポーチ", "ノート", "ブラック", "ホワイト", "M", "L", "XL"]
NOTES = ["", "", "", "再入荷", "要確認", "在庫僅少", "予約受付中", "生産終了"]


def parse_size(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    if text[-1].upper() in units:
        return int(float(text[:-1]) * units[text[-1].upper()])
    return int(text)


def quoted(text):
    return '"' + text.replace('"', '""') + '"'


def realistic_rest(rng):
    """The fields after the ID of one data row, image cells empty, joined."""
    code = "SKU-%06d" % rng.randrange(1000000)
    name = "".join(rng.choice(WORDS) for _ in range(rng.randint(2, 5)))
    if rng.random() < 0.3:
        desc = quoted("%s, %s「%s」 \"%s\" %d個入り" % (
            rng.choice(WORDS), rng.choice(WORDS), name, rng.choice(WORDS), rng.randint(1, 48)))
    else:
        desc = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 12)))
    price = str(rng.randint(100, 99999))
    stock = str(rng.randint(0, 500))
    date = "20%02d/%02d/%02d" % (rng.randint(10, 26), rng.randint(1, 12), rng.randint(1, 28))
    note = rng.choice(NOTES)
    return ",".join([code, name, desc, price, stock, date, "", "", note])


def write_csv(size, out):
    rng = random.Random(20260420)
    pool = [realistic_rest(rng).encode() for _ in range(20000)]
    row_id = 1
    written = 0
    with open(out, "wb") as f:
        f.write(BOM + HEADER)
        written += len(BOM) + len(HEADER)
        while written < size:
            chunk = b"".join(b"%d,%s\r\n" % (row_id + i, rest) for i, rest in enumerate(pool))
            if written + len(chunk) > size:
                # Whole rows only, and at least the size asked for.
                chunk = chunk[:chunk.find(b"\r\n", max(size - written - 2, 0)) + 2]
            f.write(chunk)
            written += len(chunk)
            row_id += len(pool)


SIGNATURES = [(b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", ".png"),
              (b"\xff\xd8\xff\xe0\0\x10JFIF\0", ".jpg"),
              (b"II*\0\x08\0\0\0", ".tif")]


def write_images(rows, folder, out, prefix=None):
    rng = random.Random(40000)
    os.makedirs(folder, exist_ok=True)
    noise = rng.randbytes(8 << 20)

    def make(name_stem, n):
        signature, ext = SIGNATURES[n % 3]
        # One in ten of each column: n is 2 * row for the front, 2 * row + 1
        # for the back.
        bare = (n // 2 + (n % 2) * 5) % 10 == 9
        name = name_stem if bare else name_stem + ext
        size = rng.randint(10 * 1024, 50 * 1024)
        start = rng.randrange(len(noise) - size)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(signature + noise[start:start + size - len(signature)])
        if prefix is not None:
            return prefix + "\\" + name
        return os.path.abspath(os.path.join(folder, name))

    with open(out, "wb") as f:
        f.write(BOM + HEADER)
        lines = []
        for r in range(rows):
            front = make("f%06d" % r, 2 * r)
            back = make("b%06d" % r, 2 * r + 1)
            fields = realistic_rest(rng).split(",")
            # realistic_rest's quoted description may hold a comma: rebuild
            # the row from the far end, where the image cells stand.
            head, tail = ",".join(fields[:-3]), fields[-1]
            lines.append(("%d,%s,%s,%s,%s\r\n" % (r + 1, head, front, back, tail)).encode())
        f.write(b"".join(lines))


def write_pairs(csv_path, folder, fore, back, out):
    with open(csv_path, "r", encoding="utf-8-sig", newline="") as f:
        rows = list(csv.reader(f))
    front_col, back_col = rows[0].index(FRONT), rows[0].index(BACK)
    lines = []
    for row in rows[1:]:
        for col, target in ((front_col, fore), (back_col, back)):
            source = row[col]
            name = source.replace("/", "\\").rsplit("\\", 1)[-1]
            if "." not in name:
                with open(os.path.join(folder, name), "rb") as image:
                    head = image.read(16)
                name += next(ext for signature, ext in SIGNATURES if head.startswith(signature))
            lines.append("%s\t%s\\%s\n" % (source, target, name))
    with open(out, "w", encoding="utf-8", newline="") as f:
        f.write("".join(lines))


def main(argv):
    if len(argv) >= 4 and argv[1] == "csv":
        write_csv(parse_size(argv[2]), argv[3])
    elif len(argv) >= 5 and argv[1] == "images":
        write_images(int(argv[2]), argv[3], argv[4], argv[5] if len(argv) > 5 else None)
    elif len(argv) >= 7 and argv[1] == "pairs":
        write_pairs(argv[2], argv[3], argv[4], argv[5], argv[6])
    else:
        sys.stderr.write(__doc__)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
