#!/usr/bin/python3
"""The real server fed bad input beside two good screens.

Starts kestrel-server on 127.0.0.1 (a free port) with a small site, opens a
room, a watcher and a player that follow its battle (each through
kestrel-live-follower, which plays the frames and answers the game's own
hashes), then sends every kind of bad input on connections of its own and
checks each close code and reason, or HTTP status. The good screens must
keep receiving ticks, and their hashes must still match the room's. Also:
a burst of joins stays within the room's limit, the joins over it are
asked to come back later, a screen that stops reading is dropped, and so
is one that sends a line a second but never reads (its socket takes no
frame any more), while the good screens keep their ticks.

usage: bad-input.py KESTREL_SERVER KESTREL_LIVE_FOLLOWER
"""
import asyncio
import json
import os
import socket
import sys
import tempfile

import websockets

from server_checks import (WAIT, Screen, check, exchange, main, protocol, request, start_server, status, stop_server,
                           wait_for)

CLOSE_POLICY, CLOSE_UNKNOWN_DATA, CLOSE_TOO_BIG = 1008, 1003, 1009
JOINS_AT_ONCE, ROOM_LIMIT = 40, 32


async def refused_socket(uri, send, code, reason, what):
    """Opens a socket, sends `send` once joined, and expects the close."""
    async with websockets.connect(uri, compression=None, max_size=None) as ws:
        first = await asyncio.wait_for(ws.recv(), WAIT)
        assert first.startswith("# joined"), first
        for frame in send:
            await ws.send(frame)
        try:
            while True:  # ticks keep coming until the close
                await asyncio.wait_for(ws.recv(), WAIT)
        except websockets.ConnectionClosed:
            pass
        check(ws.close_code == code and reason in ws.close_reason,
              f"{what}: closed {ws.close_code} '{ws.close_reason}', expected {code} '{reason}'")


async def refused_upgrade(uri, code, refusal, what, **options):
    """The upgrade is refused with `code` and the kind `refusal` in its
    header; a plain GET of the socket's path, which is how a browser learns
    why, is answered the same."""
    try:
        async with websockets.connect(uri, compression=None, **options):
            check(False, f"{what}: the socket was accepted")
    except websockets.InvalidStatusCode as error:
        got = (error.status_code, error.headers.get("Kestrel-Refusal"))
        check(got == (code, refusal), f"{what}: {got}, expected {(code, refusal)}")
    port, path = uri.removeprefix("ws://127.0.0.1:").split("/", 1)
    origin = {"Origin": options["origin"]} if "origin" in options else {}
    got, headers, _ = exchange(int(port), "GET", "/" + path, headers=origin)
    check((got, headers.get("Kestrel-Refusal")) == (code, refusal),
          f"{what}, asked over plain HTTP: {got} {headers.get('Kestrel-Refusal')}")


async def join_at_once(uri, count):
    """Opens `count` sockets at once: the open ones, and the refusals' statuses and Retry-After."""
    async def join():
        try:
            return await websockets.connect(uri, compression=None, max_queue=None)
        except websockets.InvalidStatusCode as error:
            return (error.status_code, error.headers.get("Retry-After"), error.headers.get("Kestrel-Refusal"))
    joined = await asyncio.gather(*(join() for _ in range(count)))
    return [j for j in joined if not isinstance(j, tuple)], [j for j in joined if isinstance(j, tuple)]


def head_exchange(port, path):
    """The raw bytes a HEAD is answered with, up to the connection's close."""
    with socket.create_connection(("127.0.0.1", port), timeout=WAIT) as raw:
        raw.sendall(f"HEAD {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\n\r\n".encode())
        data = b""
        while chunk := raw.recv(65536):
            data += chunk
    return data


def silent_screen(port, path):
    """A socket that joins a room and then never reads again."""
    raw = socket.create_connection(("127.0.0.1", port), timeout=WAIT)
    raw.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    raw.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
                "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                "Sec-WebSocket-Version: 13\r\n\r\n".encode())
    answer = raw.recv(12)
    assert answer.startswith(b"HTTP/1.1 101"), answer
    return raw




def make_site(root):
    site = os.path.join(root, "site")
    os.makedirs(os.path.join(site, "sub"))
    files = {"index.html": b"<!doctype html>", "kestrel.wasm": b"\0asm", "sw.js": b"//",
             "manifest.webmanifest": b"{}", "sub/index.html": b"sub"}
    for name, content in files.items():
        with open(os.path.join(site, name), "wb") as f:
            f.write(content)
    with open(os.path.join(root, "outside.txt"), "w") as f:
        f.write("not for the web")
    os.symlink(root, os.path.join(site, "escape"))
    return site


def check_http(port, room):
    for path, status, kind in [("/", 200, "text/html"), ("/sub/", 200, "text/html"),
                               ("/kestrel.wasm", 200, "application/wasm"),
                               ("/manifest.webmanifest", 200, "application/manifest+json"),
                               ("/sw.js", 200, "text/javascript")]:
        got, content_type, _ = request(port, "GET", path)
        check(got == status and content_type.startswith(kind), f"GET {path}: {got} {content_type}")
    answer = head_exchange(port, "/index.html")
    head, _, body = answer.partition(b"\r\n\r\n")
    check(head.startswith(b"HTTP/1.1 200") and b"Content-Length: 15" in head and body == b"",
          f"HEAD /index.html: {head[:15]!r}, {len(body)} bytes after the headers")
    for path in ["/../outside.txt", "/%2e%2e/outside.txt", "/sub/../../outside.txt", "/escape/outside.txt",
                 "//etc/passwd", "/%2fetc/passwd", "/nothing.html"]:
        got, _, _ = request(port, "GET", path)
        check(got == 404, f"GET {path} (outside the site or missing): {got}")
    for method, path in [("POST", "/index.html"), ("PUT", "/rooms"), ("DELETE", "/status"),
                         ("PUT", f"/rooms/{room}/recording"), ("PATCH", "/")]:
        got, _, _ = request(port, method, path)
        check(got == 405, f"{method} {path}: {got}, expected 405")
    for body in [b"{\"width\": 0}", b"{\"depth\": 3}", b"[1, 2]", b"{\"width\": 99999}"]:
        got, _, _ = request(port, "POST", "/rooms", body)
        check(got == 400, f"POST /rooms {body!r}: {got}, expected 400")
    got, _, _ = request(port, "POST", "/rooms", b"version 1\ntick x\n", {"Content-Type": "text/plain"})
    check(got == 400, f"POST /rooms with a bad start recording: {got}, expected 400")
    for origin in ["http://elsewhere.example", f"http://127.0.0.1:{port}.elsewhere.example"]:
        got, _, _ = request(port, "POST", "/rooms", b"", {"Origin": origin})
        check(got == 403, f"POST /rooms from {origin}: {got}, expected 403")
    got, kind, text = request(port, "GET", f"/rooms/{room}/recording")
    check(got == 200 and text.startswith(b"version "), f"GET the recording: {got}, starts {text[:12]!r}")
    got, _, _ = request(port, "GET", "/rooms/nosuchroom/recording")
    check(got == 404, f"GET an unknown room's recording: {got}")


async def run(server, follower):
    with tempfile.TemporaryDirectory() as scratch:
        site = make_site(scratch)
        process, port = start_server(server, ["--port", "0", "--site", site, "--data", os.path.join(scratch, "data"),
                                               "--max-room-connections", str(ROOM_LIMIT)])
        try:
            await against(port, follower)
        finally:
            stop_server(process)


async def against(port, follower):
    numbers = protocol(port)
    got = request(port, "POST", "/rooms", b"", {"Origin": f"https://127.0.0.1:{port}"})[0]
    check(got == 403, f"POST /rooms from an https origin, with no proxy in front to have used https: {got}")
    got, _, body = request(port, "POST", "/rooms", b"{\"width\": 400, \"height\": 300}",
                           {"Origin": f"http://127.0.0.1:{port}"})
    check(got == 201, f"POST /rooms from the server's own origin: {got}")
    answer = json.loads(body)
    check(answer["play"].startswith(f"http://127.0.0.1:{port}/#live="), f"its links are on the page: {answer}")
    room = answer["room"]
    key = answer["play"].split("#live=")[1].split(".")[1]
    watch_uri = f"ws://127.0.0.1:{port}/rooms/{room}/socket"
    play_uri = f"{watch_uri}?key={key}"

    watcher, player = Screen("watcher", watch_uri, follower), Screen("player", play_uri, follower)
    await watcher.start()
    await player.start()
    await wait_for(lambda: watcher.tick > 0 and player.tick > 0, "both screens follow")
    await player.ws.send("down 1 200 150\nmove 210 160\n")
    await player.ws.send("move 230 170\nup 1 230 170\n")

    max_bytes, max_lines = numbers["max_client_frame_bytes"], numbers["max_client_lines_per_second"]
    long_frame = "move 1 1\n" * (max_bytes // len("move 1 1\n") + 1)
    # Twice the lines a second and one more: over the limit in one room second whatever its edge.
    hash_line = "hash 0 0000000000000000\n"
    per_frame = max_bytes // len(hash_line)
    lines = 2 * max_lines + 1
    too_many = [hash_line * min(per_frame, lines - sent) for sent in range(0, lines, per_frame)]
    cases = [
        (play_uri, ["fire 1 2\n"], CLOSE_POLICY, "line 1", "an unknown command"),
        (play_uri, ["down 1 x 10\n"], CLOSE_POLICY, "line 1", "a bad line"),
        (play_uri, ["move 1 1\nup 1\n"], CLOSE_POLICY, "line 2", "a bad second line"),
        (play_uri, [b"\x00\x01binary"], CLOSE_UNKNOWN_DATA, "binary", "a binary frame"),
        (play_uri, [long_frame], CLOSE_TOO_BIG, "", f"a frame over {max_bytes} bytes"),
        (watch_uri, too_many, CLOSE_POLICY, "lines a second", f"more than {max_lines} lines a second"),
        (watch_uri, ["down 1 10 10\n"], CLOSE_POLICY, "watcher", "an event on a watch link"),
        (watch_uri, ["hash 40 nothex\n"], CLOSE_POLICY, "hash", "a bad hash"),
    ]
    for uri, send, code, reason, what in cases:
        await refused_socket(uri, send, code, reason, what)
    await refused_upgrade(f"{watch_uri}?key=00{key[2:]}", 403, "wrong-key", "a bad key")
    await refused_upgrade(f"{watch_uri}?key=", 403, "wrong-key", "an empty key")
    await refused_upgrade(f"ws://127.0.0.1:{port}/rooms/nosuchroom/socket", 404, "no-such-room", "an unknown room")
    await refused_upgrade(watch_uri, 403, "foreign-page", "another origin", origin="http://elsewhere.example")
    await refused_upgrade(watch_uri, 403, "foreign-page", "an origin that only starts with the host",
                          origin=f"http://127.0.0.1:{port}.elsewhere.example")
    got, _, _ = exchange(port, "GET", f"/rooms/{room}/socket?key={key}")
    check(got == 426, f"a plain GET of a socket the room would take: {got}, expected 426 (upgrade required)")
    check_http(port, room)
    await burst_of_joins(port, watch_uri)
    await silent_screen_dropped(port, play_uri, (watcher, player))
    await sending_screen_dropped(port, watch_uri, (watcher, player))

    # The good screens go on: two more hash checkpoints, hashes sent, none differing.
    sent_before = (len(watcher.hashes), len(player.hashes))
    start = max(watcher.tick, player.tick)
    await wait_for(lambda: min(watcher.tick, player.tick) >=
                   start + 2 * numbers["hash_every_ticks"] + numbers["ticks_per_second"],
                   "the good screens keep receiving ticks")
    check(len(watcher.hashes) > sent_before[0] and len(player.hashes) > sent_before[1],
          f"the good screens sent hashes ({len(watcher.hashes)}, {len(player.hashes)})")
    for screen in (watcher, player):
        check(screen.error is None and screen.mismatches == 0,
              f"the {screen.name} follows at tick {screen.tick}: error {screen.error}, "
              f"{screen.mismatches} mismatch notices")

    await wait_for(lambda: status(port)["connections"] == 2, "the refused connections are gone")
    now = status(port)
    check(now["mismatches"] == 0 and now["rooms"] == 1, f"/status: {now}")
    await watcher.stop()
    await player.stop()


async def burst_of_joins(port, uri):
    """Joins sent at once into a room with two screens: no more than its
    limit are let in, and the rest are asked to come back later."""
    joined, refused = await join_at_once(uri, JOINS_AT_ONCE)
    check(len(joined) == ROOM_LIMIT - 2 and status(port)["connections"] == ROOM_LIMIT,
          f"{JOINS_AT_ONCE} joins at once into a room of 2 (limit {ROOM_LIMIT}): {len(joined)} let in")
    check(all(code == 503 and wait and kind == "room-full" for code, wait, kind in refused),
          f"the joins over the limit are answered 503, room-full, with Retry-After: {set(refused)}")
    await asyncio.gather(*(ws.close() for ws in joined))
    await wait_for(lambda: status(port)["connections"] == 2, "the joins' seats are free again")


async def silent_screen_dropped(port, uri, good):
    """A screen that stops reading is dropped once it answers no ping,
    while the good screens keep receiving their ticks."""
    before = status(port)
    silent = silent_screen(port, uri.split(f":{port}", 1)[1])
    await wait_for(lambda: status(port)["connections"] == before["connections"] + 1, "the silent screen joins")
    ticks = [screen.tick for screen in good]
    await wait_for(lambda: status(port)["dropped"] == before["dropped"] + 1, "the silent screen is dropped",
                   WAIT + protocol(port)["screen_idle_seconds"])
    check(all(screen.tick > tick for screen, tick in zip(good, ticks)),
          f"the good screens followed meanwhile: {ticks} -> {[screen.tick for screen in good]}")
    check(status(port)["connections"] == before["connections"], "the silent screen's seat is free again")
    silent.close()



def masked(text):
    """A client's text frame, masked as a client must."""
    data, mask = text.encode(), os.urandom(4)
    return bytes([0x81, 0x80 | len(data)]) + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data))


async def sending_screen_dropped(port, uri, good):
    """A screen that sends a hash the room does not check every second but
    never reads: pings cannot tell, its frames pile up in the kernel's
    buffers until its socket takes no more, and it is dropped then."""
    before = status(port)
    reader = silent_screen(port, uri.split(f":{port}", 1)[1])
    await wait_for(lambda: status(port)["connections"] == before["connections"] + 1, "the screen that never reads joins")
    ticks = [screen.tick for screen in good]

    async def dropped():
        while status(port)["dropped"] == before["dropped"]:
            try:
                reader.sendall(masked("hash 1 0000000000000000\n"))
            except OSError:
                pass  # the server has closed it
            await asyncio.sleep(1)  # its pace, not a wait for an event

    await asyncio.wait_for(dropped(), 2 * WAIT)
    check(all(screen.tick > tick for screen, tick in zip(good, ticks)),
          f"the good screens followed meanwhile: {ticks} -> {[screen.tick for screen in good]}")
    check(status(port)["connections"] == before["connections"], "its seat is free again")
    reader.close()


if __name__ == "__main__":
    sys.exit(main(__doc__, run))
