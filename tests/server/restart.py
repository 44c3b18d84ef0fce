#!/usr/bin/python3
"""A room outlives its server.

Starts kestrel-server on 127.0.0.1 (a port picked free) with a data folder
that already keeps an ended room, opens a room, and has a watcher and a
player follow it (each through kestrel-live-follower, which plays the frames
and answers the game's own hashes; each reconnects by itself as the page
does: after half a second, then twice as long each time). Mid-battle the
server is killed with SIGKILL and started again on the same port and
folder, now with a name (--name), as a server is upgraded to one of
several: its rooms, kept before it had a name, still resume and their
links still open them. Checks: the screens are back within 5 s; the room went on where its
file ended, at most a room second of ticks before the kill; the recording from
before the kill, cut there, is the start of the recording after it; the
recording after it replays to the room's own hash; no screen's hash
differed; the ended room was not resumed, its recording is served from the
folder and joining it is refused with 410.

Then a room that keeps a checkpoint every two room seconds
(--checkpoint-ticks) is killed with SIGKILL twice once it has one: first
with a byte of its checkpoint changed, then with a half-written
ID.checkpoint.new beside a good one, and each time with the recording's
last line cut short, as a kill mid-write leaves it. Checks: the log says
the damaged checkpoint was passed over, and the room resumed from the good
one; the start removed the .new file, and the log says so; each time the
room comes back and a screen follows it with no hash mismatch (nor any in
/status); the recording's whole lines from before each kill are the start
of the file after it; and the whole recording replays with kestrel-trace
(KESTREL_TRACE) from its first line, so the cut line was cut off before
the room went on.

usage: restart.py KESTREL_SERVER KESTREL_LIVE_FOLLOWER
"""
import asyncio
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

import websockets

from server_checks import (WAIT, Screen, check, free_port, main, protocol, request, runs, settled, start_server,
                           status, stop_server, ticks, wait_for)

BACK_WITHIN = 5  # seconds from the restart to a screen following again
ENDED_ROOM = "0123456789abcdef" * 2
ENDED_RECORDING = "version 1\nseed 46\nsize 300 200\ntick 80\n"


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


def start_on(server, port, data, log, name=None, extra=()):
    """The server on `port`, once its kept rooms are back; and the rooms it resumed, with their ticks."""
    with open(log, "w") as errors:
        process, listening = start_server(server, ["--port", str(port), "--data", data, *extra]
                                          + (["--name", name] if name else []), stderr=errors)
    assert listening == port, listening
    settled(port)
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
        return error.status_code, error.headers.get("Kestrel-Refusal")


async def run(server, follower):
    with tempfile.TemporaryDirectory() as scratch:
        data, log, port = os.path.join(scratch, "data"), os.path.join(scratch, "server.log"), free_port()
        keep_ended_room(data)
        process, resumed = start_on(server, port, data, log)
        try:
            check(resumed == {}, f"an ended room is not resumed: {resumed}")
            got, _, body = request(port, "POST", "/rooms", b"{\"width\": 400, \"height\": 300}")
            check(got == 201, f"POST /rooms: {got}")
            answer = json.loads(body)
            room, key = answer["room"], answer["play"].split(".")[-1]
            uri = f"ws://127.0.0.1:{port}/rooms/{room}/socket"
            numbers = protocol(port)
            ticks_per_second, hash_every = numbers["ticks_per_second"], numbers["hash_every_ticks"]
            screens = [Screen("watcher", uri, follower, reconnect=True),
                       Screen("player", f"{uri}?key={key}", follower, reconnect=True)]
            for screen in screens:
                await screen.start()
            watcher, player = screens
            await wait_for(lambda: min(s.tick for s in screens) > 0, "both screens follow")
            await player.ws.send("down 1 200 150\nmove 210 160\n")
            await wait_for(lambda: player.tick > 2 * ticks_per_second, "two seconds of battle")
            await player.ws.send("move 230 170\nup 1 230 170\nkey 97\n")
            await wait_for(lambda: min(s.tick for s in screens) > 4 * ticks_per_second + 20, "mid-battle")

            got, _, before = request(port, "GET", f"/rooms/{room}/recording")
            process.send_signal(signal.SIGKILL)
            process.wait(WAIT)
            before = before.decode()
            killed_at = time.monotonic()
            process, resumed = start_on(server, port, data, log, name="alpha")
            restarted = time.monotonic()
            print(f"restarted {restarted - killed_at:.2f} s after the kill", flush=True)

            at = resumed.get(room, -1)
            # The room's file is brought up to date once a room second: at most that is lost.
            check(ticks(before) - ticks_per_second <= at, f"the room resumed at tick {at}, "
                  f"at most {ticks_per_second} ticks before the recording's {ticks(before)}")
            for screen in screens:
                if await wait_for(lambda: any(t >= restarted for t, _ in screen.joins), f"the {screen.name} is back",
                                  BACK_WITHIN):
                    back = next(t for t, _ in screen.joins if t >= restarted) - restarted
                    print(f"the {screen.name} followed again {back:.2f} s after the restart", flush=True)
            await wait_for(lambda: min(s.tick for s in screens) >= at + 3 * hash_every,
                           "three more hashes' ticks")

            got, _, after = request(port, "GET", f"/rooms/{room}/recording")
            after = after.decode()
            same = min(at, ticks(before))
            check(cut(after, same) == cut(before, same),
                  f"the recording before the kill, up to tick {same}, is the start of the one after")
            check(ticks(after) > at, f"the recording goes on past tick {at}: {ticks(after)} ticks")
            last = ticks(after) // hash_every * hash_every
            right = replayed_hash(follower, after, last)
            check(right is not None, f"the recording after the restart replays to tick {last}: {right}")
            wrong = f"hash {last - hash_every} {'0' * 16}"
            noticed = await hash_probe(port, room, right, wrong) if right else []
            check(noticed == [str(last - hash_every)],
                  f"the room agrees with the replayed hash at tick {last} (mismatches noticed: {noticed})")

            now = status(port)
            check(now["name"] == "alpha" and now["rooms"] == 1 and now["mismatches"] == 1 and now["hashes_checked"] > 2,
                  f"/status: one room, the probe's one mismatch: {now}")
            for screen in screens:
                check(screen.error is None and screen.mismatches == 0 and len(screen.hashes) > 5,
                      f"the {screen.name} follows at tick {screen.tick}: error {screen.error}, "
                      f"{len(screen.hashes)} hashes sent, {screen.mismatches} mismatch notices")

            got, _, kept = request(port, "GET", f"/rooms/{ENDED_ROOM}/recording")
            check(got == 200 and kept.decode() == ENDED_RECORDING, f"the ended room's recording: {got}")
            refused = await refused_join(port, ENDED_ROOM)
            check(refused == (410, "room-ended"), f"joining the ended room: {refused}, expected 410, room-ended")
            for screen in screens:
                await screen.stop()
        finally:
            stop_server(process)
    await checkpoints(server, follower)


CHECKPOINT_TICKS = 80


def checkpoint_tick(path):
    """The tick a checkpoint file names, or -1."""
    try:
        with open(path, "rb") as f:
            lines = f.read().split(b"\n")
        return int(lines[1].split()[1]) if lines[0] == b"kestrel-checkpoint 1" else -1
    except (OSError, IndexError, ValueError):
        return -1


def whole_lines(path):
    with open(path, "rb") as f:
        text = f.read()
    return text[:text.rfind(b"\n") + 1]


async def checkpoints(server, follower):
    with tempfile.TemporaryDirectory() as scratch:
        data, log, port = os.path.join(scratch, "data"), os.path.join(scratch, "server.log"), free_port()
        extra = ["--checkpoint-ticks", str(CHECKPOINT_TICKS)]
        process, _ = start_on(server, port, data, log, extra=extra)
        try:
            got, _, body = request(port, "POST", "/rooms", b"{\"width\": 400, \"height\": 300}")
            room = json.loads(body)["room"]
            files = os.path.join(data, room)
            screen = Screen("watcher", f"ws://127.0.0.1:{port}/rooms/{room}/socket", follower, reconnect=True)
            await screen.start()
            hash_every = protocol(port)["hash_every_ticks"]
            at = 0

            def damaged(path):
                with open(path, "r+b") as f:
                    f.seek(os.path.getsize(path) // 2)
                    byte = f.read(1)
                    f.seek(-1, os.SEEK_CUR)
                    f.write(bytes([byte[0] ^ 0x20]))

            def half_new(path):
                with open(path, "rb") as good, open(path + ".new", "wb") as new:
                    new.write(good.read()[:100])

            left_new = f"room {room}: removed a checkpoint the last stop cut short while it was written"
            for damage, said in ((damaged, ["its checkpoint is damaged (it fails its checksum); played from its recording"]),
                                 (half_new, ["from its checkpoint at tick", left_new])):
                await wait_for(lambda: checkpoint_tick(files + ".checkpoint") > at, "a checkpoint past the start")
                # The writer counts a checkpoint once its folder is synced, just after its rename.
                await wait_for(lambda: status(port)["checkpoints"] >= 1, "/status counts the checkpoints written")
                check(status(port)["checkpoints_failed"] == 0, "and none failed")
                await wait_for(lambda: screen.tick > at + 3 * hash_every, "a few more hashes' ticks")
                process.send_signal(signal.SIGKILL)
                process.wait(WAIT)
                before = whole_lines(files + ".recording")
                damage(files + ".checkpoint")
                with open(files + ".recording", "ab") as f:
                    f.write(b"down 1 20")  # of "down 1 200 150", say
                restarted = time.monotonic()
                process, resumed = start_on(server, port, data, log, extra=extra)
                at = resumed.get(room, -1)
                with open(log) as errors:
                    written = errors.read()
                    for line in said:
                        check(line in written, f"the log says '{line}'")
                await wait_for(lambda: any(t >= restarted for t, _ in screen.joins), "the screen is back")
                await wait_for(lambda: screen.tick >= at + 3 * hash_every, "three hashes' ticks after the restart")
                check(whole_lines(files + ".recording").startswith(before),
                      "the recording's bytes from before the kill are unchanged")
                now = status(port)
                check(screen.error is None and screen.mismatches == 0 and now["mismatches"] == 0
                      and now["hashes_checked"] > 0,
                      f"resumed at tick {at}, the screen follows with no mismatch: error {screen.error}, "
                      f"{screen.mismatches} notices; /status {now['mismatches']} of {now['hashes_checked']}")
            await screen.stop()
        finally:
            stop_server(process)
        replayed = subprocess.run([os.environ["KESTREL_TRACE"], files + ".recording"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE, timeout=WAIT)
        check(replayed.returncode == 0, f"kestrel-trace replays the whole recording: {replayed.stderr[-200:]}")




if __name__ == "__main__":
    sys.exit(main(__doc__, run))
