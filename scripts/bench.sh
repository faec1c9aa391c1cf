#!/usr/bin/env bash
# Measures what a repair run costs next to reading its files once.
#
#   scripts/bench.sh [--records N] [--runs R] [--sim-records N] [--sim-delay-us U]
#                    [--dir DIR] [--keep] [--no-micro] [--build-dir DIR]
#
# 1. Builds kvfix207-cli and the benchmarks (RelWithDebInfo, no GUI).
# 2. Micro benchmarks: CheckMoneyField against the text round trip per field; reading
#    records through the record access layer on a network block, record by record and
#    as the walk reads them (ns and system calls per record).
# 3. Makes a benchmark company (make-demo, N slots in every data file, default 100,000;
#    about 1% of the live records of the walked files carry unsound amounts).
# 4. After a warm-up read, times R runs each (default 3) of: cat of the walked data
#    files to /dev/null (the floor), kvfix207-cli scan, kvfix207-cli check (every file's
#    structure, index files included: at most 1.5 x the scan), and kvfix207-cli repair --yes on
#    a fresh copy (the copy is not timed); prints the medians, the ratios to cat, the
#    peak resident memory and the platform's system calls per record (KVFIX_STATS=1).
#    A second repair of a repaired copy shows the read path alone (nothing to write).
# 5. Repairs a smaller company (default 20,000 slots per file) with a simulated network
#    share (KVFIX_SIM_DELAY_US, default 200 us per file operation and lock call) and
#    compares the run time with moving the bytes of its walked files at 100 MB/s.
# The companies are deleted at the end unless --keep is given.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

records=100000
runs=3
sim_records=20000
sim_delay=200
keep=0
micro=1
build=build-bench
base=""
while [ $# -gt 0 ]; do
  case "$1" in
    --records) records=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --sim-records) sim_records=$2; shift 2 ;;
    --sim-delay-us) sim_delay=$2; shift 2 ;;
    --dir) base=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --no-micro) micro=0; shift ;;
    --build-dir) build=$2; shift 2 ;;
    -h|--help) sed -n '2,21p' "$0"; exit 0 ;;
    *) echo "bench.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
command -v python3 >/dev/null || { echo "bench.sh: python3 is needed for timing" >&2; exit 2; }

walked="GLFILE01 GLFILE03 GLFILE04 ICFILE01 ICFILE02 ICFILE04 ICFILE05 APFILE01 APFILE02
        APFILE03 APFILE04 ARFILE01 ARFILE02 ARFILE03 ARFILE04 BIFILE01 BIFILE02 POFILE01 POFILE02"

echo "== build ($build)"
cmake -S . -B "$build" -G Ninja -DKV_GUI=OFF -DKV_BENCH=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target kvfix207-cli access_bench money_bench | tail -1
cli=$(find "$root/$build" -type f -name kvfix207-cli -perm -u+x | head -1)
[ -n "$cli" ] || { echo "bench.sh: kvfix207-cli was not built" >&2; exit 1; }

echo "== machine"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"\
     "$(free -g | awk '/^Mem:/ {print $2}') GB memory; load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "(shared machine: other jobs run at the same time; the figures are medians of $runs runs)"

if [ "$micro" = 1 ]; then
  echo "== micro benchmarks"
  tmpjson=$(mktemp)
  "$build/bench/money_bench" --benchmark_min_time=0.3 --benchmark_format=json >"$tmpjson" 2>/dev/null
  python3 - "$tmpjson" <<'EOF'
import json, sys
b = {x["name"]: x for x in json.load(open(sys.argv[1]))["benchmarks"]}
def per_field(name, key):  # each iteration judges 4096 fields
    return b[name][key] / 4096
print("per field:          CPU ns    wall ns")
for name, label in (("BM_CheckMoneyField", "CheckMoneyField"), ("BM_TextRoundTrip", "text round trip")):
    print(f"  {label:16s} {per_field(name, 'cpu_time'):8.2f}  {per_field(name, 'real_time'):8.2f}")
ratio = per_field("BM_TextRoundTrip", "cpu_time") / per_field("BM_CheckMoneyField", "cpu_time")
print(f"  the text round trip takes {ratio:.0f} x the CPU time of CheckMoneyField")
print("whole records (file/judge), per money field:  CPU ns")
for name, row in b.items():
    if name.startswith("BM_JudgeRecord/"):
        fields_per_s = row["items_per_second"]  # over CPU time
        print(f"  {name[len('BM_JudgeRecord/'):]:28s} {1e9 / fields_per_s:6.2f}")
EOF
  "$build/bench/access_bench" --benchmark_filter='BM_ReadRecordAt|BM_Walk' \
      --benchmark_min_time=0.2 --benchmark_format=json >"$tmpjson" 2>/dev/null
  python3 - "$tmpjson" <<'EOF'
import json, sys
rows = json.load(open(sys.argv[1]))["benchmarks"]
print("per record, 20,000-slot file on a network block:  ns/record  syscalls/record")
for r in rows:
    name = r["name"].split("/")[0].replace("BM_", "")
    ns = 1e9 / r["items_per_second"]
    print(f"  {name:14s} {r.get('label', ''):16s} {ns:10.1f}  {r['syscalls/rec']:10.4f}")
EOF
  rm -f "$tmpjson"
fi

# ---- the benchmark company ---------------------------------------------------------------

if [ -z "$base" ]; then
  base=$(mktemp -d "${TMPDIR:-/tmp}/kvbench.XXXXXX")
else
  mkdir -p "$base"
fi
cleanup() {
  if [ "$keep" = 1 ]; then
    echo "(kept $base)"
  else
    rm -rf "$base"
  fi
}
trap cleanup EXIT

# A demo company is about 21 KB per slot and file set (data, indexes, side files);
# the pristine company, one working copy and the smaller simulated-share company.
need_kb=$(( (records * 2 + sim_records * 2) * 21 ))
avail_kb=$(df -Pk "$base" | awk 'NR == 2 {print $4}')
echo "== disk: about $((need_kb / 1024 / 1024)) GB needed, $((avail_kb / 1024 / 1024)) GB free on $(df -P "$base" | awk 'NR == 2 {print $6}')"
if [ "$avail_kb" -lt $((need_kb + 2 * 1024 * 1024)) ]; then
  echo "bench.sh: not enough free disk space for $records records (try --records or --dir)" >&2
  exit 1
fi

pristine=$base/pristine
work=$base/work
run_dir=$base/cwd  # the CLI's start directory (settings files, the repair report)
mkdir -p "$run_dir"

echo "== make-demo --records $records"
start=$(date +%s)
"$cli" make-demo --records "$records" "$pristine" >"$base/planted.txt"
echo "made in $(( $(date +%s) - start )) s: $(du -sh "$pristine" | cut -f1) in all;" \
     "walked data files $(cd "$pristine" && du -ch $(for f in $walked; do echo $f.DAT; done) | tail -1 | cut -f1);" \
     "$(tail -1 "$base/planted.txt")"

walked_bytes() {  # the bytes of the walked data files of a company
  (cd "$1" && stat -c %s $(for f in $walked; do echo $f.DAT; done)) | awk '{s += $1} END {print s}'
}

# Runs a command with the working directory $run_dir, stdout to /dev/null, stderr to
# $base/last.err; prints "seconds peak_rss_kb exit_code cpu_seconds" (user and system
# time of all its threads: above the wall time when work ran on two cores at once).
measure() {
  (cd "$run_dir" && python3 -c '
import os, subprocess, sys, time
err = open(sys.argv[1], "w")
t = time.monotonic()
p = subprocess.Popen(sys.argv[2:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)
_, status, usage = os.wait4(p.pid, 0)
print(f"{time.monotonic() - t:.3f} {usage.ru_maxrss} {os.waitstatus_to_exitcode(status)} {usage.ru_utime + usage.ru_stime:.3f}")
' "$base/last.err" "$@")
}

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# "platform calls: total T; ..." as printed by the CLI with KVFIX_STATS=1.
calls_of() { sed -n 's/^platform calls: total \([0-9]*\);.*/\1/p' "$1" | tail -1; }
delayed_of() { sed -n 's/.*delayed \([0-9]*\).*/\1/p' "$1" | tail -1; }

fresh_copy() {
  rm -rf "$work"
  cp -r --reflink=auto "$1" "$work"
  sync
}

walked_files=$(for f in $walked; do echo "$pristine/$f.DAT"; done)
bytes=$(walked_bytes "$pristine")

echo "== warm-up read"
cat $walked_files >/dev/null

cat_times=() scan_times=() check_times=() repair_times=() again_times=() scan_cpu=() check_cpu=() repair_cpu=()
scan_rss=0 repair_rss=0
for ((i = 1; i <= runs; i++)); do
  read -r t _ _ _ < <(measure cat $walked_files)
  cat_times+=("$t")

  read -r t rss code cpu < <(measure env KVFIX_STATS=1 "$cli" scan "$pristine")
  [ "$code" = 3 ] || [ "$code" = 0 ] || { echo "scan failed ($code):"; cat "$base/last.err"; exit 1; }
  scan_times+=("$t"); scan_cpu+=("$cpu"); scan_rss=$(( rss > scan_rss ? rss : scan_rss ))
  cp "$base/last.err" "$base/scan.err"

  read -r t _ code cpu < <(measure "$cli" check "$pristine")
  [ "$code" = 0 ] || { echo "check failed or found damage ($code):"; cat "$base/last.err"; exit 1; }
  check_times+=("$t"); check_cpu+=("$cpu")

  fresh_copy "$pristine"
  cat $(for f in $walked; do echo "$work/$f.DAT"; done) >/dev/null
  read -r t rss code cpu < <(measure env KVFIX_STATS=1 "$cli" repair --yes "$work")
  [ "$code" = 0 ] || { echo "repair failed ($code):"; cat "$base/last.err"; exit 1; }
  repair_times+=("$t"); repair_cpu+=("$cpu"); repair_rss=$(( rss > repair_rss ? rss : repair_rss ))
  cp "$base/last.err" "$base/repair.err"

  # The same company again: every amount is sound now, so this is the read path alone.
  read -r t _ code _ < <(measure env KVFIX_STATS=1 "$cli" repair --yes "$work")
  [ "$code" = 0 ] || { echo "second repair failed ($code):"; cat "$base/last.err"; exit 1; }
  again_times+=("$t")
  cp "$base/last.err" "$base/again.err"
  echo "run $i: cat ${cat_times[-1]} s, scan ${scan_times[-1]} s, check ${check_times[-1]} s, repair ${repair_times[-1]} s, repair of the repaired copy ${again_times[-1]} s"
done

cat_med=$(printf '%s\n' "${cat_times[@]}" | median)
scan_med=$(printf '%s\n' "${scan_times[@]}" | median)
check_med=$(printf '%s\n' "${check_times[@]}" | median)
repair_med=$(printf '%s\n' "${repair_times[@]}" | median)
again_med=$(printf '%s\n' "${again_times[@]}" | median)
live=$(sed -n 's/^scanned [0-9]* files, \([0-9]*\) live records.*/\1/p' "$base/scan.err")
repaired=$(sed -n 's/^repaired records: \([0-9]*\).*/\1/p' "$base/repair.err")
planted=$(tail -1 "$base/planted.txt")
repair_calls=$(calls_of "$base/repair.err")
again_calls=$(calls_of "$base/again.err")

echo "== results: $records slots per file, $(( bytes / 1000000 )) MB in the walked files, $live live records walked"
printf '%-34s %8s  %s\n' "" "median" "runs"
printf '%-34s %8.3f s  %s\n' "cat of the walked files" "$cat_med" "${cat_times[*]}"
printf '%-34s %8.3f s  %s\n' "scan" "$scan_med" "${scan_times[*]}"
printf '%-34s %8.3f s  %s\n' "check (all files, indexes too)" "$check_med" "${check_times[*]}"
printf '%-34s %8.3f s  %s\n' "repair --yes (fresh copy)" "$repair_med" "${repair_times[*]}"
printf '%-34s %8.3f s  %s\n' "repair of the repaired copy" "$again_med" "${again_times[*]}"
awk -v c="$cat_med" -v s="$scan_med" -v r="$repair_med" -v a="$again_med" 'BEGIN {
  printf "scan/cat %.2f   repair/cat %.2f   repair of the repaired copy/cat %.2f\n", s / c, r / c, a / c }'
awk -v s="$scan_med" -v k="$check_med" 'BEGIN { printf "check/scan %.2f (at most 1.50)\n", k / s }'
echo "CPU time (user + system, all threads; median): scan $(printf '%s\n' "${scan_cpu[@]}" | median) s, check $(printf '%s\n' "${check_cpu[@]}" | median) s, repair $(printf '%s\n' "${repair_cpu[@]}" | median) s"
echo "records repaired: $repaired (make-demo: $planted)"
echo "peak resident memory: scan $((scan_rss / 1024)) MB, repair $((repair_rss / 1024)) MB"
if [ -n "$repair_calls" ] && [ -n "$again_calls" ]; then
  awk -v c="$repair_calls" -v a="$again_calls" -v n="$live" -v rep="$repaired" 'BEGIN {
    printf "system calls (platform layer): repair %d = %.4f per live record; repair of the repaired copy %d = %.4f per live record\n", c, c / n, a, a / n
    if (rep > 0) printf "  the difference is %.1f calls per repaired record (each written under its record and file locks)\n", (c - a) / rep }'
  sed -n 's/^platform calls: /  repair: /p' "$base/repair.err" | tail -1
  sed -n 's/^platform calls: /  repaired copy: /p' "$base/again.err" | tail -1
else
  echo "system calls: the CLI printed no counts (KVFIX_STATS=1 not supported by this build)"
fi

# ---- simulated network share ----------------------------------------------------------------

rm -rf "$work"
sim=$base/sim
echo "== simulated network share: $sim_delay us per file operation and lock call, --records $sim_records"
"$cli" make-demo --records "$sim_records" "$sim" >/dev/null
sim_bytes=$(walked_bytes "$sim")
sim_times=()
for ((i = 1; i <= runs; i++)); do
  fresh_copy "$sim"
  read -r t _ code _ < <(measure env KVFIX_STATS=1 KVFIX_SIM_DELAY_US="$sim_delay" "$cli" repair --yes "$work")
  [ "$code" = 0 ] || { echo "simulated-share repair failed ($code):"; cat "$base/last.err"; exit 1; }
  sim_times+=("$t")
done
sim_med=$(printf '%s\n' "${sim_times[@]}" | median)
sim_delayed=$(delayed_of "$base/last.err")
sim_calls=$(calls_of "$base/last.err")
sim_repaired=$(sed -n 's/^repaired records: \([0-9]*\).*/\1/p' "$base/last.err")
awk -v t="$sim_med" -v b="$sim_bytes" -v d="${sim_delayed:-0}" -v us="$sim_delay" -v runs="${sim_times[*]}" \
    -v rep="$sim_repaired" -v calls="${sim_calls:-0}" 'BEGIN {
  move = b / 100e6
  printf "repair: %.2f s (median; runs %s); %d records repaired\n", t, runs, rep
  printf "delayed calls: %d (of %d), %.2f s of simulated round trips\n", d, calls, d * us / 1e6
  printf "moving the %.0f MB of its walked files at 100 MB/s: %.2f s; run/that = %.2f\n", b / 1e6, move, t / move }'
