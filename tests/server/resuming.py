#!/usr/bin/python3
"""Rooms come back while the server answers, and long recordings are played
off its thread.

Starts kestrel-server on 127.0.0.1 (a port it picks) with a data folder,
its standard output and error read as one stream, in the order written.
- Two rooms of a size, one of them watched (through kestrel-live-follower),
  and a room made from a recording of 100,000 ticks of the busiest battle
  (kestrel-busy-recording): the watched room's ticks go on while that POST is
  pending, and the new room plays on past the recording.
- The server is killed with SIGKILL once the long room has kept a
  checkpoint, and while a room is being made from the long recording again
  (that room was never made: its recording is removed at the next start,
  and it is not named as a room lost), the long room's files renamed so that it comes back last, its
  checkpoint kept aside and a named pipe put in its place, and the server
  started again. It says it listens before any room is resumed. The pipe
  holds the long room back (the server opens it before its recording, and
  blocks until it is written): meanwhile the other rooms are back and tick,
  /status says one room is still "resuming", a screen that asked for the
  long room has no answer, and a new room is refused with 503 (the server
  takes three rooms, and the long one counts on its way). Then the checkpoint is written into the pipe:
  the long room comes back from it, last, /status counts the resuming down
  to none, and the screen is served with a join text that plays to where
  the room is.
- A folder with an empty recording, a recording without its record, a
  damaged recording and one that cannot be read: each room is named in the
  log with its reason, joining one is refused as an unknown room is, with
  the reason, and every file is byte for byte as it was.

usage: resuming.py KESTREL_SERVER KESTREL_LIVE_FOLLOWER KESTREL_BUSY_RECORDING
"""
import asyncio
import base64
import contextlib
import errno
import http.client
import json
import os
import re
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

from server_checks import (LISTENING, WAIT, Screen, check, exchange, main, request, settled, status, stop_server, ticks,
                           wait_for)

LONG_TICKS = 100_000
LAST = "f" * 32  # the long room's id after the kill: it comes back last
RECORD = f"kestrel-room 1\nkey {'a' * 32}\nsize 300 200\n"
RECORDING = "version 1\nseed 46\nsize 300 200\ntick 80\n"
# Rooms that cannot come back, what their folder holds, and a word of the reason given.
LOST = {
    "1" * 32: ({".room": RECORD, ".recording": ""}, "empty"),
    "2" * 32: ({".recording": RECORDING}, "no record"),
    "3" * 32: ({".room": RECORD, ".recording": RECORDING + "fire at will\n"}, "damaged"),
    "4" * 32: ({".room": RECORD, ".recording": None}, "cannot be read"),  # a folder in its place
}


class Server:
    """The server on a port it picks, once it has printed its first line;
    the lines it writes after, in order."""

    def __init__(self, program, data, extra=()):
        self.process = subprocess.Popen([program, "--port", "0", "--data", data, *extra], stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True)
        self.first = self.process.stdout.readline()
        self.port = int(self.first[len(LISTENING):].rstrip("/\n")) if self.first.startswith(LISTENING) else None
        self.lines = []
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.process.stdout:
            self.lines.append(line.rstrip("\n"))

    def find(self, pattern):
        """The index of the first line that matches, and the match."""
        return next(((i, m) for i, line in enumerate(self.lines) if (m := re.search(pattern, line))), (None, None))


def links(port, body, headers=None):
    got, _, answer = request(port, "POST", "/rooms", body, headers)
    check(got == 201, f"POST /rooms: {got} {answer[:80]!r}")
    made = json.loads(answer)
    return made["room"], made["play"].split(".")[-1]


def read_message(stream):
    """One WebSocket message from the server (unmasked, maybe in fragments); pings are passed over."""
    message, opcode = b"", None
    while True:
        head = stream.read(2)
        length = head[1] & 0x7F
        if length >= 126:
            length = struct.unpack(">H" if length == 126 else ">Q", stream.read(2 if length == 126 else 8))[0]
        data = stream.read(length)
        if head[0] & 0x0F in (0x9, 0xA):
            continue
        opcode = opcode or head[0] & 0x0F
        message += data
        if head[0] & 0x80:
            return message


def ask_to_join(port, room, key):
    """A connection that has sent its upgrade for the room's socket."""
    connection = socket.create_connection(("127.0.0.1", port), WAIT)
    connection.sendall((f"GET /rooms/{room}/socket?key={key} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n"
                        "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                        f"Sec-WebSocket-Key: {base64.b64encode(os.urandom(16)).decode()}\r\n\r\n").encode())
    return connection


def join_answer(connection):
    """The upgrade's status line, and the messages up to the join text: the notices, then the text."""
    stream = connection.makefile("rb")
    answer = stream.readline()
    while stream.readline() not in (b"\r\n", b""):
        pass
    messages = []
    while b" 101 " in answer and (not messages or messages[-1].startswith(b"# ")):
        messages.append(read_message(stream))
    return answer, messages


def answered(connection):
    """Whether the server has written anything to the connection yet."""
    return bool(select.select([connection], [], [], 0)[0])


def open_for_writing(pipe):
    """The pipe's writing end once someone has it open for reading; None before."""
    try:
        return os.open(pipe, os.O_WRONLY | os.O_NONBLOCK)
    except OSError as error:
        if error.errno != errno.ENXIO:
            raise
        return None


async def open_gate(pipe, text):
    """Writes `text` into the pipe once the server reads it, and closes it."""
    writer = None

    def server_reads():
        nonlocal writer
        writer = open_for_writing(pipe)
        return writer is not None

    if await wait_for(server_reads, "the server opens the long room's checkpoint"):
        os.set_blocking(writer, True)
        with open(writer, "wb") as gate:
            gate.write(text)


def followed_tick(follower, frames):
    """The room tick a screen reaches on `frames`; None when it cannot follow them."""
    played = subprocess.run([follower], input=b"".join(b"%d\n" % len(f) + f for f in frames),
                            stdout=subprocess.PIPE, timeout=WAIT)
    heads = re.findall(rb"^(\d+) \d+$", played.stdout, re.M)
    return int(heads[-1]) if played.returncode == 0 and heads else None


def unmade(data):
    """The recordings of rooms being made."""
    return [name for name in os.listdir(data) if name.endswith(".recording.new")]


def post_unanswered(port, recording):
    with contextlib.suppress(OSError, http.client.HTTPException):
        request(port, "POST", "/rooms", recording, {"Content-Type": "text/plain"})


async def make_rooms(program, follower, busy, data):
    """Two rooms of a size and a long one from a recording; answers their ids and keys, the long one's last,
    and the long one's checkpoint, which a named pipe stands in for."""
    server = Server(program, data)
    port = server.port
    rooms = [links(port, b'{"width": 400, "height": 300}') for _ in range(2)]
    watcher = Screen("watcher", f"ws://127.0.0.1:{port}/rooms/{rooms[0][0]}/socket", follower)
    await watcher.start()
    await wait_for(lambda: watcher.tick > 0, "the watcher follows")
    recording = subprocess.run([busy, str(LONG_TICKS)], stdout=subprocess.PIPE, check=True, timeout=WAIT).stdout

    def post():
        sent = time.monotonic()
        made = links(port, recording, {"Content-Type": "text/plain"})
        return sent, time.monotonic(), made

    sent, answered, made = await asyncio.to_thread(post)
    meanwhile = {tick for at, tick in watcher.frames if sent < at < answered}
    check(len(meanwhile) >= 2, f"the watched room ticks while the long POST is pending: ticks {sorted(meanwhile)}")
    await wait_for(lambda: ticks(request(port, "GET", f"/rooms/{made[0]}/recording")[2].decode()) > LONG_TICKS,
                   "the room made from the long recording plays on")
    # A room made from a recording keeps its first checkpoint at its first room second.
    await wait_for(lambda: os.path.exists(os.path.join(data, made[0] + ".checkpoint")), "the long room's checkpoint")
    await watcher.stop()
    # Killed while another room is being made from the recording: that room was never made.
    threading.Thread(target=post_unanswered, args=(port, recording), daemon=True).start()
    await wait_for(lambda: unmade(data), "a room being made from the recording")
    server.process.send_signal(signal.SIGKILL)
    server.process.wait(WAIT)
    for kind in (".room", ".recording", ".checkpoint"):
        os.rename(os.path.join(data, made[0] + kind), os.path.join(data, LAST + kind))
    gate = os.path.join(data, LAST + ".checkpoint")
    with open(gate, "rb") as f:
        checkpoint = f.read()
    os.remove(gate)
    os.mkfifo(gate)
    return rooms + [(LAST, made[1])], checkpoint


async def resume_rooms(program, follower, data, rooms, checkpoint):
    """The long room's checkpoint is a pipe, which holds the room back until the checkpoint is written into it."""
    server = Server(program, data, ["--max-rooms", str(len(rooms))])
    port = server.port
    check(server.first.startswith(LISTENING), f"the restarted server's first line says it listens: {server.first!r}")
    joining = ask_to_join(port, *rooms[-1])
    samples = []

    def sample():
        samples.append(status(port))
        return samples[-1]

    check(sample()["resuming"] >= 1, f"the long room is still resuming once a screen asked for it: {samples[0]}")
    await wait_for(lambda: sample()["resuming"] == 1, "the rooms before the long one are back")
    before = samples[-1]["ticks"]
    await wait_for(lambda: sample()["ticks"] > before, "the other rooms tick")
    check(samples[-1]["resuming"] == 1 and not answered(joining),
          f"the other rooms tick while the long one resumes, and the screen waiting for it has no answer yet: "
          f"{[(s['resuming'], s['ticks']) for s in samples]}")
    got, headers, _ = exchange(port, "POST", "/rooms", b'{"width": 400, "height": 300}')
    check(got == 503 and headers.get("Retry-After"),
          f"a room past --max-rooms {len(rooms)}, the long one on its way: {got}, Retry-After {headers.get('Retry-After')}")
    await open_gate(os.path.join(data, LAST + ".checkpoint"), checkpoint)
    await wait_for(lambda: sample()["resuming"] == 0, "every kept room is back")
    counts = [s["resuming"] for s in samples]
    check(counts == sorted(counts, reverse=True) and counts[-1] == 0, f"/status counts the resuming down: {counts}")
    answer, frames = join_answer(joining)
    # The room says it is back before it serves the screen; the line may still be on its way here.
    await wait_for(lambda: server.find(rf"room {LAST}: resumed at tick")[0] is not None, "the long room's line")
    at, long_back = server.find(rf"room {LAST}: resumed at tick (\d+)")
    others = [server.find(f"room {room}: resumed at tick")[0] for room, _ in rooms[:-1]]
    check(at is not None and int(long_back[1]) >= LONG_TICKS and None not in others and max(others) < at,
          f"the rooms resumed in order of their ids, the long one last: {server.lines}")
    check(server.find(rf"room {LAST}: its checkpoint is damaged")[0] is None,
          f"the long room came back from the checkpoint written into the pipe: {server.lines}")
    check(server.find("removed the recording of a room the last stop cut short")[0] is not None
          and not unmade(data) and server.find("but no record")[0] is None,
          f"the room being made when the server was killed is not kept, nor named as lost: {server.lines}")
    reached = followed_tick(follower, frames)
    check(b" 101 " in answer and reached is not None and at is not None and reached >= int(long_back[1]),
          f"the screen that waited for the long room follows its join text to tick {reached}: {answer!r}")
    joining.close()
    stop_server(server.process)


def keep_lost_rooms(data):
    """The folder's files as written: name -> bytes, None for a folder."""
    os.makedirs(data)
    kept = {}
    for room, (files, _) in LOST.items():
        for kind, text in files.items():
            path = os.path.join(data, room + kind)
            if text is None:
                os.mkdir(path)
            else:
                with open(path, "w") as f:
                    f.write(text)
            kept[path] = None if text is None else text.encode()
    return kept


def as_they_are(kept):
    def now(path):
        if os.path.isdir(path):
            return None
        with open(path, "rb") as f:
            return f.read()
    return all(os.path.lexists(path) and now(path) == text for path, text in kept.items())


async def lost_rooms(program, data):
    kept = keep_lost_rooms(data)
    server = Server(program, data)
    settled(server.port)
    for room, (_, word) in LOST.items():
        _, named = server.find(rf"room {room}: not resumed: (.*)")
        check(named is not None and word in named[1], f"room {room[:4]}... is named, '{word}': {named and named[0]}")
    got, _, why = request(server.port, "GET", f"/rooms/{'1' * 32}/socket", headers={
        "Upgrade": "websocket", "Connection": "Upgrade", "Sec-WebSocket-Version": "13",
        "Sec-WebSocket-Key": base64.b64encode(os.urandom(16)).decode()})
    check(got == 404 and b"empty" in why, f"joining the room with an empty recording: {got} {why!r}")
    check(status(server.port)["rooms"] == 0, "none of them plays")
    stop_server(server.process)
    check(as_they_are(kept), "their files are as they were")


async def run(program, follower, busy):
    with tempfile.TemporaryDirectory() as scratch:
        data = os.path.join(scratch, "data")
        rooms, checkpoint = await make_rooms(program, follower, busy, data)
        await resume_rooms(program, follower, data, rooms, checkpoint)
        await lost_rooms(program, os.path.join(scratch, "lost"))


if __name__ == "__main__":
    sys.exit(main(__doc__, run, programs=3))
