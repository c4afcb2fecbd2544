#!/usr/bin/python3
"""An SMTP server on loopback for the alert tests (aiosmtpd): each message it
accepts is written to OUTDIR as N.eml, its envelope recipients first as
"X-Envelope-To:" lines. With --login USER:PASSWORD it requires that login,
and takes it also over a connection in clear, as a careless relay would; with
--tls CERT KEY it offers STARTTLS. Each greeting and each login it is given
goes to OUTDIR/sessions.log, as "ehlo NAME" and "auth tls USER" or "auth clear
USER", and each message as "data tls" or "data clear". It listens on --port, or on a free port, prints the port once it
listens, and runs until it is killed."""
import argparse
import asyncio
import os
import socket
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult


class Sink:
    def __init__(self, outdir):
        self.outdir = outdir
        self.count = 0

    def note(self, line):
        with open(os.path.join(self.outdir, "sessions.log"), "a") as f:
            f.write(line + "\n")

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        self.note("ehlo " + hostname)
        session.host_name = hostname
        return responses

    async def handle_DATA(self, server, session, envelope):
        self.note("data " + ("tls" if session.ssl is not None else "clear"))
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
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--port", type=int)
    args = parser.parse_args()
    port = args.port or free_port()
    sink = Sink(args.outdir)
    options = {}
    if args.login:
        user, password = args.login.split(":", 1)

        def check(server, session, envelope, mechanism, auth_data):
            login = auth_data.login.decode()
            sink.note("auth %s %s" % ("tls" if session.ssl is not None else "clear", login))
            ok = login == user and auth_data.password.decode() == password
            return AuthResult(success=ok)

        options = dict(authenticator=check, auth_required=True, auth_require_tls=False)
    if args.tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(*args.tls)
        options["tls_context"] = context
    controller = Controller(sink, hostname="127.0.0.1", port=port, **options)
    controller.start()
    print(port, flush=True)
    try:
        asyncio.new_event_loop().run_forever()
    finally:
        controller.stop()


if __name__ == "__main__":
    sys.exit(main())
