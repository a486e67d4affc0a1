"""A minimal LocalSend sender (protocol version 2), written from the protocol's document,
standard library only: the peer the tests drive Ruvo's receiver with."""

import hashlib
import http.client
import json
import os
import ssl
import subprocess
import urllib.parse

API = "/api/localsend/v2"


def make_certificate(folder):
    """A self-signed RSA certificate as LocalSend apps make one; (cert, key, fingerprint)."""
    cert = os.path.join(folder, "peer-cert.pem")
    key = os.path.join(folder, "peer-key.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
         "-out", cert, "-subj", "/CN=LocalSend User", "-days", "3650"],
        check=True, capture_output=True)
    der = ssl.PEM_cert_to_DER_cert(open(cert).read())
    return cert, key, hashlib.sha256(der).hexdigest().upper()


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class Peer:
    """One sender. Over HTTPS it presents `certificate` (a (cert, key) pair) when given and
    pins the receiver's certificate to `pinned` (a fingerprint) when given."""

    def __init__(self, host, port, https=True, certificate=None, pinned=None, alias="Telefono",
                 fingerprint=None, timeout=20):
        self.host, self.port, self.https = host, port, https
        self.certificate, self.pinned, self.timeout = certificate, pinned, timeout
        self.alias = alias
        self.fingerprint = fingerprint or ("%032x" % int.from_bytes(os.urandom(16), "big"))
        self.seen_fingerprint = None

    def info_fields(self):
        return {"alias": self.alias, "version": "2.1", "deviceModel": "Pixel",
                "deviceType": "mobile", "fingerprint": self.fingerprint, "port": 53317,
                "protocol": "https" if self.https else "http", "download": False}

    def connect(self):
        if not self.https:
            return http.client.HTTPConnection(self.host, self.port, timeout=self.timeout)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        if self.certificate:
            context.load_cert_chain(*self.certificate)
        return http.client.HTTPSConnection(self.host, self.port, context=context,
                                           timeout=self.timeout)

    def check_pin(self, connection):
        if not self.https:
            return
        der = connection.sock.getpeercert(binary_form=True)
        self.seen_fingerprint = hashlib.sha256(der).hexdigest().upper()
        if self.pinned and self.seen_fingerprint != self.pinned:
            raise ssl.SSLError("fingerprint mismatch")

    def request(self, method, path, body=None, query=None, headers=None, connection=None):
        """(status, body bytes). Uses `connection` when given (kept open), else a new one."""
        own = connection is None
        connection = connection or self.connect()
        try:
            url = API + path if path.startswith("/") else path
            if query:
                url += "?" + urllib.parse.urlencode(query)
            connection.request(method, url, body=body, headers=headers or {})
            self.check_pin(connection)
            response = connection.getresponse()
            return response.status, response.read()
        finally:
            if own:
                connection.close()

    def info(self):
        status, body = self.request("GET", "/info")
        return status, json.loads(body) if status == 200 else None

    def register(self):
        status, body = self.request("POST", "/register", json.dumps(self.info_fields()),
                                    headers={"Content-Type": "application/json"})
        return status, json.loads(body) if status == 200 else None

    @staticmethod
    def file_entry(file_id, name, data, with_hash=True):
        entry = {"id": file_id, "fileName": name, "size": len(data),
                 "fileType": "application/octet-stream", "preview": None}
        if with_hash:
            entry["sha256"] = sha256(data)
        return entry

    def prepare(self, files, pin=None, raw_body=None, connection=None):
        """`files`: {id: entry}. (status, {"sessionId", "files"} or None)."""
        body = raw_body if raw_body is not None else json.dumps(
            {"info": self.info_fields(), "files": files})
        query = {"pin": pin} if pin is not None else None
        status, answer = self.request("POST", "/prepare-upload", body, query=query,
                                      headers={"Content-Type": "application/json"},
                                      connection=connection)
        return status, json.loads(answer) if status == 200 else None

    def upload(self, session, file_id, token, data, headers=None, connection=None):
        return self.request("POST", "/upload", data,
                            query={"sessionId": session, "fileId": file_id, "token": token},
                            headers=headers, connection=connection)[0]

    def cancel(self, session):
        return self.request("POST", "/cancel", query={"sessionId": session})[0]

    def send(self, named, pin=None):
        """Sends {name: bytes} as LocalSend apps do: prepare, then each file. The statuses:
        (prepare, [uploads])."""
        files = {}
        for index, (name, data) in enumerate(named.items()):
            files["f%d" % index] = self.file_entry("f%d" % index, name, data)
        status, answer = self.prepare(files, pin=pin)
        if status != 200:
            return status, []
        statuses = []
        for index, data in enumerate(named.values()):
            file_id = "f%d" % index
            statuses.append(self.upload(answer["sessionId"], file_id, answer["files"][file_id],
                                        data))
        return status, statuses
