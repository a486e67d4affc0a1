"""ruvo-cli receiving from LocalSend senders: a minimal sender written from the protocol's
document (localsendpeer.py) against the real program over loopback, HTTPS and HTTP.

    python3 receive_test.py RUVO-CLI
"""

import json
import os
import random
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from localsendpeer import Peer, make_certificate, sha256  # noqa: E402

CLI = None
WORK = None
CERT = None  # (cert, key, fingerprint) of the test's sender


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def random_bytes(size, seed):
    return random.Random(seed).randbytes(size)


class Receiver:
    """One `ruvo-cli receive` with LocalSend on a free port, nothing announced."""

    def __init__(self, *extra, stdin=False):
        self.folder = tempfile.mkdtemp(dir=WORK)
        self.port = free_port()
        self.classic_port = free_port()
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(WORK, "config"), LC_ALL="C.UTF-8")
        self.process = subprocess.Popen(
            [CLI, "receive", "--dir", self.folder, "--classic", "--no-announce", "--port",
             str(self.classic_port), "--localsend-port", str(self.port)] + list(extra),
            stdin=subprocess.PIPE if stdin else subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, env=env)
        self.lines = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()
        self.wait_for("Esperando ofertas")

    def _read(self):
        # Read as it comes: a question ends without a newline.
        while True:
            data = self.process.stdout.read1(4096)
            if not data:
                return
            with self.lock:
                self.lines.append(data.decode("utf-8", "replace"))

    def output(self):
        with self.lock:
            return "".join(self.lines)

    def wait_for(self, text, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if text in self.output():
                return True
            if self.process.poll() is not None:
                time.sleep(0.2)
                return text in self.output()
            time.sleep(0.02)
        raise AssertionError("no %r in:\n%s" % (text, self.output()))

    def answer(self, line):
        self.process.stdin.write(line.encode() + b"\n")
        self.process.stdin.flush()

    def peer(self, https=True, certificate=True, **kwargs):
        return Peer("127.0.0.1", self.port, https=https,
                    certificate=CERT[:2] if certificate and https else None, **kwargs)

    def files(self):
        """Every file in the folder: {relative path: bytes}."""
        found = {}
        for root, _, names in os.walk(self.folder):
            for name in names:
                path = os.path.join(root, name)
                with open(path, "rb") as file:
                    found[os.path.relpath(path, self.folder)] = file.read()
        return found

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            return self.process.wait(20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return None


def raw_connection(port, https, certificate=None):
    sock = socket.create_connection(("127.0.0.1", port), timeout=20)
    if not https:
        return sock
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    if certificate:
        context.load_cert_chain(*certificate)
    return context.wrap_socket(sock)


def read_status(sock):
    """The status of the answer on `sock`, or None when it was closed without one."""
    data = b""
    try:
        while b"\r\n" not in data:
            chunk = sock.recv(4096)
            if not chunk:
                break
            data += chunk
    except (ConnectionResetError, ssl.SSLError, socket.timeout):
        pass
    if not data.startswith(b"HTTP/1.1 "):
        return None
    return int(data[9:12])


def send_quietly(sock, data):
    """Sends what the peer takes: a receiver that refused may close before the end."""
    try:
        sock.sendall(data)
    except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
        pass


class ReceivesFromLocalSend(unittest.TestCase):
    def test_files_arrive_byte_exact_over_https_and_http(self):
        receiver = Receiver("--accept")
        try:
            for https in (True, False):
                with self.subTest(https=https):
                    named = {
                        "vacio.bin": b"",
                        "uno.bin": b"x",
                        "año ñandú.txt": "¡hola!".encode() * 1000,
                        "album/viaje/foto.jpg": random_bytes(3 * 1024 * 1024 + 7, 1),
                        "album/notas.txt": random_bytes(65537, 2),
                    }
                    peer = receiver.peer(https=https)
                    status, info = peer.info()
                    self.assertEqual(status, 200)
                    self.assertEqual(info["deviceType"], "headless")
                    if https:
                        # The fingerprint it gives is its certificate's: a sender pins it.
                        self.assertEqual(peer.seen_fingerprint, info["fingerprint"])
                        peer.pinned = info["fingerprint"]
                    status, statuses = peer.send(named)
                    self.assertEqual((status, statuses), (200, [200] * len(named)))
                    receiver.wait_for("Recibido! Guardado en", timeout=30)
                    self.assertEqual(receiver.files(), named)
                    if https:
                        # A sender that presented a certificate is shown by its fingerprint.
                        self.assertIn("(sin verificar) " + " ".join(
                            CERT[2][i:i + 4] for i in range(0, 16, 4)), receiver.output())
                    for name in named:
                        os.remove(os.path.join(receiver.folder, name))
                    with receiver.lock:
                        receiver.lines.clear()
        finally:
            receiver.stop()

    def test_a_name_taken_is_kept_and_the_file_goes_beside_it(self):
        receiver = Receiver("--accept")
        try:
            with open(os.path.join(receiver.folder, "nota.txt"), "wb") as file:
                file.write(b"ya estaba")
            self.assertEqual(receiver.peer().send({"nota.txt": b"nueva"}), (200, [200]))
            receiver.wait_for("Recibido! Guardado en " + os.path.join(receiver.folder,
                                                                      "nota (1).txt"))
            self.assertEqual(receiver.files(), {"nota.txt": b"ya estaba",
                                                "nota (1).txt": b"nueva"})
        finally:
            receiver.stop()

    def test_chunked_and_parallel_uploads(self):
        receiver = Receiver("--accept")
        try:
            peer = receiver.peer()
            named = {"a.bin": random_bytes(2 * 1024 * 1024, 3),
                     "b.bin": random_bytes(1024 * 1024 + 3, 4)}
            files = {k: Peer.file_entry(k, k, v) for k, v in named.items()}
            status, answer = peer.prepare(files)
            self.assertEqual(status, 200)
            results = {}

            def upload(name):
                data = named[name]
                connection = peer.connect()
                pieces = (data[i:i + 100000] for i in range(0, len(data), 100000))
                connection.request(
                    "POST", "/api/localsend/v2/upload?sessionId=%s&fileId=%s&token=%s" % (
                        answer["sessionId"], name, answer["files"][name]),
                    body=pieces, encode_chunked=True)
                results[name] = connection.getresponse().status
                connection.close()

            threads = [threading.Thread(target=upload, args=(name,)) for name in named]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join(60)
            self.assertEqual(results, {"a.bin": 200, "b.bin": 200})
            receiver.wait_for("Recibido! Guardado en")
            self.assertEqual(receiver.files(), named)
        finally:
            receiver.stop()

    def test_a_trusted_sender_is_accepted_and_others_declined(self):
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(WORK, "config"))
        subprocess.run([CLI, "trust", CERT[2], "--name", "telefono"], check=True, env=env,
                       capture_output=True)
        receiver = Receiver("--accept-trusted")
        try:
            status, statuses = receiver.peer().send({"confiado.txt": b"de confianza"})
            self.assertEqual((status, statuses), (200, [200]))
            receiver.wait_for("Recibido! Guardado en")
            # Over plain HTTP nothing proves who sends.
            status, _ = receiver.peer(https=False).send({"otro.txt": b"sin verificar"})
            self.assertEqual(status, 403)
            self.assertEqual(receiver.files(), {"confiado.txt": b"de confianza"})
        finally:
            receiver.stop()
            subprocess.run([CLI, "untrust", CERT[2]], env=env, capture_output=True)

    def test_pin_is_asked_and_guessing_is_stopped(self):
        receiver = Receiver("--accept", "--localsend-pin", "123456")
        try:
            peer = receiver.peer()
            files = {"f": Peer.file_entry("f", "f.txt", b"pin")}
            statuses = [peer.prepare(files)[0], peer.prepare(files)[0]]  # no PIN: not a guess
            statuses += [peer.prepare(files, pin=pin)[0] for pin in ("1", "000000", "12345")]
            statuses.append(peer.prepare(files, pin="123456")[0])
            self.assertEqual(statuses, [401, 401, 401, 401, 401, 429])
            # Another address is not held to this one's guesses.
            other = Peer("127.0.0.1", receiver.port, certificate=CERT[:2])
            other.connect = lambda original=other.connect: _from_address(original, "127.0.0.2")
            status, statuses = other.send({"f.txt": b"pin"}, pin="123456")
            self.assertEqual((status, statuses), (200, [200]))
            receiver.wait_for("Recibido! Guardado en")
        finally:
            receiver.stop()

    def test_declined_busy_and_accepted_answers(self):
        receiver = Receiver("--ask", stdin=True)
        try:
            first = receiver.peer(alias="Primero")
            files = {"f": Peer.file_entry("f", "f.txt", b"primero")}
            result = {}
            waiting = threading.Thread(
                target=lambda: result.setdefault("first", first.prepare(files)))
            waiting.start()
            receiver.wait_for("¿Recibir f.txt?")
            self.assertIn("Oferta de Primero (Pixel, 127.0.0.1, LocalSend)", receiver.output())
            # While one offer waits for its answer, another sender is told the receiver is busy.
            second = receiver.peer(https=False, alias="Segundo")
            self.assertEqual(second.prepare(files)[0], 409)
            # So is a sender of Ruvo's own protocol.
            sent = os.path.join(WORK, "clasico.txt")
            with open(sent, "wb") as file:
                file.write(b"clasico")
            classic = subprocess.run(
                [CLI, "send", "--classic", "--port", str(receiver.classic_port), sent, "127.0.0.1"],
                capture_output=True, timeout=60,
                env=dict(os.environ, XDG_CONFIG_HOME=os.path.join(WORK, "config")))
            self.assertEqual(classic.returncode, 2, classic.stdout)
            self.assertIn(b"Destino Ocupado.", classic.stdout)
            receiver.answer("s")
            waiting.join(20)
            status, answer = result["first"]
            self.assertEqual(status, 200)
            self.assertEqual(first.upload(answer["sessionId"], "f", answer["files"]["f"],
                                          b"primero"), 200)
            receiver.wait_for("Recibido! Guardado en")
            # Declined: 403, and nothing is written.
            waiting = threading.Thread(
                target=lambda: result.__setitem__("second", second.prepare(
                    {"g": Peer.file_entry("g", "g.txt", b"no")})))
            waiting.start()
            receiver.wait_for("¿Recibir g.txt?")
            receiver.answer("n")
            waiting.join(20)
            self.assertEqual(result["second"][0], 403)
            receiver.wait_for("Oferta rechazada.")
            self.assertEqual(receiver.files(), {"f.txt": b"primero"})
        finally:
            receiver.stop()

    def test_a_file_that_does_not_match_is_an_error_and_is_removed(self):
        receiver = Receiver("--accept")
        try:
            peer = receiver.peer()
            good, bad = b"como se anuncio", b"otra cosa, mismo largo"
            files = {"g": Peer.file_entry("g", "bien.txt", good),
                     "b": dict(Peer.file_entry("b", "mal.txt", bad), sha256=sha256(b"x"))}
            status, answer = peer.prepare(files)
            self.assertEqual(status, 200)
            session, tokens = answer["sessionId"], answer["files"]
            self.assertEqual(peer.upload(session, "b", tokens["b"], bad), 400)
            self.assertEqual(peer.upload(session, "g", tokens["g"], good), 200)
            receiver.wait_for("mal.txt: no llego: el archivo no coincide")
            # The session ends with the failure, never as a success; the good file is not
            # named among those that did not arrive.
            receiver.wait_for("El archivo no coincide\n")
            self.assertNotIn("Recibido! Guardado en", receiver.output())
            self.assertNotIn("bien.txt:", receiver.output())
            self.assertEqual(receiver.files(), {"bien.txt": good})
        finally:
            receiver.stop()

    def test_hostile_offers_are_refused_before_anything_is_written(self):
        receiver = Receiver("--accept")
        outside = os.path.join(WORK, "fuera.txt")
        try:
            peer = receiver.peer(https=False)
            names = ["../fuera.txt", "/tmp/fuera.txt", "a/../../fuera.txt", "../", ".oculto",
                     "a//b", "a/./b", "a\\..\\b", "", "nul\x00.txt", "x" * 256, "a/" * 70 + "b",
                     "bidi\u202etxt.exe", "linea\nnueva"]
            for name in names:
                with self.subTest(name=name):
                    status, _ = peer.prepare({"f": Peer.file_entry("f", name, b"mal")})
                    self.assertEqual(status, 400)
            bodies = [
                b"no es JSON", b"[]", b'{"info": {}, "files": {}}',
                json.dumps({"info": peer.info_fields(), "files": []}).encode(),
                json.dumps({"info": peer.info_fields(), "files": {"f": {
                    "id": "f", "fileName": "a", "size": -1}}}).encode(),
                json.dumps({"info": peer.info_fields(), "files": {"f": {
                    "id": "f", "fileName": "a", "size": 1.5}}}).encode(),
                json.dumps({"info": peer.info_fields(), "files": {"f": {
                    "id": "f", "fileName": "a", "size": "12"}}}).encode(),
                json.dumps({"info": peer.info_fields(), "files": {"f": {
                    "id": "g", "fileName": "a", "size": 1}}}).encode(),
                json.dumps({"info": peer.info_fields(), "files": {
                    "f": {"id": "f", "fileName": "dos", "size": 1},
                    "g": {"id": "g", "fileName": "dos", "size": 1}}}).encode(),
                b"[" * 100000 + b"]" * 100000,
            ]
            for body in bodies:
                with self.subTest(body=body[:60]):
                    self.assertEqual(peer.prepare(None, raw_body=body)[0], 400)
            too_many = {"f%d" % i: {"id": "f%d" % i, "fileName": "f%d" % i, "size": 1}
                        for i in range(10001)}
            self.assertEqual(peer.prepare(too_many)[0], 413)
            # A body announced too large is refused without being read; one that grows past
            # the bound in chunks is cut off there.
            sock = raw_connection(receiver.port, False)
            sock.sendall(b"POST /api/localsend/v2/prepare-upload HTTP/1.1\r\nHost: x\r\n"
                         b"Content-Length: 100000000\r\n\r\n")
            self.assertEqual(read_status(sock), 413)
            sock.close()
            sock = raw_connection(receiver.port, True, CERT[:2])
            sock.sendall(b"POST /api/localsend/v2/prepare-upload HTTP/1.1\r\nHost: x\r\n"
                         b"Transfer-Encoding: chunked\r\n\r\n")
            chunk = b"100000\r\n" + b" " * 0x100000 + b"\r\n"
            for _ in range(5):
                send_quietly(sock, chunk)
            self.assertEqual(read_status(sock), 413)
            sock.close()
            for head, expected in [
                (b"GET /" + b"a" * 10000 + b" HTTP/1.1\r\n\r\n", 414),
                (b"GET /api/localsend/v2/info HTTP/1.1\r\n" + b"X: y\r\n" * 100 + b"\r\n", 431),
                (b"POST /api/localsend/v2/register HTTP/1.1\r\nContent-Length: 2\r\n"
                 b"Transfer-Encoding: chunked\r\n\r\n", 400),
                (b"GET /api/localsend/v2/info HTTP/2.0\r\n\r\n", 505),
                (b"DELETE /api/localsend/v2/upload HTTP/1.1\r\n\r\n", 405),
                (b"GET /../../etc/passwd HTTP/1.1\r\n\r\n", 404),
            ]:
                with self.subTest(head=head[:40]):
                    sock = raw_connection(receiver.port, False)
                    sock.sendall(head)
                    self.assertEqual(read_status(sock), expected)
                    sock.close()
            self.assertEqual(receiver.files(), {})
            self.assertFalse(os.path.exists(outside))
            self.assertNotIn("Oferta de", receiver.output())
        finally:
            receiver.stop()

    def test_uploads_need_their_session_token_and_address(self):
        receiver = Receiver("--accept")
        try:
            peer = receiver.peer()
            data = random_bytes(5000, 5)
            # Without a session nothing is taken.
            self.assertEqual(peer.upload("nada", "f", "nada", data), 403)
            self.assertEqual(peer.request("POST", "/upload", data, query={"fileId": "f"})[0], 400)
            files = {"f": Peer.file_entry("f", "f.bin", data),
                     "g": Peer.file_entry("g", "g.bin", data)}
            status, answer = peer.prepare(files)
            session, tokens = answer["sessionId"], answer["files"]
            self.assertEqual(peer.upload(session, "f", tokens["g"], data), 403)
            self.assertEqual(peer.upload(session, "x", tokens["f"], data), 403)
            self.assertEqual(peer.upload("otra", "f", tokens["f"], data), 409)
            other = Peer("127.0.0.1", receiver.port, certificate=CERT[:2])
            other.connect = lambda original=other.connect: _from_address(original, "127.0.0.2")
            self.assertEqual(other.upload(session, "f", tokens["f"], data), 403)
            # Over plain HTTP the tokens given over TLS are not taken either.
            plain = receiver.peer(https=False)
            self.assertEqual(plain.upload(session, "f", tokens["f"], data), 403)
            self.assertEqual(peer.upload(session, "f", tokens["f"], data), 200)
            self.assertEqual(peer.upload(session, "f", tokens["f"], data), 409)
            # A size that lies: another length, or more bytes than announced in chunks.
            self.assertEqual(peer.upload(session, "g", tokens["g"], data + b"!"), 400)
            receiver.wait_for("El archivo no coincide\n")
            self.assertEqual(receiver.files(), {"f.bin": data})
            status, answer = peer.prepare({"h": Peer.file_entry("h", "h.bin", data)})
            connection = peer.connect()
            connection.request("POST", "/api/localsend/v2/upload?sessionId=%s&fileId=h&token=%s"
                               % (answer["sessionId"], answer["files"]["h"]),
                               body=iter([data, b"de mas"]), encode_chunked=True)
            self.assertEqual(connection.getresponse().status, 400)
            connection.close()
            receiver.wait_for("h.bin: no llego: el archivo no coincide")
            self.assertEqual(receiver.files(), {"f.bin": data})
        finally:
            receiver.stop()

    def _start_big_upload(self, receiver, peer, size):
        """Prepares one big file and sends the first MiB of it; (session, socket)."""
        status, answer = peer.prepare({"f": Peer.file_entry("f", "grande.bin", b"", False)
                                       | {"size": size}})
        self.assertEqual(status, 200)
        sock = raw_connection(receiver.port, True, CERT[:2])
        sock.sendall(("POST /api/localsend/v2/upload?sessionId=%s&fileId=f&token=%s HTTP/1.1\r\n"
                      "Content-Length: %d\r\n\r\n" % (answer["sessionId"], answer["files"]["f"],
                                                      size)).encode())
        sock.sendall(b"\0" * 1024 * 1024)
        receiver.wait_for("%")
        return answer["sessionId"], sock

    def test_the_sender_cancels(self):
        receiver = Receiver("--accept", "--once")
        try:
            peer = receiver.peer()
            session, sock = self._start_big_upload(receiver, peer, 64 * 1024 * 1024)
            # Only the sender that prepared may cancel.
            other = Peer("127.0.0.1", receiver.port, certificate=CERT[:2])
            other.connect = lambda original=other.connect: _from_address(original, "127.0.0.2")
            self.assertEqual(other.cancel(session), 403)
            self.assertEqual(peer.cancel(session), 200)
            self.assertEqual(receiver.process.wait(20), 2)
            self.assertIn("Cancelado por el emisor.", receiver.output())
            sock.close()
            self.assertEqual(receiver.files(), {})
        finally:
            receiver.stop()

    def test_the_receiver_cancels(self):
        receiver = Receiver("--accept")
        try:
            peer = receiver.peer()
            _, sock = self._start_big_upload(receiver, peer, 64 * 1024 * 1024)
            self.assertEqual(receiver.stop(signal.SIGINT), 3)
            self.assertIn("Cancelado.", receiver.output())
            # The upload's connection is closed: the sender learns it is over.
            sock.settimeout(10)
            closed = False
            try:
                for _ in range(64):
                    sock.sendall(b"\0" * 1024 * 1024)
            except (BrokenPipeError, ConnectionResetError, ssl.SSLError, socket.timeout):
                closed = True
            self.assertTrue(closed)
            self.assertEqual(receiver.files(), {})
        finally:
            receiver.stop()


def _from_address(make, address):
    """A connection like `make()` would give, from another loopback address."""
    connection = make()
    connection.source_address = (address, 0)
    return connection


if __name__ == "__main__":
    CLI = os.path.abspath(sys.argv.pop(1))
    with tempfile.TemporaryDirectory() as folder:
        WORK = folder
        CERT = make_certificate(folder)
        unittest.main(verbosity=2)
