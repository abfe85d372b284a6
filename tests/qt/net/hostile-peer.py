#!/usr/bin/env python3
"""A peer that does to the program what anyone on its network could: plain sockets speaking the
packet format (a 4-byte little-endian length, then the payload; one packet per connection,
closed by the receiver) or breaking it on purpose. Every command is bounded in time and prints
one line of what it saw.

Usage: hostile-peer.py COMMAND ADDRESS [ARGUMENTS...]
  item ADDR TAG USER MACHINE TEXT|@FILE   header to 8000, then the data to 8001 (a text gets
                                          its NUL); waits for each close. Texts and names go
                                          in code page 932, as a classic peer's do;
                                          arguments that are bytes and no text go as they are
  flood ADDR PORT COUNT                   COUNT connections at once, half of them sending part
                                          of a length field; held a second, then dropped, half
                                          of them with a reset
  drip ADDR PORT SECONDS                  announces a packet and sends one byte a second
  length ADDR PORT VALUE                  a length field of VALUE (as 32 bits) and a few bytes
  reset ADDR PORT ANNOUNCED SENT          announces ANNOUNCED bytes, sends SENT, then resets
  interleave ADDR TEXT1 TEXT2             two senders at once: both headers, then both data
                                          packets, their bytes interleaved
  handshakes ADDR MODE COUNT [SOURCE...]  COUNT connections to 8002 from each SOURCE, each
                                          sending nothing (MODE idle), half a TLS client hello
                                          or all of it (whole); waits for their ends
"""
import contextlib
import os
import resource
import selectors
import socket
import struct
import sys
import time

HEADER_PORT, DATA_PORT = 8000, 8001


def packet(payload):
    return struct.pack("<I", len(payload)) + payload


def connect(addr, port, timeout=10):
    return socket.create_connection((addr, port), timeout=timeout)


def wait_closed(s, timeout):
    """True when the other side closed (or reset) the connection within the time-out."""
    s.settimeout(timeout)
    try:
        while s.recv(65536):
            pass
        return True
    except ConnectionResetError:
        return True
    except (socket.timeout, TimeoutError):
        return False


def hard_close(s):
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    s.close()


def cp932(text):
    try:
        return text.encode("cp932")
    except UnicodeEncodeError:
        return os.fsencode(text)


def header(tag, user, machine):
    return b"".join(cp932(line) + b"\r\n" for line in (tag, user, machine))


def data_of(tag, text):
    if text.startswith("@"):
        with open(text[1:], "rb") as f:
            return f.read()
    return cp932(text) + (b"\0" if tag == "string" else b"")


def send_packet(addr, port, payload, timeout):
    s = connect(addr, port)
    s.sendall(packet(payload))
    closed = wait_closed(s, timeout)
    s.close()
    return closed


def cmd_item(addr, tag, user, machine, text):
    if not send_packet(addr, HEADER_PORT, header(tag, user, machine), 10):
        print("header not taken")
        return 1
    # The data connection stays open while the receiving user decides.
    if not send_packet(addr, DATA_PORT, data_of(tag, text), 60):
        print("data not taken")
        return 1
    print("taken")
    return 0


def cmd_flood(addr, port, count):
    count = int(count)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, max(soft, count + 64)), hard))
    sel = selectors.DefaultSelector()
    socks = []
    for _ in range(count):
        s = socket.socket()
        s.setblocking(False)
        s.connect_ex((addr, port))
        socks.append(s)
        sel.register(s, selectors.EVENT_WRITE)
    connected = 0
    deadline = time.monotonic() + 5
    pending = len(socks)
    while pending and time.monotonic() < deadline:
        for key, _ in sel.select(timeout=0.2):
            sel.unregister(key.fileobj)
            pending -= 1
            if key.fileobj.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) == 0:
                connected += 1
    for i, s in enumerate(socks):
        if i % 2 == 0:
            try:
                s.send(b"\x10\x00")  # half a length field
            except OSError:
                pass
    time.sleep(1)
    for i, s in enumerate(socks):
        try:
            hard_close(s) if i % 4 == 0 else s.close()
        except OSError:
            pass
    print("connected %d of %d" % (connected, count))
    return 0


def cmd_drip(addr, port, seconds):
    s = connect(addr, port)
    s.sendall(struct.pack("<I", 64))
    for _ in range(int(seconds)):
        s.sendall(b"d")
        time.sleep(1)
    s.close()
    print("dripped %s bytes" % seconds)
    return 0


def cmd_length(addr, port, value):
    s = connect(addr, port)
    s.sendall(struct.pack("<I", int(value, 0) & 0xFFFFFFFF) + b"abcdef")
    closed = wait_closed(s, 2)
    s.close()
    print("closed by the program" if closed else "left open (closed by the peer)")
    return 0


def cmd_reset(addr, port, announced, sent):
    s = connect(addr, port)
    s.sendall(struct.pack("<I", int(announced)))
    chunk = b"r" * 65536
    left = int(sent)
    try:
        while left > 0:
            left -= s.send(chunk[: min(left, len(chunk))])
    except (ConnectionResetError, BrokenPipeError):
        print("the program closed it after %d of %s bytes" % (int(sent) - left, announced))
        s.close()
        return 0
    hard_close(s)
    print("reset after %s of %s bytes" % (sent, announced))
    return 0


def interleave(addr, port, payloads, timeout):
    socks = [connect(addr, port) for _ in payloads]
    whole = [packet(p) for p in payloads]
    halves = [len(w) // 2 for w in whole]
    for s, w, h in zip(socks, whole, halves):
        s.sendall(w[:h])
    time.sleep(0.2)
    for s, w, h in zip(socks, whole, halves):
        s.sendall(w[h:])
    closed = [wait_closed(s, timeout) for s in socks]
    for s in socks:
        s.close()
    return closed


def cmd_interleave(addr, text1, text2):
    first = interleave(addr, HEADER_PORT, [header("string", "one", "PC-ONE"), header("string", "two", "PC-TWO")], 10)
    second = interleave(addr, DATA_PORT, [data_of("string", text1), data_of("string", text2)], 60)
    print("headers closed %s, data closed %s" % (first, second))
    return 0 if all(first) and all(second) else 1


def cmd_handshakes(addr, mode, count, *sources):
    import ssl
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    ctx.check_hostname, ctx.verify_mode = False, ssl.CERT_NONE
    out = ssl.MemoryBIO()
    try:
        ctx.wrap_bio(ssl.MemoryBIO(), out).do_handshake()
    except ssl.SSLWantReadError:
        hello = out.read()
    hello = {"idle": b"", "half": hello[:100], "whole": hello}[mode]
    sel, socks = selectors.DefaultSelector(), []
    for src in [src for src in sources or [""] for _ in range(int(count))]:
        with contextlib.suppress(OSError):  # not taken, or reset at accept already
            socks.append(socket.create_connection((addr, 8002), 5, (src, 0)))
            sel.register(socks[-1], selectors.EVENT_READ, [False])
            socks[-1].sendall(hello)
    start, answered, last = time.monotonic(), 0, 0.0
    while sel.get_map() and time.monotonic() - start < 30:
        for key, _ in sel.select(timeout=0.5):
            try:
                data = key.fileobj.recv(65536)
            except OSError:
                data = b""
            key.data[0] = key.data[0] or bool(data)
            if not data:
                answered, last = answered + key.data[0], time.monotonic() - start
                sel.unregister(key.fileobj)
    print("%d connections, %d answered, %d still open, the last closed after %.1f s"
          % (len(socks), answered, len(sel.get_map()), last))
    return 0 if not sel.get_map() else 1


def main(argv):
    commands = {
        "item": cmd_item,
        "flood": cmd_flood,
        "drip": cmd_drip,
        "length": cmd_length,
        "reset": cmd_reset,
        "interleave": cmd_interleave,
        "handshakes": cmd_handshakes,
    }
    if len(argv) < 3 or argv[1] not in commands:
        print(__doc__)
        return 2
    command, addr = argv[1], argv[2]
    rest = argv[3:]
    if command in ("flood", "drip", "length", "reset"):
        rest = [int(rest[0])] + rest[1:]
    return commands[command](addr, *rest)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
