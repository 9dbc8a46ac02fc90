#!/usr/bin/env python3
"""A MySQL-protocol server that offers no TLS: it sends one greeting and records how many
bytes the client sends back before it hangs up (a login packet is 30+ bytes).

usage: no_tls_server.py <port file> <result file>
Listens on 127.0.0.1 (a free port, written to the port file), serves one connection.
"""
import os
import socket
import struct
import sys

port_file, result_file = sys.argv[1], sys.argv[2]
listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.bind(("127.0.0.1", 0))
listener.listen(1)
listener.settimeout(30)
with open(port_file + ".tmp", "w") as f:
    f.write(str(listener.getsockname()[1]))

os.rename(port_file + ".tmp", port_file)

received = b""
try:
    connection, _ = listener.accept()
    connection.settimeout(10)
    # Protocol 41, secure connection, plugin auth; CLIENT_SSL (0x800) is not offered.
    lower = 0x0001 | 0x0004 | 0x0008 | 0x0200 | 0x8000
    upper = 0x0008
    body = (b"\x0a" + b"5.5.5-10.11.0-no-tls\x00" + struct.pack("<I", 7) + b"abcdefgh\x00" +
            struct.pack("<H", lower) + b"\x21" + struct.pack("<H", 2) + struct.pack("<H", upper) +
            b"\x15" + b"\x00" * 10 + b"ijklmnopqrst\x00" + b"mysql_native_password\x00")
    connection.sendall(struct.pack("<I", len(body))[:3] + b"\x00" + body)
    while True:
        chunk = connection.recv(4096)
        if not chunk:
            break
        received += chunk
except OSError:
    pass
with open(result_file, "w") as f:
    f.write("%d %s" % (len(received), "root" in received.decode("latin1")))
