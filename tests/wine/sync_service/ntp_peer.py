#!/usr/bin/python3
"""The NTP traffic of the QxrSync NTP server's Wine test that the standard clients cannot
send: python3-ntplib's query, a burst from one address, malformed requests, and a holder of
the server's port. Loopback only. One line of key=value results per command.

  ntp_peer.py ntplib PORT                    ntplib's NTPClient().request(version=4), the
                                             shortest round trip of three
  ntp_peer.py exchange PORT SRC KIND         one request of KIND from 127.x.y.z SRC
  ntp_peer.py malformed PORT NET            each malformed kind from its own NET.n, then a
                                             good request from the same address
  ntp_peer.py burst PORT SRC COUNT           COUNT requests 2 ms apart from SRC
  ntp_peer.py hold PORT SECONDS              binds UDP PORT on 0.0.0.0 and keeps it
  ntp_peer.py watch PORT SECONDS             one ntplib request every 0.2 s, a line each
                                             (t= seconds since the start, then as ntplib)
"""
import os
import socket
import struct
import sys
import time

HOST = "127.0.0.1"


def header(version=4, mode=3, li=0):
    """A 48-byte request whose transmit timestamp is unique, so a reply's origin names it."""
    xmit = struct.pack("!Q", (int(time.time()) + 2208988800) << 32 | os.getpid() << 8)
    return bytes([li << 6 | version << 3 | mode]) + bytes(39) + xmit


# The malformed requests: none of them may be answered.
def kinds():
    good = header()
    # A MAC after the header: key id and MD5 (20 bytes), key id and SHA-1 (24 bytes); the
    # Windows authenticated forms, 68 bytes (NTLM, key id and 16-byte checksum) and 120 bytes
    # (extended: key id, flags, 64-byte checksum).
    return {
        "short47": good[:47],
        "short0": b"",
        "mode0": header(mode=0), "mode2": header(mode=2), "mode4": header(mode=4),
        "mode5": header(mode=5), "mode6": header(mode=6), "mode7": header(mode=7),
        "version0": header(version=0), "version5": header(version=5),
        "version6": header(version=6), "version7": header(version=7),
        "mac-md5": good + struct.pack("!I", 1) + bytes(range(16)),
        "mac-sha1": good + struct.pack("!I", 1) + bytes(range(20)),
        "windows68": good + struct.pack("!I", 0x80000001) + bytes(16),
        "windows120": good + struct.pack("!II", 0x80000001, 0) + bytes(64),
        # Extension fields (RFC 7822): one that claims more bytes than the request has, and
        # one whose length is not a multiple of 4.
        "ext-overrun": good + struct.pack("!HH", 0x0104, 256) + bytes(28),
        "ext-unaligned": good + struct.pack("!HH", 0x0104, 18) + bytes(28),
    }


def good_kinds():
    """Answered requests, named vVmM: version V, mode M (3 client, 1 symmetric active)."""
    return {"v%dm%d" % (v, m): header(version=v, mode=m) for v in (1, 2, 3, 4) for m in (1, 3)}


def refid_text(raw):
    """The reference ID as its ASCII letters ("GPS"), "0" when zero, else in hex."""
    text = raw.rstrip(b"\0")
    if not text:
        return "0"
    if all(0x21 <= c < 0x7f for c in text):
        return text.decode("ascii")
    return raw.hex()


def bound_socket(src):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((src, 0))
    return s


def describe(reply, request):
    if len(reply) < 48:
        return "answered=1 length=%d" % len(reply)
    b0, stratum = reply[0], reply[1]
    fields = struct.unpack("!II4s", reply[4:16])
    origin = reply[24:32]
    return ("answered=1 length=%d li=%d version=%d mode=%d stratum=%d refid=%s root_delay=%.6f "
            "root_dispersion=%.6f origin_matches=%d") % (
        len(reply), b0 >> 6, b0 >> 3 & 7, b0 & 7, stratum,
        refid_text(fields[2]), fields[0] / 65536,
        fields[1] / 65536, int(len(request) >= 48 and origin == request[40:48]))


def exchange(port, src, request, wait=1.0):
    s = bound_socket(src)
    s.settimeout(wait)
    s.sendto(request, (HOST, port))
    try:
        reply = s.recv(1024)
    except socket.timeout:
        return "answered=0"
    finally:
        s.close()
    return describe(reply, request)


def main(argv):
    cmd = argv[1] if len(argv) > 1 else ""
    if cmd == "ntplib" and len(argv) == 3:
        # Of three queries the one with the shortest round trip, as NTP clients filter: a
        # loaded machine can hold one packet back on one way.
        import ntplib
        best = None
        for _ in range(3):
            try:
                r = ntplib.NTPClient().request(HOST, version=4, port=int(argv[2]), timeout=2)
            except ntplib.NTPException as e:
                print("answered=0 (%s)" % e)
                return 0
            if best is None or r.delay < best.delay:
                best = r
        r = best
        refid = refid_text(struct.pack("!I", r.ref_id))
        print("answered=1 offset=%.6f li=%d stratum=%d refid=%s root_delay=%.6f "
              "root_dispersion=%.6f version=%d mode=%d delay=%.6f" % (
                  r.offset, r.leap, r.stratum, refid, r.root_delay,
                  r.root_dispersion, r.version, r.mode, r.delay))
        return 0
    if cmd == "exchange" and len(argv) == 5:
        port, src, kind = int(argv[2]), argv[3], argv[4]
        table = kinds()
        if kind in table:
            request = table[kind]
        elif kind in good_kinds():
            request = good_kinds()[kind]
        else:
            print("unknown kind %s" % kind, file=sys.stderr)
            return 2
        print("%s %s" % (kind, exchange(port, src, request)))
        return 0
    if cmd == "malformed" and len(argv) == 4:
        port, net = int(argv[2]), argv[3]
        for i, (kind, request) in enumerate(kinds().items()):
            src = "%s.%d" % (net, i + 1)
            bad = exchange(port, src, request, wait=0.5).split()[0]
            good = exchange(port, src, header()).split()[0]
            print("%s %s next_good_%s" % (kind, bad, good))
        return 0
    if cmd == "burst" and len(argv) == 5:
        port, src, count = int(argv[2]), argv[3], int(argv[4])
        s = bound_socket(src)
        s.setblocking(False)
        sent = answered = 0
        for i in range(min(count, 1000)):
            request = header()[:40] + struct.pack("!Q", i + 1)
            s.sendto(request, (HOST, port))
            sent += 1
            time.sleep(0.002)
            answered += drain(s)
        deadline = time.monotonic() + 1.0
        while time.monotonic() < deadline:
            answered += drain(s)
            time.sleep(0.01)
        print("sent=%d answered=%d" % (sent, answered))
        return 0
    if cmd == "watch" and len(argv) == 4:
        # What a client polling fast sees while the card changes: every reply, none filtered.
        import ntplib
        port, seconds = int(argv[2]), float(argv[3])
        start = time.monotonic()
        while time.monotonic() - start < min(seconds, 120):
            t = time.monotonic() - start
            try:
                r = ntplib.NTPClient().request(HOST, version=4, port=port, timeout=1)
                print("t=%.2f answered=1 offset=%.6f li=%d stratum=%d" % (
                    t, r.offset, r.leap, r.stratum), flush=True)
            except ntplib.NTPException:
                print("t=%.2f answered=0" % t, flush=True)
            time.sleep(0.2)
        return 0
    if cmd == "hold" and len(argv) == 4:
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind(("0.0.0.0", int(argv[2])))
        print("bound", flush=True)
        time.sleep(min(float(argv[3]), 300))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


def drain(s):
    n = 0
    while True:
        try:
            if len(s.recv(1024)) >= 48:
                n += 1
        except BlockingIOError:
            return n


if __name__ == "__main__":
    sys.exit(main(sys.argv))
