#!/usr/bin/env python3
"""Numbered events for the benchmarks and the fault tests.

  flood.py syslog PORT COUNT [--rate N] [--start K] [--tag T]
  flood.py trap PORT COUNT [--rate N] [--start K] [--tag T]
  flood.py check LOGFILE [LOGFILE ...] --tag T --count N [--start K]

Every event carries "<tag>-<sequence>" (sequence zero-padded to 7 digits): syslog as the
message text, traps as the device name of a sensor-change notification. Traps are made
once by snmptrap (a real client) into a template datagram whose sequence digits are then
replaced in place, so every datagram is a real client's bytes. "check" reads log files in
order and reports loss, duplicates and order.
"""
import argparse
import socket
import subprocess
import sys
import time

DEVICE = "1.3.6.1.4.1.32473.1"


def trap_template(tag):
    marker = f"{tag}-0000000".encode()
    catcher = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    catcher.bind(("127.0.0.1", 0))
    catcher.settimeout(5)
    port = catcher.getsockname()[1]
    obj = lambda n: f"{DEVICE}.1.{n}.0"
    subprocess.run(["snmptrap", "-m", "", "-M", "/nonexistent", "-v", "2c", "-c", "public",
                    f"127.0.0.1:{port}", "4242", f"{DEVICE}.0.2",
                    obj(1), "s", marker.decode(), obj(2), "x", "001122AABBCC", obj(3), "u", "1",
                    obj(4), "s", "Temp", obj(7), "i", "235", obj(8), "s", "C", obj(6), "s", "normal"],
                   check=True)
    data, _ = catcher.recvfrom(65535)
    at = data.index(marker)
    return data, at + len(tag) + 1


def send(kind, port, count, rate, start, tag):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 * 1024 * 1024)
    target = ("127.0.0.1", port)
    if kind == "trap":
        template, at = trap_template(tag)
        buf = bytearray(template)
    t0 = time.perf_counter()
    for i in range(start, start + count):
        digits = b"%07d" % i
        if kind == "trap":
            buf[at:at + 7] = digits
            payload = bytes(buf)
        else:
            payload = b"<13>" + tag.encode() + b"-" + digits
        while True:
            try:
                sock.sendto(payload, target)
                break
            except BlockingIOError:
                time.sleep(0.0001)
        if rate:
            due = t0 + (i - start + 1) / rate
            delay = due - time.perf_counter()
            if delay > 0:
                time.sleep(delay)
    return time.perf_counter() - t0


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
    p.add_argument("kind", choices=["syslog", "trap", "check"])
    p.add_argument("args", nargs="+")
    p.add_argument("--rate", type=float, default=0)
    p.add_argument("--start", type=int, default=0)
    p.add_argument("--tag", default="seq")
    p.add_argument("--count", type=int, default=0)
    a = p.parse_args()
    if a.kind == "check":
        sys.exit(check(a.args, a.tag, a.count, a.start))
    port, count = int(a.args[0]), int(a.args[1])
    elapsed = send(a.kind, port, count, a.rate, a.start, a.tag)
    print(f"sent={count} seconds={elapsed:.3f} rate={count / elapsed:.0f}/s")


if __name__ == "__main__":
    main()
