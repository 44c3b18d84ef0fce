#!/usr/bin/python3
"""The window joins a room over https, and only with a certificate it trusts.

Makes a throwaway certificate authority with openssl and a certificate from
it for 127.0.0.1, all in a scratch folder (nothing reaches the machine's
store); starts kestrel-server on the loopback and, in front of it, a TLS
endpoint of this script's own on 127.0.0.1 with that certificate, which
passes the bytes through. Then `kestrel --join https://127.0.0.1:PORT/...`
(offscreen: no display needed):
- with the system's store only, which does not know the authority, it
  stops before any window with one line and status 2;
- with the authority as its store (SSL_CERT_FILE, for this process alone),
  it joins: the room counts its connection, and its recording starts at
  the room's "# joined T".

usage: window-over-https.py KESTREL KESTREL_SERVER
"""
import json
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

WAIT = 30  # seconds for what comes in well under one; never a measure


def make_authority(folder):
    """A certificate authority and a certificate from it for 127.0.0.1: the
    authority's file, and the endpoint's certificate and key files."""
    authority, authority_key = f"{folder}/authority.pem", f"{folder}/authority.key"
    certificate, key = f"{folder}/endpoint.pem", f"{folder}/endpoint.key"
    openssl = ["openssl", "req", "-x509", "-nodes", "-newkey", "rsa:2048", "-days", "2"]
    subprocess.run(openssl + ["-keyout", authority_key, "-out", authority, "-subj", "/CN=Kestrel test authority",
                              "-addext", "basicConstraints=critical,CA:TRUE",
                              "-addext", "keyUsage=critical,keyCertSign"], check=True, capture_output=True)
    subprocess.run(openssl + ["-keyout", key, "-out", certificate, "-subj", "/CN=127.0.0.1",
                              "-CA", authority, "-CAkey", authority_key,
                              "-addext", "subjectAltName=IP:127.0.0.1",
                              "-addext", "extendedKeyUsage=serverAuth"], check=True, capture_output=True)
    return authority, certificate, key


def start_tls_endpoint(certificate, key, target_port):
    """Takes TLS on a free port of 127.0.0.1 and passes each connection's
    bytes to and from the target port, as a TLS-terminating proxy does. The
    port; a daemon thread serves it."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate, key)
    listener = socket.create_server(("127.0.0.1", 0))

    def pipe(source, sink):
        try:
            while data := source.recv(65536):
                sink.sendall(data)
        except OSError:
            pass
        for end in (source, sink):
            try:
                end.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def serve(client):
        try:
            secure = context.wrap_socket(client, server_side=True)
        except (OSError, ssl.SSLError):  # the window refused the certificate
            client.close()
            return
        inner = socket.create_connection(("127.0.0.1", target_port))
        threading.Thread(target=pipe, args=(inner, secure), daemon=True).start()
        pipe(secure, inner)

    def accept():
        while True:
            client, _ = listener.accept()
            threading.Thread(target=serve, args=(client,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return listener.getsockname()[1]


def start_server(server, data):
    """kestrel-server on a free port of the loopback: the process and its port."""
    process = subprocess.Popen([server, "--port", "0", "--data", data], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True)
    line = process.stdout.readline()
    listening = re.match(r"kestrel-server: listening on http://127\.0\.0\.1:(\d+)/$", line)
    if not listening:
        process.kill()
        sys.exit(f"kestrel-server did not start: {line}")
    return process, int(listening.group(1))


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    window, server = sys.argv[1:]
    failures = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if not ok:
            failures.append(what)

    with tempfile.TemporaryDirectory(prefix="kestrel-https-") as scratch:
        authority, certificate, key = make_authority(scratch)
        server_process, server_port = start_server(server, f"{scratch}/rooms")
        try:
            endpoint = start_tls_endpoint(certificate, key, server_port)
            made = urllib.request.urlopen(urllib.request.Request(f"http://127.0.0.1:{server_port}/rooms",
                                                                 method="POST"), timeout=WAIT)
            fragment = json.load(made)["play"].split("#", 1)[1]
            link = f"https://127.0.0.1:{endpoint}/#{fragment}"

            runtime = f"{scratch}/runtime"
            os.mkdir(runtime, 0o700)
            base = {k: v for k, v in os.environ.items() if k not in ("SSL_CERT_FILE", "SSL_CERT_DIR")}
            base.update(QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=runtime)

            refused = subprocess.run([window, "--join", link], env=base, capture_output=True, text=True,
                                     timeout=WAIT)
            check(refused.returncode == 2 and refused.stdout == "" and
                  re.fullmatch(re.escape(f"kestrel: {link}: ") +
                               r"the server's certificate is not trusted \([^\n]+\)\n", refused.stderr),
                  f"an authority the system does not know: one line and status 2 "
                  f"({refused.returncode}: {refused.stderr!r})")

            recording = f"{scratch}/window.rec"
            joined = subprocess.Popen([window, "--join", link, "--record", recording],
                                      env=dict(base, SSL_CERT_FILE=authority), stdout=subprocess.DEVNULL,
                                      stderr=subprocess.PIPE, text=True)
            try:
                deadline = time.monotonic() + WAIT
                status, head = {}, ""
                while time.monotonic() < deadline and joined.poll() is None:
                    status = json.load(urllib.request.urlopen(f"http://127.0.0.1:{server_port}/status",
                                                              timeout=WAIT))
                    if os.path.exists(recording):
                        with open(recording, encoding="latin-1") as file:
                            head = file.readline()
                    if status.get("connections") == 1 and head.startswith("# joined "):
                        break
                    time.sleep(0.05)
                check(joined.poll() is None and status.get("connections") == 1 and
                      re.fullmatch(r"# joined \d+\n", head) is not None,
                      f"the authority as the window's store: it joins over wss "
                      f"(connections {status.get('connections')}, recording starts {head!r})")
            finally:
                joined.kill()
                _, errors = joined.communicate()
                if failures and errors:
                    print(errors, file=sys.stderr)
        finally:
            server_process.kill()
            server_process.wait()
    if failures:
        print(f"{len(failures)} checks failed", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
