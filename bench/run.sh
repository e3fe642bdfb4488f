#!/usr/bin/env bash
# Whole-run benchmark: the program on large generated data against the
# physical floor (cp of the same bytes; under Wine, the bare CopyFileW loop of
# copy_floor.exe), each figure the median of several runs, the floor measured
# in the same run of this script. Prints one table.
#
#   bench/run.sh            full sizes (200 MiB, 20,000 rows / 40,000 images, 1 GiB)
#   bench/run.sh --quick    small sizes, 3 runs each: a smoke run
#   bench/run.sh --no-wine  without the Windows build under Wine
#   bench/run.sh --only 5,6 only the cases listed
#
# Needs bash, GNU time, python3, cmake, ninja, strace (installed with apt-get
# when missing); for the Wine cases also the mingw-w64 toolchain, wine, Xvfb
# and xdotool. Both sides of every case run on a warm page cache: nothing is
# dropped between runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

quick=0
with_wine=1
only=1,2,3,4,5,6
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --no-wine) with_wine=0 ;;
    --only) only=${2:?}; shift ;;
    *) sed -n '2,15p' "$0"; exit 2 ;;
  esac
  shift
done
want() { [[ ",$only," == *",$1,"* ]]; }
if [ "$quick" -eq 1 ]; then
  csv_size=20M big_size=100M image_rows=2000 runs=3 floor_rows=2000
else
  csv_size=200M big_size=1G image_rows=20000 runs=5 floor_rows="2000 8000"
fi
# The system-call count does not depend on the size: ~2,000 images suffice.
strace_rows=1000

scratch=$(mktemp -d)
xvfb_pid=
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then
    # The prefix's services outlive a server that is merely killed.
    wineserver -k 2>/dev/null || true
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

echo "== building the linux preset (Release) in build/bench"
cmake --preset linux -B build/bench -DCMAKE_BUILD_TYPE=Release -DORLENTA_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench --target orlenta -j2 >/dev/null
bin=$root/build/bench/bin/orlenta

# measure NAME CMD...: runs CMD once; appends its wall time (s) to NAME.t
# and its peak resident memory (KiB) to NAME.m. Fails the script when CMD does.
measure() {
  local name=$1 start end
  shift
  start=$EPOCHREALTIME
  if ! /usr/bin/time -f %M -o "$scratch/rss" "$@" >"$scratch/stdout" 2>"$scratch/stderr"; then
    echo "failed: $*" >&2
    cat "$scratch/stdout" "$scratch/stderr" >&2
    exit 1
  fi
  end=$EPOCHREALTIME
  echo "$start $end" | awk '{printf "%.3f\n", $2 - $1}' >>"$scratch/$name.t"
  tail -n 1 "$scratch/rss" >>"$scratch/$name.m"
}

median() {  # file of numbers
  sort -g "$1" | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'
}

all_runs() {  # file of numbers
  paste -sd' ' "$1"
}

expect_stdout() {  # text
  [ "$(cat "$scratch/stdout")" = "$1" ] || {
    echo "unexpected message: $(cat "$scratch/stdout" "$scratch/stderr")" >&2
    exit 1
  }
}

rows=()
notes=()
lines=()
add_row() {  # case, program s, floor name, floor s, target ratio or '-', RSS KiB or '-', RSS bound KiB or '-'
  rows+=("$(printf '%s|%s|%s|%s|%s|%s|%s' "$@")")
}

# --- 1. a large CSV without images ----------------------------------------
if want 1; then
echo "== case 1: $csv_size CSV, image cells empty"
c1=$scratch/c1
mkdir -p "$c1"
python3 bench/gen_data.py csv "$csv_size" "$c1/pristine.csv"
c1_bytes=$(stat -c %s "$c1/pristine.csv")
for ((i = 0; i < runs; i++)); do
  cp "$c1/pristine.csv" "$c1/list.csv"
  sync
  measure c1_prog "$bin" "$c1/list.csv"
  expect_stdout "処理が完了しました。"
  rm -f "$c1/copy.csv"
  sync
  measure c1_cp cp "$c1/list.csv" "$c1/copy.csv"
  # What a program that reads, writes and syncs the file must pay at least:
  # cp copies inside the kernel and does not sync.
  rm -f "$c1/copy.csv"
  sync
  measure c1_dd dd if="$c1/list.csv" of="$c1/copy.csv" bs=2M conv=fsync status=none
  # ...and a program that holds the whole file in memory, as this one must,
  # also pays for that much fresh memory.
  rm -f "$c1/copy.csv"
  sync
  measure c1_whole dd if="$c1/list.csv" of="$c1/copy.csv" bs="$c1_bytes" count=1 \
    iflag=fullblock conv=fsync status=none
done
head -c 20 "$c1/list.csv" | grep -q '^.\{0,3\}"ID","' || { echo "case 1: CSV not rewritten" >&2; exit 1; }
add_row "1  $(numfmt --to=iec-i --suffix=B "$c1_bytes") CSV, no images" \
  "$(median "$scratch/c1_prog.t")" "cp" "$(median "$scratch/c1_cp.t")" 3 \
  "$(median "$scratch/c1_prog.m")" $((c1_bytes * 5 / 2 / 1024 + 32 * 1024))
notes+=("case 1 runs (s): program $(all_runs "$scratch/c1_prog.t"); cp $(all_runs "$scratch/c1_cp.t"); dd conv=fsync $(all_runs "$scratch/c1_dd.t") (median $(median "$scratch/c1_dd.t")); dd of the whole file through one buffer, conv=fsync $(all_runs "$scratch/c1_whole.t") (median $(median "$scratch/c1_whole.t"))")
rm -rf "$c1"
fi

# --- 2. many small images --------------------------------------------------
c2=$scratch/c2
if want 2; then
echo "== case 2: $image_rows rows naming $((image_rows * 2)) images"
mkdir -p "$c2"
python3 bench/gen_data.py images "$image_rows" "$c2/img" "$c2/pristine.csv"
images_bytes=$(du -sb "$c2/img" | cut -f1)
for ((i = 0; i < runs; i++)); do
  rm -rf "$c2/Fore" "$c2/Back" "$c2/copy"
  cp "$c2/pristine.csv" "$c2/list.csv"
  sync
  measure c2_prog "$bin" "$c2/list.csv"
  expect_stdout "処理が完了しました。"
  [ "$(find "$c2/Fore" "$c2/Back" -type f | wc -l)" -eq $((image_rows * 2)) ] ||
    { echo "case 2: copies missing" >&2; exit 1; }
  sync
  measure c2_cp cp -r "$c2/img" "$c2/copy"
done
add_row "2  $image_rows rows, $((image_rows * 2)) images ($(numfmt --to=iec-i --suffix=B "$images_bytes"))" \
  "$(median "$scratch/c2_prog.t")" "cp -r" "$(median "$scratch/c2_cp.t")" 1.1 \
  "$(median "$scratch/c2_prog.m")" -
notes+=("case 2 runs (s): program $(all_runs "$scratch/c2_prog.t"); cp -r $(all_runs "$scratch/c2_cp.t")")
rm -rf "$c2/Fore" "$c2/Back" "$c2/copy"
fi

# --- 3. a very large CSV ---------------------------------------------------
if want 3; then
echo "== case 3: $big_size CSV"
c3=$scratch/c3
mkdir -p "$c3"
python3 bench/gen_data.py csv "$big_size" "$c3/pristine.csv"
c3_bytes=$(stat -c %s "$c3/pristine.csv")
for ((i = 0; i < runs; i++)); do
  cp "$c3/pristine.csv" "$c3/list.csv"
  sync
  measure c3_prog "$bin" "$c3/list.csv"
  expect_stdout "処理が完了しました。"
  rm -f "$c3/copy.csv"
  sync
  measure c3_cp cp "$c3/list.csv" "$c3/copy.csv"
done
add_row "3  $(numfmt --to=iec-i --suffix=B "$c3_bytes") CSV, no images" \
  "$(median "$scratch/c3_prog.t")" "cp" "$(median "$scratch/c3_cp.t")" - \
  "$(median "$scratch/c3_prog.m")" $((c3_bytes * 5 / 2 / 1024 + 32 * 1024))
notes+=("case 3 runs (s): program $(all_runs "$scratch/c3_prog.t"); cp $(all_runs "$scratch/c3_cp.t")")
rm -rf "$c3"
fi

# --- Wine: the Windows build, a private display and a persistent server ----
if [ "$with_wine" -eq 1 ] && { want 4 || want 5; }; then
  echo "== building the windows preset (Release) in build/bench-windows"
  cmake --preset windows -B build/bench-windows -DCMAKE_BUILD_TYPE=Release \
    -DORLENTA_BUILD_TESTS=OFF >/dev/null
  cmake --build build/bench-windows --target orlenta qorimgio copy_floor -j2 >/dev/null
  exe=$root/build/bench-windows/bin/Orlenta.exe
  floor_exe=$root/build/bench-windows/bin/copy_floor.exe
  # Every Wine process, the prefix's own desktop included, must see the
  # display: a desktop started without one leaves later windows without a
  # driver.
  display=
  for n in $(seq 171 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=:$n; break; fi
  done
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  export DISPLAY=$display
  export WINEPREFIX=$root/build/bench-windows/wineprefix WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  wineserver -k 2>/dev/null || true
  wineserver -f -p >/dev/null 2>&1 &
  server_pid=$!
  timeout 120 wine cmd /c exit >/dev/null 2>&1 || true  # lets the prefix's services start
  # Without a window manager, Wine's X11 driver waits 2 s for one to withdraw
  # each window it hides, which Windows never does: windows here go
  # unmanaged.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1

  # wine_run FOLDER ROWS NAME: one run on FOLDER/wine.csv, timed from the start
  # until the completion box shows (the job is done then) into NAME.t; the
  # box is dismissed outside the timing.
  wine_run() {
    local folder=$1 rows=$2 name=$3 folder_win pid start end
    folder_win=$(winepath -w "$folder")
    rm -rf "$folder/Fore" "$folder/Back"
    cp "$folder/wine.csv" "$folder/list.csv"
    sync
    : >"$scratch/wine.err"
    start=$EPOCHREALTIME
    WINEDEBUG=+msgbox wine "$exe" "${folder_win}\\list.csv" \
      </dev/null >/dev/null 2>"$scratch/wine.err" &
    pid=$!
    while ! grep -q MSGBOX_OnInit "$scratch/wine.err"; do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.01
    done
    end=$EPOCHREALTIME
    while kill -0 "$pid" 2>/dev/null; do
      for w in $(xdotool search --name '^Orlenta' 2>/dev/null); do
        xdotool key --window "$w" Return 2>/dev/null || true
      done
      sleep 0.2
    done
    wait "$pid" || { echo "Orlenta.exe failed: $(grep MSGBOX "$scratch/wine.err")" >&2; exit 1; }
    grep -q 'MSGBOX_OnInit L"\\51e6\\7406\\304c\\5b8c\\4e86\\3057\\307e\\3057\\305f\\3002"' \
      "$scratch/wine.err" || { echo "Orlenta.exe: $(grep MSGBOX "$scratch/wine.err")" >&2; exit 1; }
    [ "$(find "$folder/Fore" "$folder/Back" -type f | wc -l)" -eq $((rows * 2)) ] ||
      { echo "Orlenta.exe: copies missing" >&2; exit 1; }
    echo "$start $end" | awk '{printf "%.3f\n", $2 - $1}' >>"$scratch/$name.t"
  }

  # floor_run FOLDER ROWS NAME: the bare CopyFileW loop over FOLDER/pairs.txt
  # into fresh Fore and Back folders, timed from its start to its end.
  floor_run() {
    local folder=$1 rows=$2 name=$3 pairs_win start end
    pairs_win=$(winepath -w "$folder/pairs.txt")
    rm -rf "$folder/Fore" "$folder/Back"
    mkdir "$folder/Fore" "$folder/Back"
    sync
    start=$EPOCHREALTIME
    wine "$floor_exe" "$pairs_win" </dev/null >"$scratch/floor.out" 2>&1 ||
      { echo "copy_floor.exe failed: $(cat "$scratch/floor.out")" >&2; exit 1; }
    end=$EPOCHREALTIME
    [ "$(find "$folder/Fore" "$folder/Back" -type f | wc -l)" -eq $((rows * 2)) ] ||
      { echo "copy_floor.exe: copies missing" >&2; exit 1; }
    echo "$start $end" | awk '{printf "%.3f\n", $2 - $1}' >>"$scratch/$name.t"
  }
fi

# --- 4. the images case through the Windows build under Wine ---------------
# Wine looks a name up case-blind: a name that does not exist yet costs a
# scan of its folder, so each new copy costs time in proportion to the copies
# already in Fore or Back, which Windows' indexed folders do not. The full
# case therefore runs once; a tenth of it (folders of 2,000 copies) runs as
# often as the others, against cp -r of its own images.
if [ "$with_wine" -eq 1 ] && want 4; then
  echo "== case 4: the images case under Wine"
  small_rows=$((image_rows / 10))
  c4=$scratch/c4
  mkdir -p "$c4"
  python3 bench/gen_data.py images "$small_rows" "$c4/img" "$c4/wine.csv" "$(winepath -w "$c4")\\img"
  wine_run "$c4" "$small_rows" c4_warmup  # the first run loads Wine's own files
  for ((i = 0; i < runs; i++)); do
    wine_run "$c4" "$small_rows" c4_prog
    rm -rf "$c4/copy"
    sync
    measure c4_cp cp -r "$c4/img" "$c4/copy"
  done
  add_row "4a $small_rows rows, $((small_rows * 2)) images, Wine" "$(median "$scratch/c4_prog.t")" "cp -r" \
    "$(median "$scratch/c4_cp.t")" - - -
  notes+=("case 4a runs (s): Orlenta.exe $(all_runs "$scratch/c4_prog.t") (until the completion box shows); cp -r $(all_runs "$scratch/c4_cp.t")")
  rm -rf "$c4"

  if want 2; then  # on case 2's data
    python3 - "$c2/pristine.csv" "$c2/wine.csv" "$c2/img/" "$(winepath -w "$c2")\\img\\" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(data.replace(sys.argv[3].encode(), sys.argv[4].encode()))
PY
    wine_run "$c2" "$image_rows" c4_full
    add_row "4b case 2 once, Wine" "$(median "$scratch/c4_full.t")" "cp -r" \
      "$(median "$scratch/c2_cp.t")" - - -
  fi
fi

# --- 5. the images case under Wine against the bare CopyFileW loop --------
# The same copies of the same files, into fresh folders each run, so that
# Wine's own costs (its folder scans above all) fall on both sides alike.
# The two sides alternate, so that a change in the machine's load meets both.
if [ "$with_wine" -eq 1 ] && want 5; then
  floor_runs=$((runs < 3 ? 3 : runs))
  for wine_rows in $floor_rows; do
    echo "== case 5: $wine_rows rows, $((wine_rows * 2)) images under Wine, Orlenta.exe against the CopyFileW loop"
    c5=$scratch/c5
    mkdir -p "$c5"
    c5_win=$(winepath -w "$c5")
    python3 bench/gen_data.py images "$wine_rows" "$c5/img" "$c5/wine.csv" "$c5_win\\img"
    python3 bench/gen_data.py pairs "$c5/wine.csv" "$c5/img" "$c5_win\\Fore" "$c5_win\\Back" \
      "$c5/pairs.txt"
    floor_run "$c5" "$wine_rows" c5_warmup  # the first runs load Wine's own files
    wine_run "$c5" "$wine_rows" c5_warmup
    for ((i = 0; i < floor_runs; i++)); do
      floor_run "$c5" "$wine_rows" "c5_floor_$wine_rows"
      wine_run "$c5" "$wine_rows" "c5_prog_$wine_rows"
    done
    add_row "5  $wine_rows rows, $((wine_rows * 2)) images, Wine" \
      "$(median "$scratch/c5_prog_$wine_rows.t")" "CopyFileW" \
      "$(median "$scratch/c5_floor_$wine_rows.t")" 1.2 - -
    notes+=("case 5 runs at $wine_rows rows (s): Orlenta.exe $(all_runs "$scratch/c5_prog_$wine_rows.t") (until the completion box shows); CopyFileW loop $(all_runs "$scratch/c5_floor_$wine_rows.t")")
    rm -rf "$c5"
  done
fi

# --- 6. system calls per image, natively ------------------------------------
# Counted by strace over whole processes, less what the same process makes
# without images (start-up, the CSV read and written; for cp -r, an empty
# folder): the program on the images case, on the same rows with every name
# that needs the format probe left out (the common path: check, copy), and
# cp -r of the images.
if want 6; then
  echo "== case 6: system calls per image, $strace_rows rows"
  if ! command -v strace >/dev/null; then
    apt-get install -y strace >/dev/null 2>&1 || sudo apt-get install -y strace >/dev/null
  fi
  c6=$scratch/c6
  mkdir -p "$c6/empty"
  python3 bench/gen_data.py images "$strace_rows" "$c6/img" "$c6/all.csv"
  # The same rows with each image cell whose file name has no '.' emptied
  # (common.csv) and with every image cell emptied (none.csv); prints the
  # number of images left in common.csv.
  common_images=$(python3 - "$c6/all.csv" "$c6/common.csv" "$c6/none.csv" <<'PY'
import csv, sys
with open(sys.argv[1], encoding="utf-8-sig", newline="") as f:
    rows = list(csv.reader(f))
columns = [rows[0].index("画像（表）"), rows[0].index("画像（裏）")]

def write(path, keep):
    with open(path, "w", encoding="utf-8-sig", newline="") as f:
        csv.writer(f, lineterminator="\r\n").writerows(
            [rows[0]] + [[v if i not in columns or keep(v) else "" for i, v in enumerate(row)]
                         for row in rows[1:]])

write(sys.argv[2], lambda v: "." in v.rsplit("/", 1)[-1])
write(sys.argv[3], lambda v: False)
print(sum("." in row[c].rsplit("/", 1)[-1] for row in rows[1:] for c in columns))
PY
)
  all_images=$((strace_rows * 2))
  # calls NAME CMD...: the system calls of CMD and its children into NAME.s
  calls() {
    local name=$1
    shift
    strace -c -f -o "$scratch/$name.s" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    awk '$NF == "total" {print $4}' "$scratch/$name.s"
  }
  # program NAME CSV: calls of the program on a copy of CSV into fresh folders
  program() {
    rm -rf "$c6/Fore" "$c6/Back"
    cp "$2" "$c6/list.csv"
    calls "$1" "$bin" "$c6/list.csv"
  }
  # per_call NAME IMAGES: the calls made about once per image or more, per image
  per_call() {
    awk -v n="$2" '$NF != "total" && $4 ~ /^[0-9]+$/ && $4 >= n / 2 {printf "%s %.2f, ", $NF, $4 / n}' \
      "$scratch/$1.s" | sed 's/, $//'
  }
  per_image() { awk -v a="$1" -v z="$2" -v n="$3" 'BEGIN {printf "%.2f", (a - z) / n}'; }
  copies() { find "$c6/Fore" "$c6/Back" -type f | wc -l; }
  none_calls=$(program c6_none "$c6/none.csv")
  all_calls=$(program c6_all "$c6/all.csv")
  [ "$(copies)" -eq "$all_images" ] || { echo "case 6: copies missing" >&2; exit 1; }
  common_calls=$(program c6_common "$c6/common.csv")
  [ "$(copies)" -eq "$common_images" ] || { echo "case 6: copies missing" >&2; exit 1; }
  cp_empty_calls=$(calls c6_cp_empty cp -r "$c6/empty" "$c6/empty_copy")
  cp_calls=$(calls c6_cp cp -r "$c6/img" "$c6/copy")
  common_per=$(per_image "$common_calls" "$none_calls" "$common_images")
  verdict=ok
  awk -v r="$common_per" 'BEGIN {exit !(r > 8)}' && verdict=MISSED
  lines+=("6  system calls per image (strace -c -f): program $common_per on the common path ($common_images images; target ≤ 8: $verdict), $(per_image "$all_calls" "$none_calls" "$all_images") with the probed names ($all_images images); cp -r $(per_image "$cp_calls" "$cp_empty_calls" "$all_images")")
  notes+=("case 6 whole processes (calls): program without images $none_calls, common path $common_calls, all $all_calls; cp -r of an empty folder $cp_empty_calls, of the images $cp_calls")
  notes+=("case 6 calls per image: program, common path: $(per_call c6_common "$common_images"); cp -r: $(per_call c6_cp "$all_images")")
  rm -rf "$c6"
fi

# --- the table -------------------------------------------------------------
echo
printf '%-44s %9s %16s %7s %7s %10s %10s  %s\n' case program floor ratio target "peak RSS" "RSS bound" verdict
for row in "${rows[@]}"; do
  IFS='|' read -r name prog floor_name floor target rss bound <<<"$row"
  ratio=$(awk -v a="$prog" -v b="$floor" 'BEGIN {printf "%.2f", a / b}')
  verdict=ok
  if [ "$target" != - ] && awk -v r="$ratio" -v t="$target" 'BEGIN {exit !(r > t)}'; then verdict=MISSED; fi
  if [ "$bound" != - ] && [ "$rss" -gt "$bound" ]; then verdict="MISSED (memory)"; fi
  [ "$target" = - ] && [ "$bound" = - ] && verdict="for information"
  rss_text=-
  [ "$rss" = - ] || rss_text="$((rss / 1024)) MiB"
  bound_text=-
  [ "$bound" = - ] || bound_text="$((bound / 1024)) MiB"
  target_text=-
  [ "$target" = - ] || target_text="≤ ${target}×"
  printf '%-44s %8.2fs %9s %5.2fs %6s× %7s %10s %10s  %s\n' "$name" "$prog" "$floor_name" "$floor" \
    "$ratio" "$target_text" "$rss_text" "$bound_text" "$verdict"
done
echo
[ ${#lines[@]} -eq 0 ] || { printf '%s\n' "${lines[@]}"; echo; }
printf '%s\n' "${notes[@]}"
echo "medians of $runs runs; both sides on a warm page cache; $(nproc) cores, $(free -g | awk '/^Mem/ {print $2}') GiB"
