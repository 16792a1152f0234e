#!/usr/bin/env python3
"""Runs inside boardsim: one abuse of the control socket (or the encoder) while a
well-behaved client checks that `ping` and a GPIO read keep answering.
usage: boardsim_abuse.py ABUSE; prints what went wrong, exits 1 if anything.

Nothing here holds a figure to a fixed number: a busy machine or a Debug build
moves every figure. That the board goes on answering is shown by order: the
well-behaved client is answered in the middle of a turn, or while a flood
goes on. boardsim's CPU time (read from outside, see cpu_ms()) is held to a
multiple of the same abuse at a smaller size, so what a row catches is cost
that grows faster than the work, or with time instead of work."""
import json
import os
import resource
import signal
import socket
import sys
import threading
import time

PATH = os.environ["BOARDSIM_CONTROL"]
MARKS = os.environ["ABUSE_MARKS"]
failures = []


def cpu_ms(name):
    """boardsim's CPU time so far, in ms. Its /proc entry lies outside this PID
    namespace: boardsim_abuse.sh answers a request file with the figure."""
    request = os.path.join(MARKS, name + ".req")
    answer = os.path.join(MARKS, name + ".cpu")
    open(request, "w").close()
    deadline = time.monotonic() + 30
    while not os.path.exists(answer):
        if time.monotonic() > deadline:
            raise TimeoutError(f"nobody measured {name}")
        time.sleep(0.01)
    with open(answer) as f:
        return int(f.read())


def cost_of(name, work):
    """boardsim's CPU time for work(), in ms, and the seconds it took."""
    before, t = cpu_ms(name + "-before"), time.monotonic()
    work()
    return cpu_ms(name + "-after") - before, time.monotonic() - t


def hold_cost(what, small, large, size_ratio, factor):
    """large() does size_ratio times the work of small(); its cost may be at
    most factor times small()'s per unit of work. The well-behaved client asks
    all the while and costs boardsim CPU by the time: what a calm second costs
    is allowed twice over for every second large() takes. The clock ticks in
    whole jiffies (10 ms at most), so each measured cost counts one more."""
    tick = 1000 // os.sysconf("SC_CLK_TCK")
    calm_ms, calm_s = cost_of(what + "-calm", lambda: time.sleep(1))
    small_ms, _ = cost_of(what + "-small", small)
    large_ms, large_s = cost_of(what + "-large", large)
    allowance = 2 * (calm_ms + tick) / calm_s * large_s
    bound = factor * size_ratio * (small_ms + tick) + allowance
    print(f"{what}: {large_ms} ms of CPU in {large_s:.1f} s; at 1/{size_ratio} the work "
          f"{small_ms} ms; {calm_ms} ms in a calm second")
    if large_ms > bound:
        failures.append(f"{what}: {large_ms} ms of CPU, bound {bound:.0f} ({factor} x "
                        f"{size_ratio} x ({small_ms} + {tick}) ms, and {allowance:.0f} ms "
                        f"for the {large_s:.1f} s it took)")


def flood(state):
    """Marks the start ("begins") and end ("ends") of a flood for the probe."""
    open(os.path.join(MARKS, "flood-" + state), "w").close()


def flooding():
    return (os.path.exists(os.path.join(MARKS, "flood-begins"))
            and not os.path.exists(os.path.join(MARKS, "flood-ends")))


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


def expect(s, line, want):
    got = request(s, line)
    if got != want:
        failures.append(f"{line}: {got!r}, want {want!r}")


def position(s):
    return int(request(s, "position").split()[1])


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
    # it, stops reading, and (its error unread, as nothing is read) hangs up. The
    # server gives up at the same point however many were sent.
    def send(requests):
        s = connect()
        flood("begins")
        try:
            s.sendall(b"state\n" * requests)
            failures.append(f"all {requests} requests were taken")
        except (BrokenPipeError, ConnectionResetError):
            pass
        flood("ends")
        got = send_then_read_all(s, b"")
        replies = got.count(b"\n")
        if replies >= requests:
            failures.append(f"{replies} replies: the server never gave up")
        if b"error " in got:
            expect_cut_off(got, "error too many unread replies")

    hold_cost("pipeline", lambda: send(40000), lambda: send(160000), 4, 1)


def cut_off(what, end, small, large, factor):
    # Cut off at the same 64 KiB whatever follows (with its newline or none):
    # large/small times the line, not that many times the cost.
    def send(size):
        expect_cut_off(send_then_read_all(connect(), b"x" * size + end),
                       "error request line too long")

    hold_cost(what, lambda: send(small), lambda: send(large), large // small, factor)


def emfile():
    # boardsim runs with 64 descriptors: most of these find none left. A
    # spinning accept would cost CPU by the time they wait, not by their number.
    def flood(wait):
        held, refused = [], 0
        for _ in range(200):
            try:
                held.append(connect())
            except socket.timeout:
                failures.append("connect hung: nobody accepts")
                return
        time.sleep(wait)  # the refusals arrive
        for s in held:
            s.setblocking(False)
            try:
                if s.recv(100) == b"error too many clients\n":
                    refused += 1
            except BlockingIOError:
                pass
            s.close()
        if refused < 100:
            failures.append(f"only {refused} of 200 clients refused")

    # The same clients, waiting five times as long: a refusal costs once.
    hold_cost("emfile", lambda: flood(0.3), lambda: flood(1.5), 1, 1)


def huge_turn():
    # A client gone while its turn is served: its "ok" must not reach the next
    # client, which likely gets the same descriptor.
    heir = connect()
    start = position(heir)
    heir.close()

    def leave_turning(steps):
        nonlocal start
        gone = connect()
        gone.sendall(f"turn {steps}\n".encode())
        time.sleep(0.1)  # taken, and being served
        gone.close()
        time.sleep(0.1)  # noticed
        heir = connect()
        deadline = time.monotonic() + 60
        got = ""
        while got != f"ok {start + steps}" and time.monotonic() < deadline:
            got = request(heir, "position")
            if not got.startswith("ok -") and not got[3:].isdigit():
                failures.append(f"a new client's position got {got!r}")
                break
        start += steps

    hold_cost("huge-turn", lambda: leave_turning(100000), lambda: leave_turning(1000000), 10, 3)
    s = connect()
    expect(s, "turn 100000000", "error turn: at most 1000000 steps at once")
    expect(s, "turn 1e8", "error usage: turn N")


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
    start = position(s)

    def turns(steps):
        for line in (f"turn {steps}", f"turn -{steps}", f"turn {steps}"):
            expect(s, line, "ok")

    hold_cost("million-steps", lambda: turns(100000), lambda: turns(1000000), 10, 3)
    expect(s, "position", f"ok {start + 1100000}")
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


def probe(abuser, turn_ends):
    """Runs abuser() in a process group of its own (no lock of this interpreter
    may stand between the well-behaved client and the simulator) while a client
    asks `ping` and the GPIO line is read, at least 20 times and until the abuse
    ends. Each round notes the positions before and after its ping and GPIO
    read and whether it fell wholly inside a flood."""
    s = connect()
    start = position(s)
    worst = {"ping": 0.0, "gpio": 0.0}
    between = []
    child = os.fork()
    if child == 0:
        os.setpgid(0, 0)
        abuser()
        for f in failures:
            print(f, flush=True)
        os._exit(1 if failures else 0)
    rounds, status = 0, None
    # Only against a hang: a sanitizer build on a loaded machine takes minutes.
    deadline = time.monotonic() + 400
    while status is None or rounds < 20:
        if time.monotonic() > deadline:
            os.killpg(child, signal.SIGKILL)
            os.waitpid(child, 0)
            failures.append("the abuse did not end within 400 s")
            break
        inside = flooding()
        first = position(s)
        t = time.monotonic()
        if request(s, "ping") != "ok boardsim":
            failures.append("ping did not answer ok")
        worst["ping"] = max(worst["ping"], time.monotonic() - t)
        t = time.monotonic()
        with open("/sys/class/gpio/gpio128/value", "rb") as f:
            f.read()
        worst["gpio"] = max(worst["gpio"], time.monotonic() - t)
        between.append((first, position(s), inside and flooding()))
        rounds += 1
        # Close together during turns: a fast machine serves a whole turn in a
        # tenth of a second, and some rounds must fall inside one (but each
        # round costs boardsim time that the turn then waits for).
        time.sleep(0.002 if turn_ends else 0.01)
        if status is None:
            pid, code = os.waitpid(child, os.WNOHANG)
            status = code if pid else None
    if status != 0:
        failures.append("the abuse itself went wrong (see above)")
    # Answer times say more of the machine's load than of boardsim (the worst
    # of a busy board's, the same run, varies tenfold from run to run), so
    # they are only reported. What must hold is order: the well-behaved
    # client's ping and GPIO read are answered while the abuse goes on.
    print(f"worst answers of {rounds}: ping {worst['ping'] * 1000:.1f} ms, "
          f"GPIO read {worst['gpio'] * 1000:.1f} ms")
    if turn_ends:
        # Answered while the encoder stood part-way, before and after: served
        # between two slices of a turn; a turn that held the loop would show
        # only its ends.
        ends = {start + end for end in turn_ends}
        low, high = min(ends), max(ends)

        def midway(p):
            return low < p < high and p not in ends

        served = sum(1 for a, b, _ in between if midway(a) and midway(b))
        print(f"{served} of {rounds} rounds answered in the middle of a turn")
        if served == 0:
            failures.append("no ping or GPIO read was answered in the middle of a turn")
    elif os.path.exists(os.path.join(MARKS, "flood-ends")):
        # A flood of pipelined requests: a server that took one client's
        # requests until it gave up on it would answer nobody meanwhile.
        served = sum(1 for _, _, inside in between if inside)
        print(f"{served} of {rounds} rounds answered during the flood")
        if served == 0:
            failures.append("no ping or GPIO read was answered during the flood")


def main():
    # Our own descriptors are not the ones in short supply.
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    # Each abuse, and for the turns the positions where one ends, from the
    # position at the start.
    abuses = {"pipeline": (pipeline, None),
              "long-line": (lambda: cut_off("long-line", b"\n", 1 << 20, 16 << 20, 1 / 4), None),
              "no-newline": (lambda: cut_off("no-newline", b"", 8 << 20, 64 << 20, 1 / 2), None),
              "emfile": (emfile, None),
              "huge-turn": (huge_turn, (0, 100000, 1100000)),
              "million-steps": (million_steps, (0, 100000, 1100000))}
    probe(*abuses[sys.argv[1]])
    for f in failures:
        print(f)
    time.sleep(0.2)  # the host takes boardsim's last measures meanwhile
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
