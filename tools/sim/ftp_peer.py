#!/usr/bin/python3
"""A small FTP peer on a loopback address, built on pyftpdlib.

Serves one directory to one user. With --port 0 the system picks a free
port; the line "READY <address> <port>" on standard output says where it
listens, once it accepts connections. Stops on SIGTERM or SIGINT.

Other tools import make_server() to add behaviour of their own.
"""
import argparse
import logging
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class BinaryDefaultHandler(FTPHandler):
    """Starts each session in binary type, as the registration points do: the
    station never sends TYPE, and ASCII would turn LF bytes of records into CR LF."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self._current_type = "i"


def make_server(address, port, root, user, password, handler_class=BinaryDefaultHandler):
    authorizer = DummyAuthorizer()
    # read, list, change directory, retrieve, delete
    authorizer.add_user(user, password, root, perm="elrd")
    handler = type("PeerHandler", (handler_class,), {})
    handler.authorizer = authorizer
    handler.banner = "KIVO test peer ready."
    # Loopback transfers: large buffers keep the server from being the bottleneck.
    handler.dtp_handler.ac_out_buffer_size = 262144
    handler.use_sendfile = True
    return FTPServer((address, port), handler)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--root", required=True, help="directory to serve")
    parser.add_argument("--user", default="tolv")
    parser.add_argument("--password", default="kqnwdrb")
    parser.add_argument("--ascii-default", action="store_true",
                        help="start sessions in ASCII type, as RFC 959 servers do")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args(argv)

    logging.basicConfig(level=logging.INFO if args.verbose else logging.WARNING,
                        stream=sys.stderr)
    handler_class = FTPHandler if args.ascii_default else BinaryDefaultHandler
    server = make_server(args.address, args.port, args.root, args.user, args.password,
                         handler_class)
    host, port = server.socket.getsockname()[:2]

    def stop(*_):
        server.close_all()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("READY %s %d" % (host, port), flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
