#!/usr/bin/python3
"""Rooms open to anyone on one server alone, whose directory is its own
memory:
- ten "Play with anyone" from ten addresses, each player joining before
  the next asks, fill two public rooms, six and four, and only the two
  that opened a room count against their address's quota;
- the list names the public rooms, fullest first, with no key, and never
  a private room; a private room opened to anyone by its key is listed
  from then on, and a wrong key is refused; a seat is refused in a full
  room (409) and in a private one (404); "?new=1" opens a room whatever;
- asking too often from one address is answered 429 with Retry-After;
- a restarted server lists its resumed public rooms again.

usage: anyone.py KESTREL_SERVER
"""
import asyncio
import json
import subprocess
import tempfile

import websockets

from server_checks import WAIT, check, exchange, main, settled, start_server, stop_server

JSON = {"Content-Type": "application/json"}
SIZE = b'{"width": 320, "height": 240}'
QUERIES_PER_MINUTE = 20


def ask(port, method, path, body=None, source=None):
    got, headers, content = exchange(port, method, path, body, JSON if body else None, source=source)
    return got, headers, json.loads(content) if content.startswith(b"{") else content


def listed(port, source="127.0.0.1"):
    got, _, answer = ask(port, "GET", "/rooms", source=source)
    check(got == 200, f"GET /rooms: {got}")
    return answer


async def join(port, play):
    """A player's socket to the room of `play`, once it holds its seat."""
    room, key = play.rsplit("#live=", 1)[1].split(".")
    ws = await websockets.connect(f"ws://127.0.0.1:{port}/rooms/{room}/socket?key={key}", compression=None)
    while not (frame := await asyncio.wait_for(ws.recv(), WAIT)).startswith("# seat "):
        pass
    return room, ws


async def fill(port):
    """Ten players with anyone; answers their rooms, in order, and their sockets."""
    rooms, sockets = [], []
    for i in range(10):
        got, _, answer = ask(port, "POST", "/rooms/anyone", SIZE, source=f"127.0.0.{10 + i}")
        check(got == (201 if i in (0, 6) else 200), f"player {i + 1}: {got}")
        room, ws = await join(port, answer["play"])
        rooms.append(room)
        sockets.append(ws)
    return rooms, sockets


async def run(server):
    with tempfile.TemporaryDirectory() as data:
        args = ["--port", "0", "--data", data, "--max-room-creations", "1", "--max-queries", str(QUERIES_PER_MINUTE)]
        process, port = start_server(server, args, stderr=subprocess.DEVNULL)
        rooms, sockets = await fill(port)
        first, second = rooms[0], rooms[6]
        check(rooms == [first] * 6 + [second] * 4 and first != second, f"two rooms, six and four: {rooms}")
        got, _, again = ask(port, "POST", "/rooms/anyone", SIZE, source="127.0.0.10")
        check(got == 200 and again["room"] == second, "a seat found counts against no quota of rooms")

        listing = listed(port)
        check([(r["room"], r["seats_taken"], r["seats_free"]) for r in listing["rooms"]] == [(first, 6, 0), (second, 4, 2)]
              and listing["whole"], "the list, fullest first, with each room's seats")
        check(all(set(r) == {"room", "watch", "seats_taken", "seats_free", "watchers", "leader", "seconds"}
                  and r["watch"].endswith(f"#watch={r['room']}") for r in listing["rooms"]),
              "each entry is counts and a watch link, no key")
        got, headers, _ = ask(port, "POST", f"/rooms/{first}/seat", b"{}")
        check(got == 409 and headers["Kestrel-Refusal"] == "seats-taken", f"a seat in a full room: {got}")

        got, _, private = ask(port, "POST", "/rooms", SIZE, source="127.0.0.99")
        key = private["play"].rsplit(".", 1)[1]
        check(private["room"] not in json.dumps(listed(port)), "a private room is not listed")
        got, headers, _ = ask(port, "POST", f"/rooms/{private['room']}/seat", b"{}")
        check(got == 404 and headers["Kestrel-Refusal"] == "no-such-room", f"no seat is given in a private room: {got}")
        got, headers, _ = ask(port, "POST", f"/rooms/{private['room']}/listed?key={'0' * 32}")
        check(got == 403 and headers["Kestrel-Refusal"] == "wrong-key", f"opened to anyone with a wrong key: {got}")
        got, _, _ = ask(port, "POST", f"/rooms/{private['room']}/listed?key={key}")
        check(got == 200 and private["room"] in json.dumps(listed(port)), "opened to anyone by its key, and listed")
        got, _, fresh = ask(port, "POST", "/rooms/anyone?new=1", SIZE, source="127.0.0.98")
        check(got == 201 and fresh["room"] not in rooms, f"?new=1 opens a public room of its own: {got}")

        for _ in range(QUERIES_PER_MINUTE):
            ask(port, "GET", "/rooms", source="127.0.0.50")
        got, headers, _ = ask(port, "GET", "/rooms", source="127.0.0.50")
        check(got == 429 and headers["Kestrel-Refusal"] == "too-many-queries" and int(headers["Retry-After"]) > 0,
              f"the list asked for too often: {got}")

        public = {first, second, private["room"], fresh["room"]}
        for ws in sockets:
            await ws.close()
        stop_server(process)
        process, port = start_server(server, args, stderr=subprocess.DEVNULL)
        settled(port)
        again = {r["room"] for r in listed(port)["rooms"]}
        check(again == public, f"the resumed server lists its public rooms again: {again} of {public}")
        stop_server(process)


if __name__ == "__main__":
    raise SystemExit(main(__doc__, run, programs=1))
