#!/usr/bin/env python3
"""Composed messages read back by independent readers, without a server.

Drafts are written in Shift_JIS, composed by smtp_compose_dump, and the wire text is read by
Python's email package (subject, addresses, body text, attachment names and bytes), nkf (the
ISO-2022-JP body) and munpack (message/partial pieces joined back to the attachments). Pieces and
messages are stored with LF line ends before munpack reads them, as a local delivery agent stores
them in a mailbox.

usage: readers_test.py <smtp_compose_dump>
"""
import email
import email.policy
import os
import random
import re
import subprocess
import sys
import tempfile
import unicodedata

DUMP = sys.argv[1]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def half_to_full(text):
    # The composer sends half-width katakana (with their voicing marks) as full-width forms.
    return re.sub("[\uff61-\uff9f]+", lambda m: unicodedata.normalize("NFKC", m.group(0)), text)


SUBJECT = "来週の会議の資料についてのご連絡（第３回）とお願い"
BODY = ("山田様\n\nいつもお世話になっております。\n.ピリオドで始まる行\n"
        "ﾊﾝｶｸｶﾀｶﾅとｶﾞｷﾞｸﾞ、ﾊﾟﾋﾟ\nASCII line with @ and = signs\n" +
        "長い本文の行です。" * 20 + "\n以上、よろしくお願いします。\n")
HEADER = ("From: 山田 太郎 <me@example.jp>\n"
          "To: 鈴木 花子 <hanako@example.jp>, jiro@example.jp\n"
          "Cc: \"ext@home\" <cc1@example.jp>\n"
          "Bcc: hidden@example.jp\n"
          f"Subject: {SUBJECT}\n"
          "X-Note: ﾒﾓ\n")


def write_draft(folder, header, body):
    text = "\f st=1.0.0.0 dt=0000000000 at=not               \n" + header + "\n" + body
    path = os.path.join(folder, "0001.txt")
    with open(path, "wb") as f:
        f.write(text.replace("\n", "\r\n").encode("cp932"))
    return path


def run_dump(folder, draft, *extra):
    out = os.path.join(folder, "out")
    os.makedirs(out, exist_ok=True)
    subprocess.run([DUMP, draft, out, *extra], check=True, stdout=subprocess.DEVNULL)
    return out


def read(path):
    with open(path, "rb") as f:
        return f.read()


def text_lines(text):
    return [line.rstrip() for line in text.replace("\r\n", "\n").strip("\n").split("\n")]


def check_headers(msg, label):
    check(str(msg["Subject"]) == SUBJECT, f"{label}: subject {msg['Subject']!r}")
    frm = msg["From"].addresses[0]
    check((frm.display_name, frm.addr_spec) == ("山田 太郎", "me@example.jp"),
          f"{label}: from {frm}")
    to = [(a.display_name, a.addr_spec) for a in msg["To"].addresses]
    check(to == [("鈴木 花子", "hanako@example.jp"), ("", "jiro@example.jp")], f"{label}: to {to}")
    cc = [a.addr_spec for a in msg["Cc"].addresses]
    check(cc == ["cc1@example.jp"], f"{label}: cc {cc}")
    check(msg["Bcc"] is None, f"{label}: Bcc sent")
    check(str(msg["X-Note"]) == "メモ", f"{label}: X-Note {msg['X-Note']!r}")
    check(len(msg.get_all("Message-ID")) == 1, f"{label}: one Message-ID")


def check_seven_bit(wire, label):
    check(all(b < 0x80 for b in wire), f"{label}: 8-bit byte on the wire")
    check(b"\n" not in wire.replace(b"\r\n", b""), f"{label}: bare LF")


def nkf_text(jis_bytes):
    return subprocess.run(["nkf", "-J", "-w", "-Lu"], input=jis_bytes, check=True,
                          capture_output=True).stdout.decode("utf-8")


def single_part(tmp):
    folder = os.path.join(tmp, "single")
    os.makedirs(folder)
    out = run_dump(folder, write_draft(folder, HEADER, BODY))
    wire = read(os.path.join(out, "wire.eml"))
    check_seven_bit(wire, "single")
    msg = email.message_from_bytes(wire, policy=email.policy.default)
    check_headers(msg, "single")
    check(msg.get_content_type() == "text/plain", "single: type")
    check(msg.get_content_charset() == "iso-2022-jp", "single: charset")
    want = text_lines(half_to_full(BODY))
    check(text_lines(msg.get_content()) == want, "single: email body text")
    body = wire[wire.index(b"\r\n\r\n") + 4:]
    check(text_lines(nkf_text(body)) == want, "single: nkf body text")
    # nkf's own MIME header decoding reads the encoded words the same way.
    head = subprocess.run(["nkf", "-w", "-m", "-Lu"], input=wire[:wire.index(b"\r\n\r\n")],
                          check=True, capture_output=True).stdout.decode("utf-8").split("\n")
    check(f"Subject: {SUBJECT}" in head, f"single: nkf subject {head}")
    check("From: 山田 太郎 <me@example.jp>" in head, "single: nkf from")
    check("To: 鈴木 花子 <hanako@example.jp>, jiro@example.jp" in head, "single: nkf to")
    guess = subprocess.run(["nkf", "--guess"], input=body, capture_output=True).stdout
    check(guess.startswith(b"ISO-2022-JP"), f"single: nkf guess {guess!r}")
    rcpt = read(os.path.join(out, "recipients.txt")).decode().split()
    check(rcpt == ["hanako@example.jp", "jiro@example.jp", "cc1@example.jp",
                   "hidden@example.jp"], f"single: recipients {rcpt}")
    return folder


def make_attachments(folder):
    att = os.path.join(folder, "att")
    os.makedirs(att)
    rng = random.Random(16)
    files = {
        "資料.txt": "会議の資料です。\r\n第２版\r\n".encode("cp932"),
        "data.bin": rng.randbytes(200_000),
        "photo.JPG": rng.randbytes(3_001),
        "empty.dat": b"",
    }
    for name, data in files.items():
        with open(os.path.join(att, name), "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(att, "folder"))
    with open(os.path.join(att, ".hidden"), "wb") as f:
        f.write(b"not an attachment")
    return att, files


def multipart(tmp):
    folder = os.path.join(tmp, "multi")
    os.makedirs(folder)
    att, files = make_attachments(folder)
    out = run_dump(folder, write_draft(folder, HEADER, BODY), "--attach", att, "--partial",
                   "3000")
    wire = read(os.path.join(out, "wire.eml"))
    check_seven_bit(wire, "multipart")
    msg = email.message_from_bytes(wire, policy=email.policy.default)
    check_headers(msg, "multipart")
    check(not msg.defects, f"multipart: defects {msg.defects}")
    text = msg.get_body(preferencelist=("plain",))
    check(text_lines(text.get_content()) == text_lines(half_to_full(BODY)),
          "multipart: body text")
    got = {p.get_filename(): p.get_payload(decode=True) for p in msg.iter_attachments()}
    check(set(got) == set(files), f"multipart: attachment names {sorted(got)}")
    for name, data in files.items():
        check(got.get(name) == data, f"multipart: bytes of {name}")
    types = {p.get_filename(): p.get_content_type() for p in msg.iter_attachments()}
    check(types.get("資料.txt") == "text/plain" and types.get("photo.JPG") ==
          "application/octet-stream", f"multipart: types {types}")
    check_partial(out, wire, files)


def check_partial(out, wire, files):
    pieces = sorted(p for p in os.listdir(out) if p.startswith("piece-"))
    check(len(pieces) > 10, f"partial: {len(pieces)} pieces")
    # Joined by their numbers (RFC 2046), the piece bodies are the whole message.
    bodies, ids, totals = {}, set(), []
    for p in pieces:
        raw = read(os.path.join(out, p))
        check_seven_bit(raw, p)
        m = email.message_from_bytes(raw, policy=email.policy.compat32)
        check(m.get_content_type() == "message/partial", f"{p}: type")
        ids.add(m.get_param("id"))
        if m.get_param("total"):
            totals.append(int(m.get_param("total")))
        bodies[int(m.get_param("number"))] = raw[raw.index(b"\r\n\r\n") + 4:]
        check(m["Subject"].endswith(f" [{int(m.get_param('number'))}/{len(pieces)}]"),
              f"{p}: subject suffix")
    check(len(ids) == 1, f"partial: ids {ids}")
    check(totals == [len(pieces)], f"partial: totals {totals}")
    joined = b"".join(bodies[n] for n in sorted(bodies))
    check(joined == wire, "partial: joined pieces differ from the message")
    # munpack on the pieces as a mailbox stores them.
    mp = os.path.join(out, "munpack")
    os.makedirs(os.path.join(mp, "tmp"))
    lf = []
    for p in pieces:
        path = os.path.join(mp, p)
        with open(path, "wb") as f:
            f.write(read(os.path.join(out, p)).replace(b"\r\n", b"\n"))
        lf.append(path)
    env = dict(os.environ, TMPDIR=os.path.join(mp, "tmp"))
    res = subprocess.run(["munpack", "-q", "-C", mp, *lf], env=env, capture_output=True)
    check(res.returncode == 0, f"munpack: {res.stderr!r}")
    saved = {name: read(os.path.join(mp, name)) for name in os.listdir(mp)
             if os.path.isfile(os.path.join(mp, name)) and not name.startswith("piece-")}
    for name, data in files.items():
        if not data:
            continue  # munpack writes nothing for an empty part
        found = [n for n, d in saved.items() if d == data or d == data.replace(b"\r\n", b"\n")]
        check(found, f"munpack: {name} not reassembled (saved {sorted(saved)})")


def body_split(tmp):
    folder = os.path.join(tmp, "bodysplit")
    os.makedirs(folder)
    draft = write_draft(folder, HEADER, BODY)
    want = half_to_full(BODY).replace("\n", "\r\n")
    for mode in ("--body-jis", "--body-sjis"):
        out = run_dump(folder, draft, mode, "61")
        pieces = sorted(p for p in os.listdir(out) if p.startswith("piece-"))
        check(len(pieces) > 3, f"{mode}: {len(pieces)} pieces")
        text, ids = "", set()
        for n, p in enumerate(pieces, 1):
            raw = read(os.path.join(out, p))
            check_seven_bit(raw, f"{mode} {p}")
            m = email.message_from_bytes(raw, policy=email.policy.default)
            check(str(m["Subject"]) == f"{SUBJECT} [{n}/{len(pieces)}]", f"{mode}: subject {n}")
            ids.add(str(m["Message-ID"]))
            body = raw[raw.index(b"\r\n\r\n") + 4:]
            part = nkf_text(body[:-2]) if body.endswith(b"\r\n") else nkf_text(body)
            text += part
            check(m.get_content_charset() == "iso-2022-jp", f"{mode}: charset of piece {n}")
        check(len(ids) == len(pieces), f"{mode}: Message-IDs repeat")
        check(text.replace("\r\n", "\n") == want.replace("\r\n", "\n"), f"{mode}: joined text")
        for p in pieces:
            os.remove(os.path.join(out, p))


def resent(tmp):
    folder = os.path.join(tmp, "resent")
    os.makedirs(folder)
    header = ("From: 山田 太郎 <me@example.jp>\nTo: orig@example.jp\nSubject: 転送\n"
              "Resent-To: 転送先 <r1@example.jp>\nResent-Cc: r2@example.jp\n"
              "Resent-From: me@example.jp\nMessage-ID: <original@example.jp>\n")
    out = run_dump(folder, write_draft(folder, header, "転送します。\n"))
    wire = read(os.path.join(out, "wire.eml"))
    check_seven_bit(wire, "resent")
    msg = email.message_from_bytes(wire, policy=email.policy.default)
    check(str(msg["Message-ID"]) == "<original@example.jp>", "resent: own Message-ID kept")
    check(len(msg.get_all("Resent-Message-ID")) == 1, "resent: one Resent-Message-ID")
    check(msg["X-Mailer"] is None and msg["Resent-X-Mailer"], "resent: mailer lines")
    check([a.addr_spec for a in msg["Resent-To"].addresses] == ["r1@example.jp"], "resent: to")
    check(text_lines(msg.get_content()) == ["転送します。"], "resent: body")
    rcpt = read(os.path.join(out, "recipients.txt")).decode().split()
    check(rcpt == ["r1@example.jp", "r2@example.jp"], f"resent: recipients {rcpt}")


def main():
    with tempfile.TemporaryDirectory(prefix="kolvy-readers-") as tmp:
        single_part(tmp)
        multipart(tmp)
        body_split(tmp)
        resent(tmp)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all readers agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
