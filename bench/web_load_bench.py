#!/usr/bin/python3
"""The web program under load, this build beside another one (the previous
main's, by default /work/base/build-test/bin), both on the same database of
the private server of scripts/testdb.sh:

  scripts/testdb.sh run /usr/bin/python3 bench/web_load_bench.py --bin build-test/bin \\
      [--antes /work/base/build-test/bin]

Ten stations of 40 columns, one of them with a day at a line a second,
archived by this build's climalog-archivo. Printed for each program, side by
side:
- 200 browser-like clients, each on its own kept-alive connection asking for
  the overview every second for 20 s (compressed when offered, "not
  modified" when it can, then again with every answer whole): median and
  95th percentile, and the refreshes answered out of those asked;
- 500 idle sockets (connected, nothing sent), then 500 kept-alive
  connections left idle after one request: the slowest of 5 requests made
  meanwhile on fresh connections (15 s at most);
- the overview's bytes on the wire per refresh, and per day for a page left
  open;
- peak resident memory of a fresh program answering one plot of 40 series x
  20 000 buckets, four at once, and the memory kept afterwards.
Nothing is asserted.
"""
import argparse
import http.client
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

DB = "climalog_bench_carga"


def psql(sql, db=DB):
    subprocess.run(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", db, "-c", sql], check=True, capture_output=True)


def memory(pid):
    fields = {}
    for line in open(f"/proc/{pid}/status"):
        key, _, value = line.partition(":")
        fields[key] = value.strip()
    return int(fields["VmRSS"].split()[0]) / 1024, int(fields["VmHWM"].split()[0]) / 1024


NOBODY = os.path.join(tempfile.gettempdir(), "climalog-carga-sin-usuarios.txt")


class Programa:
    def __init__(self, folder):
        self.proc = subprocess.Popen([f"{folder}/climalog-web", f"postgresql:///{DB}?user=lector_carga",
                                      "--escuchar", "127.0.0.1:0", "--usuarios", NOBODY],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.proc.stdout.readline().split()[2].rstrip("/").rsplit(":", 1)[1])

    def get(self, path, conn=None, headers=None, timeout=60):
        c = conn or http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        t = time.perf_counter()
        c.request("GET", path, headers=headers or {})
        r = c.getresponse()
        body = r.read()
        if not conn:
            c.close()
        return (time.perf_counter() - t) * 1000, r, body

    def stop(self):
        self.proc.terminate()
        self.proc.wait(120)
        self.proc.stdout.close()


def browsers(p, count=200, seconds=20, conditional=True):
    """Pages refreshing every second; latencies and answered refreshes."""
    lat, lock = [], threading.Lock()
    asked = [0]
    start = time.monotonic() + 1
    stop = start + seconds

    def page(k):
        c, etag = None, None
        tick = start + k / count
        while tick < stop:
            time.sleep(max(0, tick - time.monotonic()))
            with lock:
                asked[0] += 1
            try:
                c = c or http.client.HTTPConnection("127.0.0.1", p.port, timeout=10)
                h = {"Accept-Encoding": "gzip, deflate, br"}
                if etag and conditional:
                    h["If-None-Match"] = etag
                ms, r, _ = p.get("/api/resumen", c, h)
                etag = r.getheader("ETag") or etag
                with lock:
                    lat.append(ms)
            except (OSError, http.client.HTTPException):
                if c:
                    c.close()
                c = None
            tick += 1
        if c:
            c.close()

    threads = [threading.Thread(target=page, args=(k,)) for k in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    lat.sort()
    if not lat:
        return "no answer"
    return (f"median {statistics.median(lat):.0f} ms, 95th percentile {lat[int(len(lat) * 0.95)]:.0f} ms, "
            f"{len(lat)} of {asked[0]} answered")


def idle(p, kept, asks=5, timeout=15):
    """The slowest of a few fresh requests while 500 sockets sit idle."""
    socks = []
    for _ in range(500):
        s = socket.create_connection(("127.0.0.1", p.port), timeout=30)
        if kept:
            s.sendall(b"GET /app.css HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        socks.append(s)
    worst = 0.0
    failed = 0
    try:
        for _ in range(asks):
            try:
                ms, r, _ = p.get("/api/resumen", timeout=timeout)
                worst = max(worst, ms)
            except (OSError, http.client.HTTPException):
                failed += 1
    finally:
        for s in socks:
            s.close()
    return f"slowest {worst:.0f} ms" + (f", {failed} of {asks} timed out ({timeout} s)" if failed else "")


def wire(p):
    """Bytes of one refresh as a browser gets it, then of an unchanged one."""
    c = http.client.HTTPConnection("127.0.0.1", p.port, timeout=60)
    _, r, body = p.get("/api/resumen", c, {"Accept-Encoding": "gzip, deflate, br"})
    first = len(body)
    etag = r.getheader("ETag")
    h = {"Accept-Encoding": "gzip, deflate, br", **({"If-None-Match": etag} if etag else {})}
    _, r2, body2 = p.get("/api/resumen", c, h)
    c.close()
    return first, r2.status, len(body2)


def plots(folder, query):
    """Peak memory of one plot, of four at once, and what stays after."""
    out = []
    for n in (1, 4):
        p = Programa(folder)
        try:
            p.get("/api/resumen")
            threads = [threading.Thread(target=p.get, args=(query,)) for _ in range(n)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            rss, peak = memory(p.proc.pid)
            out.append((peak, rss))
        finally:
            p.stop()
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--antes", default="/work/base/build-test/bin")
    args = parser.parse_args()
    builds = [("previous main", args.antes), ("this build", args.bin)]
    work = tempfile.mkdtemp(prefix="climalog-carga-")
    psql(f"DROP DATABASE IF EXISTS {DB}", "postgres")
    psql(f"CREATE DATABASE {DB}", "postgres")
    subprocess.run([f"{args.bin}/climalog-archivo", "--preparar", f"postgresql:///{DB}"], check=True, capture_output=True)
    psql("DO $$ BEGIN CREATE ROLE lector_carga LOGIN IN ROLE climalog_lectura; "
         "EXCEPTION WHEN duplicate_object THEN END $$")
    t = time.monotonic()
    for name, days, step in [("est01", 2, 1)] + [(f"est{k:02}", 1, 10) for k in range(2, 11)]:
        folder = os.path.join(work, name)
        subprocess.run([f"{args.bin}/web_bench_capturas", folder, str(days), str(step), "40"], check=True)
        subprocess.run([f"{args.bin}/climalog-archivo", "--una-vez", "--estacion", name, f"postgresql:///{DB}",
                        os.path.join(folder, "1")], check=True, capture_output=True)
    print(f"Archived 10 stations of 40 columns in {time.monotonic() - t:.0f} s")

    rows = {}
    for label, folder in builds:
        print(f"Measuring {label} ({folder})", flush=True)
        p = Programa(folder)
        try:
            _, _, body = p.get("/api/resumen")
            series = json.loads(body)["series"]
            keys = ",".join(str(s["serie"]) for s in series if s["estacion"] == "est01")
            now = time.time()
            query = (f"/api/tramo?series={keys}&desde={time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(now - 86400))}"
                     f"&hasta={time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(now))}&cubos=20000")
            first, status, again = wire(p)
            rows.setdefault("Overview on the wire, a refresh", []).append(
                f"{first / 1024:.1f} KB, then {again} B unchanged ({status})")
            rows.setdefault("Overview on the wire, a day of a page left open", []).append(
                f"{first * 86400 / 1e9:.2f} GB changing every second, {again * 86400 / 1e9:.2f} GB unchanged")
            rows.setdefault(f"Overview, {len(series)} series: 200 browser-like pages", []).append(browsers(p))
            rows.setdefault("The same, every answer whole", []).append(browsers(p, conditional=False))
            rows.setdefault("500 idle sockets, fresh requests meanwhile", []).append(idle(p, False))
            rows.setdefault("500 kept-alive idle connections, fresh requests meanwhile", []).append(idle(p, True))
        finally:
            p.stop()
        (one, four) = plots(folder, query)
        rows.setdefault("Plot of 40 series x 20 000 buckets: peak memory", []).append(f"{one[0]:.0f} MB")
        rows.setdefault("Four such plots at once: peak memory", []).append(f"{four[0]:.0f} MB")
        rows.setdefault("Memory kept after them", []).append(f"{four[1]:.0f} MB")
    width = max(len(k) for k in rows) + 2
    print(f"{'':{width}}{builds[0][0]:<62}{builds[1][0]}")
    for k, (before, after) in rows.items():
        print(f"{k:{width}}{before:<62}{after}")
    subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
