"""ruvo-cli sending to LocalSend receivers: to another ruvo-cli over HTTPS, and to a minimal
receiver written from the protocol's document that speaks plain HTTP and gives each answer
a sender must understand.

    python3 send_test.py RUVO-CLI
"""

import hashlib
import http.server
import json
import os
import random
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import receive_test  # noqa: E402
from receive_test import Receiver, free_port  # noqa: E402

CLI = None
WORK = None


def sender_env():
    # The sender is another computer: an identity of its own.
    return dict(os.environ, XDG_CONFIG_HOME=os.path.join(WORK, "sender-config"),
                LC_ALL="C.UTF-8")


def send(*args, timeout=60):
    return subprocess.run([CLI, "send"] + list(args), capture_output=True, timeout=timeout,
                          env=sender_env())


def tree(folder):
    found = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as file:
                found[os.path.relpath(path, folder)] = file.read()
    return found


class PlainReceiver:
    """A LocalSend receiver over plain HTTP that answers prepare-upload with `answer`."""

    def __init__(self, answer=200):
        self.answer = answer
        self.files = {}  # by fileName: bytes
        self.offer = None
        self.uploading = 0
        self.most_uploading = 0
        self.lock = threading.Lock()
        receiver = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def reply(self, status, body=b""):
                self.send_response(status)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_POST(self):
                length = int(self.headers.get("Content-Length", 0))
                path, _, query = self.path.partition("?")
                params = dict(p.split("=", 1) for p in query.split("&") if "=" in p)
                if path == "/api/localsend/v2/register":
                    self.rfile.read(length)
                    self.reply(200, json.dumps({"alias": "Receptor HTTP", "version": "2.1",
                                                "deviceType": "mobile",
                                                "fingerprint": "x"}).encode())
                elif path == "/api/localsend/v2/prepare-upload":
                    receiver.offer = json.loads(self.rfile.read(length))
                    receiver.pin = params.get("pin")
                    if receiver.answer != 200:
                        self.reply(receiver.answer)
                        return
                    tokens = {i: "t" + i for i in receiver.offer["files"]}
                    self.reply(200, json.dumps({"sessionId": "s1", "files": tokens}).encode())
                elif path == "/api/localsend/v2/upload":
                    with receiver.lock:
                        receiver.uploading += 1
                        receiver.most_uploading = max(receiver.most_uploading,
                                                      receiver.uploading)
                    data = self.rfile.read(length)
                    time.sleep(0.05)
                    with receiver.lock:
                        receiver.uploading -= 1
                    entry = receiver.offer["files"][params["fileId"]]
                    ok = (params["token"] == "t" + params["fileId"] and
                          params["sessionId"] == "s1" and
                          hashlib.sha256(data).hexdigest() == entry["sha256"])
                    receiver.files[entry["fileName"]] = data
                    self.reply(200 if ok else 400)
                else:
                    self.rfile.read(length)
                    self.reply(404)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def make_tree(folder):
    named = {
        "album/uno.jpg": random.Random(1).randbytes(3 * 1024 * 1024),
        "album/sub/dos.txt": b"dos" * 1000,
        "album/vacio.bin": b"",
        "suelto.bin": random.Random(2).randbytes(70000),
    }
    for name, data in named.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as file:
            file.write(data)
    return named


class SendsToLocalSend(unittest.TestCase):
    def setUp(self):
        self.source = tempfile.mkdtemp(dir=WORK)
        self.named = make_tree(self.source)
        self.paths = [os.path.join(self.source, "album"), os.path.join(self.source, "suelto.bin")]

    def test_to_another_ruvo_over_https(self):
        receiver = Receiver("--accept", "--once")
        try:
            result = send(*self.paths, "localsend://127.0.0.1:%d" % receiver.port)
            self.assertEqual(result.returncode, 0, result.stdout)
            self.assertIn(b"Conectado por HTTPS", result.stdout)
            self.assertIn(b"Enviado!", result.stdout)
            self.assertEqual(receiver.process.wait(30), 0)
            self.assertEqual(tree(receiver.folder), self.named)
            # The receiver knows the sender by the certificate it presented.
            identity = subprocess.run([CLI, "id", "--json"], capture_output=True,
                                      env=sender_env())
            short = json.loads(identity.stdout)["short"]
            self.assertIn("(sin verificar) " + short, receiver.output())
        finally:
            receiver.stop()

    def test_a_pin_is_given_or_its_lack_said(self):
        receiver = Receiver("--accept", "--localsend-pin", "4321")
        try:
            target = "localsend://127.0.0.1:%d" % receiver.port
            missing = send(self.paths[1], target)
            self.assertEqual(missing.returncode, 1)
            self.assertIn(b"El receptor pide un PIN: indiquelo con --localsend-pin.",
                          missing.stdout)
            wrong = send("--localsend-pin", "1111", self.paths[1], target)
            self.assertIn(b"PIN incorrecto.", wrong.stdout)
            right = send("--localsend-pin", "4321", self.paths[1], target)
            self.assertEqual(right.returncode, 0, right.stdout)
            receiver.wait_for("Recibido! Guardado en")
            self.assertEqual(tree(receiver.folder), {"suelto.bin": self.named["suelto.bin"]})
        finally:
            receiver.stop()

    def test_to_a_plain_http_receiver_two_at_a_time(self):
        plain = PlainReceiver()
        try:
            result = send("--json", *self.paths, "localsend://127.0.0.1:%d" % plain.port)
            self.assertEqual(result.returncode, 0, result.stdout)
            self.assertIn(b"Conectado por HTTP (sin cifrar).", result.stdout)
            self.assertEqual(plain.files, self.named)
            self.assertEqual(plain.most_uploading, 2)
            self.assertEqual(plain.offer["info"]["deviceType"], "headless")
        finally:
            plain.close()

    def test_every_refusal_is_said_in_words(self):
        cases = [
            (204, 0, b"Nada que enviar: el receptor ya tiene los archivos."),
            (401, 1, b"El receptor pide un PIN"),
            (403, 2, b"Oferta rechazada."),
            (409, 2, b"Destino Ocupado."),
            (429, 1, b"Demasiados intentos: el receptor no acepta mas por ahora."),
            (500, 1, b"El receptor respondio con el codigo 500."),
        ]
        for answer, code, text in cases:
            with self.subTest(answer=answer):
                plain = PlainReceiver(answer)
                try:
                    result = send(self.paths[1], "localsend://127.0.0.1:%d" % plain.port)
                    self.assertEqual(result.returncode, code, result.stdout)
                    self.assertIn(text, result.stdout)
                    self.assertEqual(plain.files, {})
                finally:
                    plain.close()
        nobody = send(self.paths[1], "localsend://127.0.0.1:%d" % free_port())
        self.assertEqual(nobody.returncode, 1)
        self.assertIn(b"No se pudo conectar con 127.0.0.1:", nobody.stdout)
        wrong = send(self.paths[1], "localsend://")
        self.assertIn(b"Direccion Erronea.", wrong.stdout)

    def test_the_sender_cancels_and_the_receiver_hears_it(self):
        big = os.path.join(self.source, "grande.bin")
        with open(big, "wb") as file:
            file.truncate(2 * 1024 * 1024 * 1024)  # sparse: read fast, sent slowly
        receiver = Receiver("--accept", "--once")
        try:
            process = subprocess.Popen(
                [CLI, "send", big, "localsend://127.0.0.1:%d" % receiver.port],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=sender_env())
            receiver.wait_for("%", timeout=120)
            process.send_signal(signal.SIGINT)
            out, _ = process.communicate(timeout=30)
            self.assertEqual(process.returncode, 3, out)
            self.assertIn(b"Cancelado.", out)
            self.assertEqual(receiver.process.wait(30), 2)
            self.assertIn("Cancelado por el emisor.", receiver.output())
            self.assertEqual(tree(receiver.folder), {})
        finally:
            receiver.stop()


if __name__ == "__main__":
    CLI = os.path.abspath(sys.argv.pop(1))
    with tempfile.TemporaryDirectory() as folder:
        WORK = folder
        receive_test.CLI, receive_test.WORK = CLI, folder
        receive_test.CERT = receive_test.make_certificate(folder)
        unittest.main(verbosity=2)
