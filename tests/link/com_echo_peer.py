#!/usr/bin/env python3
"""The far end of a serial line for the Windows serial tests under wine: makes a pseudo-terminal
pair, writes the path of its terminal end to the file named by the first argument, and echoes
every byte it receives until "HANGUP\\n" arrives; then it closes its end (the cable is pulled)."""
import os
import pty
import select
import sys
import tty

master, terminal = pty.openpty()
tty.setraw(terminal)
path = os.ttyname(terminal)
with open(sys.argv[1] + ".tmp", "w") as out:
    out.write(path)
os.rename(sys.argv[1] + ".tmp", sys.argv[1])

tail = b""
while True:
    ready, _, _ = select.select([master], [], [], 60)
    if not ready:
        break  # nobody talked for a minute: the test has ended
    try:
        data = os.read(master, 65536)
    except OSError:
        continue  # no one holds the terminal end at this moment
    if not data:
        break
    tail = (tail + data)[-16:]
    if b"HANGUP\n" in tail:
        break
    os.write(master, data)
os.close(master)
os.close(terminal)
