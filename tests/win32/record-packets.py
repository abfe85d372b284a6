#!/usr/bin/env python3
"""A receiver that keeps what it is sent: listens on ports 8000 and 8001 as the program does,
takes one length-prefixed packet per connection, writes it whole (length field included) to
DIR/PORT-N.bin and closes the connection, as the program's receiver does once a packet is in."""
import os
import select
import socket
import struct
import sys

directory = sys.argv[1]
listeners = {}
for port in (8000, 8001):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("0.0.0.0", port))
    s.listen(4)
    listeners[s] = port
counts = {8000: 0, 8001: 0}


def read_exactly(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(min(65536, n - len(data)))
        if not chunk:
            break
        data += chunk
    return data


while True:
    ready, _, _ = select.select(list(listeners), [], [])
    for s in ready:
        conn, _ = s.accept()
        conn.settimeout(10)
        port = listeners[s]
        try:
            head = read_exactly(conn, 4)
            length = struct.unpack("<i", head)[0] if len(head) == 4 else 0
            body = read_exactly(conn, max(0, min(length, 64 << 20)))
        except OSError:
            head, body = b"", b""
        counts[port] += 1
        name = os.path.join(directory, "%d-%d.bin" % (port, counts[port]))
        with open(name + ".part", "wb") as f:
            f.write(head + body)
        os.rename(name + ".part", name)
        conn.close()
