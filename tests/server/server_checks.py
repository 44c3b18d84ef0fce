"""What the server's end-to-end tests share: checks that are counted and
printed as they go, plain HTTP requests to the server on the loopback, the
server started and stopped, the protocol's numbers as the server publishes
them in /status, a good screen that follows a room through
kestrel-live-follower, and a main that runs a test and answers its status.
Requests and screens may go over TLS and from any loopback address, as
browsers behind a balancer do."""

import asyncio
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

import websockets

# How long any one request or wait may take, in seconds.
WAIT = 30
LISTENING = "kestrel-server: listening on http://127.0.0.1:"
# The page's waits between tries to reconnect, in seconds.
FIRST_RETRY, LAST_RETRY = 0.5, 8

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def request(port, method, path, body=None, headers=None):
    """The answer's status, content type and body."""
    status, headers, content = exchange(port, method, path, body, headers)
    return status, headers.get("Content-Type"), content


def exchange(port, method, path, body=None, headers=None, tls=None, source=None):
    """The answer's status, headers and body. Over TLS when `tls` is a
    (context, server name) pair; from the loopback address `source` when
    given. Always to 127.0.0.1, whatever the Host header says."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=WAIT)
    connection.sock = open_socket(port, tls, source)
    connection.request(method, path, body=body, headers=headers or {})
    response = connection.getresponse()
    content = response.read()
    connection.close()
    return response.status, response.headers, content


def open_socket(port, tls=None, source=None):
    sock = socket.create_connection(("127.0.0.1", port), WAIT, (source, 0) if source else None)
    return tls[0].wrap_socket(sock, server_hostname=tls[1]) if tls else sock


def socket_options(port, tls=None, source=None):
    """What websockets.connect takes to reach 127.0.0.1:PORT as `exchange` does."""
    options = {"host": "127.0.0.1", "port": port}
    if tls:
        options.update(ssl=tls[0], server_hostname=tls[1])
    if source:
        options["local_addr"] = (source, 0)
    return options


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


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


def status(port):
    return json.loads(request(port, "GET", "/status")[2])


def protocol(port):
    """The numbers a screen keeps to, as the server publishes them."""
    return status(port)["protocol"]


def settled(port):
    """Waits until the server has no kept room still to come back; answers its /status then."""
    deadline = time.monotonic() + WAIT
    while (now := status(port))["resuming"] > 0 and time.monotonic() < deadline:
        time.sleep(0.05)
    check(now["resuming"] == 0, f"every kept room is back or named within {WAIT} s: {now}")
    return now


def start_server(server, args, **options):
    """The server, once it says it listens, and its port."""
    process = subprocess.Popen([server, *args], stdout=subprocess.PIPE, text=True, **options)
    line = process.stdout.readline()
    assert line.startswith(LISTENING), line
    return process, int(line[len(LISTENING):].rstrip("/\n"))


def stop_server(process, what="the server"):
    """Stops it with SIGTERM; it must stop cleanly, with status 0."""
    process.send_signal(signal.SIGTERM)
    code = process.wait(WAIT)
    check(code == 0, f"{what} stopped with status {code}")


async def wait_for(condition, what, within=WAIT):
    deadline = time.monotonic() + within
    while time.monotonic() < deadline:
        if condition():
            return True
        await asyncio.sleep(0.05)
    check(False, f"{what} within {within} s")
    return False


class Screen:
    """A good screen: follows the room through kestrel-live-follower and
    sends back the game's hashes. One that reconnects tries again by
    itself as the page does, after FIRST_RETRY, then twice as long each
    time up to LAST_RETRY; one that does not keeps the reason it closed.
    `options` go to websockets.connect (TLS, the addresses to connect to
    and from: socket_options)."""

    def __init__(self, name, uri, follower, reconnect=False, **options):
        self.name, self.uri, self.follower, self.reconnect = name, uri, follower, reconnect
        self.options = options
        self.ws = None
        self.joining = False
        self.tick = 0
        self.hashes = []   # the hash lines it sent
        self.joins = []    # (time, room tick) each time it followed a join text
        self.frames = []   # (time, room tick) after each frame it played
        self.lost = []     # the times its connection ended, when it reconnects
        self.mismatches = 0
        self.error = None

    async def start(self):
        self.proc = await asyncio.create_subprocess_exec(
            self.follower, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        if not self.reconnect:
            self.ws = await self.connect()
        self.task = asyncio.create_task(self.run())

    def connect(self):
        return websockets.connect(self.uri, compression=None, max_size=None, max_queue=None, **self.options)

    async def run(self):
        try:
            if not self.reconnect:
                await self.follow(self.ws)
                self.error = f"closed ({self.ws.close_code} {self.ws.close_reason})"
                return
            wait = FIRST_RETRY
            while True:
                try:
                    async with self.connect() as ws:
                        self.ws = ws
                        if await self.follow(ws):
                            wait = FIRST_RETRY
                except (OSError, websockets.WebSocketException):
                    pass
                if self.ws is not None:
                    self.lost.append(time.monotonic())
                self.ws = None
                await asyncio.sleep(wait)
                wait = min(2 * wait, LAST_RETRY)
        except Exception as error:  # reported by the checks
            self.error = repr(error)

    async def follow(self, ws):
        """Plays the frames until the socket closes; answers whether it followed a join text."""
        joined = False
        async for frame in ws:
            joined = await self.receive(frame) or joined
        return joined

    async def receive(self, frame):
        """Plays a frame; answers whether it was a join text."""
        data = frame.encode() if isinstance(frame, str) else frame
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
        self.frames.append((time.monotonic(), tick))
        if joined:
            self.joins.append((time.monotonic(), tick))
        self.hashes += [line for line in answer.splitlines() if line.startswith("hash ")]
        if answer:
            await self.ws.send(answer)
        return joined

    async def stop(self):
        self.task.cancel()
        if self.ws is not None:
            await self.ws.close()
        self.proc.stdin.close()
        await self.proc.wait()


def installed_program(name, package, variable):
    """The path of a program the test starts: the environment's `variable` when set, else `name` on the PATH
    or in /usr/sbin, where Debian puts daemons. Looked up as the test runs, so that one installed after the
    build was configured is found; a missing one ends the test with the package to install."""
    search = os.pathsep.join([os.environ.get("PATH", os.defpath), "/usr/sbin"])
    found = shutil.which(os.environ.get(variable) or name, path=search)
    if found is None:
        sys.exit(f"{os.environ.get(variable) or name} is missing: install Debian's {package} "
                 "(scripts/install-deps test)")
    return found


def main(doc, run, programs=2):
    """Runs `run(SERVER, FOLLOWER, ...)` with the `programs` the command line
    names: 0 when every check passed, 1 when one failed, 2 for a bad command line."""
    if len(sys.argv) != 1 + programs:
        print(doc, file=sys.stderr)
        return 2
    asyncio.run(run(*sys.argv[1:]))
    if failures:
        print(f"{len(failures)} checks failed", file=sys.stderr)
        return 1
    return 0
