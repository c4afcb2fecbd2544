#!/usr/bin/python3
"""Simulated registration points on loopback addresses.

Each point serves its count file "nroRegAsist.ras" and its record file
"regAsist.ras" over FTP (pyftpdlib), empties both when asked to delete "x"
(it has handed its records over), and listens for the parameter message,
whose length and CRC-16/ARC it checks and which it saves for inspection.

All points of one process share one FTP port and one parameter port, each
point on its own address. KIVO_FTP_PORT / KIVO_PARAM_PORT fix the ports;
otherwise the first address binds port 0 and the others take the same port
(tried again on a conflict). Once every listener accepts connections the
process prints "READY <ftp port> <param port>". Stops on SIGTERM or SIGINT.

The state directory holds, for each point, the directory <address>/ with:
  served/      the two files the point serves (may be rewritten while running)
  events.log   one line per event: "RETR <name>", "DELE x", "DELE x refused",
               "PARAM OK <n> <m> <file>", "PARAM BAD <reason> <file>"
  count-reads  optional, written by a test: one count file per line, in hex
               ("-" for an empty file); each download of the count file
               first serves the next of them (the point's count changing
               between two readings)
  param-<k>.bin  each parameter message received, as it arrived

A point is given by --point ADDRESS[:COUNT] (COUNT generated records) or in a
JSON file (--config) as {"points": [{"address": ..., "records": [[codigo,
segundos, importe, cuenta, ticket, ceco], ...] or "count": n, "broken": mode,
"dele": "ok"|"fail"|"drop"|"count-only", "retr": "ok"|"cut"|"stall",
"ftp": "ok"|"silent"}]}.
"count-only" confirms the delete but empties only the count file; a "silent"
point accepts FTP connections and never says a word on them.

Broken files: "short" (the count promises 3 more records than the file
holds), "long" (7 stray bytes after the counted records), "partial" (the
file ends 9 bytes into one more counted record), "empty" (both files empty),
"missing" (neither file exists), "garbage" (random bytes in both).
"""
import argparse
import errno
import json
import logging
import os
import random
import signal
import socket
import struct
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, FileProducer
from pyftpdlib.ioloop import IOLoop
from pyftpdlib.servers import FTPServer

COUNT_FILE = "nroRegAsist.ras"
RECORD_FILE = "regAsist.ras"


def crc16_arc(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def generated_records(count, seed):
    rng = random.Random(seed)
    base = 1388534400 - 315532800  # 2014-01-01, on the points' 1980 clock
    return [[rng.randint(1, 200), base + rng.randint(0, 10 ** 8), rng.randint(0, 999),
             rng.randint(1, 9999), 1000 + i, rng.randint(0, 99)] for i in range(count)]


def _pack(r):
    """One 20-byte record; every number little-endian."""
    codigo, segundos, importe, cuenta, ticket, ceco = (int(v) for v in r)
    return struct.pack("<IIHIIH", codigo & 0xFFFFFFFF, segundos & 0xFFFFFFFF, importe & 0xFFFF,
                       cuenta & 0xFFFFFFFF, ticket & 0xFFFFFFFF, ceco & 0xFFFF)


def point_files(records, broken, seed):
    """The bytes of the count file and the record file; None: no such file."""
    body = b"".join(_pack(r) for r in records)
    count = len(records)
    if broken == "short":
        count += 3
    elif broken == "long":
        body += b"\x5a" * 7
    elif broken == "partial":
        body += b"\x11" * 9
        count += 1
    elif broken == "empty":
        return b"", b""
    elif broken == "missing":
        return None, None
    elif broken == "garbage":
        rng = random.Random(seed)
        return bytes(rng.randrange(256) for _ in range(2)), \
            bytes(rng.randrange(256) for _ in range(rng.randint(1, 997)))
    return struct.pack("<H", count & 0xFFFF), body


class Point:
    def __init__(self, given, state_dir, index):
        self.address = given["address"]
        self.dir = os.path.join(state_dir, self.address)
        self.served = os.path.join(self.dir, "served")
        self.dele = given.get("dele", "ok")
        self.retr = given.get("retr", "ok")
        self.silent = given.get("ftp", "ok") == "silent"
        self.lock = threading.Lock()
        self.received = 0
        os.makedirs(self.served, exist_ok=True)
        if "records" in given:
            records = given["records"]
        else:
            records = generated_records(int(given.get("count", 0)), index + 1)
        count_bytes, record_bytes = point_files(records, given.get("broken"), index + 1)
        self.write_served(COUNT_FILE, count_bytes)
        self.write_served(RECORD_FILE, record_bytes)

    def write_served(self, name, content):
        path = os.path.join(self.served, name)
        if content is None:
            if os.path.exists(path):
                os.remove(path)
            return
        with open(path, "wb") as f:
            f.write(content)

    def event(self, text):
        with self.lock:
            with open(os.path.join(self.dir, "events.log"), "a") as f:
                f.write(text + "\n")

    def next_count_read(self):
        path = os.path.join(self.dir, "count-reads")
        with self.lock:
            try:
                with open(path) as f:
                    reads = f.read().split()
            except OSError:
                return
            if not reads:
                return
            with open(path, "w") as f:
                f.write("\n".join(reads[1:]))
        self.write_served(COUNT_FILE, b"" if reads[0] == "-" else bytes.fromhex(reads[0]))

    def hand_over(self):
        """The records were collected: the point starts afresh (a faulty one
        forgets to empty its record file)."""
        self.write_served(COUNT_FILE, b"\x00\x00")
        if self.dele != "count-only":
            self.write_served(RECORD_FILE, b"")

    def save_message(self, data):
        with self.lock:
            self.received += 1
            name = "param-%d.bin" % self.received
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)
        self.event("PARAM %s %s" % (check_message(data), name))


def check_message(data):
    if len(data) < 6:
        return "BAD short"
    n, m = struct.unpack_from("<HH", data)
    if len(data) != 4 + 40 * n + 6 * m + 2:
        return "BAD length"
    if crc16_arc(data[:-2]) != struct.unpack_from("<H", data, len(data) - 2)[0]:
        return "BAD crc"
    return "OK %d %d" % (n, m)


class CutProducer(FileProducer):
    """Sends the first half of the file, then fails: a 426 closing reply."""

    def __init__(self, file, type):
        super().__init__(file, type)
        self.left = max(1, os.fstat(file.fileno()).st_size // 2)

    def more(self):
        if self.left <= 0:
            raise IOError("transfer cut short")
        data = self.file.read(min(self.left, 4096))
        self.left -= len(data)
        if not data:
            raise IOError("transfer cut short")
        return data


def handler_for(point):
    class PointHandler(FTPHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, **kwargs)
            # The station never sends TYPE: the points start in binary.
            self._current_type = "i"

        def ftp_RETR(self, file):
            name = os.path.basename(file)
            point.event("RETR " + name)
            if name == COUNT_FILE:
                point.next_count_read()
            if name == RECORD_FILE and point.retr == "stall":
                return None  # never answers: the station's time-out ends it
            if name == RECORD_FILE and point.retr == "cut":
                try:
                    fd = open(file, "rb")
                except OSError as err:
                    self.respond("550 %s." % err.strerror)
                    return None
                # sendfile() would hand the whole file over past the producer
                self.use_sendfile = False
                self.push_dtp_data(CutProducer(fd, self._current_type), isproducer=True,
                                   file=fd, cmd="RETR")
                return file
            return super().ftp_RETR(file)

        def ftp_DELE(self, path):
            if os.path.basename(path) != "x":
                return super().ftp_DELE(path)
            if point.dele == "fail":
                point.event("DELE x refused")
                self.respond("550 Cannot delete now.")
                return None
            point.hand_over()
            point.event("DELE x")
            if point.dele == "drop":
                self.close()  # emptied, but the reply never comes
                return None
            self.respond("250 File removed.")
            return path

    authorizer = DummyAuthorizer()
    PointHandler.authorizer = authorizer
    PointHandler.banner = "KIVO simulated registration point ready."
    return PointHandler


def bind_all(addresses, fixed_port, make):
    """Binds make(address, port) on every address with one shared port."""
    for _ in range(50):
        first = make(addresses[0], fixed_port or 0)
        port = first_port(first)
        made = [first]
        try:
            for address in addresses[1:]:
                made.append(make(address, port))
            return port, made
        except OSError as err:
            for server in made:
                close_server(server)
            if fixed_port or err.errno != errno.EADDRINUSE:
                raise
    raise OSError("no port free on every address")


def first_port(server):
    sock = server.socket if hasattr(server, "socket") else server
    return sock.getsockname()[1]


def close_server(server):
    if isinstance(server, socket.socket):
        server.close()
    else:
        server.close_all()


def param_listener(address, port):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((address, port))
    sock.listen(16)
    return sock


def hold_silently(sock):
    """Accepts connections and keeps them open without a word."""
    held = []
    while True:
        try:
            conn, _ = sock.accept()
        except OSError:
            return
        held.append(conn)


def serve_params(sock, point):
    while True:
        try:
            conn, _ = sock.accept()
        except OSError:
            return
        threading.Thread(target=receive_message, args=(conn, point), daemon=True).start()


def receive_message(conn, point):
    chunks = []
    conn.settimeout(60)
    try:
        while True:
            data = conn.recv(65536)
            if not data:
                break
            chunks.append(data)
    except OSError:
        pass  # a reset ends the message as well
    finally:
        conn.close()
    point.save_message(b"".join(chunks))


def env_port(name):
    value = os.environ.get(name, "")
    return int(value) if value.isdigit() else 0


def parse_points(args):
    wanted = []
    if args.config:
        with open(args.config) as f:
            wanted.extend(json.load(f)["points"])
    for text in args.point or []:
        address, _, count = text.partition(":")
        wanted.append({"address": address, "count": int(count or 0)})
    return wanted


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--state", required=True, help="state directory")
    parser.add_argument("--point", action="append", help="ADDRESS[:COUNT]")
    parser.add_argument("--config", help="JSON file of points")
    parser.add_argument("--user", default="tolv")
    parser.add_argument("--password", default="kqnwdrb")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args(argv)
    logging.basicConfig(level=logging.INFO if args.verbose else logging.ERROR, stream=sys.stderr)

    wanted = parse_points(args)
    if not wanted:
        parser.error("no point given")
    points = [Point(given, args.state, i) for i, given in enumerate(wanted)]
    by_address = {p.address: p for p in points}
    addresses = [p.address for p in points]
    ioloop = IOLoop()

    def make_ftp(address, port):
        point = by_address[address]
        if point.silent:
            sock = param_listener(address, port)
            threading.Thread(target=hold_silently, args=(sock,), daemon=True).start()
            return sock
        handler = handler_for(point)
        handler.authorizer.add_user(args.user, args.password, point.served, perm="elrd")
        return FTPServer((address, port), handler, ioloop=ioloop)

    ftp_port, _ = bind_all(addresses, env_port("KIVO_FTP_PORT"), make_ftp)
    param_port, listeners = bind_all(addresses, env_port("KIVO_PARAM_PORT"), param_listener)
    for sock, point in zip(listeners, points):
        threading.Thread(target=serve_params, args=(sock, point), daemon=True).start()

    def stop(*_):
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("READY %d %d" % (ftp_port, param_port), flush=True)
    ioloop.loop(timeout=0.2, blocking=True)
    # The loop ends at once when no point speaks FTP (every one silent): the
    # silent listeners' threads still hold the connections, until a signal.
    while True:
        signal.pause()


if __name__ == "__main__":
    main()
