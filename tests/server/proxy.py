#!/usr/bin/python3
"""The real server behind a proxy it trusts, and beside peers it does not,
on a server of its own named alpha that trusts 127.0.0.1 alone and lets an
address hold two connections. The untrusted peer is 127.0.0.2, another
loopback address:
- from it, X-Forwarded-For and X-Forwarded-Proto change nothing (its own
  address is held to the limit, its links stay http and an https origin is
  refused), and a PROXY line is answered 400 and the connection closed;
- from 127.0.0.1, a PROXY line names the browser: the limit counts that
  address (a connection over it gets 503 with Retry-After, another
  browser's is served), X-Forwarded-Proto https makes the links https and
  the page's https origin the one accepted; a proxy that stalls in its
  line is let go;
- a room id naming another server is answered 404 with its server's name,
  for its recording and its socket alike, and a room of alpha's is found;
- --listen twice: the server answers on both addresses, on one port.

usage: proxy.py KESTREL_SERVER KESTREL_LIVE_FOLLOWER
"""
import asyncio
import json
import socket
import sys

import websockets

from server_checks import WAIT, check, main, start_server, stop_server

UNTRUSTED, TRUSTED = "127.0.0.2", "127.0.0.1"
BROWSER, OTHER_BROWSER, THIRD_BROWSER = "203.0.113.7", "203.0.113.8", "203.0.113.9"
HOST = "kestrel.test:8443"
DIGITS = "0123456789abcdef" * 2


def proxy_line(browser):
    return f"PROXY TCP4 {browser} 127.0.0.1 51234 8443\r\n".encode()


def http_request(method, path, headers=None, body=b"", keep=False):
    """A request; unless it is to `keep` its connection, the server closes it after the answer."""
    lines = [f"{method} {path} HTTP/1.1", f"Host: {HOST}", f"Content-Length: {len(body)}"]
    lines += [] if keep else ["Connection: close"]
    lines += [f"{name}: {value}" for name, value in (headers or {}).items()]
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


def connect(port, source):
    return socket.create_connection(("127.0.0.1", port), timeout=WAIT, source_address=(source, 0))


def read_reply(connection):
    """The status, headers and body of one answer on a kept connection."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = connection.recv(4096)
        if not chunk:
            return None, {}, data
        data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    lines = head.decode().split("\r\n")
    headers = {name.lower(): value.strip() for name, value in (line.split(":", 1) for line in lines[1:])}
    while len(body) < int(headers.get("content-length", 0)):
        body += connection.recv(4096)
    return int(lines[0].split()[1]), headers, body


def ask(port, source, data):
    """Sends `data` on a connection of its own; the answer, once the server
    closed the connection (and let go of its count)."""
    with connect(port, source) as connection:
        connection.sendall(data)
        answer = read_reply(connection)
        connection.recv(1)
        return answer


def untrusted_peer(port):
    spoofed = {"X-Forwarded-For": BROWSER, "X-Forwarded-Proto": "https"}
    got, _, body = ask(port, UNTRUSTED, http_request("POST", "/rooms", spoofed))
    play = json.loads(body)["play"] if got == 201 else ""
    check(play.startswith(f"http://{HOST}/#live=alpha-"), f"a spoofed X-Forwarded-Proto leaves the links http: {play}")
    got, _, _ = ask(port, UNTRUSTED, http_request("POST", "/rooms", {**spoofed, "Origin": f"https://{HOST}"}))
    check(got == 403, f"and the https origin refused: {got}")
    with connect(port, UNTRUSTED) as connection:
        connection.sendall(proxy_line(BROWSER) + http_request("GET", "/status", keep=True))
        got, closed = read_reply(connection)[0], connection.recv(1) == b""
    check(got == 400 and closed, f"a PROXY line from an untrusted peer: {got}, closed {closed}")
    held = [connect(port, UNTRUSTED) for _ in range(2)]
    for connection in held:
        connection.sendall(http_request("GET", "/status", keep=True))
        check(read_reply(connection)[0] == 200, "a connection of the untrusted peer's two")
    got, headers, _ = ask(port, UNTRUSTED, http_request("GET", "/status", {"X-Forwarded-For": OTHER_BROWSER}))
    check(got == 503 and "retry-after" in headers, f"a spoofed X-Forwarded-For past the address's limit: {got}")
    for connection in held:
        connection.close()


def trusted_proxy(port):
    held = [connect(port, TRUSTED) for _ in range(2)]
    for connection in held:
        connection.sendall(proxy_line(BROWSER) + http_request("GET", "/status", keep=True))
        got, _, body = read_reply(connection)
        name = json.loads(body)["name"] if got == 200 else None
        check(name == "alpha", f"a browser through the proxy: {got}, the server's name {name}")
    got, headers, _ = ask(port, TRUSTED, proxy_line(BROWSER) + http_request("GET", "/status"))
    check(got == 503 and "retry-after" in headers,
          f"the browser's third connection: {got}, Retry-After {headers.get('retry-after')}")
    got, _, _ = ask(port, TRUSTED, proxy_line(OTHER_BROWSER) + http_request("GET", "/status"))
    check(got == 200, f"another browser through the same proxy: {got}")
    got, _, _ = ask(port, TRUSTED, http_request("GET", "/status"))
    check(got == 200, f"the proxy itself, with no PROXY line: {got}")
    for connection in held:
        connection.close()

    https = {"X-Forwarded-Proto": "https"}
    # A browser of its own: the ones above may still be letting go of their connections.
    got, _, body = ask(port, TRUSTED, proxy_line(THIRD_BROWSER) + http_request("POST", "/rooms", {
        **https, "Origin": f"https://{HOST}"}))
    play = json.loads(body)["play"] if got == 201 else ""
    check(play.startswith(f"https://{HOST}/#live=alpha-"), f"links on the page the browser saw: {got} {play}")
    for origin in ["https://elsewhere.test", f"http://{HOST}", f"https://{HOST}.elsewhere.example"]:
        got, _, _ = ask(port, TRUSTED, proxy_line(THIRD_BROWSER) + http_request("POST", "/rooms", {
            **https, "Origin": origin}))
        check(got == 403, f"the origin {origin} from an https page: {got}")
    with connect(port, TRUSTED) as stalled:
        stalled.sendall(b"PROXY TCP4 ")
        check(stalled.recv(1) == b"", "a proxy that stalls in its PROXY line is let go")
    return play.split("#live=")[1].split(".")[0] if play else ""


async def other_servers_rooms(port, room):
    got, _, body = ask(port, TRUSTED, http_request("GET", f"/rooms/beta-{DIGITS}/recording"))
    check((got, body) == (404, b"this room lives on server beta\n"), f"another server's recording: {got} {body}")
    try:
        async with websockets.connect(f"ws://127.0.0.1:{port}/rooms/beta-{DIGITS}/socket", compression=None):
            got = 101
    except websockets.InvalidStatusCode as error:
        got = error.status_code, error.headers.get("Kestrel-Refusal")
    check(got == (404, "other-server"), f"another server's socket: {got}")
    got, _, _ = ask(port, TRUSTED, http_request("GET", f"/rooms/{room}/recording"))
    check(got == 200, f"alpha's own room {room}: {got}")


def two_addresses(server):
    process, port = start_server(server, ["--port", "0", "--listen", TRUSTED, "--listen", UNTRUSTED])
    try:
        second = process.stdout.readline()
        check(second == f"kestrel-server: listening on http://{UNTRUSTED}:{port}/\n",
              f"the second address: {second.rstrip()}")
        for address in [TRUSTED, UNTRUSTED]:
            with socket.create_connection((address, port), timeout=WAIT) as connection:
                connection.sendall(http_request("GET", "/status"))
                check(read_reply(connection)[0] == 200, f"answered on {address}")
    finally:
        stop_server(process, "the server on two addresses")


async def run(server, _follower):
    process, port = start_server(server, ["--port", "0", "--name", "alpha", "--trust-proxy", f"{TRUSTED}/32",
                                          "--max-address-connections", "2"])
    try:
        untrusted_peer(port)
        room = trusted_proxy(port)
        await other_servers_rooms(port, room)
    finally:
        stop_server(process, "the server behind a proxy")
    two_addresses(server)


if __name__ == "__main__":
    sys.exit(main(__doc__, run))
