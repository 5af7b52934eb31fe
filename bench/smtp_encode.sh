#!/usr/bin/env bash
# Encoding a draft with a 10 MB attachment to the wire form (smtp_compose_dump: read the draft and
# the attachment, compose, write the wire text), against
#   smtp_encode_vs_python_email  Python's email package building the same message (a Japanese
#                                subject and addresses, an ISO-2022-JP body, the attachment in
#                                Base64) and its generator writing it with CR LF line ends.
# Each side is one process, timed whole in CPU seconds (user + system, best of several runs: the
# machine is shared, wall time is not its own); peak memory from GNU time, with
# the ratio of Kolvy's peak to the attachment size (a 32-bit process must stay under 4x).
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
runs=${KOLVY_SMTP_BENCH_RUNS:-5}
mb=${KOLVY_SMTP_BENCH_MB:-10}
build="$root/build/bench"
[[ -f $build/build.ninja ]] || "$root/scripts/build" bench >/dev/null
ninja -C "$build" smtp_compose_dump >/dev/null
tool=$(find "$build" -type f -name smtp_compose_dump -perm -u+x | head -n 1)
work=$(mktemp -d "${TMPDIR:-/tmp}/kolvy-smtp-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$mb" <<'PY'
import os, random, sys
work, mb = sys.argv[1], int(sys.argv[2])
os.makedirs(os.path.join(work, "att"))
with open(os.path.join(work, "att", "report.bin"), "wb") as f:
    f.write(random.Random(5).randbytes(mb * 1000 * 1000))
body = "来週の打ち合わせについてご連絡します。資料は添付のとおりです。\n" * 40
draft = ("\f st=1.0.0.0 dt=0000000000 at=not               \n"
         "From: 山田 太郎 <me@example.jp>\nTo: 鈴木 花子 <hanako@example.jp>\n"
         "Subject: 打ち合わせ資料の送付\n\n" + body)
with open(os.path.join(work, "draft.txt"), "wb") as f:
    f.write(draft.replace("\n", "\r\n").encode("cp932"))
PY

cat >"$work/peer.py" <<'PY'
import sys
from email.headerregistry import Address
from email.message import EmailMessage
from email.policy import SMTP
draft, att, out = sys.argv[1:4]
with open(draft, "rb") as f:
    text = f.read().decode("cp932")
head, body = text.split("\r\n", 1)[1].split("\r\n\r\n", 1)
fields = dict(line.split(": ", 1) for line in head.split("\r\n"))
msg = EmailMessage(policy=SMTP)
msg["From"] = Address("山田 太郎", addr_spec="me@example.jp")
msg["To"] = Address("鈴木 花子", addr_spec="hanako@example.jp")
msg["Subject"] = fields["Subject"]
msg["Message-ID"] = "<KV17650000001.1.me@example.jp>"
msg.set_content(body, charset="iso-2022-jp", cte="7bit")
with open(att, "rb") as f:
    msg.add_attachment(f.read(), maintype="application", subtype="octet-stream",
                       filename="report.bin")
with open(out, "wb") as f:
    f.write(msg.as_bytes())
PY

# best CPU seconds and the largest peak RSS (kB) over $runs runs of "$@" (getrusage of the child:
# microseconds, where GNU time rounds to hundredths)
measure() {
  python3 - "$runs" "$@" <<'PY'
import resource, subprocess, sys
runs, cmd = int(sys.argv[1]), sys.argv[2:]
best, peak = None, 0
for _ in range(runs):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    best = cpu if best is None else min(best, cpu)
    peak = max(peak, after.ru_maxrss)  # the largest child so far: every run is alike
print(f"{best:.6f} {peak}")
PY
}

mkdir -p "$work/out"
read -r kt km < <(measure "$tool" "$work/draft.txt" "$work/out" --attach "$work/att")
read -r pt pm < <(measure python3 "$work/peer.py" "$work/draft.txt" "$work/att/report.bin" \
  "$work/peer.eml")
# Both wrote a message of about the same size: the comparison is fair.
ks=$(stat -c %s "$work/out/wire.eml")
ps=$(stat -c %s "$work/peer.eml")
att=$((mb * 1000 * 1000))
printf 'BENCH smtp_encode_vs_python_email kolvy=%.1fms peer=%.1fms ratio=%.2f\n' \
  "$(echo "$kt * 1000" | bc -l)" "$(echo "$pt * 1000" | bc -l)" \
  "$(echo "$pt / $kt" | bc -l)"
printf 'BENCH smtp_encode_peak_memory kolvy=%dkB peer=%dkB ratio=%.2f\n' "$km" "$pm" \
  "$(echo "$pm / $km" | bc -l)"
printf 'smtp encode: wire %d bytes (peer %d); Kolvy peak %.2f x the %d MB attachment\n' \
  "$ks" "$ps" "$(echo "$km * 1024 / $att" | bc -l)" "$mb"
