#!/usr/bin/python3
"""Two servers behind HAProxy over TLS, as data/haproxy.cfg deploys them.

Makes a throwaway certificate authority with mkcert (CAROOT in a scratch
folder; only this test's own TLS context trusts it, nothing is installed)
and a certificate for kestrel.test and 127.0.0.1; puts the certificate,
free loopback ports for the binds and the servers' ports into
data/haproxy.cfg, which `haproxy -c` must accept; starts the servers 8001
and 8002 (--trust-proxy 127.0.0.1, a data folder each, at most
ADDRESS_LIMIT connections an address) and HAProxy in front. Every request
and screen goes through the balancer over TLS (SNI and Host kestrel.test,
connected to 127.0.0.1), each browser from a loopback address of its own.
Checks:
- plain http is sent to https;
- ROOMS rooms made through the balancer land on both servers (at least
  LEAST_EACH each, by the name their id starts with); their links carry
  https://kestrel.test:PORT/; each room's watch link, recording and play
  socket reach it; its home holds it and the other server refuses it with
  404 "this room lives on server NAME";
- a room kept by a server with no name (killed with SIGKILL) resumes under
  the name 8001, and its links open it through the balancer;
- more browsers than ADDRESS_LIMIT in one room are all served, while one
  browser address is held to it (503 with Retry-After);
- straight to a server from a peer it does not trust, a PROXY line is
  answered 400, and X-Forwarded-For and X-Forwarded-Proto change nothing;
  through the balancer, another site's origin (or the other scheme) is
  refused with 403;
- server 8002 killed with SIGKILL: its rooms' screens lose their
  connection while 8001's go on, tick after tick; started again on its
  data, its screens join again where their rooms went on.

usage: deployment.py KESTREL_SERVER KESTREL_LIVE_FOLLOWER
(HAProxy and mkcert from KESTREL_HAPROXY and KESTREL_MKCERT, or the PATH and /usr/sbin)
"""
import asyncio
import collections
import itertools
import json
import os
import ssl
import subprocess
import sys
import tempfile
import time

import websockets

from server_checks import (WAIT, Screen, check, exchange, failures, free_port, installed_program, main, open_socket,
                           protocol, request, socket_options, start_server, stop_server, ticks, wait_for)

HOST = "kestrel.test"
CONFIG = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data", "haproxy.cfg")
HAPROXY = installed_program("haproxy", "haproxy", "KESTREL_HAPROXY")
MKCERT = installed_program("mkcert", "mkcert", "KESTREL_MKCERT")
NAMES = ("8001", "8002")
ROOMS, LEAST_EACH = 20, 5
ADDRESS_LIMIT = 4
GOOD_ROOM = b"{\"width\": 300, \"height\": 200}"
# HAProxy's connections at once, in place of the configuration's maxconn:
# that wants twice as many descriptors as a test's process may have here.
MAX_CONNECTIONS = 1000
UNTRUSTED = "127.0.0.2"  # a peer on this machine that is not the balancer
# Browsers: one loopback address each, none of them the balancer's or UNTRUSTED.
BROWSERS = (f"127.0.{n // 250 + 1}.{n % 250 + 2}" for n in itertools.count())


def make_certificate(scratch):
    """HAProxy's PEM (certificate and key) for kestrel.test, and the authority's certificate."""
    ca, cert, key = (os.path.join(scratch, name) for name in ("ca", "cert.pem", "key.pem"))
    subprocess.run([MKCERT, "-cert-file", cert, "-key-file", key, HOST, "127.0.0.1"], check=True,
                   capture_output=True, timeout=WAIT, env=dict(os.environ, CAROOT=ca, HOME=scratch))
    both = os.path.join(scratch, "kestrel.pem")
    with open(both, "w") as out, open(cert) as c, open(key) as k:
        out.write(c.read() + k.read())
    return both, os.path.join(ca, "rootCA.pem")


def balancer_config(pem, port, plain_port, server_ports):
    """The repository's configuration with the certificate, the binds and the servers' ports replaced."""
    with open(CONFIG) as f:
        text = f.read()
    substitutions = [("bind :443 ssl crt /etc/haproxy/kestrel.pem", f"bind 127.0.0.1:{port} ssl crt {pem}"),
                     ("bind :80\n", f"bind 127.0.0.1:{plain_port}\n")]
    substitutions += [(f"127.0.0.1:{name}", f"127.0.0.1:{server_ports[name]}") for name in NAMES]
    for old, new in substitutions:
        if text.count(old) != 1:
            raise RuntimeError(f"data/haproxy.cfg: expected one '{old.strip()}' to replace")
        text = text.replace(old, new)
    return text


class Deployment:
    """HAProxy and the servers behind it, and requests through it as a browser makes them."""

    def __init__(self, server, scratch):
        self.server, self.scratch = server, scratch
        self.port, self.plain_port = free_port(), free_port()
        self.ports = {name: free_port() for name in NAMES}
        self.origin = f"https://{HOST}:{self.port}"
        self.servers, self.balancer = {}, None
        pem, authority = make_certificate(scratch)
        self.tls = (ssl.create_default_context(cafile=authority), HOST)
        self.config = os.path.join(scratch, "haproxy.cfg")
        with open(self.config, "w") as f:
            f.write(balancer_config(pem, self.port, self.plain_port, self.ports))

    def data(self, name):
        return os.path.join(self.scratch, name)

    def log(self, name):
        with open(self.data(name) + ".log") as f:
            return f.read()

    def start_server(self, name):
        with open(self.data(name) + ".log", "a") as log:
            self.servers[name], _ = start_server(
                self.server, ["--name", name, "--port", str(self.ports[name]), "--trust-proxy", "127.0.0.1",
                              "--data", self.data(name), "--max-address-connections", str(ADDRESS_LIMIT)],
                stderr=log)

    async def start(self):
        for name in NAMES:
            self.start_server(name)
        with open(os.path.join(self.scratch, "haproxy.log"), "w") as log:
            self.balancer = subprocess.Popen([HAPROXY, "-n", str(MAX_CONNECTIONS), "-f", self.config, "-db"],
                                             stdout=log, stderr=log)
        return await wait_for(self.answers, "HAProxy answers over TLS")

    def answers(self):
        try:
            return self.ask("GET", "/status", "127.0.0.1")[0] == 200
        except OSError:
            return False

    def ask(self, method, path, browser, body=None, origin=None):
        """The balancer's answer over TLS to a browser at the loopback address `browser`."""
        headers = {"Host": f"{HOST}:{self.port}", **({"Origin": origin} if origin else {})}
        return exchange(self.port, method, path, body, headers, self.tls, browser)

    def socket(self, room, browser, key=None, origin=None):
        """A room's socket through the balancer: its wss URI and websockets.connect's options."""
        uri = f"wss://{HOST}:{self.port}/rooms/{room}/socket" + (f"?key={key}" if key else "")
        return uri, dict(socket_options(self.port, self.tls, browser), origin=origin or self.origin)

    def stop(self):
        """The balancer (SIGTERM ends it by the signal), then the servers,
        which must stop cleanly; any that does not stop is killed."""
        if self.balancer and self.balancer.poll() is None:
            self.balancer.terminate()
            try:
                self.balancer.wait(WAIT)
            except subprocess.TimeoutExpired:
                self.balancer.kill()
                self.balancer.wait(WAIT)
        for name, process in self.servers.items():
            if process.poll() is None:
                try:
                    stop_server(process, f"server {name}")
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait(WAIT)
                    check(False, f"server {name} stops on SIGTERM within {WAIT} s")


async def first_frame(uri, options):
    """The first frame the socket receives, or the HTTP status it was refused with."""
    try:
        async with websockets.connect(uri, compression=None, max_size=None, open_timeout=WAIT, **options) as ws:
            return await asyncio.wait_for(ws.recv(), WAIT)
    except websockets.InvalidStatusCode as error:
        return error.status_code


def joined(frame):
    return isinstance(frame, str) and frame.startswith("# joined")


def fragment(link):
    """ID or ID.KEY, as the page reads it from a link."""
    return link.split("#", 1)[1].split("=", 1)[1]


async def keep_room(server, data):
    """A room made by a server with no name, kept in `data` with two seconds
    of battle, the server then killed: its links and its ticks then."""
    process, port = start_server(server, ["--port", "0", "--data", data])
    try:
        got, _, body = request(port, "POST", "/rooms", GOOD_ROOM)
        links = json.loads(body)
        room = links["room"]
        check(got == 201 and len(room) == 32 and all(c in "0123456789abcdef" for c in room),
              f"a server with no name makes a room with a bare id: {got} {room}")
        least = 2 * protocol(port)["ticks_per_second"]
        recorded = lambda: ticks(request(port, "GET", f"/rooms/{room}/recording")[2].decode())
        await wait_for(lambda: recorded() >= least, f"the room keeps {least} ticks")
        kept = recorded()
    finally:
        process.kill()
        process.wait(WAIT)
    return links, kept


async def spread(d, follower):
    """Rooms made through the balancer: their homes and links; a screen following each."""
    made = []
    for _ in range(ROOMS):
        browser = next(BROWSERS)
        got, _, body = d.ask("POST", "/rooms", browser, GOOD_ROOM, d.origin)
        check(got == 201, f"POST /rooms through the balancer: {got} {body[:80]}")
        if got == 201:
            made.append((browser, json.loads(body)))
    homes = collections.Counter(links["room"].split("-")[0] for _, links in made)
    check(set(homes) == set(NAMES) and min(homes.values()) >= LEAST_EACH,
          f"{ROOMS} rooms land on both servers, at least {LEAST_EACH} each: {dict(homes)}")
    screens = []
    for browser, links in made:
        room = links["room"]
        home = room.split("-")[0]
        other = next(name for name in NAMES if name != home)
        key = fragment(links["play"]).rsplit(".", 1)[-1]
        check(links["play"] == f"{d.origin}/#live={room}.{key}" and links["watch"] == f"{d.origin}/#watch={room}",
              f"room {room}'s links name the balancer over https: {links}")
        watched = await first_frame(*d.socket(fragment(links["watch"]), browser))
        got, _, recording = d.ask("GET", f"/rooms/{room}/recording", browser)
        at_home = request(d.ports[home], "GET", f"/rooms/{room}/recording")[0]
        elsewhere, _, reason = request(d.ports[other], "GET", f"/rooms/{room}/recording")
        check(joined(watched) and got == 200 and recording.startswith(b"version ") and at_home == 200 and
              (elsewhere, reason) == (404, f"this room lives on server {home}\n".encode()),
              f"room {room}: its watch link joins ({watched!r:.40}), its recording {got}; "
              f"server {home} holds it ({at_home}), server {other} refuses it ({elsewhere} {reason!r})")
        uri, options = d.socket(room, browser, key)
        screens.append(Screen(room, uri, follower, reconnect=True, **options))
        await screens[-1].start()
    await wait_for(lambda: all(s.tick > 0 for s in screens), "every room's player follows it through the balancer")
    return screens


async def kept_room(d, links, kept, per_second):
    room, key = links["room"], fragment(links["play"]).split(".")[1]
    await wait_for(lambda: f"room {room}: resumed at tick" in d.log("8001"), f"server 8001 resumes the kept room {room}")
    browser = next(BROWSERS)
    played = await first_frame(*d.socket(fragment(links["play"]).split(".")[0], browser, key))
    watched = await first_frame(*d.socket(fragment(links["watch"]), browser))
    got, _, recording = d.ask("GET", f"/rooms/{room}/recording", browser)
    # Its file is brought up to date once a room second: at most that is lost.
    least = kept - per_second
    check(joined(played) and joined(watched) and got == 200 and ticks(recording.decode()) >= least,
          f"the kept room's play and watch links join it through the balancer ({played!r:.40}, {watched!r:.40}); "
          f"its recording: {got}, {ticks(recording.decode())} ticks of at least {least}")


async def per_browser(d, room):
    """Many browsers in one room through one balancer; one browser held to its limit."""
    held = []
    try:
        for browser in [next(BROWSERS) for _ in range(2 * ADDRESS_LIMIT)]:
            uri, options = d.socket(room, browser)
            held.append(await websockets.connect(uri, compression=None, max_size=None, max_queue=None, **options))
        frames = [await asyncio.wait_for(ws.recv(), WAIT) for ws in held]
        check(all(joined(frame) for frame in frames),
              f"{len(held)} browsers, one address each, all join room {room} through one balancer")
        one = next(BROWSERS)
        for _ in range(ADDRESS_LIMIT):
            uri, options = d.socket(room, one)
            held.append(await websockets.connect(uri, compression=None, max_size=None, max_queue=None, **options))
        got, headers, _ = d.ask("GET", f"/rooms/{room}/recording", one)
        check(got == 503 and headers.get("Retry-After"),
              f"one browser beside its {ADDRESS_LIMIT} sockets: {got}, Retry-After {headers.get('Retry-After')}")
    finally:
        for ws in held:
            await ws.close()


async def no_spoofing(d, room):
    """Forwarding headers and a PROXY line from a peer that is not the balancer; foreign origins."""
    port = d.ports[room.split("-")[0]]
    own = f"127.0.0.1:{port}"
    forged = {"Host": own, "X-Forwarded-For": "203.0.113.7", "X-Forwarded-Proto": "https"}
    held = []
    try:
        for n in range(ADDRESS_LIMIT):
            held.append(await websockets.connect(f"ws://{own}/rooms/{room}/socket", compression=None,
                                                 extra_headers={"X-Forwarded-For": f"203.0.113.{n}"},
                                                 local_addr=(UNTRUSTED, 0)))
        got, headers, _ = exchange(port, "GET", f"/rooms/{room}/recording", None,
                                   {"X-Forwarded-For": "203.0.113.99"}, source=UNTRUSTED)
        check(got == 503 and headers.get("Retry-After"), f"an untrusted peer's {ADDRESS_LIMIT} sockets count "
              f"against it whatever X-Forwarded-For says: {got}, Retry-After {headers.get('Retry-After')}")
    finally:
        for ws in held:
            await ws.close()
    await wait_for(lambda: exchange(port, "GET", "/status", source=UNTRUSTED)[0] == 200,
                   "the untrusted peer is let in again once its sockets closed")
    got, _, body = exchange(port, "POST", "/rooms", GOOD_ROOM, {**forged, "Origin": f"http://{own}"}, source=UNTRUSTED)
    play = json.loads(body)["play"] if got == 201 else body
    check(got == 201 and play.startswith(f"http://{own}/#live="),
          f"X-Forwarded-Proto from an untrusted peer leaves its links plain http: {got} {play}")
    got = exchange(port, "POST", "/rooms", GOOD_ROOM, {**forged, "Origin": f"https://{own}"}, source=UNTRUSTED)[0]
    check(got == 403, f"nor does it make an https origin its own: {got}")
    with open_socket(port, source=UNTRUSTED) as raw:
        raw.sendall(f"PROXY TCP4 203.0.113.7 127.0.0.1 4000 {port}\r\nGET /status HTTP/1.1\r\nHost: {own}\r\n\r\n"
                    .encode())
        answer = raw.recv(64)
    check(answer.startswith(b"HTTP/1.1 400"), f"a PROXY line from an untrusted peer: {answer!r}")

    browser = next(BROWSERS)
    for origin in ("https://elsewhere.test", f"http://{HOST}:{d.port}", f"https://{HOST}.elsewhere.example"):
        got = d.ask("POST", "/rooms", browser, GOOD_ROOM, origin)[0]
        socket = await first_frame(*d.socket(room, browser, origin=origin))
        check((got, socket) == (403, 403), f"origin {origin} through the balancer: POST /rooms {got}, socket {socket}")
    got, headers, _ = exchange(d.plain_port, "GET", "/", headers={"Host": f"{HOST}:{d.plain_port}"})
    check(got == 301 and headers.get("Location", "").startswith("https://"),
          f"plain http is sent to https: {got} {headers.get('Location')}")


async def outage(d, screens, per_second):
    victim, survivor = "8002", "8001"
    lost = [s for s in screens if s.name.startswith(victim + "-")]
    going = [s for s in screens if s.name.startswith(survivor + "-")]
    before = {s.name: s.tick for s in lost}
    killed = time.monotonic()
    d.servers[victim].kill()
    d.servers[victim].wait(WAIT)
    await wait_for(lambda: all(any(t >= killed for t in s.lost) for s in lost),
                   f"every screen of server {victim}'s rooms loses its connection")
    marks = {s.name: s.tick for s in going}
    await wait_for(lambda: all(s.tick >= marks[s.name] + 2 * per_second for s in going),
                   f"server {survivor}'s rooms go on two more seconds")
    for s in going:
        seen = [tick for t, tick in s.frames if t >= killed]
        steps = {b - a for a, b in zip(seen, seen[1:])}
        check(not any(t >= killed for t in s.lost) and not any(t >= killed for t, _ in s.joins) and steps <= {0, 1},
              f"room {s.name} sees no gap meanwhile: ticks {seen[:1]} to {seen[-1:]}, steps {sorted(steps)}, "
              f"{len(s.lost)} losses")
    restarted = time.monotonic()
    d.start_server(victim)
    await wait_for(lambda: all(any(t >= restarted for t, _ in s.joins) for s in lost),
                   f"every screen of server {victim}'s rooms joins again once it is back")
    for s in lost:
        back = [tick for t, tick in s.joins if t >= restarted]
        check(back and back[0] >= before[s.name] - per_second and s.mismatches == 0,
              f"room {s.name} is caught up at tick {back[:1]} (it had {before[s.name]}), "
              f"{s.mismatches} mismatches")


async def run(server, follower):
    with tempfile.TemporaryDirectory() as scratch:
        d = Deployment(server, scratch)
        checked = subprocess.run([HAPROXY, "-c", "-f", d.config], capture_output=True, text=True, timeout=WAIT)
        check(checked.returncode == 0, f"haproxy -c accepts the configuration: {checked.stdout}{checked.stderr}")
        if checked.returncode != 0:
            return
        screens = []
        try:
            kept_links, kept = await keep_room(server, d.data("8001"))
            if not await d.start():
                return
            screens = await spread(d, follower)
            per_second = protocol(d.ports["8001"])["ticks_per_second"]
            await kept_room(d, kept_links, kept, per_second)
            homes = {name: next(s.name for s in screens if s.name.startswith(name + "-")) for name in NAMES}
            await per_browser(d, homes["8001"])
            await no_spoofing(d, homes["8002"])
            await outage(d, screens, per_second)
        finally:
            try:
                for screen in screens:
                    await screen.stop()
            finally:
                d.stop()
            if failures:
                for log in (os.path.join(scratch, name + ".log") for name in ("haproxy", *NAMES)):
                    if os.path.exists(log):
                        with open(log) as f:
                            print(f"--- the end of {os.path.basename(log)}\n{f.read()[-2000:]}", end="")


if __name__ == "__main__":
    sys.exit(main(__doc__, run))
