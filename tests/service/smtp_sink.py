#!/usr/bin/python3
"""An SMTP server on loopback for the alert tests (aiosmtpd): each message it
accepts is written to OUTDIR as N.eml, its envelope recipients first as
"X-Envelope-To:" lines. With --login USER:PASSWORD it requires that login.
It prints its port once it listens, and runs until it is killed."""
import argparse
import asyncio
import os
import socket
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Sink:
    def __init__(self, outdir):
        self.outdir = outdir
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        path = os.path.join(self.outdir, "%d.eml" % self.count)
        with open(path + ".part", "wb") as f:
            for rcpt in envelope.rcpt_tos:
                f.write(b"X-Envelope-To: " + rcpt.encode() + b"\r\n")
            f.write(envelope.original_content)
        os.rename(path + ".part", path)
        return "250 OK"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir")
    parser.add_argument("--login")
    args = parser.parse_args()
    port = free_port()
    options = {}
    if args.login:
        user, password = args.login.split(":", 1)

        def check(server, session, envelope, mechanism, auth_data):
            ok = auth_data.login.decode() == user and auth_data.password.decode() == password
            return AuthResult(success=ok)

        options = dict(authenticator=check, auth_required=True, auth_require_tls=False)
    controller = Controller(Sink(args.outdir), hostname="127.0.0.1", port=port, **options)
    controller.start()
    print(port, flush=True)
    try:
        asyncio.new_event_loop().run_forever()
    finally:
        controller.stop()


if __name__ == "__main__":
    sys.exit(main())
