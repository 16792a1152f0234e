#!/usr/bin/env python3
"""The host's side of the virtual board, for scripts/vm.sh.

  vmhost.py relay PORT_SOCKET CONTROL_SOCKET
      serves the simulator's control socket at CONTROL_SOCKET for any number
      of clients, over the one virtio-serial port of the guest agent: each
      request goes out as "ID LINE", each reply line comes back as "ID LINE".
  vmhost.py shell SOCKET COMMAND
      runs COMMAND in the guest through its command port; prints its output
      and exits with its status.
  vmhost.py shot QMP_SOCKET FILE.png
      photographs the guest's screen through QMP's screendump.
"""
import json
import os
import selectors
import socket
import sys
import time


def connect(path):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(path)
    return s


def relay(port_path, control_path):
    port = connect(port_path)
    if os.path.exists(control_path):
        os.unlink(control_path)
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    old = os.umask(0o177)  # whoever reaches it drives the board
    server.bind(control_path)
    os.umask(old)
    server.listen(16)
    sel = selectors.DefaultSelector()
    sel.register(server, selectors.EVENT_READ, "accept")
    sel.register(port, selectors.EVENT_READ, "port")
    clients = {}  # id -> [socket, received bytes]
    next_id = 1
    from_port = b""
    while True:
        for key, _ in sel.select():
            if key.data == "accept":
                conn, _ = server.accept()
                clients[next_id] = [conn, b""]
                sel.register(conn, selectors.EVENT_READ, next_id)
                next_id += 1
            elif key.data == "port":
                data = port.recv(65536)
                if not data:
                    return  # the guest is gone
                from_port += data
                *lines, from_port = from_port.split(b"\n")
                for line in lines:
                    cid, _, text = line.partition(b" ")
                    client = clients.get(int(cid or b"0"))
                    if client:
                        try:
                            client[0].sendall(text + b"\n")
                        except OSError:
                            pass
            else:
                cid = key.data
                conn, buf = clients[cid]
                data = conn.recv(65536)
                if not data:
                    sel.unregister(conn)
                    conn.close()
                    del clients[cid]
                    continue
                buf += data
                *lines, buf = buf.split(b"\n")
                clients[cid][1] = buf
                for line in lines:
                    port.sendall(b"%d %s\n" % (cid, line))


def shell(path, command):
    token = b"%d.%d" % (os.getpid(), int(time.monotonic() * 1000))
    s = connect(path)
    s.sendall(token + b" " + command.encode() + b"\n")
    begin, end = b"@@begin " + token + b"\n", b"\n@@end " + token + b" "
    out = b""
    while True:
        data = s.recv(65536)
        if not data:
            return 255
        out += data
        start = out.find(begin)
        stop = out.find(end, start)
        if start >= 0 and stop >= 0 and out.endswith(b"\n"):
            sys.stdout.buffer.write(out[start + len(begin):stop + 1])
            return int(out[stop + len(end):].split()[0])


def qmp(path, command, **arguments):
    s = connect(path)
    f = s.makefile("rw")
    f.readline()  # greeting
    for name, args in (("qmp_capabilities", {}), (command, arguments)):
        f.write(json.dumps({"execute": name, "arguments": args}) + "\n")
        f.flush()
        while True:
            reply = json.loads(f.readline())
            if "return" in reply:
                break
            if "error" in reply:
                raise SystemExit(f"qmp {name}: {reply['error']['desc']}")
    s.close()


def main(argv):
    if len(argv) == 4 and argv[1] == "relay":
        relay(argv[2], argv[3])
        return 0
    if len(argv) == 4 and argv[1] == "shell":
        return shell(argv[2], argv[3])
    if len(argv) == 4 and argv[1] == "shot":
        qmp(argv[2], "screendump", filename=os.path.abspath(argv[3]), format="png")
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
