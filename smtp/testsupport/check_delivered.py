#!/usr/bin/python3
"""Reads a delivered message with independent readers and compares it with what the draft said.

usage: check_delivered.py MESSAGE EXPECT_JSON
EXPECT_JSON: {"subject", "from", "to": [...], "cc": [...], "body", "attachments": [[name, path]]}
Python's email package reads the headers, the body (ISO-2022-JP) and the attachments; nkf reads
the body's ISO-2022-JP bytes on its own. Exit 0 when all agree, 1 with the differences printed.
"""
import email
import email.policy
import json
import subprocess
import sys

raw = open(sys.argv[1], "rb").read()
want = json.load(open(sys.argv[2], encoding="utf-8"))
problems = []


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
