#!/usr/bin/env python3
"""Makes the message corpus with Python's own email package, and beside each message what Python
decodes from it: NAME.eml is the message as a server would send it, NAME.expected holds the
decoded text of each unnamed text part in walk order (UTF-8, parts separated by a 0x1E line),
NAME.attachments the names and Base64-free bytes of the attachments (name, 0x1F, length, 0x1F,
bytes, one after the other).

Run from anywhere: python3 generate.py [OUTPUT_FOLDER]; the default is this script's folder."""
import email
import email.policy
import os
import sys
from email.message import EmailMessage
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.header import Header

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))

JA = "こんにちは、山田です。\n来週の会議の資料を送ります。\nよろしくお願いします。\n"
JA_LONG = "".join(f"{i}行目：日本語の本文です。漢字とかなを含みます。\n" for i in range(60))


def base_headers(msg, subject):
    msg["From"] = Header("山田 太郎", "iso-2022-jp").encode() + " <taro@example.jp>"
    msg["To"] = "hanako@example.jp"
    msg["Subject"] = str(Header(subject, "iso-2022-jp").encode())
    msg["Date"] = "Mon, 07 Dec 2026 10:00:00 +0900"
    msg["Message-ID"] = f"<{abs(hash(subject)) % 10**9}@example.jp>"
    return msg


def text_part(text, charset, cte):
    part = MIMEText("", "plain", charset)
    del part["Content-Transfer-Encoding"]
    body = text.encode(charset)
    if cte == "base64":
        import base64
        payload = base64.encodebytes(body).decode("ascii")
    elif cte == "quoted-printable":
        import quopri
        payload = quopri.encodestring(body).decode("ascii")
    else:
        payload = body.decode("ascii", "surrogateescape") if charset != "utf-8" else body
    part.set_payload(payload)
    part["Content-Transfer-Encoding"] = cte
    return part


def attachment(data, name, rfc2231):
    part = MIMEApplication(data, "octet-stream")
    if rfc2231:
        part.add_header("Content-Disposition", "attachment", filename=("utf-8", "", name))
    else:
        part.add_header("Content-Disposition", "attachment",
                        filename=str(Header(name, "iso-2022-jp").encode()))
    return part


def crlf(raw):
    lines = raw.replace(b"\r\n", b"\n").split(b"\n")
    return b"\r\n".join(lines)


messages = {}

m = MIMEText(JA, "plain", "iso-2022-jp")
messages["jis_7bit"] = base_headers(m, "会議の件")

m = MIMEMultipart()
base_headers(m, "添付（RFC 2047）")
m.attach(text_part(JA, "iso-2022-jp", "7bit"))
m.attach(attachment(bytes(range(256)) * 4, "資料.pdf", False))
messages["mixed_2047"] = m

m = MIMEMultipart()
base_headers(m, "添付（RFC 2231）")
m.attach(text_part(JA, "utf-8", "base64"))
m.attach(attachment(b"\x89PNG\r\n\x1a\n" + bytes(range(200)), "写真の名前が長いファイル.png", True))
m.attach(attachment(b"plain data\r\n" * 30, "報告書.txt", True))
messages["mixed_2231"] = m

m = MIMEMultipart("alternative")
base_headers(m, "HTMLメール")
m.attach(text_part(JA, "utf-8", "quoted-printable"))
html = MIMEText("<html><body><p>" + JA.replace("\n", "<br>") + "</p></body></html>", "html", "utf-8")
m.attach(html)
messages["alternative"] = m

outer = MIMEMultipart("mixed")
base_headers(outer, "入れ子")
alt = MIMEMultipart("alternative")
alt.attach(text_part(JA_LONG, "iso-2022-jp", "7bit"))
alt.attach(text_part(JA, "utf-8", "base64"))
outer.attach(alt)
outer.attach(attachment(os.urandom(0) + bytes(range(100, 200)) * 10, "データ.bin", True))
messages["nested"] = outer

digest = MIMEMultipart("digest")
base_headers(digest, "ダイジェスト")
for i in range(3):
    inner = MIMEText(f"ダイジェスト{i}番目の記事です。\n", "plain", "iso-2022-jp")
    inner["Subject"] = f"article {i}"
    from email.mime.message import MIMEMessage
    digest.attach(MIMEMessage(inner))
messages["digest"] = digest

m = MIMEText(JA_LONG, "plain", "utf-8")
messages["utf8_base64_single"] = base_headers(m, "UTF-8の本文")

m = MIMEText(JA, "plain", "utf-8")
del m["Content-Transfer-Encoding"]
m.set_payload(__import__("quopri").encodestring(JA.encode("utf-8")).decode("ascii"))
m["Content-Transfer-Encoding"] = "quoted-printable"
messages["utf8_qp_single"] = base_headers(m, "QPの本文")

# A message split into message/partial pieces, as a sender splits it.
whole = MIMEMultipart()
base_headers(whole, "分割される大きなメール")
whole.attach(text_part(JA, "iso-2022-jp", "7bit"))
whole.attach(attachment(bytes(range(256)) * 40, "大きな添付.bin", True))
whole_bytes = crlf(whole.as_bytes())
body = whole_bytes
piece_size = 4000
# Pieces end at line boundaries, as RFC 2046 asks of a splitter.
pieces, start = [], 0
while start < len(body):
    end = min(len(body), start + piece_size)
    if end < len(body):
        end = body.rindex(b"\r\n", start, end) + 2
    pieces.append(body[start:end])
    start = end
for n, chunk in enumerate(pieces, 1):
    head = (f"From: taro@example.jp\r\nTo: hanako@example.jp\r\nSubject: partial {n}/{len(pieces)}"
            f"\r\nMIME-Version: 1.0\r\nContent-Type: message/partial; id=\"split@example.jp\"; "
            f"number={n}; total={len(pieces)}\r\n\r\n")
    raw = head.encode("ascii") + chunk
    messages[f"partial_{n}"] = raw

def write(name, msg):
    raw = msg if isinstance(msg, bytes) else crlf(msg.as_bytes())
    if not raw.endswith(b"\r\n"):
        raw += b"\r\n"
    variants = {name: raw}
    if name == "jis_7bit":
        variants["jis_lf_only"] = raw.replace(b"\r\n", b"\n")
        variants["jis_cr_only"] = raw.replace(b"\r\n", b"\r")
        # Headers only: no blank line, no body.
        variants["no_blank_line"] = raw[:raw.index(b"\r\n\r\n") + 2]
    if name == "mixed_2047":
        # The closing boundary lost in transit.
        cut = raw.rindex(b"--===")
        variants["missing_close"] = raw[:cut]
    for vname, vraw in variants.items():
        with open(os.path.join(OUT, vname + ".eml"), "wb") as f:
            f.write(vraw)
        parsed = email.message_from_bytes(vraw, policy=email.policy.default)
        texts, attachments = [], []
        if not vname.startswith("partial_"):
            for part in parsed.walk():
                if part.is_multipart() or part.get_content_maintype() == "message":
                    continue
                if part.get_content_maintype() == "text" and not part.get_filename():
                    if parsed.get_content_type() == "multipart/digest" and part is not parsed:
                        continue
                    texts.append(part.get_content())
                elif part.get_filename():
                    attachments.append((part.get_filename(), part.get_payload(decode=True)))
        with open(os.path.join(OUT, vname + ".expected"), "wb") as f:
            f.write(b"\x1e\n".join(t.encode("utf-8") for t in texts))
        with open(os.path.join(OUT, vname + ".attachments"), "wb") as f:
            for n, data in attachments:
                f.write(n.encode("utf-8") + b"\x1f" + str(len(data)).encode() + b"\x1f" + data)
    return


for name, msg in messages.items():
    write(name, msg)
# Offsets that cross a digit boundary: the headers pad the parts to just below 1,000 bytes.
for pad in (880, 890, 900):
    m = MIMEMultipart()
    base_headers(m, "桁")
    m["X-Pad"] = "p" * pad
    m.attach(text_part("短い本文\n", "iso-2022-jp", "7bit"))
    m.attach(attachment(b"x" * 50, "a.bin", True))
    write(f"digits_{pad}", m)

with open(os.path.join(OUT, "MANIFEST"), "w") as f:
    for name in sorted(n[:-4] for n in os.listdir(OUT) if n.endswith(".eml")):
        f.write(name + "\n")
with open(os.path.join(OUT, "partial.whole"), "wb") as f:
    f.write(whole_bytes)

