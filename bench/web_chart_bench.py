#!/usr/bin/python3
"""Chooses the page's chart library by measurement: the time from the data in
hand to the first paint of a day of one column at one reading a second
(86 400 points), the time to redraw a zoom to half of it, and the script heap
the data and the chart keep, in headless Chromium, for each library on this machine.

Usage: bench/web_chart_bench.py [RUNS]   (5 runs each by default; the median is printed)
"""
import os
import statistics
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "web"))
import browser  # noqa: E402

UPLOT = os.path.join(here, "..", "src", "web", "node_modules", "uplot", "dist")
DYGRAPHS = "/usr/share/javascript/dygraphs"

# The day: a slow wave with noise and an hour of gap at noon, as a capture
# with the station stopped would give.
DATA = """
const N = 86400, t0 = Date.UTC(2026, 11, 7) / 1000;
function day() {
  const x = new Float64Array(N), y = new Array(N);
  let seed = 1;
  for (let i = 0; i < N; i++) {
    seed = (seed * 16807) % 2147483647;
    x[i] = t0 + i;
    y[i] = (i >= 43200 && i < 46800) ? null : 20 + 3 * Math.sin(i / 8000) + (seed / 2147483647 - 0.5) * 0.2;
  }
  return [x, y];
}
function frames() { return new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r))); }
async function measure(draw, zoom) {
  await frames();
  if (window.gc) gc();
  const heap0 = performance.memory.usedJSHeapSize;
  const [x, y] = day();
  const start = performance.now();
  const chart = draw(x, y);
  await frames();
  const paint = performance.now() - start;
  const z0 = performance.now();
  zoom(chart);
  await frames();
  const redraw = performance.now() - z0;
  if (window.gc) gc();
  window.result = {paint, redraw, heap: (performance.memory.usedJSHeapSize - heap0) / 1048576};
}
"""

PAGES = {
    "uPlot (npm uplot)": (
        f'<link rel="stylesheet" href="file://{UPLOT}/uPlot.min.css"><script src="file://{UPLOT}/uPlot.iife.min.js"></script>',
        """measure((x, y) => new uPlot({width: 1200, height: 400, series: [{}, {stroke: '#1f77b4', width: 1}]},
                                      [x, y], document.getElementById('g')),
                   c => c.setScale('x', {min: t0, max: t0 + N / 2}));""",
        os.path.join(UPLOT, "uPlot.iife.min.js")),
    "dygraphs (Debian libjs-dygraphs)": (
        f'<link rel="stylesheet" href="file://{DYGRAPHS}/dygraph.min.css"><script src="file://{DYGRAPHS}/dygraph.min.js"></script>',
        """measure((x, y) => {
             const rows = new Array(N);
             for (let i = 0; i < N; i++) rows[i] = [new Date(x[i] * 1000), y[i]];
             return new Dygraph(document.getElementById('g'), rows,
                                {width: 1200, height: 400, colors: ['#1f77b4'], labels: ['Hora', 'Sala']});
           }, c => c.updateOptions({dateWindow: [t0 * 1000, (t0 + N / 2) * 1000]}));""",
        os.path.join(DYGRAPHS, "dygraph.min.js")),
}


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    folder = tempfile.mkdtemp(prefix="climalog-chart-")
    driver = browser.chromium(extra=["--js-flags=--expose-gc"])
    try:
        print(f"A day of one column, 86 400 points, 1200 x 400 pixels; median of {runs} runs")
        for name, (head, body, lib) in PAGES.items():
            if not os.path.exists(lib):
                print(f"{name}: not installed ({lib})")
                continue
            page = os.path.join(folder, "chart.html")
            with open(page, "w") as f:
                f.write(f"<!doctype html><html><head>{head}</head><body><div id=g></div>"
                        f"<script>{DATA}{body}</script></body></html>")
            results = []
            for _ in range(runs):
                driver.get("file://" + page)
                driver.set_script_timeout(60)
                results.append(driver.execute_async_script(
                    "const done = arguments[0]; (function wait() { window.result ? done(window.result) : setTimeout(wait, 20); })();"))
            med = {k: statistics.median(r[k] for r in results) for k in results[0]}
            print(f"{name}: first paint {med['paint']:.0f} ms, zoom to half redrawn {med['redraw']:.0f} ms, "
                  f"script heap with the data {med['heap']:.1f} MB, library {os.path.getsize(lib) / 1024:.0f} KB")
    finally:
        browser.close(driver)


if __name__ == "__main__":
    main()
