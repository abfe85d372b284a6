#!/usr/bin/env python3
"""A machine in the middle of the encrypted channel: takes one TLS connection on PORT with a key of
its own, opens its own TLS connection to TARGET:PORT, and passes the plaintext both ways, ends
included (a close_notify from either side is passed on as one). Prints one line when done.

Usage: tls-relay.py CERT KEY PORT TARGET
"""
import select
import socket
import ssl
import sys

cert, key, port, target = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]

server_ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
server_ctx.minimum_version = ssl.TLSVersion.TLSv1_3
server_ctx.load_cert_chain(cert, key)
client_ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
client_ctx.minimum_version = ssl.TLSVersion.TLSv1_3
client_ctx.check_hostname = False
client_ctx.verify_mode = ssl.CERT_NONE
client_ctx.load_cert_chain(cert, key)

listener = socket.create_server(("0.0.0.0", port))
listener.settimeout(30)
raw, _ = listener.accept()
try:
    near = server_ctx.wrap_socket(raw, server_side=True)
    far = client_ctx.wrap_socket(socket.create_connection((target, port), timeout=10))
except (OSError, ssl.SSLError) as e:
    print("relay: handshake failed:", e)
    sys.exit(1)
ends = {near: far, far: near}
open_sides = {near, far}
moved = 0
while open_sides:
    ready, _, _ = select.select(list(open_sides), [], [], 30)
    if not ready:
        break
    for side in ready:
        try:
            data = side.recv(65536)
        except ssl.SSLWantReadError:
            continue
        except (OSError, ssl.SSLError):
            data = b""
        other = ends[side]
        if data:
            other.sendall(data)
            moved += len(data)
            continue
        open_sides.discard(side)
        try:
            other.unwrap()  # the close_notify, passed on
        except (OSError, ssl.SSLError, ValueError):
            pass
        open_sides.discard(other)
print("relay: done,", moved, "bytes passed")
