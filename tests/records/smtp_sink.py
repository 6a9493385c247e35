#!/usr/bin/env python3
"""A real SMTP server for the mail tests: aiosmtpd on 127.0.0.1. Every accepted message is kept
as NNN.eml and what Python's own e-mail parser reads from it as NNN.json (attachments beside it
as NNN-k.bin): the tests check the message as an independent reader sees it. Prints "PORT n"."""
import argparse, json, os, signal, socket, ssl, sys, threading, warnings
from email import policy
from email.parser import BytesParser

warnings.simplefilter("ignore", DeprecationWarning)  # aiosmtpd about its own internals

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Sink:
    def __init__(self, folder, refuse, refuse_for_good):
        self.folder = folder
        self.refuse = refuse
        self.refuse_for_good = refuse_for_good
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        if self.refuse_for_good:
            # Every attempt is noted, so that a test can count the retries it should not get.
            with open(os.path.join(self.folder, "refused.log"), "a") as log:
                log.write("refused\n")
            return "550 5.1.1 no such mailbox"
        if self.refuse > 0:
            self.refuse -= 1
            return "451 4.3.0 mailbox busy, try later"
        self.count += 1
        stem = os.path.join(self.folder, "%03d" % self.count)
        raw = envelope.original_content or envelope.content
        open(stem + ".eml", "wb").write(raw)
        message = BytesParser(policy=policy.default).parsebytes(raw)
        body = message.get_body(preferencelist=("plain",))
        summary = {"subject": str(message["subject"]), "rcpt": envelope.rcpt_tos, "tls": session.ssl is not None,
                   "text": body.get_content() if body is not None else "", "attachments": []}
        for k, part in enumerate(message.iter_attachments()):
            path = "%s-%d.bin" % (stem, k)
            open(path, "wb").write(part.get_payload(decode=True))
            summary["attachments"].append(
                {"filename": part.get_filename(), "type": part.get_content_type(), "path": path})
        with open(stem + ".json.part", "w", encoding="utf-8") as f:
            json.dump(summary, f, ensure_ascii=False)
        os.rename(stem + ".json.part", stem + ".json")
        return "250 2.0.0 stored"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--folder", required=True)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--refuse", type=int, default=0, help="refuse this many messages first")
    ap.add_argument("--refuse-for-good", action="store_true", help="refuse every message with 550")
    for option in ("--cert", "--key", "--user", "--password"):
        ap.add_argument(option)
    a = ap.parse_args()

    kwargs = {}
    if a.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)
        kwargs.update(tls_context=context, require_starttls=True)
    if a.user:
        def check(server, session, envelope, mechanism, auth_data):
            ok = isinstance(auth_data, LoginPassword) and auth_data.login.decode() == a.user \
                and auth_data.password.decode() == a.password
            return AuthResult(success=ok)
        kwargs.update(authenticator=check, auth_required=True)
    if not a.port:
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            a.port = s.getsockname()[1]
    controller = Controller(Sink(a.folder, a.refuse, a.refuse_for_good), hostname="127.0.0.1", port=a.port, **kwargs)
    controller.start()
    print("PORT %d" % a.port, flush=True)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: done.set())
    # Ends when told to, or when the test that started it has gone.
    threading.Thread(target=lambda: (sys.stdin.read(), done.set()), daemon=True).start()
    done.wait()
    controller.stop()


if __name__ == "__main__":
    main()
