#!/usr/bin/env bash
# kolvytool import of 10,000 generated messages (mixed sizes, one in five with an attachment) into
# an empty program folder, against
#   import_vs_python_email  a Python peer that parses each message with the email package,
#                           decodes its text parts and writes one file per message;
#   import_vs_raw_write     the limit: each message's raw bytes written to a file of its own,
#                           one sync at the end, as the import commits (no decoding at all).
# Also prints the import's peak memory. The input is generated in the run and removed after it.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
count=${KOLVY_IMPORT_COUNT:-10000}
build="$root/build/bench"
[[ -f $build/build.ninja ]] || "$root/scripts/build" bench >/dev/null
ninja -C "$build" kolvytool >/dev/null
tool=$(find "$build" -type f -name kolvytool -perm -u+x | head -n 1)
work=$(mktemp -d "${TMPDIR:-/tmp}/kolvy-import-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$work/in" "$count" <<'PY'
import base64, os, random, sys
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.header import Header
out, count = sys.argv[1], int(sys.argv[2])
os.makedirs(out)
rng = random.Random(7)
line = "来週の打ち合わせについてご連絡します。資料は添付のとおりです。\n"
for i in range(count):
    body = line * rng.choice([2, 5, 20, 60, 200])
    text = MIMEText(body, "plain", "iso-2022-jp" if i % 2 else "utf-8")
    if i % 5 == 0:
        m = MIMEMultipart()
        m.attach(text)
        data = rng.randbytes(rng.choice([2000, 20000, 100000]))
        a = MIMEApplication(data)
        a.add_header("Content-Disposition", "attachment", filename=("utf-8", "", f"資料{i}.bin"))
        m.attach(a)
    else:
        m = text
    m["From"] = Header("山田 太郎", "iso-2022-jp").encode() + f" <taro{i % 50}@example.jp>"
    m["To"] = "me@example.jp"
    m["Subject"] = Header(f"打ち合わせ {i}", "iso-2022-jp").encode()
    m["Date"] = "Mon, 07 Dec 2026 10:00:00 +0900"
    raw = m.as_bytes().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    with open(os.path.join(out, f"{i:05d}.eml"), "wb") as f:
        f.write(raw)
PY

now() { date +%s.%N; }

# Kolvy: one run over all the files, peak memory from GNU time.
mkdir -p "$work/kolvy"
t0=$(now)
/usr/bin/time -v -o "$work/time.txt" "$tool" import "$work/kolvy/home" "$work"/in/*.eml >"$work/import.out"
t1=$(now)
kolvy=$(echo "$t1 - $t0" | bc -l)
stored=$(sed -n 's/^stored \([0-9]*\), failed \([0-9]*\)$/\1 \2/p' "$work/import.out")
peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")

# Peer (a): Python's email package, decoding the text parts, one file per message.
t0=$(now)
python3 - "$work/in" "$work/python" <<'PY'
import email, email.policy, os, sys
src, dst = sys.argv[1], sys.argv[2]
os.makedirs(dst)
for name in sorted(os.listdir(src)):
    with open(os.path.join(src, name), "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    texts = []
    for part in msg.walk():
        if part.get_content_maintype() == "text" and not part.get_filename():
            texts.append(part.get_content())
    with open(os.path.join(dst, name + ".txt"), "w", encoding="utf-8") as f:
        f.write(str(msg["Subject"]) + "\n" + "".join(texts))
PY
t1=$(now)
python=$(echo "$t1 - $t0" | bc -l)

# Peer (b): the raw bytes of each message to a file of its own, one sync at the end.
t0=$(now)
python3 - "$work/in" "$work/raw" <<'PY'
import os, sys
src, dst = sys.argv[1], sys.argv[2]
os.makedirs(dst)
for name in sorted(os.listdir(src)):
    with open(os.path.join(src, name), "rb") as f:
        data = f.read()
    fd = os.open(os.path.join(dst, name), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    os.write(fd, data)
    os.close(fd)
os.sync()
PY
t1=$(now)
raw=$(echo "$t1 - $t0" | bc -l)

rate() { echo "$count / $1" | bc -l; }
k=$(rate "$kolvy"); p=$(rate "$python"); r=$(rate "$raw")
printf 'BENCH import_vs_python_email kolvy=%.1fmsg/s peer=%.1fmsg/s ratio=%.3f\n' "$k" "$p" \
  "$(echo "$k / $p" | bc -l)"
printf 'BENCH import_vs_raw_write kolvy=%.1fmsg/s peer=%.1fmsg/s ratio=%.3f\n' "$k" "$r" \
  "$(echo "$k / $r" | bc -l)"
echo "import: stored/failed ${stored:-?}, peak memory ${peak:-?} kB"
