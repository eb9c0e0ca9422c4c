#!/usr/bin/python3
"""The web program's figures, on a database of its own in the private server
of scripts/testdb.sh:

  scripts/testdb.sh run /usr/bin/python3 bench/web_bench.py --bin build-test/bin

Ten stations of 40 columns archived by the real climalog-archivo: one with
yesterday and today at a line a second (a day of one column at full
resolution), nine with today at a line every ten seconds. The overview reads
each port's latest line, so its cost does not grow with the days stored: the
thirty days of the goal are modelled by these. A station of one column holds a
year at a line a minute: a year's plot reads the archive's rollups, whose
number does not depend on the lines per minute.

Printed: the overview answered by the server with the database asked each
time (median of 20) and as 50 clients refreshing every 2 s see it (median and
95th percentile); a day and a year of one column from the click to the first
paint in headless Chromium (median of 5) and the plot request alone; the CSV
export of a day of 40 columns; the program's resident memory. Nothing is
asserted.
"""
import argparse
import http.client
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser  # noqa: E402

DB = "climalog_bench_web"


def psql(sql, db=DB):
    subprocess.run(["psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", db, "-c", sql], check=True, capture_output=True)


def get(port, path, conn=None):
    c = conn or http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    t = time.perf_counter()
    c.request("GET", path)
    r = c.getresponse()
    body = r.read()
    return (time.perf_counter() - t) * 1000, r.status, body


def memory(pid):
    fields = {}
    for line in open(f"/proc/{pid}/status"):
        key, _, value = line.partition(":")
        fields[key] = value.strip()
    return fields["VmRSS"], fields["VmHWM"]


def clients(port, count, every, seconds):
    lat, lock = [], threading.Lock()
    stop = time.monotonic() + seconds

    def client(k):
        time.sleep(every * k / count)  # spread over the period, as pages opened at different times
        c = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        while time.monotonic() < stop:
            ms, status, _ = get(port, "/api/resumen", c)
            with lock:
                lat.append(ms)
            time.sleep(max(0, every - ms / 1000))

    threads = [threading.Thread(target=client, args=(k,)) for k in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    lat.sort()
    return statistics.median(lat), lat[int(len(lat) * 0.95)], len(lat)


def paint(d, base, columna, estacion, rango, runs=5):
    d.get(base + "/")
    d.set_script_timeout(300)
    times = []
    for _ in range(runs):
        found = d.execute_async_script("""
            const [columna, estacion, rango, done] = arguments;
            (function wait() {
              const filas = [...document.querySelectorAll('article.estacion')]
                .filter(a => a.dataset.estacion === estacion)
                .flatMap(a => [...a.querySelectorAll('tr[data-serie]')]);
              if (filas.length === 0) return setTimeout(wait, 50);
              for (const tr of document.querySelectorAll('#resumen input:checked')) tr.checked = false;
              filas.find(tr => tr.querySelector('.columna').textContent === columna).querySelector('input').checked = true;
              document.getElementById('intervalo').value = rango;
              delete document.getElementById('lienzos').dataset.cargada;
              const t0 = performance.now();
              document.getElementById('dibujar').click();
              (function drawn() {
                const fallo = document.getElementById('mensaje').textContent;
                if (fallo) return done('fallo: ' + fallo);
                if (!document.getElementById('lienzos').dataset.cargada) return setTimeout(drawn, 2);
                requestAnimationFrame(() => requestAnimationFrame(() => done(performance.now() - t0)));
              })();
            })();""", columna, estacion, rango)
        if isinstance(found, str):
            return found
        times.append(found)
    return f"{statistics.median(times):.0f} ms"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    b = parser.parse_args().bin
    work = tempfile.mkdtemp(prefix="climalog-webbench-")
    psql(f"DROP DATABASE IF EXISTS {DB}", "postgres")
    psql(f"CREATE DATABASE {DB}", "postgres")
    subprocess.run([f"{b}/climalog-archivo", "--preparar", f"postgresql:///{DB}"], check=True, capture_output=True)
    psql("DO $$ BEGIN CREATE ROLE lector_bench LOGIN IN ROLE climalog_lectura; EXCEPTION WHEN duplicate_object THEN END $$")

    stations = [("est01", 2, 1, 40)] + [(f"est{k:02}", 1, 10, 40) for k in range(2, 11)] + [("anual", 366, 60, 1)]
    t = time.monotonic()
    for name, days, step, cols in stations:
        folder = os.path.join(work, name)
        subprocess.run([f"{b}/web_bench_capturas", folder, str(days), str(step), str(cols)], check=True)
        subprocess.run([f"{b}/climalog-archivo", "--una-vez", "--estacion", name, f"postgresql:///{DB}",
                        os.path.join(folder, "1")], check=True, capture_output=True)
    print(f"Archived 10 stations of 40 columns and a year of one column in {time.monotonic() - t:.0f} s")

    web = subprocess.Popen([f"{b}/climalog-web", f"postgresql:///{DB}?user=lector_bench", "--escuchar", "127.0.0.1:0"],
                           stdout=subprocess.PIPE, text=True)
    base = web.stdout.readline().split()[2].rstrip("/")
    port = int(base.rsplit(":", 1)[1])
    try:
        cold = []
        for _ in range(20):
            ms, status, body = get(port, "/api/resumen")
            cold.append(ms)
            time.sleep(0.6)  # past the shared answer's half second: the database is asked every time
        count = len(json.loads(body)["series"])
        print(f"Overview of {count} series, database asked each time: median {statistics.median(cold):.1f} ms")
        med, p95, n = clients(port, 50, 2.0, 20)
        print(f"Overview, 50 clients refreshing every 2 s for 20 s ({n} answers): median {med:.2f} ms, 95th percentile {p95:.2f} ms")

        d = browser.chromium(width=1400, height=1000)
        try:
            day = paint(d, base, "Sonda 1 (ºC)", "est01", "86400")
            year = paint(d, base, "Sala (ºC)", "anual", "31536000")
        finally:
            browser.close(d)
        print(f"A day of one column at a line a second, click to first paint: median {day}")
        print(f"A year of one column, click to first paint: median {year}")
        now = time.time()
        for label, span, station in (("day", 86400, "est01"), ("year", 31536000, "anual")):
            _, _, body = get(port, "/api/resumen")
            serie = next(s["serie"] for s in json.loads(body)["series"] if s["estacion"] == station and s["orden"] == 1)
            q = (f"/api/tramo?series={serie}&desde={time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(now - span))}"
                 f"&hasta={time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(now))}&cubos=1380")
            answers = [get(port, q) for _ in range(5)]
            failed = [a for a in answers if a[1] != 200]
            if failed:
                print(f"Plot request alone, a {label} reduced to 1380 buckets: refused: {failed[0][2].decode()}")
            else:
                print(f"Plot request alone, a {label} reduced to 1380 buckets: "
                      f"median {sorted(a[0] for a in answers)[2]:.1f} ms")
        # The export streams: a day of a 40-column station never sits whole in memory.
        _, _, body = get(port, "/api/resumen")
        keys = ",".join(str(x["serie"]) for x in json.loads(body)["series"] if x["estacion"] == "est01")
        day = (f"/api/csv?series={keys}&desde={time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(now - 86400))}"
               f"&hasta={time.strftime('%Y-%m-%dT%H:%M:%SZ', time.gmtime(now))}")
        ms, status, csv = get(port, day)
        lines = csv.count(b"\n") - 1
        print(f"CSV of a day of 40 columns: {lines} lines, {len(csv) / 1e6:.1f} MB in {ms / 1000:.1f} s")
        rss, peak = memory(web.pid)
        print(f"climalog-web resident memory: {rss} now, {peak} at most")
    finally:
        web.terminate()
        web.wait(30)
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
