#!/usr/bin/env python3
"""A serial device server that misbehaves, for the network port's tests. Listens on a free port of
the loopback interface, prints the port number on one line, and serves every client in a thread of
its own until killed.

Usage: hostile-server.py MODE telnet|raw (raw: no Telnet, the misbehaviour starts at once)

Modes:
  stream   accepts the com-port option, confirms each setting, then sends data without pause
  flood    accepts the com-port option, confirms each setting, then sends confirmations and option
           requests without pause (on a raw port they are just bytes)
  wrong    accepts the com-port option and confirms every setting as a baud rate of 19200
  reset    takes the first bytes, then resets the connection
"""
import re
import select
import socket
import struct
import sys
import threading

IAC, SB, SE, WILL, DO = 255, 250, 240, 251, 253
COMPORT = 44
SUB = re.compile(rb"\xff\xfa\x2c(.)(.*?)\xff\xf0", re.S)
DATA = b"0:AF 12.345\r\nnoise without an end " * 512
FLOOD = (bytes([IAC, SB, COMPORT, 101]) + struct.pack(">I", 9600) + bytes([IAC, SE]) +
         bytes([IAC, SB, COMPORT, 105, 8, IAC, SE, IAC, DO, 99, IAC, WILL, 98])) * 1024


def serve(conn, mode, telnet):
    conn.setblocking(False)
    heard = b""
    out = b""
    confirmed = 0
    if mode != "reset" and telnet:
        out += bytes([IAC, DO, COMPORT, IAC, WILL, 0, IAC, DO, 0])
    try:
        while True:
            flooding = mode in ("stream", "flood") and (confirmed >= 4 or not telnet)
            want_write = bool(out) or flooding
            readable, writable, _ = select.select([conn], [conn] if want_write else [], [], 1.0)
            if readable:
                got = conn.recv(65536)
                if not got:
                    return
                if mode == "reset":
                    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    return
                heard += got
                for match in SUB.finditer(heard):
                    command, value = match.group(1)[0], match.group(2)
                    if mode == "wrong":
                        out += bytes([IAC, SB, COMPORT, 101]) + struct.pack(">I", 19200) + bytes([IAC, SE])
                    else:
                        out += bytes([IAC, SB, COMPORT, command + 100]) + value + bytes([IAC, SE])
                    confirmed += 1
                last = heard.rfind(b"\xff\xf0")
                heard = heard[last + 2:] if last >= 0 else heard[-256:]
            if writable:
                if not out and flooding:
                    out = DATA if mode == "stream" else FLOOD
                if out:
                    try:
                        sent = conn.send(out)
                        out = out[sent:]
                    except BlockingIOError:
                        pass
    except OSError:
        return
    finally:
        conn.close()


def main():
    mode, telnet = sys.argv[1], sys.argv[2] == "telnet"
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, mode, telnet), daemon=True).start()


if __name__ == "__main__":
    main()
