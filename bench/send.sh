#!/usr/bin/env bash
# send.sh ROOT: sending 1,000 waiting messages (mixed sizes, one in ten with an attachment) to a
# local aiosmtpd sink in one run of kolvytool send, against Python's smtplib sending the same
# encoded messages (as the sink received them from Kolvy) over one connection (the peer).
set -euo pipefail
root=$1
tool=$root/build/bench/tools/kolvytool/kolvytool
[[ -x $tool ]] || { echo "send.sh: $tool is not built" >&2; exit 1; }
count=${KOLVY_BENCH_MESSAGES:-1000}
work=$(mktemp -d /tmp/kolvy-send-bench.XXXXXX)
chmod 755 "$work"
servers=$work/servers
cleanup() { "$root/smtp/testsupport/smtp-servers" stop "$servers" || true; rm -rf "$work"; }
trap cleanup EXIT
"$root/smtp/testsupport/smtp-servers" start "$servers" >/dev/null
port=$(sed -n 's/^aiosmtpd=//p' "$servers/servers.txt")
mail=$(sed -n 's/^aiosmtpd_mail=//p' "$servers/servers.txt")

home=$work/KolvyHome
"$tool" check "$home" >/dev/null
python3 - "$home/Kolvy.ini" "$port" <<'PY'
import sys
path, port = sys.argv[1:]
text = open(path, "rb").read().decode("cp932")
text = text.replace("[TagList]\r\n", "[TagList]\r\nTagAcount=bench\r\n", 1)
text += ("[bench]\r\nTagNo=0\r\nSMTPServer=127.0.0.1\r\nSMTPPort=%s\r\n"
         "MailAddress=me@example.jp\r\nUserID=u\r\n" % port)
open(path, "wb").write(text.encode("cp932"))
PY

# The drafts: mostly short Japanese texts, some longer ones, one in ten with a 20 KB attachment.
python3 - "$work/drafts" "$count" <<'PY'
import os, random, sys
folder, count = sys.argv[1], int(sys.argv[2])
os.makedirs(folder)
rnd = random.Random(7)
line = "送信の速さを測るための本文です。.行頭の点も含めます。\n"
open(os.path.join(folder, "data.bin"), "wb").write(rnd.randbytes(20000))
for i in range(count):
    r = rnd.random()
    size = 600 if r < 0.6 else 6000 if r < 0.9 else 60000
    body = "".join(("." if k % 7 == 0 else "") + line for k in range(size // 80 + 1))
    open(os.path.join(folder, "%04d.txt" % i), "w").write(
        "From: 送信者 <me@example.jp>\nTo: 宛先 <you%d@example.jp>\nSubject: 測定 %d\n\n%s"
        % (i, i, body))
PY
for ((i = 0; i < count; i++)); do
  f=$(printf '%s/drafts/%04d.txt' "$work" "$i")
  if ((i % 10 == 0)); then
    "$tool" draft "$home" "$f" --attach "$work/drafts/data.bin" >/dev/null
  else
    "$tool" draft "$home" "$f" >/dev/null
  fi
done

now() { date +%s.%N; }
elapsed() { python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$1" "$2"; }

t0=$(now)
out=$("$tool" send "$home")
t1=$(now)
[[ $out == "sent $count" ]] || { echo "send.sh: kolvytool said: $out" >&2; exit 1; }
kolvy=$(elapsed "$t0" "$t1")

# The peer sends exactly what the sink received from Kolvy, over one connection.
mkdir "$work/wire"
mv "$mail"/*.eml "$work/wire/"
peer=$(/usr/bin/python3 - "$work/wire" "$port" <<'PY'
import os, smtplib, sys, time
folder, port = sys.argv[1], int(sys.argv[2])
messages = [open(os.path.join(folder, n), "rb").read() for n in sorted(os.listdir(folder))]
t0 = time.time()
s = smtplib.SMTP("127.0.0.1", port)
s.helo("127.0.0.1")
for i, m in enumerate(messages):
    s.sendmail("me@example.jp", ["you%d@example.jp" % i], m)
s.quit()
print(time.time() - t0)
PY
)
python3 - "$kolvy" "$peer" "$count" <<'PY'
import sys
kolvy, peer, count = float(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
print("BENCH send_%s_messages_aiosmtpd kolvy=%.2fs peer=%.2fs ratio=%.2f"
      % (count, kolvy, peer, peer / kolvy))
PY
