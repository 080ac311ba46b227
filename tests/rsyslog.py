#!/usr/bin/env python3
"""A log shipper follows the real program's log file.

docs/rsyslog-forwarding.conf, run as docs/ventrix-forwarding.service runs it (an rsyslogd
of the log file's owner, with this file as its whole configuration, its own work directory
and pid file, no system log socket, no network input), forwards to a stand-in central
server on loopback. Across a rotation of the log file and while another program
holds it locked, every line arrives once and in order.

    tests/rsyslog.py PROGRAM
"""
import fcntl
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROTATE_AFTER = 5 * 1024 * 1024  # the program moves log.txt aside once it is larger


def wait_for(what, predicate, timeout=20.0):
    end = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > end:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


class Central(threading.Thread):
    """The central syslog server: keeps every byte that arrives over TCP."""

    def __init__(self):
        super().__init__(daemon=True)
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        self.data = bytearray()

    def run(self):
        while True:
            conn, _ = self.server.accept()
            while chunk := conn.recv(65536):
                self.data += chunk

    def lines(self):
        # "<PRI>TIMESTAMP HOST ventrix: LINE"
        return [line.split(" ventrix: ", 1)[1] for line in self.data.decode("latin-1").splitlines()]


def file_lines(path):
    with open(path, "rb") as f:
        return f.read().decode("latin-1").split("\r\n")[:-1]


def main():
    program = os.path.abspath(sys.argv[1])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    rsyslogd = shutil.which("rsyslogd", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
    if not rsyslogd:
        sys.exit("rsyslogd (Debian package rsyslog) is needed")
    tmp = tempfile.mkdtemp(prefix="ventrix-rsyslog-")
    data, work, home = (os.path.join(tmp, d) for d in ("data", "work", "home"))
    for d in (data, work, home + "/.config/Norvane/Ventrix", home + "/runtime"):
        os.makedirs(d, mode=0o700)
    log = os.path.join(data, "log.txt")

    # The log file starts just under the size at which it is moved aside: the first
    # burst crosses it.
    with open(log, "wb") as f:
        n = 0
        while f.tell() < ROTATE_AFTER - 4000:
            f.write(b"filler %07d %s\r\n" % (n, b"." * 80))
            n += 1

    central = Central()
    central.start()
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    probe.bind(("127.0.0.1", 0))
    syslog_port = probe.getsockname()[1]
    probe.close()

    with open(os.path.join(root, "docs", "rsyslog-forwarding.conf")) as f:
        example = f.read()
    for old, new in (("/home/alice/Documents/Norvane/Ventrix/log.txt", log), ("logs.example.net", "127.0.0.1"),
                     ('port="514"', 'port="%d"' % central.port),
                     ("/home/alice/.local/state/ventrix-forwarding", work)):
        assert example.count(old) == 1, old
        example = example.replace(old, new)
    conf = os.path.join(tmp, "rsyslog.conf")
    with open(conf, "w") as f:
        f.write(example)
    with open(home + "/.config/Norvane/Ventrix/Ventrix.ini", "w") as f:
        f.write("[General]\nAutoStart=true\nSnmpEnable=false\nBalloonEnable=false\n"
                "SyslogPort=%d\nDataDir=%s\n" % (syslog_port, data))

    out = open(os.path.join(tmp, "output.txt"), "wb")
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/.config", XDG_RUNTIME_DIR=home + "/runtime",
               QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
    shipper = subprocess.Popen([rsyslogd, "-n", "-f", conf, "-i", os.path.join(work, "pid")], stdout=out, stderr=out)
    ventrix = subprocess.Popen([program], env=env, stdout=out, stderr=out)
    try:
        def bound():
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            try:
                s.bind(("127.0.0.1", syslog_port))
                return False
            except OSError:
                return True
            finally:
                s.close()

        wait_for("the program's syslog port", bound)
        sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)

        def burst(name, count):
            for i in range(count):
                sender.sendto(b"%s %05d" % (name, i), ("127.0.0.1", syslog_port))
                time.sleep(0.002)

        def written():
            names = sorted(f for f in os.listdir(data) if f.startswith("log_")) + ["log.txt"]
            return [line for name in names for line in file_lines(os.path.join(data, name))]

        burst(b"before", 300)
        wait_for("the burst before the lock", lambda: len([ln for ln in written() if ";before " in ln]) == 300)
        assert len([f for f in os.listdir(data) if f.startswith("log_")]) == 1, "rotated once"

        with open(log, "rb") as holder:
            fcntl.flock(holder, fcntl.LOCK_EX)
            burst(b"locked", 100)
            queue = os.path.join(data, "queue.tmp")
            wait_for("the queue", lambda: os.path.exists(queue) and len(file_lines(queue)) == 100)
            assert not any(";locked " in line for line in file_lines(log))
        wait_for("the queue to move in", lambda: not os.path.exists(queue))
        burst(b"after", 100)

        wait_for("every line in the log files", lambda: len([ln for ln in written() if ";after " in ln]) == 100)
        expected = written()
        sent = [line.rsplit(";", 1)[1] for line in expected if not line.startswith("filler")]
        want = ["%s %05d" % (name, i) for name, count in (("before", 300), ("locked", 100), ("after", 100))
                for i in range(count)]
        assert sent == want, "the program wrote the lines out of order or not all"
        wait_for("every line at the central server", lambda: central.data.count(b"\n") >= len(expected), 60)
        time.sleep(1)  # duplicates would come late
        got = central.lines()
        first = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
        assert got == expected, "shipped %d lines, %d expected; first difference at line %d" % (
            len(got), len(expected), first)

        sockets = subprocess.run(["ss", "-Hlpnuxt"], capture_output=True, text=True).stdout
        assert "pid=%d," % shipper.pid not in sockets, "rsyslogd listens: " + sockets
        print("rsyslog: %d lines shipped once and in order across a rotation and a lock" % len(got))
    except BaseException:
        with open(os.path.join(tmp, "central.txt"), "wb") as f:
            f.write(central.data)
        print("rsyslog: FAIL; the files, the programs' output and what arrived are kept in " + tmp)
        raise
    finally:
        for p in (ventrix, shipper):
            p.terminate()
            p.wait(10)
        out.close()
    shutil.rmtree(tmp)


if __name__ == "__main__":
    main()
