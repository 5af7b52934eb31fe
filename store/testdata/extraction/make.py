#!/usr/bin/env python3
"""Makes the extraction corpus: messages whose parts are easy to save wrongly (armoured
signatures, certificates, lines of dashes, Base64 padding, duplicate and missing names, inline
images by Content-ID, a long Japanese name), and beside each NAME.eml what Python's email package
decodes from it, NAME.parts: for every part the program saves, in order, a flag byte ("H" for an
HTML text whose references the program rewrites, "-" otherwise), the file name Python reads
(UTF-8, empty when the part has none), the byte count and the bytes, separated by 0x1F.

Parts are the leaves of the message in walk order, less the main text (the first leaf when it
has no name). Named parts and parts that are no text are their decoded payload; text parts
without a name are stored as text, so their reference is the decoded text with CR LF line ends
in CP932 (made by iconv).

Run from anywhere: python3 make.py [OUTPUT_FOLDER]; the default is this script's folder."""
import base64
import email
import email.policy
import os
import subprocess
import sys

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))

HEAD = ("From: sender@example.jp\r\nTo: user@example.jp\r\nSubject: parts\r\n"
        "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\nMIME-Version: 1.0\r\n")


def b64(data):
    return base64.encodebytes(data).decode().replace("\n", "\r\n")


def multipart(kind, boundary, parts, extra=""):
    body = "".join("--%s\r\n%s" % (boundary, p) for p in parts)
    return (HEAD + 'Content-Type: multipart/%s; boundary="%s"%s\r\n\r\n' % (kind, boundary, extra)
            + "This is a multi-part message.\r\n" + body + "--%s--\r\n" % boundary)


def part(headers, body):
    return "".join(h + "\r\n" for h in headers) + "\r\n" + body + "\r\n"


MAIN = part(["Content-Type: text/plain; charset=us-ascii", "Content-Transfer-Encoding: 7bit"],
            "The main text.\r\n")
ARMOUR = ("-----BEGIN PGP SIGNATURE-----\r\n\r\niQEzBAEBCAAdFiEEabcdefghijklmnopqrstuvwxyz0123\r\n"
          "=wxyz\r\n-----END PGP SIGNATURE-----\r\n")
PEM = ("-----BEGIN CERTIFICATE-----\r\nMIIBszCCAVmgAwIBAgIUQm9yaW5nIHRlc3QgY2VydGlmaWNhdGU=\r\n"
       "-----END CERTIFICATE-----\r\n")
PNG = b"\x89PNG\r\n\x1a\n" + bytes(range(64))
LONG = "長い名前の添付ファイル" * 9 + "資料あ" + ".pdf"  # 96 characters before ".pdf"

messages = {
    "signed": multipart("signed", "sig", [
        MAIN,
        part(['Content-Type: application/pgp-signature; name="signature.asc"',
              "Content-Transfer-Encoding: 7bit"], ARMOUR),
    ], '; protocol="application/pgp-signature"'),
    "certificate": multipart("mixed", "cert", [
        MAIN,
        part(['Content-Type: application/x-x509-ca-cert; name="ca.pem"',
              "Content-Transfer-Encoding: 7bit"], PEM),
        part(['Content-Type: application/pkcs7-signature; name="smime.p7s"',
              "Content-Transfer-Encoding: base64"], b64(bytes(range(40)))),
    ]),
    "dashes": multipart("mixed", "dash", [
        MAIN,
        part(['Content-Type: text/plain; name="notes.txt"', "Content-Transfer-Encoding: 7bit"],
             "first line\r\n-- end of file"),
        part(["Content-Type: text/plain; charset=us-ascii", "Content-Transfer-Encoding: 7bit"],
             "second text\r\n-- \r\nA. Sender\r\n--\r\n---- dashes ----"),
        part(["Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: base64"],
             b64("padded text: a\r\n".encode())),
        part(["Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: base64"],
             b64("二つ目の本文\r\n".encode())),
    ]),
    "duplicates": multipart("mixed", "dup", [
        MAIN,
        part(['Content-Type: text/plain; name="same.txt"', "Content-Transfer-Encoding: base64"],
             b64(b"first same\r\n")),
        part(['Content-Type: text/plain; name="same.txt"', "Content-Transfer-Encoding: base64"],
             b64(b"second same\r\n")),
        part(["Content-Type: application/octet-stream", "Content-Transfer-Encoding: base64"],
             b64(bytes(range(0, 256, 3)))),
        part(["Content-Type: application/octet-stream", "Content-Transfer-Encoding: base64"],
             b64(bytes(range(1, 256, 5)))),
        part(['Content-Type: text/html; name="tmp.html"', "Content-Transfer-Encoding: base64"],
             b64(b"<p>attached page</p>\r\n")),
        part(["Content-Type: text/html; charset=us-ascii", "Content-Transfer-Encoding: 7bit"],
             "<p>the HTML body</p>"),
    ]),
    "cid": multipart("related", "rel", [
        part(["Content-Type: text/html; charset=us-ascii", "Content-Transfer-Encoding: 7bit"],
             '<p><img src="cid:part10"><img src="cid:part1"><img src="cid:blank@x">'
             '<img src="cid:nowhere"> cid:text</p>'),
        part(["Content-Type: image/png; name=one.png", "Content-ID: <part1>",
              "Content-Transfer-Encoding: base64"], b64(PNG)),
        part(["Content-Type: image/png; name=ten.png", "Content-ID: <part10>",
              "Content-Transfer-Encoding: base64"], b64(PNG[::-1])),
        part(["Content-Type: image/gif", "Content-ID: <blank@x>",
              "Content-Transfer-Encoding: base64"], b64(b"GIF89a" + bytes(10))),
    ]),
    "longname": multipart("mixed", "long", [
        MAIN,
        part(["Content-Type: application/pdf",
              "Content-Disposition: attachment; filename*=utf-8''" +
              "".join("%%%02X" % b for b in LONG.encode()),
              "Content-Transfer-Encoding: base64"], b64(b"%PDF-1.4 long name\n")),
        part(['Content-Type: application/pdf; name="after.pdf"',
              "Content-Transfer-Encoding: base64"], b64(b"%PDF-1.4 after\n")),
    ]),
}


def cp932(text):
    return subprocess.run(["iconv", "-f", "UTF-8", "-t", "CP932"], input=text.encode(),
                          capture_output=True, check=True).stdout


def reference(raw):
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    leaves = [p for p in msg.walk() if not p.is_multipart()]
    out = b""
    for i, p in enumerate(leaves):
        name = p.get_filename()
        text = p.get_content_maintype() == "text"
        html = p.get_content_type() == "text/html"
        if i == 0 and not name and not html:
            continue  # the main text
        if name or not text:
            data = p.get_payload(decode=True)
        else:
            data = cp932(p.get_content().replace("\r\n", "\n").replace("\n", "\r\n"))
        flag = b"H" if html and not name else b"-"
        out += flag + b"\x1f" + (name or "").encode() + b"\x1f" + str(len(data)).encode() + \
            b"\x1f" + data
    return out


for name, text in messages.items():
    raw = text.encode("ascii")
    with open(os.path.join(OUT, name + ".eml"), "wb") as f:
        f.write(raw)
    with open(os.path.join(OUT, name + ".parts"), "wb") as f:
        f.write(reference(raw))
