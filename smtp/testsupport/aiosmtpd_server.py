#!/usr/bin/python3
"""SMTP test server on loopback: one aiosmtpd process serving a plain port (STARTTLS offered,
AUTH PLAIN, LOGIN and CRAM-MD5 allowed without TLS) and an implicit-TLS port. Every accepted
message is written to OUT/<n>.eml (the bytes after DATA, unstuffed) with OUT/<n>.rcpt (the
envelope). Injected faults: a sender or recipient whose local part starts with "refuse" gets
550; a recipient starting with "slow" delays the end-of-data reply by SLOW seconds.

usage: aiosmtpd_server.py OUT PLAIN_PORT TLS_PORT CERT KEY USER PASSWORD SLOW
"""
import asyncio
import hmac
import os
import signal
import ssl
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword, MISSING

out, plain_port, tls_port, cert, key, user, password, slow = sys.argv[1:9]
os.makedirs(out, exist_ok=True)
lock = threading.Lock()
counter = [0]


class Handler:
    async def handle_MAIL(self, server, session, envelope, address, options):
        if address.split("@")[0].startswith("refuse"):
            return "550 5.7.1 sender refused"
        envelope.mail_from = address
        envelope.mail_options.extend(options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        if address.split("@")[0].startswith("refuse"):
            return "550 5.1.1 no such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if any(r.startswith("slow") for r in envelope.rcpt_tos):
            await asyncio.sleep(float(slow))
        with lock:
            counter[0] += 1
            n = counter[0]
        base = os.path.join(out, "%05d" % n)
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".rcpt", "w") as f:
            f.write(envelope.mail_from + "\n" + "\n".join(envelope.rcpt_tos) + "\n")
        os.rename(base + ".tmp", base + ".eml")
        return "250 2.0.0 queued as %d" % n

    async def auth_CRAM__MD5(self, server, args):
        challenge = ("<%d.%d@kolvy.test>" % (os.getpid(), time.time_ns())).encode()
        answer = await server.challenge_auth(challenge)
        if answer is MISSING:
            return AuthResult(success=False, handled=True)
        name, _, digest = answer.decode("ascii", "replace").partition(" ")
        want = hmac.new(password.encode(), challenge, "md5").hexdigest()
        ok = name == user and hmac.compare_digest(digest, want)
        return AuthResult(success=ok, handled=False, auth_data=name)


def authenticator(server, session, envelope, mechanism, auth_data):
    if isinstance(auth_data, LoginPassword):
        ok = auth_data.login.decode() == user and auth_data.password.decode() == password
        return AuthResult(success=ok)
    return AuthResult(success=False, handled=False)


context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
context.load_cert_chain(cert, key)
common = dict(handler=Handler(), hostname="127.0.0.1", authenticator=authenticator,
              auth_require_tls=False, data_size_limit=100_000_000)
plain = Controller(port=int(plain_port), tls_context=context, require_starttls=False,
                   server_hostname="kolvy.test", **common)
tls = Controller(port=int(tls_port), ssl_context=context, server_hostname="kolvy.test", **common)
plain.start()
tls.start()
stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *_: stop.set())
signal.signal(signal.SIGINT, lambda *_: stop.set())
with open(os.path.join(out, "..", "aiosmtpd.ready"), "w") as f:
    f.write("ready\n")
stop.wait()
plain.stop()
tls.stop()
