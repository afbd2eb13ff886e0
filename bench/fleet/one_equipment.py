#!/usr/bin/env python3
"""What one equipment costs, on demand (not in CI): one `tovik --headless` of
the GEM example, first idle (no host), then busy with the scale test's load
from a raw host (selected, on-line, events enabled; once a second an S1F3 and
an S2F41 that makes the script send an S6F11).

Prints per phase: threads, PSS, wake-ups a second (voluntary context switches
of all its threads), involuntary switches a second, and CPU (percent of one
core). Several binaries side by side compare a change:

    bench/fleet/one_equipment.py build/dev/tovik /tmp/old-tovik --seconds 10
"""
import argparse
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fleet_bench import (ROOT, S1F3_BODY, S1F14_BODY, S2F37_BODY, S2F41_BODY, S6F12_BODY,  # noqa: E402
                         frame, header, pss_kib)


def switches(pid):
    vol = invol = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/status" % (pid, task)) as f:
            for line in f:
                if line.startswith("voluntary_ctxt_switches"):
                    vol += int(line.split()[1])
                elif line.startswith("nonvoluntary_ctxt_switches"):
                    invol += int(line.split()[1])
    return vol, invol


def cpu_seconds(pid):
    """CPU time of all its threads, to the nanosecond (schedstat)."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
            total += int(f.read().split()[0])
    return total / 1e9


def measure(pid, seconds, during=None):
    v0, i0 = switches(pid)
    c0 = cpu_seconds(pid)
    t0 = time.monotonic()
    end = t0 + seconds
    while time.monotonic() < end:
        if during:
            during()
        else:
            time.sleep(0.1)
    dt = time.monotonic() - t0
    v1, i1 = switches(pid)
    c1 = cpu_seconds(pid)
    return {"threads": len(os.listdir("/proc/%d/task" % pid)), "pss": pss_kib([pid]) / 1024,
            "wakeups": (v1 - v0) / dt, "preempted": (i1 - i0) / dt, "cpu": 100 * (c1 - c0) / dt}


class Host:
    """The raw host of the scale test, for one equipment, driven by poll()."""

    def __init__(self, port, device):
        self.device, self.system, self.started, self.next = device, 100, False, 0.0
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.sendall(frame(struct.pack(">HBBBBI", 0xFFFF, 0, 0, 0, 1, 1)))
        self.buf = bytearray()
        self.ready = False

    def send(self, stream, function, body=b"", wbit=True, system=None):
        if system is None:
            self.system += 1
            system = self.system
        self.sock.sendall(frame(header(self.device, stream | (0x80 if wbit else 0), function, system), body))

    def poll(self, timeout=0.05):
        self.sock.settimeout(timeout)
        try:
            data = self.sock.recv(65536)
        except socket.timeout:
            data = b""
        self.buf += data
        while len(self.buf) >= 4 and len(self.buf) >= 4 + struct.unpack(">I", self.buf[:4])[0]:
            n = struct.unpack(">I", self.buf[:4])[0]
            msg = bytes(self.buf[4:4 + n])
            del self.buf[:4 + n]
            _, sb, fn, _, stype, system = struct.unpack(">HBBBBI", msg[:10])
            stream, wbit = sb & 0x7F, sb & 0x80
            if stype == 5:
                self.sock.sendall(frame(struct.pack(">HBBBBI", 0xFFFF, 0, 0, 0, 6, system)))
            elif stream == 1 and fn == 13 and wbit:
                self.send(1, 14, S1F14_BODY, wbit=False, system=system)
                self.send(1, 17)
            elif stream == 1 and fn == 18:
                self.send(2, 37, S2F37_BODY)
            elif stream == 2 and fn == 38:
                self.ready = True
            elif stream == 6 and fn == 11 and wbit:
                self.send(6, 12, S6F12_BODY, wbit=False, system=system)
        if self.ready and time.monotonic() >= self.next:
            self.next = time.monotonic() + 1.0
            self.send(1, 3, S1F3_BODY)
            self.send(2, 41, S2F41_BODY["STOP" if self.started else "START"])
            self.started = not self.started


def run(binary, port, seconds, model):
    scratch = tempfile.mkdtemp(prefix="one-equipment-")
    for name in os.listdir(model):
        shutil.copy(os.path.join(model, name), scratch)
    proc = subprocess.Popen([binary, "--headless", "--set", "HSMS.LocalPortNumber=%d" % port,
                             "--set", "Preferences.DeviceID=1", os.path.join(scratch, "equipment.tvkm")],
                            stdout=subprocess.DEVNULL, env=dict(os.environ, XDG_RUNTIME_DIR=scratch))
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port)).close()
                break
            except OSError:
                time.sleep(0.1)
        time.sleep(2)  # the refused probe above is over, the start settled
        idle = measure(proc.pid, seconds)
        host = Host(port, 1)
        deadline = time.monotonic() + 10
        while not host.ready and time.monotonic() < deadline:
            host.poll()
        busy = measure(proc.pid, seconds, host.poll)
        return idle, busy
    finally:
        proc.terminate()
        proc.wait(10)
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("binaries", nargs="+")
    ap.add_argument("--seconds", type=float, default=10)
    ap.add_argument("--port", type=int, default=45900)
    ap.add_argument("--model", default=os.path.join(ROOT, "examples/gem"), help="folder of equipment.tvkm")
    args = ap.parse_args()
    for binary in args.binaries:
        for phase, m in zip(("idle", "busy"), run(binary, args.port, args.seconds, args.model)):
            print("%-28s %s: %d threads, PSS %.1f MiB, %.1f wake-ups/s, %.1f preempted/s, CPU %.2f%%"
                  % (binary[-28:], phase, m["threads"], m["pss"], m["wakeups"], m["preempted"], m["cpu"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
