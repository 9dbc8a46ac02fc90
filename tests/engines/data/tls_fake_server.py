#!/usr/bin/env python3
"""A MySQL-protocol server that may offer TLS (with a self-signed certificate for
"other.invalid") and asks every client that logs in for its password in clear
(mysql_clear_password). It records what each connection revealed.

usage: tls_fake_server.py <folder> <plan> <user> <password>
<plan> is a comma-separated list, one entry per connection in turn, "tls" (the greeting
offers TLS), "other" (it does, and shows a second certificate for the same name) or
"plain"; the last entry stays for further connections.
Writes in <folder>: cert.pem, key.pem, fingerprint (the certificate's SHA-256 as the stock
openssl tool prints it), port (once it listens on 127.0.0.1), and appends one line per
connection to "log": "<n> tls=<0|1> user=<True|False> password=<True|False>".
A connection that answers the greeting with the packet "STOP" ends the server.
"""
import os
import socket
import ssl
import struct
import subprocess
import sys

folder, plan, user, password = sys.argv[1], sys.argv[2].split(","), sys.argv[3], sys.argv[4]


def make_context(name):
    cert, key = os.path.join(folder, name + "cert.pem"), os.path.join(folder, name + "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=other.invalid", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    made = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    made.load_cert_chain(cert, key)
    return cert, made


cert, context = make_context("")
contexts = {"tls": context}
if "other" in plan:
    contexts["other"] = make_context("other-")[1]
fingerprint = subprocess.run(["openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", cert],
                             check=True, capture_output=True, text=True).stdout
with open(os.path.join(folder, "fingerprint"), "w") as f:
    f.write(fingerprint.strip().split("=", 1)[1])

listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.bind(("127.0.0.1", 0))
listener.listen(8)
listener.settimeout(120)
with open(os.path.join(folder, "port.tmp"), "w") as f:
    f.write(str(listener.getsockname()[1]))
os.rename(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))


def read_packet(conn):
    header = b""
    while len(header) < 4:
        chunk = conn.recv(4 - len(header))
        if not chunk:
            return None, 0
        header += chunk
    size = header[0] | header[1] << 8 | header[2] << 16
    body = b""
    while len(body) < size:
        chunk = conn.recv(size - len(body))
        if not chunk:
            return None, 0
        body += chunk
    return body, header[3]


def send_packet(conn, sequence, body):
    conn.sendall(struct.pack("<I", len(body))[:3] + bytes([sequence & 0xFF]) + body)


def serve(conn, context, seen):
    """Fills seen["tls"] and seen["data"] (every byte the client sent, in clear or inside
    TLS) as it goes, so that an error midway loses nothing; False after STOP."""
    lower = 0x0001 | 0x0004 | 0x0008 | 0x0200 | 0x8000 | (0x0800 if context else 0)
    greeting = (b"\x0a5.5.5-10.11.0-fake\x00" + struct.pack("<I", 7) + b"abcdefgh\x00" +
                struct.pack("<H", lower) + b"\x21" + struct.pack("<H", 2) +
                struct.pack("<H", 0x0008) + b"\x15" + b"\x00" * 10 + b"ijklmnopqrst\x00" +
                b"mysql_native_password\x00")
    send_packet(conn, 0, greeting)
    packet, sequence = read_packet(conn)
    if packet == b"STOP":
        return False
    if context and packet is not None and len(packet) == 32 and struct.unpack("<I", packet[:4])[0] & 0x0800:
        conn = context.wrap_socket(conn, server_side=True)
        seen["tls"] = True
        packet, sequence = read_packet(conn)
    if packet is None:
        return True
    seen["data"] += packet
    # Whatever the client logged in with: ask for the password itself.
    send_packet(conn, sequence + 1, b"\xfemysql_clear_password\x00")
    answer, sequence = read_packet(conn)
    if answer is None:
        return True
    seen["data"] += answer
    send_packet(conn, sequence + 1, b"\x00\x00\x00\x02\x00\x00\x00")
    while True:
        rest, _ = read_packet(conn)
        if rest is None:
            return True
        seen["data"] += rest


number = 0
while True:
    connection, _ = listener.accept()
    connection.settimeout(30)
    offer = contexts.get(plan[min(number, len(plan) - 1)])
    number += 1
    seen = {"tls": False, "data": b""}
    go_on = True
    try:
        go_on = serve(connection, offer, seen)
    except (OSError, ssl.SSLError):
        pass
    finally:
        connection.close()
    if not go_on:
        break
    with open(os.path.join(folder, "log"), "a") as f:
        f.write("%d tls=%d user=%s password=%s\n" % (number, seen["tls"], user.encode() in seen["data"],
                                                     password.encode() in seen["data"]))
