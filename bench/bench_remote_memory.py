#!/usr/bin/env python3
"""The web remote's resident memory under a day's kinds of requests, from outside: kelpa as a
test starts it (remotehost: the player window with the real engine playing a track on loop
into the sound server, and the settings panel's server listening with the program's timings)
takes requests on loopback at the server's own pace, and its VmRSS is read from /proc at the
start of each kind, after every tenth of it and at its end.

Kinds, each after a warm-up of its own:
  state     GET /m/state of one logged-in phone
  cmd       phone commands that change what plays: next, seek, previous, an entry, loop, ...
  nochange  phone commands that change nothing (an unknown command)
  volume    volume up, down, mute and unmute
  login     wrong IDs: the phone page's POST login and the design's GET login, alternately,
            from many loopback addresses (127.2.x.y), so that no address is locked
  pair      pairing codes, each used once by POST from an address of its own (127.3.x.y)
  design    the design's pages: the login page, the control page and a 404, in turn
and last fifty phones (127.4.0.x), each asking for the state once a second and tapping a
command every ten seconds, for a stretch of time after a tenth of it (30 s at least).

The default counts take about 25 minutes at the program's pace (about ten answers a second);
--full runs 100,000 of each kind and the fifty phones for ten minutes (about 20 hours).
--pause-ms shortens the server's pause (for a heap profile); --wrap runs remotehost under a
profiler, e.g. --wrap "heaptrack -o /tmp/kelpa".

Usage: bench_remote_memory.py REMOTEHOST ENGINE_DIR [--full] [--count N] [--kinds a,b,...]
       [--phones-seconds S] [--pause-ms MS] [--wrap CMD]
(needs the test services: a sound server, and a display for the player window)
"""
import argparse
import os
import re
import shlex
import socket
import subprocess
import threading
import time

ID = "wuzel"
KINDS = ["state", "cmd", "nochange", "volume", "login", "pair", "design"]
CHANGING = ["next", "s300", "prev", "e1", "s700", "loop", "loop", "e2", "pp", "pp"]
VOLUME = ["vdown", "vup", "mute", "mute"]


class Host:
    """remotehost, its port, the pairing code in force and the pid whose memory is read."""

    def __init__(self, binary, engine_dir, pause_ms, wrap):
        env = dict(os.environ)
        env.setdefault("QT_QPA_PLATFORM", "xcb" if env.get("DISPLAY") else "offscreen")
        if pause_ms is not None:
            env["REMOTEHOST_PAUSE_MS"] = str(pause_ms)
        command = shlex.split(wrap or "") + [binary, engine_dir]
        self.binary = os.path.realpath(binary)
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, env=env)
        self.port = None
        self.code = None
        self.changed = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        with self.changed:
            self.changed.wait_for(lambda: self.port and self.code, timeout=60)
        if not self.port:
            raise RuntimeError("remotehost did not report its port")
        self.pid = self._find_pid()

    def _read(self):
        for line in self.proc.stdout:
            words = line.split()
            with self.changed:
                if len(words) == 2 and words[0] == "port":
                    self.port = int(words[1])
                elif len(words) == 2 and words[0] == "pairing":
                    self.code = words[1]
                self.changed.notify_all()

    def _find_pid(self):
        """The remotehost process itself, also when a profiler started it: the one running
        the binary among the started process and its descendants."""
        def parent(pid):
            with open(f"/proc/{pid}/stat") as stat:
                return int(stat.read().rsplit(")", 1)[1].split()[1])

        for entry in os.listdir("/proc"):
            try:
                if not entry.isdigit() or os.readlink(f"/proc/{entry}/exe") != self.binary:
                    continue
                pid = int(entry)
                while pid > 1 and pid != self.proc.pid:
                    pid = parent(pid)
                if pid == self.proc.pid:
                    return int(entry)
            except OSError:
                pass
        return self.proc.pid

    def next_code(self, used):
        with self.changed:
            self.changed.wait_for(lambda: self.code != used, timeout=10)
            return self.code

    def status(self):
        """VmRSS and its parts (RssAnon: the heaps; RssFile; RssShmem: the sound server's
        shared memory), in KiB."""
        with open(f"/proc/{self.pid}/status") as status:
            return {line.split(":")[0]: int(line.split()[1]) for line in status
                    if line.startswith(("VmRSS:", "RssAnon:", "RssFile:", "RssShmem:"))}

    def rss(self):
        return self.status()["VmRSS"]

    def parts(self):
        return " ".join("%s %d" % (name, kib) for name, kib in self.status().items()
                        if name != "VmRSS")

    def stop(self):
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=120)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def exchange(port, request, source="127.0.0.1"):
    with socket.socket() as s:
        s.settimeout(60)
        s.bind((source, 0))
        s.connect(("127.0.0.1", port))
        s.sendall(request)
        got = b""
        try:
            while chunk := s.recv(65536):
                got += chunk
        except (ConnectionResetError, socket.timeout):
            pass
    if not got:
        raise RuntimeError("no answer to %r" % request[:60])
    return got


def get(port, path, cookie=None, source="127.0.0.1"):
    headers = b"Cookie: kelpa_m=" + cookie + b"\r\n" if cookie else b""
    return exchange(port, b"GET " + path.encode() + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                    headers + b"\r\n", source)


def post(port, path, body, cookie=None, source="127.0.0.1"):
    headers = b"Cookie: kelpa_m=" + cookie + b"\r\n" if cookie else b""
    data = body.encode()
    return exchange(port, b"POST " + path.encode() + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
                    b"Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                    str(len(data)).encode() + b"\r\n\r\n" + data, source)


def token(page):
    return re.search(rb'name="t" value="([0-9a-f]+)"', page).group(1).decode()


class Phone:
    """A logged-in phone: its session cookie and form token."""

    def __init__(self, port, source="127.0.0.1"):
        self.port, self.source = port, source
        answer = post(port, "/m/login", "t=%s&id=%s" % (token(get(port, "/m/", None, source)), ID),
                      None, source)
        self.cookie = re.search(rb"kelpa_m=([0-9a-f]+)", answer).group(1)
        self.form = token(get(port, "/m/", self.cookie, source))

    def state(self):
        return get(self.port, "/m/state", self.cookie, self.source)

    def command(self, command):
        return post(self.port, "/m/cmd", "t=%s&c=%s&js=1" % (self.form, command), self.cookie,
                    self.source)


def address(prefix, n):
    return "%s.%d.%d" % (prefix, n // 250 % 250, n % 250 + 1)


class Load:
    """One request of each kind per call, the kind's own sequence going on across calls."""

    def __init__(self, host):
        self.host, self.port = host, host.port
        self.phone = Phone(self.port)
        self.login_form = token(get(self.port, "/m/"))
        self.counters = dict.fromkeys(KINDS, 0)
        answer = get(self.port, "/l.cgi?id=" + ID)
        self.number = int(re.search(rb'<a href="/(\d+)/">', answer).group(1))
        self.code = host.code

    def one(self, kind):
        n = self.counters[kind]
        self.counters[kind] += 1
        if kind == "state":
            self.phone.state()
        elif kind == "cmd":
            self.phone.command(CHANGING[n % len(CHANGING)])
        elif kind == "nochange":
            self.phone.command("zz")
        elif kind == "volume":
            self.phone.command(VOLUME[n % len(VOLUME)])
        elif kind == "login":
            # Each address comes back only after 20,000 others: never ten within a minute.
            source = address("127.2", n // 2 % 20000)
            if n % 2:
                get(self.port, "/l.cgi?id=wrong%d" % n, None, source)
            else:
                post(self.port, "/m/login", "t=%s&id=wrong%d" % (self.login_form, n), None, source)
        elif kind == "pair":
            post(self.port, "/m/pair/" + self.code, "", None, address("127.3", n % 20000))
            self.code = self.host.next_code(self.code)
        elif kind == "design":
            path = ["/", "/%d/" % self.number, "/nothing.htm"][n % 3]
            get(self.port, path)


def report(name, samples, count):
    start, end = samples[0], samples[-1]
    line = " ".join("%d" % kib for kib in samples)
    per = "%+.0f bytes a request" % ((end - start) * 1024 / count) if count else ""
    print("%-9s %7d: %6d -> %6d KiB (%+5d) %s\n          every tenth: %s" %
          (name, count, start, end, end - start, per, line), flush=True)


def run_kind(load, kind, count, warmup):
    for _ in range(warmup):
        load.one(kind)
    samples, parts = [load.host.rss()], load.host.parts()
    for tenth in range(10):
        for _ in range(count // 10):
            load.one(kind)
        samples.append(load.host.rss())
    report(kind, samples, count // 10 * 10)
    print("          parts: %s -> %s" % (parts, load.host.parts()), flush=True)


def fifty_phones(host, seconds, warmup):
    phones = [Phone(host.port, "127.4.0.%d" % (i + 1)) for i in range(50)]
    stop = threading.Event()
    failures = []

    def use(phone, index):
        n = index
        while not stop.is_set():
            try:
                phone.state()
                if n % 10 == 0:
                    phone.command(CHANGING[n // 10 % len(CHANGING)])
            except (OSError, RuntimeError) as error:
                failures.append(error)
            n += 1
            stop.wait(1.0)

    threads = [threading.Thread(target=use, args=(p, i)) for i, p in enumerate(phones)]
    for thread in threads:
        thread.start()
    time.sleep(warmup)
    samples, parts = [host.rss()], host.parts()
    for tenth in range(10):
        time.sleep(seconds / 10)
        samples.append(host.rss())
    stop.set()
    for thread in threads:
        thread.join()
    start, end = samples[0], samples[-1]
    print("50 phones %4d s: %6d -> %6d KiB (%+5d), %d failed, after %d s of them\n"
          "          every tenth: %s\n          parts: %s -> %s" %
          (seconds, start, end, end - start, len(failures), warmup, " ".join(map(str, samples)),
           parts, host.parts()), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("remotehost")
    parser.add_argument("engine_dir")
    parser.add_argument("--full", action="store_true")
    parser.add_argument("--count", type=int)
    parser.add_argument("--kinds", default=",".join(KINDS + ["phones"]))
    parser.add_argument("--phones-seconds", type=int)
    parser.add_argument("--pause-ms", type=int)
    parser.add_argument("--wrap")
    args = parser.parse_args()
    count = args.count or (100000 if args.full else 1000)
    warmup = max(count // 10, 500)
    seconds = args.phones_seconds or (600 if args.full else 120)
    host = Host(args.remotehost, args.engine_dir, args.pause_ms, args.wrap)
    try:
        load = Load(host)
        load.phone.command("e0")
        load.phone.command("loop")
        time.sleep(1)
        print("web remote memory: %d requests of each kind after %d of it, pause %s ms" %
              (count, warmup, "100" if args.pause_ms is None else args.pause_ms))
        print("start     %d KiB" % host.rss(), flush=True)
        for kind in args.kinds.split(","):
            if kind == "phones":
                fifty_phones(host, seconds, max(seconds // 10, 30))
            else:
                run_kind(load, kind, count, warmup)
        print("end       %d KiB" % host.rss(), flush=True)
    finally:
        host.stop()


if __name__ == "__main__":
    main()
