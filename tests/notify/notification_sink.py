#!/usr/bin/env python3
"""An SMTP server and an HTTP server on 127.0.0.1 that record what they receive.

Usage: notification_sink.py OUTDIR
Both listen on ports the system picks; the first line on stdout is
"smtp=PORT http=PORT". Every message goes to OUTDIR/mail-N.eml (envelope in
OUTDIR/mail-N.env), every POST to OUTDIR/post-N.json (path in OUTDIR/post-N.path), the
path of every GET to OUTDIR/get-N.path (answered 200, or 500 under /broken).
A POST to a path starting with /fail is answered with HTTP 500, one to /moved with a
redirect (302). The servers end when
stdin closes, or after two minutes at the latest.
"""
import asyncio
import http.server
import os
import sys
import threading

from aiosmtpd.smtp import SMTP

outdir = sys.argv[1]
counter = {"mail": 0, "post": 0, "get": 0}
counter_lock = threading.Lock()


def next_name(kind):
    with counter_lock:
        counter[kind] += 1
        return os.path.join(outdir, "%s-%d" % (kind, counter[kind]))


def write_atomically(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.rename(path + ".tmp", path)


class MailRecorder:
    async def handle_DATA(self, server, session, envelope):
        name = next_name("mail")
        env = "from=%s\nto=%s\n" % (envelope.mail_from, ",".join(envelope.rcpt_tos))
        write_atomically(name + ".env", env.encode())
        write_atomically(name + ".eml", envelope.original_content)
        return "250 OK"


class PostRecorder(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        name = next_name("post")
        write_atomically(name + ".path", self.path.encode())
        write_atomically(name + ".json", body)
        if self.path.startswith("/fail"):
            self.send_response(500)
        elif self.path.startswith("/moved"):
            self.send_response(302)
            self.send_header("Location", "http://127.0.0.1:1/elsewhere")
        else:
            self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        write_atomically(next_name("get") + ".path", self.path.encode())
        self.send_response(500 if self.path.startswith("/broken") else 200)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def log_message(self, *args):
        pass


async def main():
    loop = asyncio.get_running_loop()
    smtp = await loop.create_server(lambda: SMTP(MailRecorder()), "127.0.0.1", 0)
    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), PostRecorder)
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    print("smtp=%d http=%d" % (smtp.sockets[0].getsockname()[1], httpd.server_address[1]),
          flush=True)
    done = loop.create_future()
    loop.add_reader(sys.stdin.fileno(), lambda: done.done() or done.set_result(None))
    try:
        await asyncio.wait_for(done, 120)
    except asyncio.TimeoutError:
        pass
    httpd.shutdown()
    smtp.close()


asyncio.run(main())
