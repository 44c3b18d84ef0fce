"""What the server's end-to-end tests share: checks that are counted and
printed as they go, plain HTTP requests to the server on the loopback, and
a main that runs a test and answers its status."""

import asyncio
import http.client
import sys

# How long any one request or wait may take, in seconds.
WAIT = 30

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def request(port, method, path, body=None, headers=None):
    """The answer's status, content type and body."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=WAIT)
    connection.request(method, path, body=body, headers=headers or {})
    response = connection.getresponse()
    content = response.read()
    connection.close()
    return response.status, response.getheader("Content-Type"), content


def main(doc, run):
    """Runs `run(SERVER, SITE)` from the command line: 0 when every check
    passed, 1 when one failed, 2 for a bad command line."""
    if len(sys.argv) != 3:
        print(doc, file=sys.stderr)
        return 2
    asyncio.run(run(sys.argv[1], sys.argv[2]))
    if failures:
        print(f"{len(failures)} checks failed", file=sys.stderr)
        return 1
    return 0
