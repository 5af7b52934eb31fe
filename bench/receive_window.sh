#!/usr/bin/env bash
# receive_window.sh ROOT: the window's responsiveness while Kolvy.exe (win64 build, under Wine)
# receives 1,000 messages of mixed sizes from a local dovecot. A probe sends the main window a
# message every 50 ms and notes the largest time between two answered probes; the peer is the
# 100 ms a user still feels as immediate, so a ratio above 1 means no probe waited that long.
set -euo pipefail
root=$1
build=$root/build/win64
count=${KOLVY_BENCH_MESSAGES:-1000}
if [[ ! -f $build/build.ninja ]]; then
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-w64-mingw32.cmake" >/dev/null
fi
cmake --build "$build" --target Kolvy receive_probe -- -j2 >/dev/null
work=$(mktemp -d /tmp/kolvy-receive-window-bench.XXXXXX)
chmod 755 "$work"  # the servers run as their own users
servers=$work/servers
cleanup() {
  "$root/tests/harness/wine-session" stop "$build" >/dev/null 2>&1 || true
  "$root/pop/testsupport/pop-servers" stop "$servers" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
"$root/pop/testsupport/pop-servers" start "$servers" >/dev/null
port=$(sed -n 's/^dovecot_pop3=//p' "$servers/servers.txt")
user=$(sed -n 's/^user=//p' "$servers/servers.txt")
password=$(sed -n 's/^password=//p' "$servers/servers.txt")
maildir=$(sed -n 's/^dovecot_maildir=//p' "$servers/servers.txt")
[[ -n $port && -d $maildir ]] || { echo "receive_window.sh: no dovecot" >&2; exit 1; }

python3 - "$maildir" "$count" <<'PY'
import os, random, sys
folder, count = sys.argv[1], int(sys.argv[2])
rnd = random.Random(11)
for i in range(count):
    r = rnd.random()
    size = 600 if r < 0.6 else 6000 if r < 0.9 else 60000
    if i % 100 == 99:
        size = 400000
    line = f"message {i} body line for the responsiveness probe\n"
    body = line * (size // len(line) + 1)
    text = (f"From: sender@example.jp\nTo: kolvy@example.jp\nSubject: probe {i}\n"
            f"Date: Mon, 07 Dec 2026 10:00:00 +0900\nMessage-ID: <probe{i}@example.jp>\n\n{body}")
    with open(os.path.join(folder, "cur", f"{1700000000 + i}.probe{i}:2,"), "w") as f:
        f.write(text)
PY
chown -R mail:mail "$maildir"

home=$work/KolvyHome
mkdir -p "$home"
cp "$build/shell/Kolvy.exe" "$home/"
"$root/bench/bench_ini.py" "$home/Kolvy.ini" "$port" "$user" "$password" <<'INI'
MailAddress=kolvy@example.jp
[100]
TagNo=0
OrderName=bench
SelectPain=1
[Option]
SinchakuDlg=0
SinchakuSound=0
TimeOut=60000
INI
"$root/tests/harness/wine-session" start "$build" >/dev/null
# The same window idle, probed the same way: what the machine's load alone costs.
read -r idle _ _ < <("$root/tests/harness/wine-run" "$build" \
  "$build/shell/receive_probe.exe" "Z:${home//\//\\}" 0 2>/dev/null | tr -d '\r')
read -r gap stored seconds < <("$root/tests/harness/wine-run" "$build" \
  "$build/shell/receive_probe.exe" "Z:${home//\//\\}" "$count" 2>"$work/probe.err" | tr -d '\r')
[[ $stored -ge $count ]] || { echo "receive_window.sh: only $stored of $count stored" >&2; exit 1; }
ratio=$(python3 -c "print(f'{100 / max(float(\"$gap\"), 1):.2f}')")
echo "BENCH receive_responsiveness kolvy=${gap}ms peer=100ms ratio=${ratio}"
echo "  ($stored messages in ${seconds} s; $(grep -a "largest gap" "$work/probe.err" | tr -d "\r"); idle window ${idle}ms)" >&2
