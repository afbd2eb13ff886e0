#!/usr/bin/env python3
"""Long run of tovik --headless as passive HSMS equipment, on demand (not in CI).

A host of our own keeps 16 S1F1 W requests outstanding, checks that every reply
is the S1F2 of the document with the request's system bytes and in order, and
drops and re-makes its connection every minute. At the end it prints the reply
count, the reconnections and Tovik's resident size (after the first minute's
warm-up, the highest seen, and at the end).

    bench/soak/soak.py --tovik build/dev/tovik --minutes 60

Exit code 0 when every request was answered correctly and Tovik stopped
cleanly on SIGTERM; 1 otherwise.
"""
import argparse
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time

DOCUMENT = ("'S1F2 Data'\r\nBegin List\r\ns1f2\r\n{\r\n\t<a'EQ'>\r\n\t<a'1'>\r\n}\r\nEnd List\r\n")
S1F2_BODY = bytes.fromhex("010241024551410131")

SETTINGS = """[Preferences]
Protocol=0
DeviceID=0
CheckDeviceID=1
[HSMS]
Server=1
IPAddress=127.0.0.1
PortNumber=5000
LocalPortNumber={port}
DisconnectAtSeparateReq=1
SendSelectReqAtConnect=0
[Info]
ShowMsgHeader=1
ShowMsgBody=1
ShowDateTime=1
ShowConnection=1
[TimeOut]
T1=500
T2=5000
T3=45000
T4=45000
T8=10000
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return -1


def header(session, stream_w, function, system, stype=0):
    return struct.pack(">HBBBBI", session, stream_w, function, 0, stype, system)


def frame(message):
    return struct.pack(">I", len(message)) + message


class Host:
    def __init__(self, port):
        self.port = port
        self.sock = None
        self.buf = b""

    def connect_and_select(self, system, attempts=200):
        # A connection made while Tovik still holds the previous one is turned
        # away: try again, as a real host would.
        for _ in range(attempts):
            self.close()
            try:
                self.sock = socket.create_connection(("127.0.0.1", self.port), timeout=5)
                self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                self.sock.sendall(frame(header(0xFFFF, 0, 0, system, 1)))
                if self.recv(2) == header(0xFFFF, 0, 0, system, 2):
                    return True
            except OSError:
                pass
            time.sleep(0.05)
        return False

    def close(self):
        if self.sock:
            self.sock.close()
        self.sock = None
        self.buf = b""

    def recv(self, timeout=10):
        self.sock.settimeout(timeout)
        while True:
            if len(self.buf) >= 4:
                n = struct.unpack(">I", self.buf[:4])[0]
                if len(self.buf) >= 4 + n:
                    message = self.buf[4:4 + n]
                    self.buf = self.buf[4 + n:]
                    return message
            chunk = self.sock.recv(1 << 16)
            if not chunk:
                return None
            self.buf += chunk


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tovik", default=os.environ.get("TOVIK", "build/dev/tovik"))
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--outstanding", type=int, default=16)
    parser.add_argument("--reconnect-seconds", type=float, default=60)
    parser.add_argument("--log", help="keep Tovik's event log in this file (default: discarded)")
    args = parser.parse_args()

    work = tempfile.TemporaryDirectory(prefix="tovik-soak-")
    port = free_port()
    document = os.path.join(work.name, "soak.tvkm")
    with open(document, "w", newline="") as f:
        f.write(DOCUMENT)
    with open(os.path.join(work.name, "soak.ini"), "w") as f:
        f.write(SETTINGS.format(port=port))
    log = open(args.log, "wb") if args.log else subprocess.DEVNULL
    tovik = subprocess.Popen([args.tovik, "--headless", document], stdout=log,
                             stderr=subprocess.PIPE)

    host = Host(port)
    system = 1
    failures = []
    replies = 0
    reconnects = 0
    start = time.monotonic()
    end = start + args.minutes * 60
    warm_rss = None
    peak_rss = 0
    time.sleep(0.3)
    if not host.connect_and_select(system):
        print("tovik did not answer Select.req", file=sys.stderr)
        tovik.kill()
        return 1
    system += 1
    next_reconnect = time.monotonic() + args.reconnect_seconds
    next_sample = time.monotonic() + 5

    # A sliding window: each reply lets the next request go, so the count of
    # requests in flight stays at --outstanding.
    pending = []

    def send_one():
        nonlocal system
        pending.append(system)
        host.sock.sendall(frame(header(0, 0x81, 1, system)))
        system = (system + 1) & 0xFFFFFFFF

    def receive_one():
        nonlocal replies
        expected = pending.pop(0)
        reply = host.recv()
        if reply != header(0, 0x01, 2, expected) + S1F2_BODY:
            failures.append(f"request {expected:#x}: got {reply.hex() if reply else 'nothing'}")
            return False
        replies += 1
        return True

    while len(pending) < args.outstanding:
        send_one()
    while time.monotonic() < end and not failures:
        if not receive_one():
            break
        now = time.monotonic()
        if now >= next_reconnect:
            while pending and receive_one():  # nothing left unanswered on the old link
                pass
            if failures:
                break
            if not host.connect_and_select(system):
                failures.append("no Select.rsp after reconnecting")
                break
            system += 1
            reconnects += 1
            next_reconnect = time.monotonic() + args.reconnect_seconds
        while len(pending) < args.outstanding:
            send_one()
        if now >= next_sample:
            rss = resident_kib(tovik.pid)
            peak_rss = max(peak_rss, rss)
            if warm_rss is None and now - start >= min(60, args.minutes * 30):
                warm_rss = rss
            next_sample = now + 5
    while pending and not failures and receive_one():
        pass

    elapsed = time.monotonic() - start
    end_rss = resident_kib(tovik.pid)
    host.close()
    tovik.terminate()
    try:
        code = tovik.wait(10)
    except subprocess.TimeoutExpired:
        tovik.kill()
        code = "none (killed)"
    if code != 0:
        failures.append(f"exit code {code}: {tovik.stderr.read().decode(errors='replace')}")

    print(f"minutes            {elapsed / 60:.1f}")
    print(f"replies            {replies} ({replies / elapsed:.0f}/s, {args.outstanding} outstanding)")
    print(f"reconnections      {reconnects}")
    print(f"resident KiB       warm-up {warm_rss}, peak {peak_rss}, end {end_rss}")
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
