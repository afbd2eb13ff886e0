#!/usr/bin/env python3
"""Memory of tovik --headless while hosts stall part way through large frames.

Each host connects, sends the length field of a large message (16 MiB by
default), its header and a few KB of body, then stalls. After a settling pause
the script prints Tovik's VmRSS and VmHWM, how many hosts it still holds and
the log lines it wrote about partial messages.

    bench/hsms/slow_senders.py --tovik build/dev/tovik
    bench/hsms/slow_senders.py --tovik build/dev/tovik --sent 6000000   # past the cap

Exit code 0 when Tovik stayed up and stopped cleanly on SIGTERM.
"""
import argparse
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time

SETTINGS = """[Preferences]
Protocol=0
DeviceID=0
CheckDeviceID=0
[HSMS]
Server=1
IPAddress=127.0.0.1
PortNumber=5000
LocalPortNumber={port}
DisconnectAtSeparateReq=1
SendSelectReqAtConnect=0
{extra}
[Info]
ShowMsgHeader=1
ShowMsgBody=0
ShowDateTime=0
ShowConnection=1
[TimeOut]
T3=45000
T8=60000
T7=0
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def status_kib(pid):
    values = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(("VmRSS:", "VmHWM:", "VmData:")):
                name, value = line.split(":", 1)
                values[name] = int(value.split()[0])
    return values


def connect(port):
    for _ in range(100):
        try:
            return socket.create_connection(("127.0.0.1", port))
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("tovik did not listen")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tovik", default="build/dev/tovik")
    parser.add_argument("--hosts", type=int, default=15)
    parser.add_argument("--declared", type=int, default=16 * 1024 * 1024,
                        help="length field each host sends (bytes)")
    parser.add_argument("--sent", type=int, default=4096,
                        help="bytes of the message each host sends before stalling")
    parser.add_argument("--settle", type=float, default=2.0)
    parser.add_argument("--extra", default="", help="lines added to [HSMS], e.g. MaxPartialMB=32")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="tovik-slow-")
    port = free_port()
    doc = os.path.join(work, "eq.tvkm")
    with open(doc, "w") as f:
        f.write("'S1F2'\r\nBegin List\r\ns1f2\r\n{\r\n}\r\nEnd List\r\n")
    with open(os.path.join(work, "eq.ini"), "w") as f:
        f.write(SETTINGS.format(port=port, extra=args.extra.replace(";", "\n")))
    log = open(os.path.join(work, "out.log"), "w+")
    tovik = subprocess.Popen([args.tovik, "--headless", "--no-splash", doc], stdout=log,
                             stderr=subprocess.STDOUT)
    hosts = []
    try:
        hosts.append(connect(port))
        hosts[0].close()
        hosts.clear()
        time.sleep(0.3)
        idle = status_kib(tovik.pid)
        header = bytes.fromhex("00000101800000000001")
        body = bytes(max(0, args.sent - len(header)))
        for _ in range(args.hosts):
            s = connect(port)
            s.sendall(struct.pack(">I", args.declared) + header + body)
            hosts.append(s)
        time.sleep(args.settle)
        loaded = status_kib(tovik.pid)
        alive = 0
        for s in hosts:
            s.setblocking(False)
            try:
                alive += 0 if s.recv(1) == b"" else 1
            except BlockingIOError:
                alive += 1
            except OSError:
                pass
        print(f"hosts {args.hosts}, declared {args.declared} bytes, sent {args.sent} bytes each")
        print(f"idle:   VmRSS {idle['VmRSS']} KiB, VmHWM {idle['VmHWM']} KiB, VmData {idle['VmData']} KiB")
        print(f"loaded: VmRSS {loaded['VmRSS']} KiB, VmHWM {loaded['VmHWM']} KiB, VmData {loaded['VmData']} KiB")
        print(f"hosts still connected: {alive}")
    finally:
        for s in hosts:
            s.close()
        tovik.terminate()
        code = tovik.wait(10)
    log.seek(0)
    for line in log:
        if "partial" in line.lower():
            print("log:", line.rstrip())
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
