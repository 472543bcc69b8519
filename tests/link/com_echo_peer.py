#!/usr/bin/env python3
"""The far end of a serial line for the Windows serial tests under wine.

Usage: com_echo_peer.py LINK CONTROL_FILE

Each line is a fresh pseudo-terminal pair; LINK is a symbolic link to its terminal end (the COM
port is mapped to LINK, so a new line replaces the old one under the same name). Every byte the
peer receives on the line is echoed back. A test steers the peer over a loopback TCP connection
whose port is written to CONTROL_FILE, one command a line, each answered with "ok":

  line     ends the current line and makes a fresh one (nothing of an earlier test is left on it)
  hold     stops reading the line: what the port writes piles up until its writes block
  release  reads and echoes again
  hangup   closes the line's far end for good (the cable is pulled)

The peer ends when its parent ends it, or when nobody has said anything for ten minutes."""
import errno
import os
import pty
import fcntl
import select
import signal
import socket
import sys
import termios
import tty

link, control_file = sys.argv[1], sys.argv[2]

# Each line is this process's controlling terminal, so that no process of wine can take it for
# its own: the hang-up of a line it opened would signal the wine server.
os.setsid()
signal.signal(signal.SIGHUP, signal.SIG_IGN)


class Line:
    def __init__(self):
        self.master, self.terminal = pty.openpty()
        tty.setraw(self.terminal)
        fcntl.ioctl(self.terminal, termios.TIOCSCTTY, 0)
        os.set_blocking(self.master, False)
        self.held = False
        self.backlog = b""  # echoes the terminal end has no room for yet
        path = os.ttyname(self.terminal)
        os.symlink(path, link + ".new")
        os.replace(link + ".new", link)

    def close(self):
        fcntl.ioctl(self.terminal, termios.TIOCNOTTY)
        os.close(self.master)
        os.close(self.terminal)

    def readable(self):
        return not self.held and len(self.backlog) < (1 << 20)

    def receive(self):
        try:
            data = os.read(self.master, 65536)
        except OSError as error:
            if error.errno in (errno.EAGAIN, errno.EIO):
                return  # EIO: no one holds the terminal end at this moment
            raise
        self.backlog += data
        self.send()

    def send(self):
        if not self.backlog:
            return
        try:
            sent = os.write(self.master, self.backlog)
        except OSError as error:
            if error.errno in (errno.EAGAIN, errno.EIO):
                return
            raise
        self.backlog = self.backlog[sent:]


server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(4)
with open(control_file + ".tmp", "w") as out:
    out.write(str(server.getsockname()[1]))

line = Line()
os.rename(control_file + ".tmp", control_file)  # the line exists once the file does
clients = {}  # socket -> bytes received and not yet a whole command

while True:
    readers = [server] + list(clients)
    writers = []
    if line is not None:
        if line.readable():
            readers.append(line.master)
        if line.backlog:
            writers.append(line.master)
    ready, writable, _ = select.select(readers, writers, [], 600)
    if not ready and not writable:
        break
    if line is not None and line.master in writable:
        line.send()
    if line is not None and line.master in ready:
        line.receive()
    if server in ready:
        client, _ = server.accept()
        clients[client] = b""
    for client in [c for c in ready if c in clients]:
        data = client.recv(4096)
        if not data:
            del clients[client]
            client.close()
            continue
        clients[client] += data
        while b"\n" in clients[client]:
            command, clients[client] = clients[client].split(b"\n", 1)
            command = command.strip().decode()
            if command == "line":
                if line is not None:
                    line.close()
                line = Line()
            elif command == "hold" and line is not None:
                line.held = True
            elif command == "release" and line is not None:
                line.held = False
            elif command == "hangup":
                if line is not None:
                    line.close()
                line = None
            else:
                client.sendall(b"unknown " + command.encode() + b"\n")
                continue
            client.sendall(b"ok\n")
