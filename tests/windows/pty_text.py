#!/usr/bin/env python3
"""Runs a command on a pseudo-terminal (under Wine a program then writes to a
real console) and prints what the terminal showed as plain text: the cursor
controls Wine's console adds around its writes are taken out, a cursor
movement to the right becomes that many spaces, CR LF becomes LF. Exits with
the command's status.

  pty_text.py COMMAND [ARG...]
"""
import errno
import os
import pty
import re
import subprocess
import sys

master, slave = pty.openpty()
process = subprocess.Popen(sys.argv[1:], stdin=slave, stdout=slave, stderr=slave, close_fds=True)
os.close(slave)
output = bytearray()
while True:
    try:
        data = os.read(master, 4096)
    except OSError as error:
        if error.errno != errno.EIO:
            raise
        break
    if not data:
        break
    output.extend(data)
status = process.wait()
text = re.sub(rb"\x1b\[\?25[lh]|\x1b\[K", b"", bytes(output))
text = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m.group(1) or b"1"), text)
text = re.sub(rb"\r+\n", b"\n", text)
sys.stdout.buffer.write(text)
sys.exit(status)
