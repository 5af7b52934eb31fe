#!/usr/bin/env python3
# bench_ini.py INI PORT USER PASSWORD: writes a program folder's Kolvy.ini with the one POP3
# account "bench" (127.0.0.1, the password scrambled as the program stores it) and order 100.
# Lines on standard input follow: the account's further keys, then "[100]" with the order's keys
# and any further sections.
import base64
import sys

path, port, user, password = sys.argv[1:5]
scrambled = base64.b64encode(bytes(~b & 0xFF for b in password.encode())).decode()
lines = ["[TagList]", "TagAcount=bench", "TagOrder=100", "[bench]", "TagNo=0",
         "POP3Server=127.0.0.1", f"UserID={user}", f"Password={scrambled}", f"POPPort={port}"]
lines += sys.stdin.read().splitlines()
with open(path, "w", newline="\r\n", encoding="cp932") as f:
    f.write("\n".join(lines) + "\n")
