#!/usr/bin/env python3
"""Runs inside boardsim: one abuse of the control socket (or the encoder) while a
well-behaved client checks that `ping` and a GPIO read keep answering in time.
usage: boardsim_abuse.py ABUSE MAX_LATENCY_MS; prints what went wrong, exits 1 if anything."""
import json
import os
import resource
import signal
import socket
import sys
import threading
import time

PATH = os.environ["BOARDSIM_CONTROL"]
failures = []


def connect():
    # Bounded waits everywhere: a simulator that fails a row must not hang it.
    # (A full backlog fails a Unix socket's connect at once, with EAGAIN.)
    deadline = time.monotonic() + 10
    while True:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.settimeout(10)
        try:
            s.connect(PATH)
            return s
        except BlockingIOError:
            s.close()
            if time.monotonic() > deadline:
                raise socket.timeout("nobody accepts") from None
            time.sleep(0.01)


def request(s, line):
    s.sendall(line.encode() + b"\n")
    reply = b""
    while not reply.endswith(b"\n"):
        chunk = s.recv(4096)
        if not chunk:
            break
        reply += chunk
    return reply.decode(errors="replace").rstrip("\n")


def send_then_read_all(s, data, chunk=1 << 20):
    """Sends data (the server may hang up part-way), then returns all it answered."""
    try:
        for i in range(0, len(data), chunk):
            s.sendall(data[i:i + chunk])
    except (BrokenPipeError, ConnectionResetError):
        pass
    s.settimeout(5)
    got = b""
    try:
        while True:
            part = s.recv(1 << 16)
            if not part:
                break
            got += part
    except (ConnectionResetError, socket.timeout):
        pass
    return got


def expect_cut_off(got, error):
    last = got.rstrip(b"\n").rsplit(b"\n", 1)[-1].decode(errors="replace")
    if last != error:
        failures.append(f"last reply {last[:80]!r}, want {error!r}")
    if got.count(b"error ") != 1:
        failures.append(f"{got.count(b'error ')} errors, want exactly one")


def pipeline():
    # Requests without ever reading: replies pile up until the server gives up on
    # it, stops reading, and (its error unread, as nothing is read) hangs up.
    requests = 40000
    s = connect()
    try:
        s.sendall(b"state\n" * requests)
        failures.append("all requests were taken")
    except (BrokenPipeError, ConnectionResetError):
        pass
    got = send_then_read_all(s, b"")
    replies = got.count(b"\n")
    if replies >= requests:
        failures.append(f"{replies} replies: the server never gave up")
    if b"error " in got:
        expect_cut_off(got, "error too many unread replies")


def long_line():
    expect_cut_off(send_then_read_all(connect(), b"x" * 1000000 + b"\n"),
                   "error request line too long")


def no_newline():
    expect_cut_off(send_then_read_all(connect(), b"y" * (64 << 20)),
                   "error request line too long")


def emfile():
    # boardsim runs with 64 descriptors: most of these find none left.
    held, refused = [], 0
    for _ in range(200):
        try:
            held.append(connect())
        except socket.timeout:
            failures.append("connect hung: nobody accepts")
            return
    time.sleep(0.3)  # the refusals arrive; a spinning accept would show in the CPU time
    for s in held:
        s.setblocking(False)
        try:
            if s.recv(100) == b"error too many clients\n":
                refused += 1
        except BlockingIOError:
            pass
    if refused < 100:
        failures.append(f"only {refused} of 200 clients refused")


def huge_turn():
    # A client gone while its turn is served: its "ok" must not reach the next
    # client, which likely gets the same descriptor.
    heir = connect()
    start = int(request(heir, "position").split()[1])
    heir.close()
    gone = connect()
    gone.sendall(b"turn 1000000\n")
    time.sleep(0.1)  # taken, and being served
    gone.close()
    time.sleep(0.1)  # noticed
    heir = connect()
    deadline = time.monotonic() + 30
    got = ""
    while got != f"ok {start + 1000000}" and time.monotonic() < deadline:
        got = request(heir, "position")
        if not got.startswith("ok -") and not got[3:].isdigit():
            failures.append(f"a new client's position got {got!r}")
            break
    s = connect()
    for line, want in (("turn 100000000", "error turn: at most 1000000 steps at once"),
                       ("turn 1e8", "error usage: turn N")):
        got = request(s, line)
        if got != want:
            failures.append(f"{line}: {got!r}, want {want!r}")


def million_steps():
    # A reader that reads and one that never does, while a million steps go through.
    busy = os.open("/dev/input/event0", os.O_RDONLY)
    stuck = os.open("/dev/input/event0", os.O_RDONLY)
    done = threading.Event()

    def read():
        while not done.is_set():
            os.read(busy, 24 * 1024)

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    s = connect()
    s.settimeout(60)
    start = int(request(s, "position").split()[1])
    for line, want in (("turn 1000000", "ok"), ("turn -1000000", "ok"),
                       ("turn 1000000", "ok"), ("position", f"ok {start + 1000000}")):
        got = request(s, line)
        if got != want:
            failures.append(f"{line}: {got!r}, want {want!r}")
    done.set()
    request(s, "turn 1")  # wakes the reader for its last read
    reader.join(5)
    os.close(stuck)
    # Writes of 4 kB each (refused, and logged whole) overflow the transcript's memory.
    fd = os.open("/sys/class/gpio/gpio128/value", os.O_WRONLY)
    for _ in range(2000):
        try:
            os.pwrite(fd, b"x" * 4096, 0)
        except OSError:
            pass
    os.close(fd)
    state = json.loads(request(s, "state")[3:])
    held = int(request(s, "transcript").split("\n")[0].split()[1])
    if state["transcriptDropped"] == 0 or held + state["transcriptDropped"] < state["transcriptCount"]:
        failures.append(f"transcript: {held} held, {state['transcriptDropped']} dropped "
                        f"of {state['transcriptCount']}")


def probe(abuser, max_ms):
    # The abuse runs in a process of its own: no lock of this interpreter may
    # stand between the well-behaved client and the simulator.
    s = connect()
    worst = {"ping": 0.0, "gpio": 0.0}
    abuse = os.fork()
    if abuse == 0:
        abuser()
        for f in failures:
            print(f, flush=True)
        os._exit(1 if failures else 0)
    rounds, status = 0, None
    deadline = time.monotonic() + 60
    while status is None or rounds < 20:
        if time.monotonic() > deadline:
            os.kill(abuse, signal.SIGKILL)
            failures.append("the abuse did not end within 60 s")
            break
        t = time.monotonic()
        if request(s, "ping") != "ok boardsim":
            failures.append("ping did not answer ok")
        worst["ping"] = max(worst["ping"], time.monotonic() - t)
        t = time.monotonic()
        with open("/sys/class/gpio/gpio128/value", "rb") as f:
            f.read()
        worst["gpio"] = max(worst["gpio"], time.monotonic() - t)
        rounds += 1
        time.sleep(0.01)
        if status is None:
            pid, code = os.waitpid(abuse, os.WNOHANG)
            status = code if pid else None
    if status != 0:
        failures.append("the abuse itself went wrong (see above)")
    for what, secs in worst.items():
        if secs * 1000 > max_ms:
            failures.append(f"{what} took {secs * 1000:.0f} ms during the abuse")


def main():
    # Our own descriptors are not the ones in short supply.
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    abuses = {"pipeline": pipeline, "long-line": long_line, "no-newline": no_newline,
              "emfile": emfile, "huge-turn": huge_turn, "million-steps": million_steps}
    probe(abuses[sys.argv[1]], float(sys.argv[2]))
    for f in failures:
        print(f)
    time.sleep(0.2)  # the host takes boardsim's last measures meanwhile
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
