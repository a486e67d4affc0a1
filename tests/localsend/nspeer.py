"""A LocalSend device for the discovery test, written from the protocol's document: it
serves register over HTTPS on its port, announces itself to the multicast group every
second, answers others' announcements by registering with them, and logs what it sees, one
JSON object a line.

    python3 nspeer.py ADDRESS CERT KEY FINGERPRINT LOG
"""

import hashlib
import http.server
import json
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.request

GROUP, PORT = "224.0.0.167", 53317
address, cert, key, fingerprint, log_path = sys.argv[1:6]
me = {"alias": "Telefono de prueba", "version": "2.1", "deviceModel": "Pixel",
      "deviceType": "mobile", "fingerprint": fingerprint, "port": PORT, "protocol": "https",
      "download": False}
log_lock = threading.Lock()


def log(**event):
    with log_lock, open(log_path, "a") as out:
        out.write(json.dumps(event) + "\n")


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path == "/api/localsend/v2/register":
            log(event="registered", address=self.client_address[0], body=json.loads(body))
            answer = json.dumps({k: v for k, v in me.items() if k not in ("port", "protocol")})
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer.encode())
        else:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()

    def log_message(self, *args):
        pass


def serve():
    server = http.server.ThreadingHTTPServer((address, PORT), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


def register_with(device, sender):
    """Answers an announcement as LocalSend apps do, and checks the certificate is the one
    the announcement names."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    url = "%s://%s:%d/api/localsend/v2/register" % (device["protocol"], sender, device["port"])
    request = urllib.request.Request(url, data=json.dumps(me).encode(),
                                     headers={"Content-Type": "application/json"})
    try:
        with urllib.request.urlopen(request, context=context, timeout=5) as response:
            der = response.fp.raw._sock.getpeercert(binary_form=True) \
                if device["protocol"] == "https" else None
            seen = hashlib.sha256(der).hexdigest().upper() if der else None
            log(event="answered", address=sender, status=response.status,
                body=json.loads(response.read()), certificate=seen)
    except Exception as error:  # noqa: BLE001 - logged for the test to show
        log(event="answer-failed", address=sender, error=str(error))


def listen(sock):
    while True:
        data, (sender, _) = sock.recvfrom(65536)
        try:
            device = json.loads(data)
        except ValueError:
            continue
        if device.get("fingerprint") == fingerprint:
            continue
        log(event="heard", address=sender, body=device)
        if device.get("announce"):
            threading.Thread(target=register_with, args=(device, sender), daemon=True).start()


sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
sock.bind(("", PORT))
sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                struct.pack("4s4s", socket.inet_aton(GROUP), socket.inet_aton(address)))
sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(address))
threading.Thread(target=serve, daemon=True).start()
threading.Thread(target=listen, args=(sock,), daemon=True).start()
log(event="started")
# Announced again every second, as an app does while its user looks at the list of devices.
announcement = json.dumps(dict(me, announce=True)).encode()
while True:
    sock.sendto(announcement, (GROUP, PORT))
    time.sleep(1)
