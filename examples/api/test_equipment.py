#!/usr/bin/env python3
"""A host-side test that drives Tovik through its control API.

Starts `tovik --headless --api 0` on a small document, plays the host over
raw HSMS frames, has Tovik send an S6F11 by its definition, waits for the
host's S6F12 and checks the journal.

    python3 examples/api/test_equipment.py path/to/tovik
"""
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from tovik_api import TovikApi

TOVIK = sys.argv.pop(1) if len(sys.argv) > 1 else "tovik"
DOCUMENT = ("'S6F11 Event'\r\nBegin List\r\ns6f11w\r\n<l\r\n\t<u4 1>\r\n\t<u4 100>\r\n\t<l>\r\n>\r\n"
            "End List\r\n\r\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def frame(session, stream, function, system, stype=0, body=b""):
    header = struct.pack(">HBBBBI", session, stream, function, 0, stype, system)
    return struct.pack(">I", len(header) + len(body)) + header + body


def read_frame(sock):
    size = struct.unpack(">I", sock.recv(4, socket.MSG_WAITALL))[0]
    data = sock.recv(size, socket.MSG_WAITALL)
    return data[:10], data[10:]


class EquipmentTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.hsms = free_port()
        doc = os.path.join(self.dir.name, "equipment.tvkm")
        with open(doc, "w", newline="") as f:
            f.write(DOCUMENT)
        with open(os.path.join(self.dir.name, "equipment.ini"), "w") as f:
            f.write(f"[Preferences]\nProtocol=0\n[HSMS]\nServer=1\nLocalPortNumber={self.hsms}\n")
        self.out = open(os.path.join(self.dir.name, "out.txt"), "w+")
        self.tovik = subprocess.Popen([TOVIK, "--headless", "--api", "0", doc], stdout=self.out,
                                      stderr=subprocess.DEVNULL)
        port = None
        for _ in range(100):
            self.out.seek(0)
            m = re.search(r"API listening on 127\.0\.0\.1:(\d+)", self.out.read())
            if m:
                port = int(m.group(1))
                break
            time.sleep(0.1)
        self.assertIsNotNone(port, "the API did not start")
        self.api = TovikApi(port)
        self.host = socket.create_connection(("127.0.0.1", self.hsms))
        self.host.sendall(frame(0xFFFF, 0, 0, 1, stype=1))  # Select.req
        self.assertEqual(read_frame(self.host)[0][5], 2)  # Select.rsp

    def tearDown(self):
        self.host.close()
        self.tovik.terminate()
        self.tovik.wait(10)
        self.out.close()
        self.dir.cleanup()

    def test_event_report_is_acknowledged(self):
        since = self.api.status()["lastId"]
        events = self.api.events()  # the live stream, from now on
        # The host acknowledges whatever S6F11 comes, from another thread of control: here, inline.
        import threading

        def acknowledge():
            header, _ = read_frame(self.host)
            system = struct.unpack(">I", header[6:10])[0]
            self.host.sendall(frame(0, 6, 12, system, body=b"\x21\x01\x00"))  # ACKC6 0

        threading.Thread(target=acknowledge).start()
        reply = self.api.send(definition="S6F11 Event", wait=True)
        self.assertEqual((reply["s"], reply["f"], reply["direction"]), (6, 12, "in"))
        self.assertEqual(reply["body"], {"type": "B", "values": [0]})

        waited = self.api.wait(sf="S6F12", direction="in", since=since, timeout_ms=5000)
        self.assertEqual(waited["id"], reply["id"])
        sent = self.api.messages(sf="S6F11", dir="out", since=since)
        self.assertEqual(len(sent), 1)
        self.assertEqual(sent[0]["body"]["items"][1]["values"], [100])
        self.assertEqual(self.api.count(sf="S6F*", since=since), 2)

        # The stream gave the same two entries, in order, among the log lines.
        seen = []
        for event in events:
            if event["type"] == "message" and event["entry"]["s"] == 6:
                seen.append((event["entry"]["f"], event["entry"]["direction"]))
                if len(seen) == 2:
                    break
        self.assertEqual(seen, [(11, "out"), (12, "in")])


if __name__ == "__main__":
    unittest.main()
