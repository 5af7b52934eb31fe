#!/usr/bin/env python3
"""Makes the reference vectors of the decoder tests from independent implementations.

- jis_grid.txt: every JIS X 0208 row/cell pair (rows 1-94, NEC row 13 included) converted by
  glibc iconv from ISO-2022-JP to CP932. glibc's ISO-2022-JP lacks the NEC row 13, so that row is
  converted from its EUC form (each byte | 0x80) by glibc's EUC-JP-MS. Pairs iconv refuses are
  left out.
- words.txt: header fields with encoded words, decoded by Python's email.header
  (decode_header + make_header) and encoded to CP932.
- bodies.txt: text bodies (Base64, quoted-printable, 7bit, 8bit; ISO-2022-JP and UTF-8), decoded
  by Python's email package (get_content) and encoded to CP932 with CR LF line ends.
- base64.txt: random data of many lengths, Base64-encoded by Python (long runs without line
  breaks, and MIME lines of 76), with the data.
- charsets.txt: Japanese charsets beyond ISO-2022-JP and UTF-8, each row a kind, an input and
  what it becomes in CP932: "word" fields with every Shift_JIS and EUC-JP label, "body" text
  bodies (charset in the second field), "euc" every JIS X 0208 character and half-width kana in
  EUC-JP, "jis" ISO-2022-JP text with JIS X 0201 katakana (ESC ( I). The texts are encoded and
  decoded by Python's codecs (euc_jp, cp932, iso2022_jp_ext), the CP932 form made by iconv.
- utf8_cp932.txt: every character that CP932 has, as UTF-8, with glibc iconv's CP932 form; then a
  few characters the platforms map differently, marked 1 in the last column.

Each line: fields separated by TABs, byte strings in hex. Run from anywhere:
  python3 mime/testdata/make_vectors.py
"""
import base64
import email
import email.header
import email.policy
import os
import quopri
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))


def iconv(data, src, dst):
    return subprocess.run(['iconv', '-c', '-f', src, '-t', dst], input=data,
                          capture_output=True).stdout


def write(name, rows):
    with open(os.path.join(HERE, name), 'w', encoding='ascii') as f:
        for r in rows:
            f.write('\t'.join(x.hex() if isinstance(x, bytes) else str(x) for x in r) + '\n')


def jis_grid():
    pairs = [(j1, j2) for j1 in range(0x21, 0x7F) for j2 in range(0x21, 0x7F)]
    rows = []
    for charset, wanted in (('ISO-2022-JP', lambda j1: j1 != 0x2D),
                            ('EUC-JP-MS', lambda j1: j1 == 0x2D)):
        chosen = [p for p in pairs if wanted(p[0])]
        # One pair per line: iconv -c drops what it cannot convert and keeps the line.
        if charset == 'EUC-JP-MS':
            text = b''.join(bytes([p[0] | 0x80, p[1] | 0x80]) + b'\n' for p in chosen)
        else:
            text = b''.join(b'\x1b$B' + bytes(p) + b'\x1b(B\n' for p in chosen)
        lines = iconv(text, charset, 'CP932').split(b'\n')
        for p, out in zip(chosen, lines):
            if out:
                rows.append((bytes(p), out))
    rows.sort()
    write('jis_grid.txt', rows)


TEXTS = ['日本語のテスト', 'こんにちは世界', '表示ソフトの能力', '件名：会議の予定について',
         'ＡＢＣ全角１２３', 'メール']
UTF8_ONLY = ['①②③ｶﾀｶﾅ半角', '㈱髙']  # NEC row 13 and half-width kana: not in ISO-2022-JP


def b_word(charset, data):
    return '=?%s?B?%s?=' % (charset, base64.b64encode(data).decode())


def q_word(charset, data):
    out = ''
    for b in data:
        c = chr(b)
        if c == ' ':
            out += '_'
        elif c.isalnum() and b < 0x80:
            out += c
        else:
            out += '=%02X' % b
    return '=?%s?Q?%s?=' % (charset, out)


def to_cp932(text):
    # Python decodes; glibc encodes (Python's cp932 encoder picks other codes for the NEC and
    # IBM duplicates than Windows and glibc do).
    return iconv(text.encode('utf-8'), 'UTF-8', 'CP932')


def reference_field(field):
    parts = email.header.decode_header(field)
    return to_cp932(str(email.header.make_header(parts)))


def words():
    fields = []
    for t in TEXTS:
        jis = t.encode('iso-2022-jp')
        fields += [b_word('ISO-2022-JP', jis), b_word('iso-2022-jp', jis),
                   q_word('iso-2022-jp', jis).replace('?Q?', '?q?'),
                   b_word('UTF-8', t.encode()), q_word('utf-8', t.encode()),
                   b_word('Shift_JIS', t.encode('shift_jis')),
                   'Re: ' + b_word('UTF-8', t.encode()) + ' (2)']
    for t in UTF8_ONLY:
        fields += [b_word('UTF-8', t.encode()), q_word('UTF-8', t.encode())]
    a, b = TEXTS[0], TEXTS[1]
    # Folded words join; a charset change in the middle keeps both halves right.
    fields += [b_word('ISO-2022-JP', a.encode('iso-2022-jp')) + '\r\n ' +
               b_word('ISO-2022-JP', b.encode('iso-2022-jp')),
               b_word('ISO-2022-JP', a.encode('iso-2022-jp')) + '\r\n\t' +
               b_word('UTF-8', b.encode()),
               b_word('UTF-8', a.encode()) + '\r\n ' +
               b_word('ISO-2022-JP', b.encode('iso-2022-jp'))]
    # A UTF-8 character split across two words.
    u = '分割された文字'.encode()
    fields += [b_word('UTF-8', u[:4]) + '\r\n ' + b_word('UTF-8', u[4:])]
    # Q text that starts with "=" and has blanks as "_".
    fields += [q_word('UTF-8', 'テスト 件名 two words'.encode())]
    fields += ['plain ASCII subject', 'price =?x list (no word here)']
    write('words.txt', [(f.encode('ascii'), reference_field(f)) for f in fields])


def bodies():
    rows = []
    text = '本文の一行目です。\r\n二行目：表示とソフト\r\n\r\nASCII line\r\n最後の行\r\n'
    for charset in ('iso-2022-jp', 'utf-8'):
        raw = text.encode(charset)
        for cte in ('base64', 'quoted-printable', '7bit' if charset != 'utf-8' else '8bit'):
            if cte == 'base64':
                body = base64.encodebytes(raw).replace(b'\n', b'\r\n')
            elif cte == 'quoted-printable':
                body = quopri.encodestring(raw).replace(b'\n', b'\r\n')
                body = body.replace(b'\r\r\n', b'\r\n').replace(b'=0D\r\n', b'\r\n')
            else:
                body = raw
            msg = (b'Content-Type: text/plain; charset=' + charset.encode() +
                   b'\r\nContent-Transfer-Encoding: ' + cte.encode() + b'\r\n\r\n' + body)
            parsed = email.message_from_bytes(msg, policy=email.policy.default)
            content = parsed.get_content().replace('\r\n', '\n').replace('\n', '\r\n')
            rows.append((cte, charset, body, to_cp932(content)))
    write('bodies.txt', rows)


def utf8_cp932():
    rows, seen = [], set()
    codes = [bytes([b]) for b in range(0x20, 0x7F)] + [bytes([b]) for b in range(0xA1, 0xE0)]
    codes += [bytes([l, t]) for l in list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD))
              for t in range(0x40, 0xFD) if t != 0x7F]
    text = b'\n'.join(codes) + b'\n'
    chars = iconv(text, 'CP932', 'UTF-8').split(b'\n')
    # Lines of codes iconv could not decode come back empty.
    for u in chars:
        if u and u not in seen:
            seen.add(u)
    ordered = sorted(seen)
    back = iconv(b'\n'.join(ordered) + b'\n', 'UTF-8', 'CP932').split(b'\n')
    for u, s in zip(ordered, back):
        rows.append((u, s, 0))
    # Mapped differently by the platforms (best-fit on Windows, other tables in iconv).
    for cp in (0x301C, 0x2016, 0x2212, 0x00A2, 0x00A3, 0x00AC, 0x00A5, 0x203E):
        u = chr(cp).encode()
        s = iconv(u, 'UTF-8', 'CP932')
        rows.append((u, s, 1))
    write('utf8_cp932.txt', rows)


def base64_runs():
    import random
    rng = random.Random(5)
    rows = []
    for n in list(range(0, 64)) + [100, 255, 1000, 4096, 10007]:
        data = bytes(rng.randrange(256) for _ in range(n))
        rows.append((base64.b64encode(data), data))
        rows.append((base64.encodebytes(data).replace(b'\n', b'\r\n'), data))
    write('base64.txt', rows)


SJIS_LABELS = ['Shift_JIS', 'shift-jis', 'SHIFT_JIS', 'x-sjis', 'sjis', 'SJIS', 'windows-31j',
               'Windows-31J', 'cp932', 'CP932', 'ms_kanji', 'MS_Kanji']
EUC_LABELS = ['EUC-JP', 'euc-jp', 'x-euc-jp', 'X-EUC-JP']


def charsets():
    rows = []
    for t in TEXTS + ['ｶﾀｶﾅ半角']:
        for label in SJIS_LABELS:
            data = t.encode('cp932')
            rows.append(('word', b_word(label, data).encode(), to_cp932(data.decode('cp932'))))
            rows.append(('word', ('Re: ' + q_word(label, data)).encode(),
                         to_cp932('Re: ' + data.decode('cp932'))))
        for label in EUC_LABELS:
            data = t.encode('euc_jp')
            rows.append(('word', b_word(label, data).encode(), to_cp932(data.decode('euc_jp'))))
            rows.append(('word', q_word(label, data).encode(), to_cp932(data.decode('euc_jp'))))
    # An EUC-JP and a UTF-8 word side by side.
    a, b = TEXTS[0], TEXTS[1]
    rows.append(('word', (b_word('EUC-JP', a.encode('euc_jp')) + '\r\n ' +
                          b_word('UTF-8', b.encode())).encode(), to_cp932(a + b)))
    text = '本文の一行目です。\r\n二行目：ｶﾀｶﾅと表示\r\n\r\nASCII line\r\n最後の行\r\n'
    for label, codec in [(l, 'cp932') for l in SJIS_LABELS] + [(l, 'euc_jp') for l in EUC_LABELS]:
        raw = text.encode(codec)
        for cte in ('base64', '8bit'):
            body = base64.encodebytes(raw).replace(b'\n', b'\r\n') if cte == 'base64' else raw
            rows.append(('body', label + ' ' + cte, body, to_cp932(raw.decode(codec))))
    # A UTF-8 body that starts with a byte-order mark.
    bom = b'\xef\xbb\xbf' + text.encode()
    for cte in ('base64', '8bit'):
        body = base64.encodebytes(bom).replace(b'\n', b'\r\n') if cte == 'base64' else bom
        rows.append(('body', 'utf-8 ' + cte, body, to_cp932(bom.decode('utf-8-sig'))))
    for j1 in range(0xA1, 0xFF):
        for j2 in range(0xA1, 0xFF):
            euc = bytes([j1, j2])
            try:
                rows.append(('euc', euc, to_cp932(euc.decode('euc_jp'))))
            except UnicodeDecodeError:
                pass
    for k in range(0xA1, 0xE0):
        euc = bytes([0x8E, k])
        rows.append(('euc', euc, to_cp932(euc.decode('euc_jp'))))
    for t in ['ｶﾀｶﾅ', '半角ｶﾅと漢字', 'ｱｲｳｴｵ ABC ﾞﾟ｡｢｣､･']:
        jis = t.encode('iso2022_jp_ext')
        rows.append(('jis', jis, to_cp932(jis.decode('iso2022_jp_ext'))))
    write('charsets.txt', [r if r[0] != 'body' else r for r in rows])


if __name__ == '__main__':
    base64_runs()
    jis_grid()
    words()
    bodies()
    utf8_cp932()
    charsets()
