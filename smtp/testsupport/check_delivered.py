#!/usr/bin/python3
"""Reads a delivered message with independent readers and compares it with what the draft said.

usage: check_delivered.py EXPECT_JSON MESSAGE
       check_delivered.py EXPECT_JSON --partial PIECE...
EXPECT_JSON: {"subject", "from", "to": [...], "cc": [...], "body", "attachments": [[name, path]]}
Python's email package reads the headers, the body (ISO-2022-JP) and the attachments; nkf reads
the body's ISO-2022-JP bytes on its own. With --partial the pieces (message/partial, RFC 2046) are joined by number first, and munpack
joins them on its own: the attachment it writes must equal the expected file too.
Exit 0 when all agree, 1 with the differences printed.
"""
import email
import email.policy
import json
import os
import re
import subprocess
import sys
import tempfile

want = json.load(open(sys.argv[1], encoding="utf-8"))
problems = []


def join_partial(paths):
    pieces = {}
    total = None
    ids = set()
    for path in paths:
        data = open(path, "rb").read()
        head, _, body = data.partition(b"\r\n\r\n")
        unfolded = re.sub(rb"\r\n[ \t]+", b" ", head).decode("ascii")
        # "total" is required on the last piece only (RFC 2046).
        m = re.search(r"message/partial;\s*number=(\d+);(?:\s*total=(\d+);)?\s*id=\"([^\"]+)\"",
                      unfolded)
        if not m:
            problems.append("%s is no message/partial piece" % path)
            continue
        pieces[int(m.group(1))] = body
        if m.group(2):
            total = int(m.group(2))
        ids.add(m.group(3))
    if len(ids) != 1 or total != len(pieces) or sorted(pieces) != list(range(1, len(pieces) + 1)):
        problems.append("pieces %s of %s, ids %s" % (sorted(pieces), total, ids))
    # Each piece body ends with the CR LF the sender adds after it.
    return b"".join(pieces[n][:-2] if pieces[n].endswith(b"\r\n") else pieces[n]
                    for n in sorted(pieces))


if sys.argv[2] == "--partial":
    raw = join_partial(sys.argv[3:])
    with tempfile.TemporaryDirectory() as out:
        for path in sys.argv[3:]:
            subprocess.run(["munpack", "-q", "-C", out, os.path.abspath(path)],
                           capture_output=True)
        for name, path in want.get("attachments", [])[:1]:
            got = os.path.join(out, name)
            if not os.path.exists(got) or open(got, "rb").read() != open(path, "rb").read():
                problems.append("munpack: %s missing or different (%s)" % (name, os.listdir(out)))
else:
    raw = open(sys.argv[2], "rb").read()


def same(what, got, expected):
    if got != expected:
        problems.append("%s: got %r, want %r" % (what, got, expected))


for i, b in enumerate(raw):
    if b >= 0x80:
        problems.append("8-bit byte 0x%02x at %d" % (b, i))
        break
msg = email.message_from_bytes(raw, policy=email.policy.default)
same("Subject", str(msg["Subject"]), want["subject"])
same("From", [a.addr_spec for a in msg["From"].addresses], [want["from"]])
same("To", [a.addr_spec for a in msg["To"].addresses], want["to"])
if want.get("cc"):
    same("Cc", [a.addr_spec for a in msg["Cc"].addresses], want["cc"])
same("Bcc present", msg["Bcc"] is None, True)
same("Message-ID", msg["Message-ID"] is not None, True)

body_part = msg.get_body(preferencelist=("plain",))
text = body_part.get_content().replace("\r\n", "\n")
same("body", text.rstrip("\n"), want["body"].rstrip("\n"))
payload = body_part.get_payload(decode=True)
nkf = subprocess.run(["nkf", "-w", "-Lu"], input=payload, capture_output=True).stdout
same("body (nkf)", nkf.decode("utf-8").rstrip("\n"), want["body"].rstrip("\n"))

got_attachments = [(p.get_filename(), p.get_payload(decode=True)) for p in msg.iter_attachments()]
expected = [(name, open(path, "rb").read()) for name, path in want.get("attachments", [])]
same("attachment names", [n for n, _ in got_attachments], [n for n, _ in expected])
for (name, data), (_, wanted) in zip(got_attachments, expected):
    same("attachment " + name, data == wanted, True)

if problems:
    print("\n".join(problems))
    sys.exit(1)
