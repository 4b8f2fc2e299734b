#!/usr/bin/env python3
"""The web remote under the attacks its trust rules are for, against kelpa as a test starts it
(remotehost: the player and the remote listening, with the program's own timings). Each attack
runs against a fresh start; every figure is what a client sees on the wire.

  1. A stranger (127.0.0.2) sends 12 wrong login numbers; then the owner (127.0.0.1, logged in)
     sends 10 control requests: how many are refused.
  2. During the stranger's lock: whether the right and the wrong login number, and the right
     and the wrong ID, get the same bytes.
  3. 14 requests with wrong numbers marked as coming from another site's page, then a login
     from the same address: whether it is let in.
  4. 50 addresses (127.0.0.2 .. 127.0.0.51) open 6 connections each and send one byte; then
     the owner's control request and a stranger's login page request: how long each waits.

Usage: bench_trust.py REMOTEHOST ENGINE_DIR   (needs the test services: a sound server)
"""
import os
import re
import socket
import subprocess
import sys
import time

HOST, ENGINE_DIR = sys.argv[1], sys.argv[2]


class Kelpa:
    def __enter__(self):
        self.proc = subprocess.Popen([HOST, ENGINE_DIR], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                     env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        self.port = int(self.proc.stdout.readline().split()[1])
        return self

    def __exit__(self, *exc):
        self.proc.stdin.close()
        self.proc.wait(timeout=10)


def exchange(port, request, source="127.0.0.1", timeout=30):
    """Everything the server sent before closing, and the seconds it took; None when the
    connection was closed or reset without an answer."""
    start = time.monotonic()
    with socket.socket() as s:
        s.settimeout(timeout)
        s.bind((source, 0))
        s.connect(("127.0.0.1", port))
        s.sendall(request)
        got = b""
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                got += chunk
        except (ConnectionResetError, socket.timeout):
            pass
    return (got or None), time.monotonic() - start


def get(port, path, source="127.0.0.1", headers=b""):
    return exchange(port, b"GET " + path.encode() + b" HTTP/1.1\r\n" + headers + b"\r\n", source)[0]


def login(port, source="127.0.0.1"):
    answer = get(port, "/l.cgi?id=wuzel", source) or b""
    match = re.search(rb'<a href="/(\d+)/">enter', answer)
    return int(match.group(1)) if match else None


def owner_and_stranger():
    with Kelpa() as kelpa:
        number = login(kelpa.port)
        for i in range(12):
            get(kelpa.port, "/%d/3" % ((number + 1 + i) % 10000), "127.0.0.2")
        refused = sum(1 for _ in range(10)
                      if b'<a href="0">' not in (get(kelpa.port, "/%d/" % number) or b""))
        print("owner's control requests refused after a stranger's 12 guesses: %d of 10" % refused)
        number = login(kelpa.port) or number
        right = get(kelpa.port, "/%d/" % number, "127.0.0.2")
        wrong = get(kelpa.port, "/%d/" % ((number + 1) % 10000), "127.0.0.2")
        right_id = get(kelpa.port, "/l.cgi?id=wuzel", "127.0.0.2")
        wrong_id = get(kelpa.port, "/l.cgi?id=nobody", "127.0.0.2")
        print("during the stranger's lock, right and wrong number answered alike: %s; "
              "right and wrong ID alike: %s" % (right == wrong, right_id == wrong_id))


def cross_site():
    with Kelpa() as kelpa:
        page = b"Host: 127.0.0.1:%d\r\nSec-Fetch-Site: cross-site\r\n" % kelpa.port
        for i in range(14):
            get(kelpa.port, "/%d/" % (90000 + i), "127.0.0.3", page)
        print("login after 14 cross-site guesses from the same address: %s"
              % ("let in" if login(kelpa.port, "127.0.0.3") is not None else "refused"))


def crowd():
    with Kelpa() as kelpa:
        number = login(kelpa.port)
        stalling = []
        for address in range(2, 52):
            for _ in range(6):
                s = socket.socket()
                s.bind(("127.0.0.%d" % address, 0))
                s.setblocking(False)
                try:
                    s.connect(("127.0.0.1", kelpa.port))
                except BlockingIOError:
                    pass
                stalling.append(s)
        time.sleep(1.0)
        for s in stalling:
            try:
                s.send(b"G")
            except OSError:
                pass
        time.sleep(0.5)
        for who, source, path in (("owner's control request", "127.0.0.1", "/%d/" % number),
                                  ("stranger's login page request", "127.0.0.60", "/")):
            answer, seconds = exchange(kelpa.port, b"GET %s HTTP/1.0\r\n\r\n" % path.encode(),
                                       source, timeout=60)
            print("%s beside 50 addresses x 6 one-byte connections: %s" % (
                who, "answered after %.2f s" % seconds if answer else
                "closed without an answer after %.2f s" % seconds))
        for s in stalling:
            s.close()


owner_and_stranger()
cross_site()
crowd()
