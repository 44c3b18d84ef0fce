#!/usr/bin/python3
"""A room outlives its server.

Starts kestrel-server on 127.0.0.1 (a port picked free) with a data folder
that already keeps an ended room, opens a room, and has a watcher and a
player follow it (each through kestrel-live-follower, which plays the frames
and answers the game's own hashes; each reconnects by itself as the page
does: after half a second, then twice as long each time). Mid-battle the
server is killed with SIGKILL and started again on the same port and
folder. Checks: the screens are back within 5 s; the room went on where its
file ended, at most a second (40 ticks) before the kill; the recording from
before the kill, cut there, is the start of the recording after it; the
recording after it replays to the room's own hash; no screen's hash
differed; the ended room was not resumed, its recording is served from the
folder and joining it is refused with 410.

usage: restart.py KESTREL_SERVER KESTREL_LIVE_FOLLOWER
"""
import asyncio
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

import websockets

from server_checks import WAIT, check, main, request

TICKS_PER_SECOND = 40
HASH_EVERY_TICKS = 40
MOST_TICKS_LOST = 40
BACK_WITHIN = 5  # seconds from the restart to a screen following again
FIRST_RETRY, LAST_RETRY = 0.5, 8
# Deadlines for what should come in well under a second; never a measure.
ENDED_ROOM = "0123456789abcdef" * 2
ENDED_RECORDING = "version 1\nseed 46\nsize 300 200\ntick 80\n"



def runs(recording):
    """The recording's lines, each run of ticks one ["tick", COUNT] item."""
    items = []
    for line in recording.splitlines():
        words = line.split()
        if not words or words[0].startswith("#"):
            continue
        if words[0] != "tick":
            items.append(line)
            continue
        count = int(words[1]) if len(words) > 1 else 1
        if items and isinstance(items[-1], list):
            items[-1][1] += count
        else:
            items.append(["tick", count])
    return items


def ticks(recording):
    return sum(item[1] for item in runs(recording) if isinstance(item, list))


def cut(recording, at):
    """The recording up to the end of its tick `at`, as runs."""
    items, total = [], 0
    for item in runs(recording):
        if total == at:
            break
        if isinstance(item, list):
            item = ["tick", min(item[1], at - total)]
            total += item[1]
        items.append(item)
    return items


def text(items):
    return "".join(f"tick {item[1]}\n" if isinstance(item, list) else item + "\n" for item in items)


class Screen:
    """Follows the room, sends back the game's hashes, and reconnects by itself."""

    def __init__(self, name, uri, follower):
        self.name, self.uri, self.follower = name, uri, follower
        self.ws = None
        self.joining = False
        self.tick = 0
        self.hashes = []   # the hash lines it sent
        self.joins = []    # (time, room tick) each time it followed a join text
        self.mismatches = 0
        self.error = None

    async def start(self):
        self.proc = await asyncio.create_subprocess_exec(
            self.follower, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.task = asyncio.create_task(self.run())

    async def run(self):
        wait = FIRST_RETRY
        try:
            while True:
                try:
                    async with websockets.connect(self.uri, compression=None, max_size=None,
                                                  max_queue=None) as ws:
                        self.ws = ws
                        async for frame in ws:
                            if await self.receive(frame):
                                wait = FIRST_RETRY
                except (OSError, websockets.WebSocketException):
                    pass
                self.ws = None
                await asyncio.sleep(wait)
                wait = min(2 * wait, LAST_RETRY)
        except Exception as error:  # reported by the checks
            self.error = repr(error)

    async def receive(self, frame):
        """Plays a frame; answers whether it was a join text."""
        data = frame.encode()
        if data.startswith(b"# mismatch"):
            self.mismatches += 1
        self.proc.stdin.write(b"%d\n" % len(data) + data)
        await self.proc.stdin.drain()
        header = await self.proc.stdout.readline()
        if not header:
            raise RuntimeError("the follower refused a frame")
        tick, length = map(int, header.split())
        answer = (await self.proc.stdout.readexactly(length)).decode()
        # The first recording frame after the join notice is the join text.
        joined = self.joining and not data.startswith(b"# ")
        self.joining = data.startswith(b"# joined") or (self.joining and not joined)
        self.tick = tick
        if joined:
            self.joins.append((time.monotonic(), tick))
        self.hashes += [line for line in answer.splitlines() if line.startswith("hash ")]
        if answer:
            await self.ws.send(answer)
        return joined

    async def stop(self):
        self.task.cancel()
        self.proc.stdin.close()
        await self.proc.wait()


async def wait_for(condition, what, within=WAIT):
    deadline = time.monotonic() + within
    while time.monotonic() < deadline:
        if condition():
            return True
        await asyncio.sleep(0.05)
    check(False, f"{what} within {within} s")
    return False




def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_server(server, port, data, log):
    """The server, once it listens; and the rooms it resumed, with their ticks."""
    with open(log, "w") as errors:
        process = subprocess.Popen([server, "--port", str(port), "--data", data],
                                   stdout=subprocess.PIPE, stderr=errors, text=True)
    line = process.stdout.readline()
    assert line == f"kestrel-server: listening on http://127.0.0.1:{port}/\n", line
    with open(log) as errors:
        resumed = dict(re.findall(r"room (\w+): resumed at tick (\d+)", errors.read()))
    return process, {room: int(tick) for room, tick in resumed.items()}


def keep_ended_room(data):
    os.makedirs(data)
    with open(os.path.join(data, ENDED_ROOM + ".room"), "w") as f:
        f.write(f"kestrel-room 1\nkey {'f' * 32}\nsize 300 200\nended\n")
    with open(os.path.join(data, ENDED_ROOM + ".recording"), "w") as f:
        f.write(ENDED_RECORDING)


def replayed_hash(follower, recording, at):
    """The hash line a screen following `recording` from its start sends at tick `at`."""
    frames = [b"# joined 0", text(cut(recording, at)).encode()]
    out = subprocess.run([follower], input=b"".join(b"%d\n" % len(f) + f for f in frames),
                         stdout=subprocess.PIPE, check=True, timeout=WAIT).stdout.decode()
    return next((line for line in out.splitlines() if line.startswith(f"hash {at} ")), None)


async def hash_probe(port, room, right, wrong):
    """Sends a hash the room should agree with, then one it should not:
    answers the ticks of the mismatch notices up to the second one's (or
    those within WAIT, when it never comes)."""
    noticed = []
    async with websockets.connect(f"ws://127.0.0.1:{port}/rooms/{room}/socket", compression=None,
                                  max_size=None) as ws:
        await ws.send(right + "\n")
        await ws.send(wrong + "\n")
        deadline = time.monotonic() + WAIT
        while (not noticed or noticed[-1] != wrong.split()[1]) and time.monotonic() < deadline:
            frame = await asyncio.wait_for(ws.recv(), WAIT)
            if frame.startswith("# mismatch "):
                noticed.append(frame.split()[2])
    return noticed


async def refused_join(port, room):
    try:
        async with websockets.connect(f"ws://127.0.0.1:{port}/rooms/{room}/socket", compression=None):
            return None
    except websockets.InvalidStatusCode as error:
        return error.status_code


async def run(server, follower):
    with tempfile.TemporaryDirectory() as scratch:
        data, log, port = os.path.join(scratch, "data"), os.path.join(scratch, "server.log"), free_port()
        keep_ended_room(data)
        process, resumed = start_server(server, port, data, log)
        try:
            check(resumed == {}, f"an ended room is not resumed: {resumed}")
            status, _, body = request(port, "POST", "/rooms", b"{\"width\": 400, \"height\": 300}")
            check(status == 201, f"POST /rooms: {status}")
            answer = json.loads(body)
            room, key = answer["room"], answer["play"].split(".")[-1]
            uri = f"ws://127.0.0.1:{port}/rooms/{room}/socket"
            screens = [Screen("watcher", uri, follower), Screen("player", f"{uri}?key={key}", follower)]
            for screen in screens:
                await screen.start()
            watcher, player = screens
            await wait_for(lambda: min(s.tick for s in screens) > 0, "both screens follow")
            await player.ws.send("down 1 200 150\nmove 210 160\n")
            await wait_for(lambda: player.tick > 2 * TICKS_PER_SECOND, "two seconds of battle")
            await player.ws.send("move 230 170\nup 1 230 170\nkey 97\n")
            await wait_for(lambda: min(s.tick for s in screens) > 4 * TICKS_PER_SECOND + 20, "mid-battle")

            status, _, before = request(port, "GET", f"/rooms/{room}/recording")
            process.send_signal(signal.SIGKILL)
            process.wait(WAIT)
            before = before.decode()
            killed_at = time.monotonic()
            process, resumed = start_server(server, port, data, log)
            restarted = time.monotonic()
            print(f"restarted {restarted - killed_at:.2f} s after the kill", flush=True)

            at = resumed.get(room, -1)
            check(ticks(before) - MOST_TICKS_LOST <= at, f"the room resumed at tick {at}, "
                  f"at most {MOST_TICKS_LOST} ticks before the recording's {ticks(before)}")
            for screen in screens:
                if await wait_for(lambda: any(t >= restarted for t, _ in screen.joins), f"the {screen.name} is back",
                                  BACK_WITHIN):
                    back = next(t for t, _ in screen.joins if t >= restarted) - restarted
                    print(f"the {screen.name} followed again {back:.2f} s after the restart", flush=True)
            await wait_for(lambda: min(s.tick for s in screens) >= at + 3 * HASH_EVERY_TICKS,
                           "three more hashes' ticks")

            status, _, after = request(port, "GET", f"/rooms/{room}/recording")
            after = after.decode()
            same = min(at, ticks(before))
            check(cut(after, same) == cut(before, same),
                  f"the recording before the kill, up to tick {same}, is the start of the one after")
            check(ticks(after) > at, f"the recording goes on past tick {at}: {ticks(after)} ticks")
            last = ticks(after) // HASH_EVERY_TICKS * HASH_EVERY_TICKS
            right = replayed_hash(follower, after, last)
            check(right is not None, f"the recording after the restart replays to tick {last}: {right}")
            wrong = f"hash {last - HASH_EVERY_TICKS} {'0' * 16}"
            noticed = await hash_probe(port, room, right, wrong) if right else []
            check(noticed == [str(last - HASH_EVERY_TICKS)],
                  f"the room agrees with the replayed hash at tick {last} (mismatches noticed: {noticed})")

            now = json.loads(request(port, "GET", "/status")[2])
            check(now["rooms"] == 1 and now["mismatches"] == 1 and now["hashes_checked"] > 2,
                  f"/status: one room, the probe's one mismatch: {now}")
            for screen in screens:
                check(screen.error is None and screen.mismatches == 0 and len(screen.hashes) > 5,
                      f"the {screen.name} follows at tick {screen.tick}: error {screen.error}, "
                      f"{len(screen.hashes)} hashes sent, {screen.mismatches} mismatch notices")

            status, _, kept = request(port, "GET", f"/rooms/{ENDED_ROOM}/recording")
            check(status == 200 and kept.decode() == ENDED_RECORDING, f"the ended room's recording: {status}")
            code = await refused_join(port, ENDED_ROOM)
            check(code == 410, f"joining the ended room: HTTP {code}, expected 410")
            for screen in screens:
                await screen.stop()
        finally:
            process.send_signal(signal.SIGTERM)
            status = process.wait(WAIT)
            check(status == 0, f"the server stopped with status {status}")




if __name__ == "__main__":
    sys.exit(main(__doc__, run))
