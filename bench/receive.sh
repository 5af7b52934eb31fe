#!/usr/bin/env bash
# receive.sh ROOT: receiving 1,000 messages of mixed sizes from a local dovecot over plain POP3,
# with kolvytool receive into an empty program folder, against
#   receive_N_vs_fetchmail_null     fetchmail delivering to nothing;
#   receive_N_vs_fetchmail_lda      fetchmail delivering through dovecot-lda into a maildir, each
#                                   message synced to the disk as that MDA does;
#   receive_N_vs_poplib_sync_once   the limit of wire and disk: a bare poplib RETR loop writing one
#                                   file per message and syncing once at the end.
# Every run leaves the mail on the server, so all of them fetch the same box.
set -euo pipefail
root=$1
tool=$root/build/bench/tools/kolvytool/kolvytool
[[ -x $tool ]] || { echo "receive.sh: $tool is not built" >&2; exit 1; }
count=${KOLVY_BENCH_MESSAGES:-1000}
work=$(mktemp -d /tmp/kolvy-receive-bench.XXXXXX)
chmod 755 "$work"  # the servers run as their own users
servers=$work/servers
cleanup() { "$root/pop/testsupport/pop-servers" stop "$servers" || true; rm -rf "$work"; }
trap cleanup EXIT
"$root/pop/testsupport/pop-servers" start "$servers" >/dev/null
port=$(sed -n 's/^dovecot_pop3=//p' "$servers/servers.txt")
user=$(sed -n 's/^user=//p' "$servers/servers.txt")
password=$(sed -n 's/^password=//p' "$servers/servers.txt")
maildir=$(sed -n 's/^dovecot_maildir=//p' "$servers/servers.txt")
[[ -n $port && -n $user && -d $maildir ]] || { echo "receive.sh: no dovecot" >&2; exit 1; }

# The mailbox: mostly short Japanese texts, some longer ones, one in ten with a Base64
# attachment, a few large; lines starting with "." on the way.
python3 - "$maildir" "$count" <<'PY'
import base64, os, random, sys
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.mime.application import MIMEApplication
from email.header import Header
folder, count = sys.argv[1], int(sys.argv[2])
rnd = random.Random(7)
line = "受信の速さを測るための本文です。.行頭の点も含めます。\n"
for i in range(count):
    r = rnd.random()
    size = 600 if r < 0.6 else 6000 if r < 0.9 else 60000
    body = "".join(("." if k % 7 == 0 else "") + line for k in range(size // 80 + 1))
    text = MIMEText(body, "plain", "iso-2022-jp")
    if i % 10 == 0:
        msg = MIMEMultipart()
        msg.attach(text)
        blob = rnd.randbytes(20000 if i % 100 else 400000)
        msg.attach(MIMEApplication(blob, Name=f"data{i}.bin"))
    else:
        msg = text
    msg["From"] = str(Header("送信者", "iso-2022-jp")) + " <sender@example.jp>"
    msg["To"] = "kolvy@example.jp"
    msg["Subject"] = str(Header(f"測定 {i}", "iso-2022-jp"))
    msg["Date"] = "Mon, 07 Dec 2026 10:00:00 +0900"
    msg["Message-ID"] = f"<bench{i}@example.jp>"
    data = msg.as_bytes().replace(b"\r\n", b"\n")
    with open(os.path.join(folder, "cur", f"{1700000000 + i}.bench{i}:2,"), "wb") as f:
        f.write(data)
PY
chown -R mail:mail "$maildir"
mailbytes=$(du -sb "$maildir/cur" | cut -f1)

now() { date +%s.%N; }
elapsed() { python3 -c "import sys; print(float(sys.argv[2]) - float(sys.argv[1]))" "$1" "$2"; }

# Kolvy: one account and one order that leaves the mail on the server.
home=$work/KolvyHome
mkdir -p "$home"
"$root/bench/bench_ini.py" "$home/Kolvy.ini" "$port" "$user" "$password" <<'INI'
APOP=0
RecvSSL=0
[100]
TagNo=0
SelectForA=0
OrderName=bench
Nokosu=1
INI
t0=$(now)
/usr/bin/time -v -o "$work/time.txt" "$tool" receive "$home" bench >"$work/kolvy.out"
t1=$(now)
kolvy=$(elapsed "$t0" "$t1")
peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
stored=$(find "$home/MailData" -name '[0-9][0-9][0-9][0-9].txt' | wc -l)
if [[ $stored -ne $count ]]; then
  echo "receive.sh: kolvytool stored $stored of $count messages" >&2
  cat "$work/kolvy.out" >&2
  exit 1
fi

# fetchmail: the same box, every message, kept on the server, delivered to nothing.
cat >"$work/fetchmailrc" <<RC
poll 127.0.0.1 service $port protocol pop3 auth password
  user "$user" password "$password" keep fetchall sslproto ''
RC
chmod 600 "$work/fetchmailrc"
t0=$(now)
HOME=$work fetchmail -f "$work/fetchmailrc" --idfile "$work/fetchids" --bsmtp /dev/null \
  --nosoftbounce --silent >/dev/null 2>"$work/fetchmail.err" || {
  echo "receive.sh: fetchmail failed (status $?)" >&2; cat "$work/fetchmail.err" >&2; exit 1
}
t1=$(now)
fetchmail_time=$(elapsed "$t0" "$t1")

# fetchmail through a syncing MDA: dovecot-lda writes a maildir and syncs each message.
lda=$work/lda
mkdir -p "$lda/home" "$lda/run"
cat >"$lda/lda.conf" <<CONF
mail_location = maildir:$lda/home/Maildir
ssl = no
base_dir = $lda/run
log_path = $lda/lda.log
CONF
cat >"$lda/fetchmailrc" <<RC
poll 127.0.0.1 service $port protocol pop3 auth password
  user "$user" password "$password" keep fetchall sslproto ''
  mda "/usr/lib/dovecot/dovecot-lda -c $lda/lda.conf -e"
RC
chmod 600 "$lda/fetchmailrc"
as_user=()
if [[ $(id -u) -eq 0 ]]; then
  # dovecot-lda will not deliver as root without an auth server: the MDA runs as "mail".
  chown -R mail:mail "$lda"
  as_user=(runuser -u mail --)
fi
t0=$(now)
"${as_user[@]}" env HOME="$lda/home" fetchmail -f "$lda/fetchmailrc" --idfile "$lda/fetchids" \
  --nosoftbounce --silent >/dev/null 2>"$work/fetchmail-lda.err" || {
  echo "receive.sh: fetchmail with dovecot-lda failed (status $?)" >&2
  cat "$work/fetchmail-lda.err" "$lda/lda.log" >&2; exit 1
}
t1=$(now)
lda_time=$(elapsed "$t0" "$t1")
delivered=$(find "$lda/home/Maildir/new" "$lda/home/Maildir/cur" -type f | wc -l)
[[ $delivered -eq $count ]] || { echo "receive.sh: dovecot-lda delivered $delivered" >&2; exit 1; }

# The limit: RETR each message and write its bytes to a file of its own, one sync at the end.
mkdir -p "$work/raw"
t0=$(now)
python3 - "$port" "$user" "$password" "$work/raw" <<'PY'
import os, poplib, sys
port, user, password, folder = sys.argv[1:]
box = poplib.POP3("127.0.0.1", int(port), timeout=60)
box.user(user)
box.pass_(password)
n = len(box.list()[1])
for i in range(1, n + 1):
    _, lines, _ = box.retr(i)
    with open(os.path.join(folder, f"{i}.eml"), "wb") as f:
        f.write(b"\r\n".join(lines) + b"\r\n")
os.sync()
box.quit()
PY
t1=$(now)
raw=$(elapsed "$t0" "$t1")
[[ $(ls "$work/raw" | wc -l) -eq $count ]] || { echo "receive.sh: poplib loop fell short" >&2; exit 1; }

python3 - "$count" "$kolvy" "$fetchmail_time" "$lda_time" "$raw" "$peak" "$mailbytes" <<'PY'
import sys
n, kolvy, fetchmail, lda, raw, peak, mailbytes = sys.argv[1:]
n, kolvy, fetchmail, lda, raw = int(n), float(kolvy), float(fetchmail), float(lda), float(raw)
print(f"BENCH receive_{n}_vs_fetchmail_null kolvy={kolvy * 1000:.0f}ms peer={fetchmail * 1000:.0f}ms ratio={fetchmail / kolvy:.3f}")
print(f"BENCH receive_{n}_vs_fetchmail_lda kolvy={kolvy * 1000:.0f}ms peer={lda * 1000:.0f}ms ratio={lda / kolvy:.3f}")
print(f"BENCH receive_{n}_vs_poplib_sync_once kolvy={kolvy * 1000:.0f}ms peer={raw * 1000:.0f}ms ratio={raw / kolvy:.3f}")
print(f"receive: {n} messages, {int(mailbytes) / 1e6:.1f} MB in the mailbox, kolvytool peak memory {int(peak) / 1024:.1f} MiB")
PY
