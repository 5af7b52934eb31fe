#!/usr/bin/python3
"""Kills `kolvytool send` at random moments while it sends to aiosmtpd, then checks the store and
lets later runs finish: every message arrives, the store stays sound after every kill, and no
more messages arrive twice than there were kills (at most the one in flight each time).

usage: kill_test.py KOLVYTOOL SMTP_SERVERS_DIR [MESSAGES] [KILLS]
"""
import base64
import email
import email.policy
import os
import random
import subprocess
import sys
import tempfile
import time

tool, servers = sys.argv[1], sys.argv[2]
messages = int(sys.argv[3]) if len(sys.argv) > 3 else 30
kills = int(sys.argv[4]) if len(sys.argv) > 4 else 6
conf = dict(l.rstrip("\n").split("=", 1) for l in open(os.path.join(servers, "servers.txt")))
mail = conf["aiosmtpd_mail"]
random.seed(int(os.environ.get("KOLVY_KILL_SEED", time.time())))


def run(*args):
    return subprocess.run([tool, *args], capture_output=True, text=True)


def fail(text):
    print("FAIL:", text)
    sys.exit(1)


with tempfile.TemporaryDirectory() as tmp:
    home = os.path.join(tmp, "home")
    if run("check", home).returncode != 0:
        fail("the program folder could not be made")
    ini = os.path.join(home, "Kolvy.ini")
    text = open(ini, "rb").read().decode("cp932")
    secret = base64.b64encode(bytes(~b & 0xFF for b in b"x")).decode()
    text = text.replace("[TagList]\r\n", "[TagList]\r\nTagAcount=home\r\n", 1)
    text += ("[home]\r\nTagNo=0\r\nSMTPServer=127.0.0.1\r\nSMTPPort=%s\r\n"
             "MailAddress=me@example.jp\r\nUserID=u\r\nPassword=%s\r\n[Option]\r\nTimeOut=10000\r\n"
             % (conf["aiosmtpd"], secret))
    open(ini, "wb").write(text.encode("cp932"))
    for i in range(messages):
        draft = os.path.join(tmp, "d%03d.txt" % i)
        body = "line of message %d\n" % i * (1 + i % 50)
        open(draft, "w").write("From: me@example.jp\nTo: k%d@x.jp\nSubject: kill-%03d\n\n%s"
                               % (i, i, body))
        r = run("draft", home, draft)
        if r.returncode != 0:
            fail("draft %d: %s" % (i, r.stderr))
    before = set(os.listdir(mail))

    for k in range(kills):
        p = subprocess.Popen([tool, "send", home], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        time.sleep(random.uniform(0.05, 1.5))
        p.kill()
        p.wait()
        r = run("check", home)
        if r.returncode != 0:
            fail("store not sound after kill %d:\n%s%s" % (k, r.stdout, r.stderr))
    during = len([n for n in set(os.listdir(mail)) - before if n.endswith(".eml")])
    r = run("send", home)
    if r.returncode != 0:
        fail("the run after the kills: %s %s" % (r.stdout, r.stderr))
    r2 = run("send", home)
    if r2.stdout != "sent 0\n" or r2.returncode != 0:
        fail("a third run still sent: %r" % r2.stdout)

    counts = {}
    for name in set(os.listdir(mail)) - before:
        if not name.endswith(".eml"):
            continue
        msg = email.message_from_bytes(open(os.path.join(mail, name), "rb").read(),
                                       policy=email.policy.default)
        counts[str(msg["Subject"])] = counts.get(str(msg["Subject"]), 0) + 1
    missing = [i for i in range(messages) if "kill-%03d" % i not in counts]
    twice = sum(c - 1 for c in counts.values())
    if missing:
        fail("never delivered: %s" % missing)
    if twice > kills:
        fail("%d duplicate deliveries after %d kills" % (twice, kills))
    print("ok: %d messages, %d kills (%d delivered while killed), %d delivered twice"
          % (messages, kills, during, twice))
