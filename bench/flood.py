#!/usr/bin/env python3
"""Numbered events for the benchmarks and the fault tests.

  flood.py syslog PORT COUNT [--rate N] [--start K] [--tag T] [--size BYTES]
  flood.py trap PORT COUNT [--rate N] [--start K] [--tag T]
  flood.py check LOGFILE [LOGFILE ...] --tag T --count N [--start K]
  flood.py watch DATADIR --tag T --count N [--idle S] [--limit S] [--pid PID] [--port P]
  flood.py latency SNMP_PORT DATADIR [--after S] [--limit S] [--tag T]

Every event carries "<tag>-<sequence>" (sequence zero-padded to 7 digits): syslog as the
message text, traps as the device name of a sensor-change notification. Traps are made
once by snmptrap (a real client) into a template datagram whose sequence digits are then
replaced in place, so every datagram is a real client's bytes. Datagrams are made before
the clock starts and go to the kernel in batches (sendmmsg): a burst as fast as loopback
takes it, at a rate what is due each millisecond; the sender prints the rate it achieved
and the wall-clock time of its first send.

"check" reads log files in order and reports loss, duplicates and order. "watch" follows
the log files of DATADIR (log.txt and the rotated ones) as they grow until COUNT lines
carry the tag less those the kernel dropped on UDP port P (full socket buffer), or nothing
new came for --idle seconds while process PID (the program) used next to no CPU, or
--limit passed; it prints the lines seen, the wall-clock time it saw the last of them, why
it stopped and the kernel's drops. "latency" sends one trap --after seconds and prints
how long its line took to reach the log file.
"""
import argparse
import ctypes
import glob
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time

DEVICE = "1.3.6.1.4.1.32473.1"


def trap_template(tag):
    marker = f"{tag}-0000000".encode()
    catcher = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    catcher.bind(("127.0.0.1", 0))
    catcher.settimeout(5)
    port = catcher.getsockname()[1]
    obj = lambda n: f"{DEVICE}.1.{n}.0"
    command = ["snmptrap", "-m", "", "-M", "/nonexistent", "-v", "2c", "-c", "public",
               f"127.0.0.1:{port}", "4242", f"{DEVICE}.0.2",
               obj(1), "s", marker.decode(), obj(2), "x", "001122AABBCC", obj(3), "u", "1",
               obj(4), "s", "Temp", obj(7), "i", "235", obj(8), "s", "C", obj(6), "s", "normal"]
    # A private persistent folder: a normal user may not write net-snmp's own.
    with tempfile.TemporaryDirectory() as persistent:
        made = subprocess.run(command, capture_output=True, text=True,
                              env=dict(os.environ, SNMP_PERSISTENT_DIR=persistent))
    if made.returncode:
        sys.exit(f"snmptrap failed: {made.stderr}")
    data, _ = catcher.recvfrom(65535)
    at = data.index(marker)
    return data, at + len(tag) + 1


class IoVec(ctypes.Structure):
    _fields_ = [("base", ctypes.c_void_p), ("len", ctypes.c_size_t)]


class MsgHdr(ctypes.Structure):
    _fields_ = [("name", ctypes.c_void_p), ("namelen", ctypes.c_uint32),
                ("iov", ctypes.c_void_p), ("iovlen", ctypes.c_size_t),
                ("control", ctypes.c_void_p), ("controllen", ctypes.c_size_t),
                ("flags", ctypes.c_int)]


class MMsgHdr(ctypes.Structure):
    _fields_ = [("hdr", MsgHdr), ("len", ctypes.c_uint)]


class Batch:
    """Datagrams handed to the kernel up to 1,024 at a time with sendmmsg: one Python
    sendto per datagram (about 100,000 a second on a quiet machine, half that on a busy
    one) cannot outrun a receiver meant to take 100,000 a second."""

    def __init__(self, sock, target, payloads):
        self.fd = sock.fileno()
        self.libc = ctypes.CDLL(None, use_errno=True)
        sockaddr_in = struct.pack("=H", socket.AF_INET) + struct.pack("!H", target[1])
        self.address = ctypes.create_string_buffer(sockaddr_in + socket.inet_aton(target[0]), 16)
        self.data = ctypes.create_string_buffer(b"".join(payloads))
        self.iovs = (IoVec * len(payloads))()
        self.msgs = (MMsgHdr * len(payloads))()
        at = ctypes.addressof(self.data)
        for i, payload in enumerate(payloads):
            self.iovs[i].base, self.iovs[i].len = at, len(payload)
            self.msgs[i].hdr.iov = ctypes.addressof(self.iovs) + i * ctypes.sizeof(IoVec)
            self.msgs[i].hdr.iovlen = 1
            self.msgs[i].hdr.name, self.msgs[i].hdr.namelen = ctypes.addressof(self.address), 16
            at += len(payload)

    def send(self, first, end):
        while first < end:
            n = self.libc.sendmmsg(self.fd, ctypes.byref(self.msgs, first * ctypes.sizeof(MMsgHdr)),
                                   min(end - first, 1024), 0)
            if n < 0:
                raise OSError(ctypes.get_errno(), os.strerror(ctypes.get_errno()))
            first += n


def send(kind, port, count, rate, start, tag, size):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 * 1024 * 1024)
    target = ("127.0.0.1", port)
    if kind == "trap":
        template, at = trap_template(tag)
        buf = bytearray(template)
    prefix = b"<13>" + tag.encode() + b"-"
    # --size pads a syslog datagram with ordinary text to that many bytes.
    filler = (b" door opened at the north entrance by badge 4711, zone 3, panel B" * (size // 60 + 1))
    filler = filler[:max(0, size - len(prefix) - 7)]
    # Made before the clock starts, so that a burst goes out as fast as the socket takes it.
    payloads = []
    for i in range(start, start + count):
        digits = b"%07d" % i
        if kind == "trap":
            buf[at:at + 7] = digits
            payloads.append(bytes(buf))
        else:
            payloads.append(prefix + digits + filler)
    batch = Batch(sock, target, payloads)
    wall0 = time.time()
    t0 = time.perf_counter()
    sent = 0
    while sent < count:
        due = count
        if rate:
            elapsed = time.perf_counter() - t0
            due = min(count, int(elapsed * rate) + 1)
            if due <= sent:
                # Python cannot sleep much less than a millisecond; what falls due meanwhile
                # goes out together, as a kernel batch sender would send it.
                time.sleep(max(sent / rate - elapsed, 0.001))
                continue
        batch.send(sent, due)
        sent = due
    return wall0, time.perf_counter() - t0


class LogFollower:
    """Reads what is appended to DATADIR's log files, across rotations (a rotated file
    keeps its inode, so an open descriptor reads on to its end)."""

    def __init__(self, folder):
        self.folder = folder
        self.files = {}  # inode -> open file
        self.rest = b""

    def read(self):
        """New complete lines since the last call, rotated files before log.txt."""
        names = sorted(glob.glob(os.path.join(self.folder, "log_*.txt")))
        names.append(os.path.join(self.folder, "log.txt"))
        chunks = []
        for name in names:
            try:
                inode = os.stat(name).st_ino
            except FileNotFoundError:
                continue
            if inode not in self.files:
                self.files[inode] = open(name, "rb")
        for f in self.files.values():
            chunks.append(f.read())
        data = self.rest + b"".join(chunks)
        cut = data.rfind(b"\n") + 1
        self.rest = data[cut:]
        return data[:cut]


def cpu_seconds(pid):
    if not pid:
        return 0
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def kernel_drops(port):
    """Datagrams the kernel dropped on the sockets bound to this UDP port (full buffer)."""
    drops = 0
    for table in ("/proc/net/udp", "/proc/net/udp6"):
        with open(table) as f:
            for row in f.readlines()[1:]:
                fields = row.split()
                if int(fields[1].rsplit(":", 1)[1], 16) == port:
                    drops += int(fields[-1])
    return drops


def watch(folder, tag, count, idle, limit, poll, pid, port):
    follower = LogFollower(folder)
    needle = (tag + "-").encode()
    seen, last, stop = 0, None, "complete"
    start = quiet = time.time()
    busy = cpu_seconds(pid)
    dropped = 0
    while seen < count - dropped:
        now = time.time()
        new = follower.read().count(needle)
        if port:
            dropped = kernel_drops(port)
        if new:
            seen += new
            last = quiet = now
            busy = cpu_seconds(pid)
        elif now - quiet > idle:
            # A program that writes nothing for a while but keeps working (a window
            # that does not answer) has not finished: only an idle one has.
            if cpu_seconds(pid) - busy < 0.1 * idle:
                stop = "idle"
                break
            quiet, busy = now, cpu_seconds(pid)
        if now - start > limit:
            stop = "limit"
            break
        time.sleep(poll)
    print(f"lines={seen} last={last or 0:.6f} stop={stop} kernel_dropped={dropped}")


def latency(port, folder, after, limit, tag):
    template, _ = trap_template(tag)
    follower = LogFollower(folder)
    follower.read()
    time.sleep(after)
    follower.read()
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    needle = (tag + "-0000000").encode()
    sent = time.perf_counter()
    sock.sendto(template, ("127.0.0.1", port))
    while needle not in follower.read():
        if time.perf_counter() - sent > limit:
            print(f"latency_ms=>{limit * 1000:.0f}")
            return 1
        time.sleep(0.001)
    print(f"latency_ms={(time.perf_counter() - sent) * 1000:.1f}")
    return 0


def check(files, tag, count, start):
    seen = []
    needle = (tag + "-").encode()
    for name in files:
        try:
            data = open(name, "rb").read()
        except FileNotFoundError:
            continue
        for line in data.split(b"\r\n"):
            at = line.find(needle)
            if at >= 0:
                seen.append(int(line[at + len(needle):at + len(needle) + 7]))
    expected = set(range(start, start + count))
    got = set(seen)
    lost = len(expected - got)
    dups = len(seen) - len(got)
    disorder = sum(1 for a, b in zip(seen, seen[1:]) if b < a)
    print(f"events={count} found={len(got & expected)} lost={lost} duplicates={dups} out_of_order={disorder}")
    return 0 if lost == 0 and dups == 0 and disorder == 0 else 1


def main():
    p = argparse.ArgumentParser()
    p.add_argument("kind", choices=["syslog", "trap", "check", "watch", "latency"])
    p.add_argument("args", nargs="+")
    p.add_argument("--rate", type=float, default=0)
    p.add_argument("--start", type=int, default=0)
    p.add_argument("--tag", default="seq")
    p.add_argument("--count", type=int, default=0)
    p.add_argument("--idle", type=float, default=3)
    p.add_argument("--limit", type=float, default=90)
    p.add_argument("--after", type=float, default=2.5)
    p.add_argument("--poll", type=float, default=0.005)
    p.add_argument("--size", type=int, default=0)
    p.add_argument("--pid", type=int, default=0)
    p.add_argument("--port", type=int, default=0)
    a = p.parse_args()
    if a.kind == "check":
        sys.exit(check(a.args, a.tag, a.count, a.start))
    if a.kind == "watch":
        sys.exit(watch(a.args[0], a.tag, a.count, a.idle, a.limit, a.poll, a.pid, a.port))
    if a.kind == "latency":
        sys.exit(latency(int(a.args[0]), a.args[1], a.after, a.limit, a.tag))
    port, count = int(a.args[0]), int(a.args[1])
    wall0, elapsed = send(a.kind, port, count, a.rate, a.start, a.tag, a.size)
    print(f"sent={count} seconds={elapsed:.3f} rate={count / elapsed:.0f}/s start={wall0:.6f}")


if __name__ == "__main__":
    main()
