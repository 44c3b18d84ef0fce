#!/usr/bin/python3
"""The real server against clients that push its limits, each on a server
of its own with small limits:
- a connection over its address's limit is answered 503 with Retry-After,
  and a socket still counts against its address once upgraded; of such
  connections only a few are held to be answered, the rest closed at once;
- a server with as many rooms as it takes answers 503 with Retry-After;
- only a room made counts against the creation quota, and past it the
  answer is 429 with Retry-After;
- a burst of 40 players into a room of 5 seats taken gives the last seat
  once, and the rest are told they watch; a forged seat token is answered
  with a free seat, or none, and logged; a screen that sends seat lines is
  closed, and the room goes on; the room's state names no key or token;
- SIGTERM right after "listening" stops the server cleanly (status 0);
- out of file descriptors, the server neither spins nor stops answering:
  it serves the connections it holds, and new ones once descriptors free
  (left out when KESTREL_SANITIZED=1: the sanitizers' own checks need a
  descriptor, and report a false fault without one).

usage: hostile.py KESTREL_SERVER KESTREL_LIVE_FOLLOWER
"""
import asyncio
import http.client
import json
import os
import resource
import socket
import subprocess
import sys
import time

import websockets

from server_checks import WAIT, check, exchange, main, protocol, start_server, stop_server, wait_for

GOOD_ROOM = b"{\"width\": 300, \"height\": 200}"
STARTS_AND_STOPS = 10
DESCRIPTORS = 64
# More than the server can hold with DESCRIPTORS descriptors.
HELD_CONNECTIONS = 2 * DESCRIPTORS
# A server that waits between accepts uses next to no processor time while
# it waits; one that spins uses all of it.
IDLE_SPAN, MOST_CPU = 1.0, 0.25


def post_room(port, body=GOOD_ROOM):
    got, headers, _ = exchange(port, "POST", "/rooms", body)
    return got, headers.get("Retry-After"), headers.get("Kestrel-Refusal")


def socket_uri(port, room):
    return f"ws://127.0.0.1:{port}/rooms/{room}/socket"


async def address_limit(server):
    process, port = start_server(server, ["--port", "0", "--max-address-connections", "3", "--max-rooms", "1"])
    try:
        got, headers, body = exchange(port, "POST", "/rooms", GOOD_ROOM)
        check(got == 201, f"POST /rooms: {got}")
        room = json.loads(body)["room"]
        numbers = protocol(port)
        wait = str(numbers["retry_after_seconds"])
        check(post_room(port) == (503, wait, "server-full"),
              f"POST /rooms past --max-rooms: {post_room(port)}, expected 503, {wait}, server-full")
        sockets = [await websockets.connect(socket_uri(port, room), compression=None) for _ in range(3)]
        got, headers, _ = exchange(port, "GET", "/status")
        check(got == 503 and headers.get("Retry-After") and headers.get("Kestrel-Refusal") == "address-limit",
              f"a fourth connection beside three sockets: {got}, Retry-After {headers.get('Retry-After')}, "
              f"{headers.get('Kestrel-Refusal')}")
        held = [socket.create_connection(("127.0.0.1", port), timeout=WAIT)
                for _ in range(numbers["refusals_per_address"])]
        with socket.create_connection(("127.0.0.1", port), timeout=WAIT) as past:
            check(past.recv(1) == b"", "a connection past the ones being refused is closed at once, unanswered")
        for connection in held:
            connection.close()
        await sockets.pop().close()
        await wait_for(lambda: exchange(port, "GET", "/status")[0] == 200, "a connection is let in once a socket closed")
        for ws in sockets:
            await ws.close()
    finally:
        stop_server(process, "the server of few connections")


async def creation_quota(server):
    process, port = start_server(server, ["--port", "0", "--max-room-creations", "2"])
    try:
        refused = [post_room(port, b"{\"width\": 0}")[0] for _ in range(5)]
        check(refused == [400] * 5, f"bad POST /rooms: {refused}")
        made = [post_room(port)[0] for _ in range(2)]
        check(made == [201, 201], f"two rooms after five refused requests: {made}")
        got, wait, refusal = post_room(port)
        check(got == 429 and wait is not None and 0 < int(wait) <= 60 and refusal == "too-many-rooms",
              f"a third room in the minute: {got}, wait {wait}, {refusal}")
    finally:
        stop_server(process, "the server of few creations")


async def notices(ws):
    """The notices a screen is sent before its join text."""
    got = []
    while not got or got[-1].startswith("# "):
        got.append(await asyncio.wait_for(ws.recv(), WAIT))
    return got[:-1]


async def close_code(ws):
    """The code the server closed the socket with, once the frames before it are read."""
    try:
        while True:
            await asyncio.wait_for(ws.recv(), WAIT)
    except websockets.ConnectionClosed as closed:
        return closed.code


def seat_of(told):
    return next((line.split()[2] for line in told if line.startswith("# seat ")), None)


def watches(told):
    return any(line.startswith("# watching 6") for line in told)


async def seat_burst(server):
    process, port = start_server(server, ["--port", "0", "--max-address-connections", "100",
                                          "--max-room-connections", "60"], stderr=subprocess.PIPE)
    try:
        got, _, body = exchange(port, "POST", "/rooms", GOOD_ROOM)
        check(got == 201, f"POST /rooms: {got}")
        made = json.loads(body)
        room, key = made["room"], made["play"].rsplit(".", 1)[1]
        uri = f"{socket_uri(port, room)}?key={key}"
        first = [await websockets.connect(uri, compression=None) for _ in range(5)]
        seats = [seat_of(await notices(ws)) for ws in first]
        check(seats == ["0", "1", "2", "3", "4"], f"five players take the five lowest seats: {seats}")
        burst = await asyncio.gather(*[websockets.connect(uri, compression=None) for _ in range(40)])
        told = await asyncio.gather(*[notices(ws) for ws in burst])
        given = [seat_of(t) for t in told if seat_of(t) is not None]
        seat_lines = [line for t in told for line in t if line.startswith("# seat ")]
        watching = sum(watches(t) for t in told)
        check(given == ["5"] and watching == 39, f"40 joins for one seat: seats {given}, {watching} watching")
        forged = await websockets.connect(f"{uri}&seat={'f' * 32}", compression=None)
        check(watches(await notices(forged)), "a forged token finds no seat when none is free")
        await first[1].send("as 1\n")
        code = await close_code(first[1])
        check(code == 1008, f"a player sending 'as' is closed for it: {code}")
        got, _, state = exchange(port, "GET", f"/rooms/{room}")
        listed = json.loads(state)
        check(got == 200 and listed["seats_taken"] == 6 and len(listed["seats"]) == 6
              and [s["present"] for s in listed["seats"]] == [True, False, True, True, True, True]
              and key not in state.decode() and not any(t.split()[3] in state.decode() for t in seat_lines),
              f"GET /rooms/ID: {got} {state!r}")
        status = json.loads(exchange(port, "GET", "/status")[2])
        check(status["seats"] == 6, f"/status counts the seats taken: {status['seats']}")
        # Sockets full of unread frames are dropped with the server, not
        # closed one handshake at a time.
    finally:
        stop_server(process, "the server of a burst of players")
        log = process.stderr.read()
    check("a screen came with a seat token that brings back no seat" in log, f"the forged token is logged: {log[-500:]}")


def stops_at_once(server):
    codes = []
    for _ in range(STARTS_AND_STOPS):
        process, _ = start_server(server, ["--port", "0"])
        process.terminate()
        codes.append(process.wait(WAIT))
    check(codes == [0] * STARTS_AND_STOPS, f"SIGTERM right after listening, {STARTS_AND_STOPS} times: {codes}")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def few_descriptors():
    resource.setrlimit(resource.RLIMIT_NOFILE, (DESCRIPTORS, DESCRIPTORS))


async def out_of_descriptors(server):
    process, port = start_server(server, ["--port", "0", "--max-address-connections", str(10 * DESCRIPTORS)],
                                 preexec_fn=few_descriptors)
    held = []
    try:
        kept = http.client.HTTPConnection("127.0.0.1", port, timeout=WAIT)
        kept.request("GET", "/status")
        kept.getresponse().read()
        held = [socket.create_connection(("127.0.0.1", port), timeout=WAIT) for _ in range(HELD_CONNECTIONS)]
        await wait_for(lambda: descriptors(process.pid) >= DESCRIPTORS, "the server's descriptors are used up")
        before = cpu_seconds(process.pid)
        await asyncio.sleep(IDLE_SPAN)  # a span to measure the processor time in, not a wait for an event
        used = cpu_seconds(process.pid) - before
        check(used < MOST_CPU, f"out of descriptors, the server used {used:.2f} s of processor in {IDLE_SPAN} s")
        kept.request("GET", "/status")
        check(kept.getresponse().status == 200, "a connection it holds is still answered")
        for connection in held:
            connection.close()
        held = []
        check(exchange(port, "GET", "/status")[0] == 200, "a new connection is answered once descriptors are free")
        kept.close()
    finally:
        for connection in held:
            connection.close()
        stop_server(process, "the server of few descriptors")


async def run(server, _follower):
    await address_limit(server)
    await creation_quota(server)
    await seat_burst(server)
    stops_at_once(server)
    if os.environ.get("KESTREL_SANITIZED") != "1":
        await out_of_descriptors(server)


if __name__ == "__main__":
    sys.exit(main(__doc__, run))
