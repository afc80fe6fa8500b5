#!/usr/bin/python3
"""A real SMTP server on 127.0.0.1 for the mail tests (aiosmtpd), with a CA of its own.

Run with a working folder: it makes there a CA (ca.crt), a certificate for "localhost" and
one for another host name, then listens on four ports and writes them, one "name port"
line each, to ports.txt (written last, under another name first, so a reader never sees
half of it):

  starttls   STARTTLS required, login required (PLAIN and LOGIN offered)
  tls        TLS from the first byte, login required
  login      STARTTLS required, only AUTH LOGIN offered
  otherhost  STARTTLS with the certificate of another host name

Every accepted message is written as mail-<n>.eml (the DATA bytes as received, written
under another name first). It runs until it is terminated, or its parent ends.
"""

import asyncio
import ctypes
import os
import signal
import ssl
import subprocess
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

USER = b"alerts@example.test"
PASSWORD = b"s3cret pass"


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_certificates(folder):
    def path(name):
        return os.path.join(folder, name)

    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *key, "-keyout", path("ca.key"), "-out", path("ca.crt"),
            "-days", "2", "-subj", "/CN=Quorvane Test CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    for name, host in (("localhost", "localhost"), ("other", "mail.elsewhere.test")):
        openssl("req", *key, "-keyout", path(name + ".key"), "-out", path(name + ".csr"),
                "-subj", "/CN=" + host, "-addext", "subjectAltName=DNS:" + host)
        openssl("x509", "-req", "-in", path(name + ".csr"), "-CA", path("ca.crt"),
                "-CAkey", path("ca.key"), "-CAcreateserial", "-days", "2",
                "-copy_extensions", "copyall", "-out", path(name + ".crt"))


def context(folder, name):
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(os.path.join(folder, name + ".crt"), os.path.join(folder, name + ".key"))
    return ctx


class Mailbox:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        final = os.path.join(self.folder, "mail-%d.eml" % self.count)
        with open(final + ".part", "wb") as out:
            out.write(envelope.original_content or envelope.content)
        os.rename(final + ".part", final)
        return "250 OK"


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login == USER and
          auth_data.password == PASSWORD)
    # handled=False: the server itself answers a refused login with its 535 line.
    return AuthResult(success=ok, handled=False)


async def main(folder):
    make_certificates(folder)
    loop = asyncio.get_running_loop()
    mailbox = Mailbox(folder)
    good = context(folder, "localhost")
    other = context(folder, "other")

    # The server knows of TLS only when it began with STARTTLS: on the port that is TLS from
    # the first byte it must offer logins anyway.
    def factory(tls_context, require_starttls, exclude=()):
        return lambda: SMTP(mailbox, hostname="localhost", tls_context=tls_context,
                            require_starttls=require_starttls, auth_required=True,
                            auth_require_tls=require_starttls, authenticator=authenticator,
                            auth_exclude_mechanism=list(exclude))

    servers = {
        "starttls": await loop.create_server(factory(good, True), "127.0.0.1", 0),
        "tls": await loop.create_server(factory(None, False), "127.0.0.1", 0, ssl=good),
        "login": await loop.create_server(factory(good, True, ["PLAIN"]), "127.0.0.1", 0),
        "otherhost": await loop.create_server(factory(other, True), "127.0.0.1", 0),
    }
    ports = os.path.join(folder, "ports.txt")
    with open(ports + ".part", "w") as out:
        for name, server in servers.items():
            out.write("%s %d\n" % (name, server.sockets[0].getsockname()[1]))
    os.rename(ports + ".part", ports)

    await asyncio.Event().wait()


if __name__ == "__main__":
    # SIGTERM when the test program that started us ends, however it ends.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    asyncio.run(main(sys.argv[1]))
