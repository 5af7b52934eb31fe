#!/usr/bin/env python3
"""Mirror a source tree with its Japanese string literals spelled as Shift_JIS octal escapes.

For compilers without -fexec-charset=CP932 (clang, used for libFuzzer): the copy compiles to the
same bytes GCC makes from the UTF-8 original. The conversion uses glibc iconv CP932, the same
tables GCC uses. Usage: sjis-escape.py SRC_DIR DEST_DIR
"""
import os
import subprocess
import sys

EXTS = ('.h', '.cpp', '.c', '.inc')


def literal_spans(text):
    """Yield (start, end) of the contents of string and character literals."""
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            i = text.find('\n', i)
            if i < 0:
                return
        elif text.startswith('/*', i):
            i = text.find('*/', i + 2)
            if i < 0:
                return
            i += 2
        elif c in '"\'':
            # Skip prefixes/raw strings are not used in this project.
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == '\\' else 1
            yield i + 1, j
            i = j + 1
        else:
            i += 1


def escape(text):
    spans = [s for s in literal_spans(text) if any(ord(ch) > 127 for ch in text[s[0]:s[1]])]
    if not spans:
        return text
    runs = []
    for a, b in spans:
        run = ''
        for ch in text[a:b]:
            if ord(ch) > 127:
                run += ch
            elif run:
                runs.append(run)
                run = ''
        if run:
            runs.append(run)
    joined = '\n'.join(runs).encode('utf-8')
    sjis = subprocess.run(['iconv', '-f', 'UTF-8', '-t', 'CP932'], input=joined,
                          check=True, capture_output=True).stdout.split(b'\n')
    encoded = iter(sjis)
    out, pos = [], 0
    for a, b in spans:
        out.append(text[pos:a])
        seg, k = text[a:b], 0
        while k < len(seg):
            if ord(seg[k]) > 127:
                m = k
                while m < len(seg) and ord(seg[m]) > 127:
                    m += 1
                out.append(''.join('\\%03o' % byte for byte in next(encoded)))
                k = m
            else:
                out.append(seg[k])
                k += 1
        pos = b
    out.append(text[pos:])
    return ''.join(out)


def main(src, dest):
    for root, dirs, files in os.walk(src):
        dirs[:] = [d for d in dirs if d not in ('build', '.git', 'run', 'fuzz-out')]
        for name in files:
            path = os.path.join(root, name)
            rel = os.path.relpath(path, src)
            target = os.path.join(dest, rel)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if name.endswith(EXTS):
                with open(path, encoding='utf-8') as f:
                    text = escape(f.read())
                if os.path.exists(target):
                    with open(target, encoding='utf-8') as f:
                        if f.read() == text:
                            continue  # keep the time stamp: no rebuild
                with open(target, 'w', encoding='utf-8') as f:
                    f.write(text)
            elif not os.path.exists(target) or os.path.getmtime(target) < os.path.getmtime(path):
                with open(path, 'rb') as f, open(target, 'wb') as g:
                    g.write(f.read())


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
