#!/usr/bin/python3
"""Two named servers behind HAProxy, as data/haproxy.cfg deploys them,
sharing their public rooms through Redis (started here on a unix socket,
with a data folder of its own, and stopped after):
- ten "Play with anyone" from ten browser addresses, each player taking
  its seat before the next asks, fill two public rooms, six and four, one
  on each server, whichever server each ask reached: no seat is given
  twice and the rooms are as few as the seats allow;
- each server lists, within 2 s, the rooms the other holds, and never a
  private room; an entry carries no key; a page served by one server
  opens the other's room by its entry's watch link;
- server 8002 killed (SIGKILL): its rooms leave 8001's list within the
  time to live; started again on its data, its resumed rooms are listed
  again;
- Redis stopped (SIGSTOP, then killed): no room is held (its late ticks
  grow by less than a second's; left out under the sanitizers), "Play with
  anyone" seats a player on the server it reached, and the list says it
  may lack the other server's rooms; Redis started again: both servers'
  rooms are listed again within 2 s, and the log says once each that
  Redis went and came back.

usage: directory.py KESTREL_SERVER
(HAProxy, mkcert and redis-server from KESTREL_HAPROXY, KESTREL_MKCERT and
KESTREL_REDIS, or the PATH and /usr/sbin)
"""
import asyncio
import itertools
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

import websockets

from deployment import GOOD_ROOM, NAMES, Deployment, first_frame, fragment, joined
from server_checks import (WAIT, check, exchange, installed_program, main, request, settled, start_server,
                           wait_for)

REDIS = installed_program("redis-server", "redis-server", "KESTREL_REDIS")
LISTED_WITHIN = 2       # seconds for one server's rooms to reach the other's list
TIME_TO_LIVE = 5        # seconds a killed server's rooms stay listed, at most
TICKS_PER_SECOND = 40   # a room's
PLAYERS = 10
# Addresses of their own: the players' browsers, and this test's looks at each server.
BROWSERS = (f"127.0.8.{n}" for n in itertools.count(2))
LOOKS = (f"127.0.9.{n % 250 + 2}" for n in itertools.count())


class Redis:
    """redis-server on a unix socket in `folder`, its data there too."""

    def __init__(self, folder):
        self.folder, self.socket, self.process = folder, os.path.join(folder, "redis.sock"), None

    async def start(self):
        self.process = subprocess.Popen([REDIS, "--port", "0", "--unixsocket", self.socket, "--save", "",
                                         "--dir", self.folder], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        await wait_for(lambda: os.path.exists(self.socket), "redis-server listens on its socket")

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(WAIT)
        if os.path.exists(self.socket):
            os.unlink(self.socket)


class Shared(Deployment):
    """The deployment, each server given the directory in Redis."""

    def __init__(self, server, scratch, redis):
        super().__init__(server, scratch)
        self.redis = redis

    def start_server(self, name):
        with open(self.data(name) + ".log", "a") as log:
            self.servers[name], _ = start_server(
                self.server, ["--name", name, "--port", str(self.ports[name]), "--trust-proxy", "127.0.0.1",
                              "--data", self.data(name), "--redis", self.redis.socket], stderr=log)

    def listed(self, name):
        """Server `name`'s list, asked of it straight (the balancer is its trusted peer, as this test is)."""
        got, _, body = exchange(self.ports[name], "GET", "/rooms", source=next(LOOKS))
        return json.loads(body) if got == 200 else {"whole": None, "rooms": []}

    def seats(self, name):
        return {entry["room"]: entry["seats_taken"] for entry in self.listed(name)["rooms"]}

    def late(self):
        return {name: json.loads(request(port, "GET", "/status")[2])["late_ticks"] for name, port in self.ports.items()}

    async def play_with_anyone(self, browser):
        """A player through the balancer: its room, once it holds its seat there, and its socket."""
        got, _, body = self.ask("POST", "/rooms/anyone", browser, GOOD_ROOM, origin=self.origin)
        answer = json.loads(body)
        self.sent_elsewhere = "seat" in answer
        if "seat" in answer:
            got, _, body = self.ask("POST", answer["seat"], browser, b"{}", origin=self.origin)
            answer = json.loads(body)
        check(got in (200, 201) and "play" in answer, f"a seat, or a room, for {browser}: {got}")
        room, key = answer["play"].split("#live=", 1)[1].split(".")
        uri, options = self.socket(room, browser, key)
        ws = await websockets.connect(uri, compression=None, max_size=None, close_timeout=1, **options)
        while not (frame := await asyncio.wait_for(ws.recv(), WAIT)).startswith(("# seat ", "# watching")):
            pass
        check(frame.startswith("# seat "), f"{browser} holds a seat in {room}")
        return room, ws


def home(room):
    return room.split("-", 1)[0]


def next_pick_not(d, name):
    """Makes the balancer's next pick the server other than `name`: it
    takes turns, so once a look through it has reached `name`, the next
    request that is not a room's goes to the other."""
    for _ in NAMES:
        if json.loads(d.ask("GET", "/status", next(LOOKS))[2])["name"] == name:
            return


async def fill(d):
    """PLAYERS players with anyone; each server's list shows the seat before
    the next asks. The player who opens the second room asks the server
    that does not hold the first, so that the rooms are on both."""
    rooms, sockets = [], []
    for _ in range(PLAYERS):
        if len(rooms) == 6:
            next_pick_not(d, home(rooms[0]))
        room, ws = await d.play_with_anyone(next(BROWSERS))
        rooms.append(room)
        sockets.append(ws)
        taken = rooms.count(room)
        await wait_for(lambda: all(d.seats(name).get(room) == taken for name in NAMES),
                       f"both servers list {room} with {taken} seats taken", LISTED_WITHIN)
    counts = sorted((rooms.count(room) for room in set(rooms)), reverse=True)
    check(counts == [6, 4], f"ten players in two rooms, six and four: {counts}")
    check({home(room) for room in rooms} == set(NAMES), f"the rooms are on both servers: {set(rooms)}")
    return rooms, sockets


async def run(server):
    with tempfile.TemporaryDirectory() as scratch:
        redis = Redis(os.path.join(scratch, "redis"))
        os.mkdir(redis.folder)
        d = Shared(server, scratch, redis)
        try:
            await redis.start()
            if not await d.start():
                return
            rooms, sockets = await fill(d)
            # A page served by 8001 lists 8002's room, whose entry opens it through the balancer.
            next_pick_not(d, "8002")
            got, _, body = d.ask("GET", "/rooms", next(BROWSERS), origin=d.origin)
            listed = json.loads(body)["rooms"] if got == 200 else []
            entries = [entry for entry in listed if home(entry["room"]) == "8002"]
            frames = [await first_frame(*d.socket(fragment(entry["watch"]), next(BROWSERS))) for entry in entries]
            check(entries and all(joined(frame) for frame in frames),
                  f"8001's list through the balancer names 8002's room, and its watch link opens it: {got} {frames}")
            got, _, body = d.ask("POST", "/rooms", next(BROWSERS), GOOD_ROOM, origin=d.origin)
            private = json.loads(body)
            lists = [json.dumps(d.listed(name)) for name in NAMES]
            check(all(private["room"] not in text and ".".join(private["play"].rsplit(".", 1)[1:]) not in text
                      for text in lists), "a private room is never listed, and no entry carries a key")

            # Server 8002 killed: its rooms leave the list, and come back with it.
            theirs = {room for room in rooms if home(room) == "8002"}
            ours = {room for room in rooms if home(room) == "8001"}
            d.servers["8002"].kill()
            d.servers["8002"].wait(WAIT)
            await wait_for(lambda: not theirs & set(d.seats("8001")), "8002's rooms leave 8001's list",
                           TIME_TO_LIVE + LISTED_WITHIN)
            d.start_server("8002")
            settled(d.ports["8002"])
            await wait_for(lambda: theirs <= set(d.seats("8001")), "8002's resumed rooms are listed again",
                           LISTED_WITHIN + 1)
            for ws in sockets:
                await ws.close()

            # Redis stopped, then gone: the rooms tick on time, and a player is seated on the server reached.
            late = d.late()
            redis.process.send_signal(signal.SIGSTOP)
            await asyncio.sleep(3)
            room, ws = await d.play_with_anyone(next(BROWSERS))
            await ws.close()
            check(not d.sent_elsewhere, "with Redis stopped, a player is seated on the server the ask reached")
            check(all(not d.listed(name)["whole"] for name in NAMES), "with Redis stopped, the lists say they are not whole")
            redis.kill()  # while stopped: it never answers again
            await asyncio.sleep(1)
            # A loop that waited on the stopped Redis would hold every room for
            # the whole stop: seconds of ticks each. A busy machine makes a
            # few ticks late by itself (under the sanitizers, many), so the
            # count may grow by less than a second of one room's ticks.
            if os.environ.get("KESTREL_SANITIZED") != "1":
                now = d.late()
                check(all(now[name] - late[name] < TICKS_PER_SECOND for name in NAMES),
                      f"no room was held while Redis was stopped: late ticks {late} then {now}")
            await redis.start()
            everyone = ours | theirs | {room}
            await wait_for(lambda: all(everyone <= set(d.seats(name)) and d.listed(name)["whole"] for name in NAMES),
                           "with Redis back, both servers list every public room", LISTED_WITHIN + 1)
            for name in NAMES:
                said = [line for line in d.log(name).splitlines() if ": gone (" in line or ": back;" in line]
                check(len(said) == 2 and ": gone (" in said[0] and ": back;" in said[1],
                      f"server {name}'s log says once that Redis went, and once that it came back: {said}")
        finally:
            d.stop()
            redis.kill()


if __name__ == "__main__":
    sys.exit(main(__doc__, run, programs=1))
