#!/usr/bin/env python3
"""Measures the virtual printer ("streamcheck serve") end to end on loopback.

1. Targets, side by side: a steady 2 x 3 job (a page of six small labels;
   after the first page each page sends only its variable fields) read by
   "streamcheck check", drawn by "streamcheck render" and sent to the raw port
   of "serve" (from the first byte sent to the job's record finished); then a
   tiny job of tall identical labels through "serve".
2. Abuse: idle raw connections, slow HTTP clients, a trickling job and the
   jobs that make a printer draw, store or hold far more than they send, all
   at once, while GET /api/jobs is timed; the server's peak RSS is read from
   /proc at the end.

usage: scripts/serve-load.py [--streamcheck build/release/tools/streamcheck/streamcheck]
                             [--pages N] [--seconds N] [--targets-only] [--forward]
--forward: every job also goes on to a printer behind (a listener here that
reads it), and the time that took is set beside the end-to-end time.
"""
import argparse
import json
import os
import re
import socket
import struct
import subprocess
import tempfile
import threading
import time
import urllib.request
import zlib

SETUP = ("^XA^FXLTCommand^FS^XZ^XA^S(CLM,T,M2^S(CLS,P,{w}^S(CLS,L,{h}^ST12,7,2026,21,5,9,M"
         "^S(CX0,L,E^S(CX0,C,0^S(CX0,Q,2^S(CMP,D,B^C(D^XZ")


def png(width, height, pattern=0, noise=False, data=None):
    """An 8-bit RGB PNG, rows unfiltered; `data` replaces the image data."""
    if data is None:
        rows = bytearray()
        for y in range(height):
            rows.append(0)
            if noise:
                rows += os.urandom(width * 3)
            else:
                rows += bytes(((x * 7 + y * 3 + pattern * 31) % 251) for x in range(width * 3))
        data = zlib.compress(bytes(rows), 3)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", data) + chunk(b"IEND", b"")


def band(image, x, y, name="DIFF"):
    name = name.encode() if isinstance(name, str) else name
    return (b"~DYR:" + name + b",B,P," + str(len(image)).encode() + b",0," + image + b"^FO" +
            f"{x},{y}".encode() + b"^IMR:" + name + b".PNG^FS")


def steady_job(pages):
    """A 2 x 3 page of 425 x 450 labels: the base once, then only what changes."""
    width, height = 1275, 900
    stream = SETUP.format(w=width, h=height).encode() + b"^XA^C(L"
    stream += band(png(width, height // 2, 1), 0, 0) + band(png(width, height // 2, 2), 0, height // 2)
    stream += b"^C(S^XZ"
    fields = [png(120, 30, k) for k in range(12)] + [png(60, 12, 99)]
    for page in range(pages):
        stream += b"^XA^C(L"
        for row in range(2):
            for column in range(3):
                left, top = column * 425, row * 450
                for k in range(3):
                    stream += band(fields[(page + row * 3 + column + k) % 12], left + 40, top + 60 + k * 50)
                stream += band(fields[12], left + 300, top + 400)
        stream += b"^C(S^XZ"
    return stream


class Server:
    def __init__(self, binary, out, extra=()):
        self.process = subprocess.Popen([binary, "serve", "--out", out, "--port", "0", "--http", "0", *extra],
                                        stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        found = re.search(r"raw jobs on [^ ]+:(\d+), page on http://[^ ]+:(\d+)/", line)
        if not found:
            raise SystemExit("the server did not start: " + line)
        self.raw, self.http = int(found.group(1)), int(found.group(2))

    def get(self, path, timeout=30):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.http}{path}", timeout=timeout) as answer:
            return answer.read()

    def jobs(self):
        return json.loads(self.get("/api/jobs"))

    def peak_rss_mb(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
        return 0.0

    def stop(self):
        self.process.terminate()
        started = time.monotonic()
        try:
            self.process.wait(timeout=60)
            print(f"server stopped in {time.monotonic() - started:.1f} s")
        except subprocess.TimeoutExpired:
            print("server did not stop within 60 s")
            self.process.kill()
            self.process.wait()


def send_raw(port, data, piece=0, pause=0.0):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=300) as connection:
            if piece == 0:
                connection.sendall(data)
            else:
                for at in range(0, len(data), piece):
                    connection.sendall(data[at:at + piece])
                    time.sleep(pause)
    except OSError:
        pass  # cut by the server: the job records why


def wait_for_jobs(server, count, patience=600):
    deadline = time.monotonic() + patience
    while time.monotonic() < deadline:
        state = server.jobs()
        if len(state["jobs"]) >= count and all(job["finished"] for job in state["jobs"]):
            return state
        time.sleep(0.05)
    raise SystemExit("the jobs did not finish")


def tall_job():
    """Tall identical labels: 2.9 KB that print 200 labels of 1587 x 14400 dots."""
    return SETUP.format(w=1587, h=14400).encode() + b"^XA^C(L^C(S^XZ" * 200


def timed(command):
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - start


def through_serve(server, out, stream, patience):
    """Seconds from the first byte sent to the job's record finished (its
    summary.txt written, just before the record closes) and to its last
    picture filed, and the record; None for the first when the job did not
    finish within `patience` seconds."""
    ids = [job["id"] for job in server.jobs()["jobs"]]
    job_id = max(ids, default=0) + 1  # a fresh output folder numbers jobs on
    record = os.path.join(out, f"job-{job_id:06d}", "summary.txt")
    start = time.monotonic()
    sender = threading.Thread(target=send_raw, args=(server.raw, stream), daemon=True)
    sender.start()
    elapsed = None
    while time.monotonic() - start < patience:
        if os.path.exists(record):
            elapsed = time.monotonic() - start
            break
        time.sleep(0.002)
    sender.join(timeout=1)
    while elapsed is not None and not json.loads(server.get(f"/api/jobs/{job_id}"))["finished"]:
        time.sleep(0.01)  # summary.json is written as the record closes
    # The pictures are filed behind the printer, in order: when the last one
    # is in place (watched in the folder, not to load the server with reads).
    labels = len(json.loads(server.get(f"/api/jobs/{job_id}"))["labels"])
    last = os.path.join(out, f"job-{job_id:06d}", f"label-{labels:03d}.png")
    while elapsed is not None and labels > 0 and time.monotonic() - start < patience:
        if os.path.exists(last) and json.loads(server.get(f"/api/jobs/{job_id}")).get("picturesDone", True):
            break
        time.sleep(0.005)
    return elapsed, time.monotonic() - start, json.loads(server.get(f"/api/jobs/{job_id}"))


def targets(binary, server, out, pages):
    stream = steady_job(pages)
    with tempfile.TemporaryDirectory(prefix="serve-load-render-") as scratch:
        path = os.path.join(scratch, "steady.prn")
        with open(path, "wb") as file:
            file.write(stream)
        check = min(timed([binary, "check", path]) for _ in range(3))
        render = timed([binary, "render", path, os.path.join(scratch, "labels")])
    serve, filed, job = through_serve(server, out, stream, 600)
    printed = len(job["labels"]) - 1  # the first page carries the base
    tall, tall_filed, tall_record = through_serve(server, out, tall_job(), 120)
    print(f"steady 2 x 3 job, {len(stream)} bytes, {printed} pages ({6 * printed} small labels):")
    print(f"  streamcheck check:     {check:6.2f} s")
    print(f"  serve, end to end:     {serve:6.2f} s = {serve / check:.1f} x check (target 3 x): "
          f"{printed / serve:.0f} pages/s (server's own time {job['tookMs']} ms), faults: {len(job['faults'])}")
    print(f"  serve, pictures filed: {filed:6.2f} s after the first byte")
    if job["forward"]["state"] != "none":
        while job["forward"]["state"] in ("waiting", "sending"):
            time.sleep(0.01)
            job = json.loads(server.get(f"/api/jobs/{job['id']}"))
        forward = job["forward"]
        print(f"  forwarded: {forward['state']}, {forward['sent']} bytes in {forward['tookMs']} ms "
              f"({forward['tookMs'] / 1000 / serve * 100:.1f} % of end to end)")
    print(f"  streamcheck render:    {render:6.2f} s")
    labels = len(tall_record["labels"])
    shown = (f"{tall:.2f} s, pictures filed after {tall_filed:.2f} s" if tall is not None
             else "not finished after 120 s")
    print(f"tall-label job, 200 x 1587 x 14400, {len(tall_job())} bytes, through serve: {shown} (target 5 s), "
          f"{labels} labels recorded, faults: {len(tall_record['faults'])}")


def abuse(server, seconds):
    stop = threading.Event()
    threads = []

    def spawn(target, *args):
        thread = threading.Thread(target=target, args=args, daemon=True)
        thread.start()
        threads.append(thread)

    def idle():
        try:
            with socket.create_connection(("127.0.0.1", server.raw)):
                stop.wait(seconds)
        except OSError:
            pass

    def slow_http():
        while not stop.is_set():
            try:
                with socket.create_connection(("127.0.0.1", server.http), timeout=10) as connection:
                    connection.sendall(b"GET / HTTP/1.1\r\n")
                    for i in range(100):
                        if stop.wait(4):
                            return
                        connection.sendall(b"X-Slow-%d: 1\r\n" % i)
            except OSError:
                pass

    def post(body):
        request = urllib.request.Request(f"http://127.0.0.1:{server.http}/api/jobs", data=body,
                                         headers={"Content-Type": "application/octet-stream"})
        try:
            urllib.request.urlopen(request, timeout=300).read()
        except OSError:
            pass

    tall = tall_job()
    noisy = (SETUP.format(w=1587, h=2000).encode() + b"^XA^C(L" + band(png(1587, 2000, noise=True), 0, 0) +
             b"^C(S^XZ")
    after_noise = b"^XA^C(L^C(S^XZ" * 20
    deflate = zlib.compressobj(9)
    zeros = bytes(1 << 20)
    bomb = png(1, 1, data=b"".join(deflate.compress(zeros) for _ in range(1024)) + deflate.flush())  # a gibibyte
    bombs = (SETUP.format(w=425, h=150).encode() + b"^XA" + band(bomb, 0, 0, "A") + band(bomb, 0, 0, "B") +
             b"^IMR:A.PNG^FS^IMR:B.PNG^FS" * 20 + b"^XZ")
    long_name = SETUP.format(w=425, h=150).encode() + b"^XA^FO0,0^IMR:" + b"N" * (20 << 20) + b".PNG^FS^XZ"
    tiny = png(1, 1)
    names = SETUP.format(w=425, h=150).encode() + b"^XA" + b"".join(
        band(tiny, 0, 0, b"I%02d" % i + b"x" * (1 << 20)) for i in range(50)) + b"^XZ"

    for _ in range(64):
        spawn(idle)
    for _ in range(20):
        spawn(slow_http)
    spawn(send_raw, server.raw, b"^XA^FX" + b"x" * 200, 1, 1.5)
    for body in (tall, noisy, after_noise, bombs, long_name) + (names,) * 5:
        spawn(post, body)

    latencies = []
    failures = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        start = time.monotonic()
        try:
            server.get("/api/jobs", timeout=10)
            latencies.append(time.monotonic() - start)
        except OSError:
            failures += 1
        time.sleep(0.2)
    stop.set()
    for thread in threads:
        thread.join(timeout=1)
    latencies.sort()
    if latencies:
        pick = lambda q: latencies[min(len(latencies) - 1, int(q * len(latencies)))] * 1000
        print(f"GET /api/jobs under abuse: {len(latencies)} answered, {failures} failed; median {pick(0.5):.0f} ms, "
              f"95% {pick(0.95):.0f} ms, slowest {latencies[-1] * 1000:.0f} ms")
    state = server.jobs()
    print(f"jobs recorded: {len(state['jobs'])}, stored {state['storedBytes'] / 2**20:.1f} MiB")


def sink():
    """A printer behind that reads every job at once: the port it listens on."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)

    def serve_forever():
        while True:
            connection, _ = listener.accept()
            while connection.recv(1 << 16):
                pass
            connection.close()

    threading.Thread(target=serve_forever, daemon=True).start()
    return listener.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--streamcheck", default="build/release/tools/streamcheck/streamcheck")
    parser.add_argument("--pages", type=int, default=200)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--targets-only", action="store_true", help="measure the targets only, not the abuse")
    parser.add_argument("--forward", action="store_true", help="pass every job on to a printer behind that reads it")
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="serve-load-") as out:
        extra = ["--forward", f"socket://127.0.0.1:{sink()}"] if options.forward else []
        server = Server(options.streamcheck, out, extra)
        try:
            targets(options.streamcheck, server, out, options.pages)
            if not options.targets_only:
                abuse(server, options.seconds)
            print(f"server peak RSS: {server.peak_rss_mb():.0f} MB")
        finally:
            server.stop()


if __name__ == "__main__":
    main()
