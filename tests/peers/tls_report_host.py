#!/usr/bin/env python3
"""A stand-in for the billing host's HTTPS side, for the problem report test.

tls_report_host.py FOLDER PORT

Makes a test certificate authority and a certificate for 127.0.0.1 and
"localhost" in FOLDER ("ca.der" is the authority, for the client's trusted
roots), listens on loopback port PORT and writes "ready". The authority's
revocation list is served over plain HTTP on PORT + 1, where the host
certificate says it is: the client checks revocation, as it should. Each complete request
(head and Content-Length body) is written whole to "request-N.bin"; a
failed handshake adds a line to "handshakes.log". It answers 200 and ends
when FOLDER holds a file "stop", or after two minutes.

The client's test starts it from under Wine, which cannot wait for it or end
it, so it leaves standard input and output alone and never lingers.
"""
import http.server
import os
import select
import socket
import ssl
import subprocess
import sys
import threading
import time

LIFETIME_SECONDS = 120


def quiet_standard_streams():
    null = os.open(os.devnull, os.O_RDWR)
    for stream in (0, 1, 2):
        os.dup2(null, stream)


def make_certificates(folder, crl_port):
    def openssl(*arguments):
        subprocess.run(["openssl", *arguments], check=True, cwd=folder)

    def write(name, text):
        with open(os.path.join(folder, name), "w") as file:
            file.write(text)

    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", "/CN=Veltrona Test Root", "-keyout", "ca.key", "-out", "ca.pem",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
            "-keyout", "host.key", "-out", "host.csr")
    write("host.ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                      "extendedKeyUsage=serverAuth\n"
                      "crlDistributionPoints=URI:http://127.0.0.1:%d/ca.crl\n" % crl_port)
    openssl("x509", "-req", "-in", "host.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", "2", "-extfile", "host.ext", "-out", "host.pem")
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")
    # An empty revocation list, signed by the authority.
    write("index.txt", "")
    write("crlnumber", "01\n")
    write("ca.cnf", "[ca]\ndefault_ca = authority\n[authority]\ndatabase = index.txt\n"
                    "crlnumber = crlnumber\ndefault_md = sha256\ndefault_crl_days = 2\n"
                    "certificate = ca.pem\nprivate_key = ca.key\n")
    openssl("ca", "-config", "ca.cnf", "-gencrl", "-out", "ca.crl.pem")
    openssl("crl", "-in", "ca.crl.pem", "-outform", "DER", "-out", "ca.crl")


def serve_revocation_list(folder, port):
    with open(os.path.join(folder, "ca.crl"), "rb") as file:
        crl = file.read()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200 if self.path == "/ca.crl" else 404)
            self.send_header("Content-Type", "application/pkix-crl")
            self.send_header("Content-Length", str(len(crl)))
            self.end_headers()
            self.wfile.write(crl)

        def log_message(self, *arguments):
            pass

    server = http.server.HTTPServer(("127.0.0.1", port), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()


def write_atomically(path, data):
    with open(path + ".part", "wb") as file:
        file.write(data)
    os.replace(path + ".part", path)


def read_request(connection):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = connection.recv(65536)
        if not chunk:
            return None
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
        if name.strip().lower() == b"expect" and value.strip().lower() == b"100-continue" and not body:
            connection.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
    while len(body) < length:
        chunk = connection.recv(65536)
        if not chunk:
            return None
        body += chunk
    return head + b"\r\n\r\n" + body


def main():
    folder, port = sys.argv[1], int(sys.argv[2])
    quiet_standard_streams()
    make_certificates(folder, port + 1)
    serve_revocation_list(folder, port + 1)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "host.pem"), os.path.join(folder, "host.key"))

    # "localhost" may be looked up as either loopback address.
    listeners = []
    for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
        try:
            listener = socket.socket(family, socket.SOCK_STREAM)
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            listener.bind((address, port))
            listener.listen(4)
            listeners.append(listener)
        except OSError:
            if family == socket.AF_INET:
                raise
    write_atomically(os.path.join(folder, "ready"), b"ready")

    ends = time.monotonic() + LIFETIME_SECONDS
    received = 0
    while time.monotonic() < ends and not os.path.exists(os.path.join(folder, "stop")):
        readable, _, _ = select.select(listeners, [], [], 0.2)
        if not readable:
            continue
        raw, _ = readable[0].accept()
        raw.settimeout(10)
        try:
            with context.wrap_socket(raw, server_side=True) as connection:
                request = read_request(connection)
                if request is None:
                    continue
                received += 1
                write_atomically(os.path.join(folder, "request-%d.bin" % received), request)
                connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK")
        except (ssl.SSLError, OSError) as error:
            with open(os.path.join(folder, "handshakes.log"), "a") as log:
                log.write("%s\n" % error)
        finally:
            raw.close()


if __name__ == "__main__":
    main()
