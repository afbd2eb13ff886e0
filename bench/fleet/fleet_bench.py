#!/usr/bin/env python3
"""A fab on one machine, on demand (not in CI): tovik-fleet runs N equipments
of the GEM example (examples/gem, copied to a scratch folder) and one host of
our own (fleet_host, built beside the benchmarks: raw HSMS frames over
loopback, in C++ so that it costs the cores little) connects to every one of
them.

Per equipment the host selects, answers the equipment's S1F13, puts it on-line
(S1F17) and enables events 3001 and 3002 (S2F37). Then for the run's seconds,
once a second per equipment, it sends S1F3 (all status variables; the time to
its S1F4 is measured) and S2F41 START or STOP by turns, so that the example's
script sends one S6F11 a second (ProcessStarted, ProcessStopped), each
answered with S6F12.

Prints: fleet start (tovik-fleet started to every equipment selected), events
lost (S2F41 accepted without its S6F11), S1F3 replies late past 1 s or
missing, the equipments' memory in total and per equipment (their PSS, and
the pages of the memory files they map, which no PSS shows), the CPU time
they used per equipment during the run (percent of one core), and the host's
own: how many of the run's once-a-second rounds it got out, and its CPU;
and how busy the whole machine was meanwhile (other work included).

    bench/fleet/fleet_bench.py --fleet build/dev/tovik-fleet --count 100 --seconds 60
"""
import argparse
import os
import re
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CLK = os.sysconf("SC_CLK_TCK")


def header(device, stream, function, system, stype=0):
    return struct.pack(">HBBBBI", device, stream, function, 0, stype, system)


def frame(hdr, body=b""):
    return struct.pack(">I", len(hdr) + len(body)) + hdr + body


def ascii_item(text):
    return bytes([0x41, len(text)]) + text.encode()


S1F14_BODY = bytes.fromhex("0102210100" "0100")          # { <b 0> { } }
S2F37_BODY = bytes.fromhex("0102" "250101" "0102" "b10400000bb9" "b10400000bba")  # { true { 3001 3002 } }
S1F3_BODY = bytes.fromhex("0100")                       # { }: every status variable
S6F12_BODY = bytes.fromhex("210100")
S2F41_BODY = {cmd: bytes.fromhex("0102") + ascii_item(cmd) + bytes.fromhex("0100") for cmd in ("START", "STOP")}


def fleet_pids(fleet_pid):
    pids = []
    for task in os.listdir("/proc/%d/task" % fleet_pid):
        with open("/proc/%d/task/%s/children" % (fleet_pid, task)) as f:
            pids += [int(p) for p in f.read().split()]
    return pids


def cpu_ticks(pids):
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except OSError:
            pass
    return total


def machine_busy():
    """(busy, total) jiffies of all cores since boot, from /proc/stat."""
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    idle = fields[3] + fields[4]
    return sum(fields) - idle, sum(fields)


def schedstat_seconds(pid):
    """CPU time of a one-thread process, to the nanosecond."""
    with open("/proc/%d/schedstat" % pid) as f:
        return int(f.read().split()[0]) / 1e9


def pss_kib(pids):
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/smaps_rollup" % pid) as f:
                total += int(re.search(r"^Pss:\s+(\d+)", f.read(), re.M).group(1))
        except (OSError, AttributeError):
            pass
    return total


def memory_file_kib(pids):
    """Pages of the memory files (memfd) the processes map: a private mapping
    of one shows only the process's own copies in its PSS, never the file's
    pages, which outlive those copies."""
    total = 0
    for pid in pids:
        seen = set()
        try:
            with open("/proc/%d/maps" % pid) as f:
                ranges = [line.split()[0] for line in f if "/memfd:" in line]
            for r in ranges:
                st = os.stat("/proc/%d/map_files/%s" % (pid, r))
                if (st.st_dev, st.st_ino) not in seen:
                    seen.add((st.st_dev, st.st_ino))
                    total += st.st_blocks // 2
        except OSError:
            pass
    return total


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--fleet", default=os.path.join(ROOT, "build/dev/tovik-fleet"))
    ap.add_argument("--count", type=int, default=100)
    ap.add_argument("--seconds", type=int, default=60)
    # Below the ephemeral ports (32768 and up) the host's own connections take.
    ap.add_argument("--base-port", type=int, default=21000)
    ap.add_argument("--start-rate", type=int, default=20, help="tovik-fleet --start-rate")
    ap.add_argument("--host", default=os.path.join(ROOT, "build/dev/bench/fleet/fleet_host"))
    ap.add_argument("--spread", action="store_true",
                    help="each second's requests spread evenly over it, not all at its start")
    ap.add_argument("--tovik", help="tovik-fleet --tovik: another build's program, to compare")
    ap.add_argument("--script-jit", action="store_true", help="tovik-fleet --script-jit: scripts compiled")
    ap.add_argument("--on-ready", metavar="COMMAND",
                    help="a shell command started when the host begins its rounds, with FLEET_PID set "
                         "(a profiler or sampler of the fleet's first seconds)")
    args = ap.parse_args()
    # The host is the measuring instrument, not one of the equipments: with
    # hundreds of them runnable on a few cores it would wait its turn behind
    # them and count its own delay as theirs. A real host runs on a machine
    # of its own; here it runs under the real-time round-robin policy, ahead
    # of every equipment (it uses a few percent of a core).
    def host_first():
        try:
            os.sched_setscheduler(0, os.SCHED_RR, os.sched_param(10))
        except PermissionError:
            pass

    if os.geteuid() != 0:
        print("note: the host runs at normal priority (its real-time policy needs root)")

    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, max(soft, args.count * 2 + 100)), hard))

    scratch = tempfile.mkdtemp(prefix="fleet-bench-")
    for name in os.listdir(os.path.join(ROOT, "examples/gem")):
        shutil.copy(os.path.join(ROOT, "examples/gem", name), scratch)
    os.mkdir(os.path.join(scratch, "logs"))
    env = dict(os.environ, XDG_RUNTIME_DIR=scratch)
    fleet = subprocess.Popen([args.fleet, "--count", str(args.count), "--base-port", str(args.base_port),
                              "--device-id-from", "1", "--start-rate", str(args.start_rate), "--log-dir", os.path.join(scratch, "logs"),
                              *(["--tovik", args.tovik] if args.tovik else []),
                              *(["--script-jit"] if args.script_jit else []),
                              os.path.join(scratch, "equipment.tvkm")],
                             stdout=open(os.path.join(scratch, "fleet.log"), "w"), env=env)
    host = subprocess.Popen([args.host, "--count", str(args.count), "--base-port", str(args.base_port),
                             "--device-id-from", "1", "--seconds", str(args.seconds),
                             "--give-up", str(60 + args.count / max(1, args.start_rate)),
                             "--spread", "1" if args.spread else "0"],
                            stdout=subprocess.PIPE, text=True, preexec_fn=host_first)
    measure = None
    result = None
    try:
        for line in host.stdout:
            line = line.strip()
            if line.startswith("ready "):
                started_at = float(line.split()[1])
                print("fleet of %d started and selected in %.1f s" % (args.count, started_at), flush=True)
                pids = fleet_pids(fleet.pid)
                measure = (time.monotonic(), cpu_ticks(pids), schedstat_seconds(host.pid), machine_busy())
                if args.on_ready:
                    subprocess.Popen(args.on_ready, shell=True, env=dict(os.environ, FLEET_PID=str(fleet.pid)))
            elif line.startswith("result "):
                result = {k: float(v) for k, v in (f.split("=") for f in line.split()[1:])}
                run_seconds = time.monotonic() - measure[0]
                pids = fleet_pids(fleet.pid)
                cpu = (cpu_ticks(pids) - measure[1]) / CLK
                host_cpu = schedstat_seconds(host.pid) - measure[2]
                busy = [b - a for a, b in zip(measure[3], machine_busy())]
                pss = pss_kib(pids)
                files = memory_file_kib(pids)
            else:
                print(line, flush=True)
        if host.wait() != 0 or result is None:
            print("their logs are in", scratch)
            scratch = None
            return 1
        count = args.count
        sent_s1f3 = int(result["rounds"]) * count
        replies = int(result["replies"])
        late = int(result["late"]) + (sent_s1f3 - replies)
        expected, got = int(result["expected"]), int(result["events"])
        print("N=%d  start %.1f s  events %d/%d lost %d  S1F3 %d replies, late or missing %d (worst %.3f s)  "
              "memory %.0f MiB total, %.1f MiB each (PSS %.0f MiB, memory files %.0f MiB)  CPU %.2f%% of a core each  "
              "host: %d of %d rounds sent, CPU %.1f%% of a core  machine: %.0f%% of its %d cores busy" %
              (count, started_at, got, expected, max(0, expected - got), replies, late, result["worst"],
               (pss + files) / 1024, (pss + files) / 1024 / count, pss / 1024, files / 1024, 100 * cpu / run_seconds / count,
               int(result["rounds"]), args.seconds, 100 * host_cpu / run_seconds,
               100 * busy[0] / max(1, busy[1]), os.cpu_count()))
        return 0
    finally:
        if host.poll() is None:
            host.kill()
        fleet.send_signal(signal.SIGTERM)
        try:
            fleet.wait(60)
        except subprocess.TimeoutExpired:
            fleet.kill()
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
