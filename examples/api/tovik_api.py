"""A small client of Tovik's control API, standard library only.

    api = TovikApi(port)
    api.send(definition="S6F11 Event", wait=True)
    api.wait(sf="S6F12", direction="in", since=0, timeout_ms=5000)
    for event in api.events(since=0): ...
"""
import base64
import json
import os
import socket
import struct
import urllib.error
import urllib.parse
import urllib.request


class ApiError(Exception):
    def __init__(self, status, error):
        super().__init__(f"{status}: {error}")
        self.status = status
        self.error = error


class TovikApi:
    def __init__(self, port, host="127.0.0.1", token=None):
        self.host, self.port, self.token = host, port, token

    def call(self, method, path, body=None, timeout=60):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(f"http://{self.host}:{self.port}{path}", data=data, method=method)
        if self.token:
            req.add_header("Authorization", f"Bearer {self.token}")
        try:
            with urllib.request.urlopen(req, timeout=timeout) as r:
                return json.loads(r.read() or b"null")
        except urllib.error.HTTPError as e:
            raise ApiError(e.code, json.loads(e.read() or b"{}").get("error")) from None

    def status(self):
        return self.call("GET", "/api/status")

    def messages(self, **query):
        return self.call("GET", "/api/messages?" + urllib.parse.urlencode(query))

    def count(self, **query):
        return self.call("GET", "/api/messages/count?" + urllib.parse.urlencode(query))["count"]

    def wait(self, sf, direction=None, since=0, timeout_ms=10000):
        query = {"sf": sf, "since": since, "timeout": timeout_ms}
        if direction:
            query["dir"] = direction
        return self.call("GET", "/api/messages/wait?" + urllib.parse.urlencode(query))

    def send(self, definition=None, sml=None, wait=False, port=None):
        body = {"definition": definition} if definition else {"sml": sml}
        body["wait"] = wait
        if port is not None:
            body["port"] = port
        return self.call("POST", "/api/send", body)

    def events(self, since=None):
        """Connects now; the generator yields each event of the stream as a dict."""
        path = "/api/events" + ("" if since is None else f"?since={since}")
        sock = socket.create_connection((self.host, self.port))
        key = base64.b64encode(os.urandom(16)).decode()
        auth = f"Authorization: Bearer {self.token}\r\n" if self.token else ""
        sock.sendall((f"GET {path} HTTP/1.1\r\nHost: {self.host}\r\nUpgrade: websocket\r\n"
                      f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                      f"Sec-WebSocket-Version: 13\r\n{auth}\r\n").encode())
        reader = sock.makefile("rb")
        if b" 101 " not in reader.readline():
            raise ApiError(0, "no WebSocket upgrade")
        while reader.readline() not in (b"\r\n", b""):
            pass
        return self._frames(sock, reader)

    @staticmethod
    def _frames(sock, reader):
        message = b""
        while True:
            head = reader.read(2)
            if len(head) < 2:
                return
            fin, opcode, size = head[0] & 0x80, head[0] & 0x0F, head[1] & 0x7F
            if size == 126:
                size = struct.unpack(">H", reader.read(2))[0]
            elif size == 127:
                size = struct.unpack(">Q", reader.read(8))[0]
            payload = reader.read(size)
            if opcode == 8:
                return
            if opcode in (0, 1):
                message += payload
                if fin:
                    yield json.loads(message)
                    message = b""
