#!/usr/bin/env bash
# window_startup.sh ROOT: Kolvy.exe under Wine, from its start to the main window drawn with the
# current tab's list, with 100 tabs registered, 98 of them (every receive tab) holding 10,000
# messages in their index, against the same program started on an empty program folder.
# Start-up reads only the current tab's index, so the message files themselves are not made.
# ratio = peer / kolvy as in every BENCH line: 0.67 and above keeps within 1.5 times the
# empty start.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
build="$root/build/win64"
runs=${KOLVY_BENCH_RUNS:-5}
[[ -f $build/build.ninja ]] || "$root/scripts/build" win64 >/dev/null
cmake --build "$build" --target Kolvy window_startup_probe -- -j2 >/dev/null
work=$(mktemp -d "${TMPDIR:-/tmp}/kolvy-window-bench.XXXXXX")
session_started=0
cleanup() {
  ((session_started)) && "$root/tests/harness/wine-session" stop "$build" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
if ! "$root/tests/harness/wine-session" start "$build" | grep -q 'already running'; then
  session_started=1
fi
exe="$build/shell/Kolvy.exe"
probe="$build/bench/window_startup_probe.exe"
win() { echo "Z:${1//\//\\}"; }

python3 - "$work/full" <<'PY'
import os, struct, sys
home = sys.argv[1]
tabs, rows = 100, 10000
def record(n, offset):
    texts = [f"差出人{n % 50}", f"user{n % 50}@example.jp", f"打ち合わせの件 その{n}",
             "Mailer/1.0", "me@example.jp"]
    b = struct.pack("<HBBIIIIBB", n, 0, 0, 1700000000 + n * 60, 1700000000 + n * 60 - 30,
                    offset, 1000 + n, 0, 101)
    return b + b"\x0c" + b"\x0c".join(t.encode("cp932") for t in texts) + b"\x01"
def index(count):
    image = bytearray(b"Kolvy mokuji list".ljust(256, b" "))
    for n in range(count):
        image += record(n, len(image))
    return bytes(image)
full = index(rows)
empty = index(0)
ini = ["[TagList]", "TagTab=" + ";".join(str(i) for i in range(tabs))]
for i in range(tabs):
    name = {0: "受信", 1: "送信", 2: "ごみ箱"}.get(i, f"タブ{i:02d}")
    kind = 1 if i == 1 else 2 if i == 2 else 0
    count = 0 if kind else rows
    folder = os.path.join(home, "MailData", name)
    os.makedirs(os.path.join(folder, "添付"))
    with open(os.path.join(folder, "mokuji.bin"), "wb") as f:
        f.write(full if count else empty)
    ini += [f"[{i}]", f"TabName={name}", f"Propaty={kind}", f"Default={int(i < 3)}",
            f"NextFileNo={count}", f"AllMailCount={count}", f"NoReadMailCount={count}",
            f"TabCursor={int(i == 0)}"]
with open(os.path.join(home, "Kolvy.ini"), "wb") as f:
    f.write("\r\n".join(ini + [""]).encode("cp932"))
PY
cp "$exe" "$work/full/Kolvy.exe"

run_probe() { "$root/tests/harness/wine-run" "$build" "$probe" "$@" | tr -d '\r'; }
kolvy=$(run_probe "$(win "$work/full")" 1 "$runs")
# The peer: each start on a folder that holds nothing but the program.
peers=()
for ((i = 0; i < runs; ++i)); do
  rm -rf "$work/empty"
  mkdir -p "$work/empty"
  cp "$exe" "$work/empty/Kolvy.exe"
  peers+=("$(run_probe "$(win "$work/empty")" 0 1)")
done
peer=$(printf '%s\n' "${peers[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
ratio=$(echo "scale=2; $peer / $kolvy" | bc -l)
echo "BENCH startup_100x10000 kolvy=${kolvy}ms peer=${peer}ms ratio=${ratio}"
