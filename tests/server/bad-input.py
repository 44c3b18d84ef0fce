#!/usr/bin/python3
"""The real server fed bad input beside two good screens.

Starts kestrel-server on 127.0.0.1 (a free port) with a small site, opens a
room, a watcher and a player that follow its battle (each through
kestrel-live-follower, which plays the frames and answers the game's own
hashes), then sends every kind of bad input on connections of its own and
checks each close code and reason, or HTTP status. The good screens must
keep receiving ticks, and their hashes must still match the room's.

usage: bad-input.py KESTREL_SERVER KESTREL_LIVE_FOLLOWER
"""
import asyncio
import json
import os
import signal
import subprocess
import sys
import tempfile

import websockets

from server_checks import WAIT, check, main, request

TICKS_PER_SECOND = 40
HASH_EVERY_TICKS = 40
# Deadlines for what should come in well under a second; never a measure.
CLOSE_POLICY, CLOSE_UNKNOWN_DATA, CLOSE_TOO_BIG = 1008, 1003, 1009



class Screen:
    """A good screen: follows the room and sends back the game's hashes."""

    def __init__(self, name, follower):
        self.name, self.follower = name, follower
        self.tick = 0
        self.hashes_sent = 0
        self.mismatches = 0
        self.error = None

    async def open(self, uri):
        self.ws = await websockets.connect(uri, compression=None, max_size=None, max_queue=None)
        self.proc = await asyncio.create_subprocess_exec(
            self.follower, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.task = asyncio.create_task(self.follow())

    async def follow(self):
        try:
            async for frame in self.ws:
                data = frame.encode() if isinstance(frame, str) else frame
                if data.startswith(b"# mismatch"):
                    self.mismatches += 1
                self.proc.stdin.write(b"%d\n" % len(data) + data)
                await self.proc.stdin.drain()
                header = await self.proc.stdout.readline()
                if not header:
                    raise RuntimeError("the follower refused a frame")
                tick, length = map(int, header.split())
                answer = await self.proc.stdout.readexactly(length)
                self.tick = tick
                if answer:
                    self.hashes_sent += answer.count(b"hash ")
                    await self.ws.send(answer.decode())
            self.error = f"closed ({self.ws.close_code} {self.ws.close_reason})"
        except Exception as error:  # reported by the checks below
            self.error = repr(error)

    async def close(self):
        await self.ws.close()
        self.proc.stdin.close()
        await self.proc.wait()
        self.task.cancel()


async def wait_for(condition, what):
    for _ in range(WAIT * 10):
        if condition():
            return True
        await asyncio.sleep(0.1)
    check(False, f"{what} within {WAIT} s")
    return False


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


async def refused_upgrade(uri, status, what, **options):
    try:
        async with websockets.connect(uri, compression=None, **options):
            check(False, f"{what}: the socket was accepted")
    except websockets.InvalidStatusCode as error:
        check(error.status_code == status, f"{what}: HTTP {error.status_code}, expected {status}")




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
    got, _, body = request(port, "HEAD", "/index.html")
    check(got == 200 and body == b"", f"HEAD /index.html: {got}, {len(body)} bytes of body")
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
    got, _, _ = request(port, "POST", "/rooms", b"", {"Origin": "http://elsewhere.example"})
    check(got == 403, f"POST /rooms from another origin: {got}, expected 403")
    got, kind, text = request(port, "GET", f"/rooms/{room}/recording")
    check(got == 200 and text.startswith(b"version "), f"GET the recording: {got}, starts {text[:12]!r}")
    got, _, _ = request(port, "GET", "/rooms/nosuchroom/recording")
    check(got == 404, f"GET an unknown room's recording: {got}")


async def run(server, follower):
    with tempfile.TemporaryDirectory() as scratch:
        site = make_site(scratch)
        process = subprocess.Popen([server, "--port", "0", "--site", site, "--data", os.path.join(scratch, "data")],
                                   stdout=subprocess.PIPE, text=True)
        try:
            line = process.stdout.readline()
            prefix = "kestrel-server: listening on http://127.0.0.1:"
            assert line.startswith(prefix), line
            port = int(line[len(prefix):].rstrip("/\n"))
            await against(port, follower)
        finally:
            process.send_signal(signal.SIGTERM)
            status = process.wait(WAIT)
            check(status == 0, f"the server stopped with status {status}")


async def against(port, follower):
    status, _, body = request(port, "POST", "/rooms", b"{\"width\": 400, \"height\": 300}")
    check(status == 201, f"POST /rooms: {status}")
    answer = json.loads(body)
    room = answer["room"]
    key = answer["play"].split("#live=")[1].split(".")[1]
    watch_uri = f"ws://127.0.0.1:{port}/rooms/{room}/socket"
    play_uri = f"{watch_uri}?key={key}"

    watcher, player = Screen("watcher", follower), Screen("player", follower)
    await watcher.open(watch_uri)
    await player.open(play_uri)
    await wait_for(lambda: watcher.tick > 0 and player.tick > 0, "both screens follow")
    await player.ws.send("down 1 200 150\nmove 210 160\n")
    await player.ws.send("move 230 170\nup 1 230 170\n")
    start = max(watcher.tick, player.tick)

    long_frame = "move 1 1\n" * 200
    too_many = ["hash 0 0000000000000000\n" * 25] * 10
    cases = [
        (play_uri, ["fire 1 2\n"], CLOSE_POLICY, "line 1", "an unknown command"),
        (play_uri, ["down 1 x 10\n"], CLOSE_POLICY, "line 1", "a bad line"),
        (play_uri, ["move 1 1\nup 1\n"], CLOSE_POLICY, "line 2", "a bad second line"),
        (play_uri, [b"\x00\x01binary"], CLOSE_UNKNOWN_DATA, "binary", "a binary frame"),
        (play_uri, [long_frame], CLOSE_TOO_BIG, "", "a frame over 1 KiB"),
        (watch_uri, too_many, CLOSE_POLICY, "lines a second", "more than 100 lines a second"),
        (watch_uri, ["down 1 10 10\n"], CLOSE_POLICY, "watcher", "an event on a watch link"),
        (watch_uri, ["hash 40 nothex\n"], CLOSE_POLICY, "hash", "a bad hash"),
    ]
    for uri, send, code, reason, what in cases:
        await refused_socket(uri, send, code, reason, what)
    await refused_upgrade(f"{watch_uri}?key=00{key[2:]}", 403, "a bad key")
    await refused_upgrade(f"{watch_uri}?key=", 403, "an empty key")
    await refused_upgrade(f"ws://127.0.0.1:{port}/rooms/nosuchroom/socket", 404, "an unknown room")
    await refused_upgrade(watch_uri, 403, "another origin", origin="http://elsewhere.example")
    check_http(port, room)

    # The good screens go on: two more hash checkpoints, hashes sent, none differing.
    sent_before = (watcher.hashes_sent, player.hashes_sent)
    await wait_for(lambda: min(watcher.tick, player.tick) >= start + 2 * HASH_EVERY_TICKS + TICKS_PER_SECOND,
                   "the good screens keep receiving ticks")
    check(watcher.hashes_sent > sent_before[0] and player.hashes_sent > sent_before[1],
          f"the good screens sent hashes ({watcher.hashes_sent}, {player.hashes_sent})")
    for screen in (watcher, player):
        check(screen.error is None and screen.mismatches == 0,
              f"the {screen.name} follows at tick {screen.tick}: error {screen.error}, "
              f"{screen.mismatches} mismatch notices")

    def status():
        return json.loads(request(port, "GET", "/status")[2])
    await wait_for(lambda: status()["connections"] == 2, "the refused connections are gone")
    now = status()
    check(now["mismatches"] == 0 and now["rooms"] == 1, f"/status: {now}")
    await watcher.close()
    await player.close()




if __name__ == "__main__":
    sys.exit(main(__doc__, run))
