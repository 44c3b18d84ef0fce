#!/usr/bin/python3
"""A server's disk that fills, and its data folder.

Runs itself in a private mount namespace (unshare -rm), where the data
folder is a tmpfs of 1 MiB that already keeps an ended room, and starts
kestrel-server on it (127.0.0.1, a port picked free). Checks:
- a second server on the same folder stops at once with one line and
  status 2, and the first server's files (it stopped meanwhile) are as
  they were;
- the ended room's recording is served byte for byte, HEAD gives its
  length; one whose file cannot be read answers 500;
- a room plays with a watcher and a player; the disk is filled: POST /rooms
  is refused with 503 and leaves no file; once the room's writes fail,
  /status lists it as unwritable and the log says so; the player plays on;
- the disk is freed: the room is whole again, the log says so, and its
  recording, served live, ends at a whole line at most a room second
  behind, goes on past the time the disk was full, replays with kestrel-trace, and replays to the room's own
  hash (no tick of it missing).

usage: disk.py KESTREL_SERVER KESTREL_LIVE_FOLLOWER (KESTREL_TRACE in the environment)
"""
import asyncio
import errno
import json
import os
import signal
import subprocess
import sys
import tempfile

from restart import hash_probe, replayed_hash
from server_checks import (WAIT, Screen, check, exchange, free_port, main, protocol, request, start_server, status,
                           stop_server, ticks, wait_for)

DISK_SIZE = "1m"
ENDED_ROOM = "0123456789abcdef" * 2
BROKEN_ROOM = "fedcba9876543210" * 2
# Long enough to go out in many pieces.
ENDED_RECORDING = b"version 1\nseed 46\nsize 300 200\n" + b"tick 1\n" * 30000
IN_USE = "kestrel-server: the data folder {} is in use by another server\n"


def keep_room(data, room, recording):
    with open(os.path.join(data, room + ".room"), "w") as f:
        f.write(f"kestrel-room 1\nkey {'f' * 32}\nsize 300 200\nended\n")
    if isinstance(recording, bytes):
        with open(os.path.join(data, room + ".recording"), "wb") as f:
            f.write(recording)
    else:
        os.mkdir(os.path.join(data, room + ".recording"))  # a folder where its file should be


def files(data):
    """Every file in the folder, with its bytes."""
    kept = {}
    for name in sorted(os.listdir(data)):
        path = os.path.join(data, name)
        kept[name] = open(path, "rb").read() if os.path.isfile(path) else None
    return kept


def fill(path):
    """Writes to `path` until the disk takes no more byte."""
    fd = os.open(path, os.O_WRONLY | os.O_CREAT)
    for size in (1 << 16, 1 << 12, 1 << 8, 1):
        try:
            while True:
                os.write(fd, b"\0" * size)
        except OSError as error:
            assert error.errno == errno.ENOSPC, error
    os.close(fd)


def log_has(log, text):
    with open(log) as f:
        return text in f.read()


def second_server(server, process, data):
    process.send_signal(signal.SIGSTOP)
    before = files(data)
    second = subprocess.run([server, "--port", "0", "--data", data], capture_output=True, text=True, timeout=WAIT)
    after = files(data)
    process.send_signal(signal.SIGCONT)
    check(second.returncode == 2 and second.stderr == IN_USE.format(data) and second.stdout == "",
          f"a second server on the folder: status {second.returncode}, said {second.stderr!r}")
    check(after == before, "the first server's files are as they were")


def kept_recordings(port):
    got, _, body = request(port, "GET", f"/rooms/{ENDED_ROOM}/recording")
    check(got == 200 and body == ENDED_RECORDING,
          f"the ended room's recording, byte for byte: {got}, {len(body)} bytes")
    got, headers, body = exchange(port, "HEAD", f"/rooms/{ENDED_ROOM}/recording")
    check(got == 200 and headers["Content-Length"] == str(len(ENDED_RECORDING)) and body == b"",
          f"HEAD: {got}, Content-Length {headers['Content-Length']}")
    got, _, body = request(port, "GET", f"/rooms/{BROKEN_ROOM}/recording")
    check(got == 500, f"a recording that cannot be read: {got} {body!r}")


async def play(player, seconds):
    """The player drags a tank to and fro, 60 lines a second."""
    for step in range(2 * seconds):
        x = 200 + step % 10
        await player.ws.send(f"down 1 {x} 150\n" + f"move {x + 5} 160\n" * 28 + f"up 1 {x + 5} 160\n")
        await asyncio.sleep(0.5)


def full_disk(port, data):
    """Fills the disk: a new room is refused and leaves no file."""
    fill(os.path.join(data, "filler"))
    before = files(data)
    got, headers, body = exchange(port, "POST", "/rooms", b"{\"width\": 400, \"height\": 300}")
    check(got == 503 and headers["Retry-After"] and headers["Kestrel-Refusal"] == "disk-full" and files(data) == before,
          f"POST /rooms on a full disk: {got} {body!r}, Retry-After {headers['Retry-After']}, "
          f"{headers['Kestrel-Refusal']}, no file left")


async def run_in_namespace(server, follower):
    trace = os.environ["KESTREL_TRACE"]
    with tempfile.TemporaryDirectory() as scratch:
        data, log, port = os.path.join(scratch, "data"), os.path.join(scratch, "server.log"), free_port()
        os.mkdir(data)
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={DISK_SIZE}", "tmpfs", data], check=True)
        keep_room(data, ENDED_ROOM, ENDED_RECORDING)
        keep_room(data, BROKEN_ROOM, None)
        with open(log, "w") as errors:
            process, port = start_server(server, ["--port", str(port), "--data", data], stderr=errors)
        try:
            got, _, body = request(port, "POST", "/rooms", b"{\"width\": 400, \"height\": 300}")
            check(got == 201, f"POST /rooms: {got}")
            answer = json.loads(body)
            room, key = answer["room"], answer["play"].split(".")[-1]
            uri = f"ws://127.0.0.1:{port}/rooms/{room}/socket"
            hash_every = protocol(port)["hash_every_ticks"]
            watcher, player = Screen("watcher", uri, follower), Screen("player", f"{uri}?key={key}", follower)
            for screen in (watcher, player):
                await screen.start()
            await wait_for(lambda: min(watcher.tick, player.tick) > 0, "both screens follow")
            second_server(server, process, data)
            kept_recordings(port)
            check(status(port)["unwritable"] == [], "/status: no room is unwritable")

            full_disk(port, data)
            playing = asyncio.create_task(play(player, WAIT))
            await wait_for(lambda: status(port)["unwritable"] == [room], "/status lists the room as unwritable")
            check(log_has(log, f"room {room}: its recording cannot be written after tick "),
                  "the log says the room cannot write")
            full_at = watcher.tick
            await wait_for(lambda: watcher.tick > full_at + 2 * hash_every, "two more seconds on a full disk")
            playing.cancel()
            os.remove(os.path.join(data, "filler"))
            freed_at = watcher.tick
            await wait_for(lambda: status(port)["unwritable"] == [], "the room writes again")
            check(log_has(log, f"room {room}: its recording is written again, whole"),
                  "the log says it is whole again")

            # The room is the only one that ticks: the server's count is its tick.
            since = status(port)["ticks"]
            got, _, recording = request(port, "GET", f"/rooms/{room}/recording")
            until = status(port)["ticks"]
            check(got == 200 and recording.endswith(b"\n"),
                  f"the live recording ends at a whole line: {recording[-20:]!r}")
            recording = recording.decode()
            second = protocol(port)["ticks_per_second"]
            check(since - second <= ticks(recording) <= until,
                  f"it is at most a room second behind: {ticks(recording)} ticks, the room at {since} to {until}")
            check(ticks(recording) > freed_at, f"it goes on past tick {freed_at}: {ticks(recording)} ticks")
            replayed = subprocess.run([trace], input=recording.encode(), stdout=subprocess.DEVNULL, timeout=WAIT)
            check(replayed.returncode == 0, f"kestrel-trace replays it: status {replayed.returncode}")
            last = ticks(recording) // hash_every * hash_every
            right = replayed_hash(follower, recording, last)
            wrong = f"hash {last - hash_every} {'0' * 16}"
            noticed = await hash_probe(port, room, right, wrong) if right else []
            check(noticed == [str(last - hash_every)], f"the room agrees with the replayed hash at tick {last}")
            check(watcher.error is None and watcher.mismatches == 0, f"the watcher followed: {watcher.error}")
            for screen in (watcher, player):
                await screen.stop()
            with open(log) as f:
                print("".join(line for line in f if "recording" in line or "not opened" in line), end="")
        finally:
            stop_server(process)
            subprocess.run(["umount", data], check=False)


if __name__ == "__main__":
    if os.environ.get("KESTREL_DISK_NAMESPACE") != "1":
        os.environ["KESTREL_DISK_NAMESPACE"] = "1"
        os.execvp("unshare", ["unshare", "-rm", sys.executable, *sys.argv])
    sys.exit(main(__doc__, run_in_namespace))
