#!/usr/bin/python3
"""The README's screenshots of the web page: two stations captured by the
monitor's own capture writer, archived by climalog-archivo into a database of
the private server of scripts/testdb.sh, served by climalog-web and taken in
headless Chromium. Usage (scripts/screenshot.sh runs it):
  scripts/testdb.sh run /usr/bin/python3 scripts/web_screenshots.py BIN_FOLDER DOCS_FOLDER
"""
import datetime
import math
import os
import subprocess
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(root, "tests", "web"))
import browser  # noqa: E402
import test_pagina as t  # noqa: E402
from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.actions.wheel_input import ScrollOrigin  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

DB = "climalog_pantallas"


def main():
    t.BIN, docs = os.path.abspath(sys.argv[1]), sys.argv[2]
    os.environ["TZ"] = t.ZONA
    time.tzset()
    work = tempfile.mkdtemp(prefix="climalog-pantallas-")
    t.psql(f"DROP DATABASE IF EXISTS {DB}", "postgres")
    t.psql(f"CREATE DATABASE {DB}", "postgres")
    subprocess.run([f"{t.BIN}/climalog-archivo", "--preparar", f"postgresql:///{DB}"], check=True, capture_output=True)
    now = t.ahora()
    # A greenhouse that warmed past its limit, still capturing, and a cold
    # room whose capture stopped ten minutes ago.
    for station, base, stop in (("camara-b", 19.0, 600), ("invernadero-1", 20.0, 0)):
        folder = os.path.join(work, station)
        os.mkdir(folder)
        captura = t.Captura(folder)
        moment, i = now - datetime.timedelta(hours=30), 0
        while moment < now - datetime.timedelta(seconds=stop):
            sala = base + 2.5 * math.sin(i / 400) + (i % 7) / 20 + (1.5 if i > 10700 else 0)
            captura.linea(moment, f"{sala:.1f}", f"{sala - 3:.1f}", str(round(58 + 6 * math.sin(i / 900))), str(i // 900 % 2), "0")
            moment += datetime.timedelta(seconds=10)
            i += 1
        subprocess.run([f"{t.BIN}/climalog-archivo", "--una-vez", "--estacion", station, "--zona", t.ZONA,
                        f"postgresql:///{DB}", os.path.join(folder, "1")], check=True, capture_output=True)
    archivo = subprocess.Popen([f"{t.BIN}/climalog-archivo", "--estacion", station, "--zona", t.ZONA,
                                f"postgresql:///{DB}", os.path.join(folder, "1")],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    web = t.Web("--escuchar", "127.0.0.1:0", "--usuarios", os.path.join(work, "nadie.txt"), conn=f"postgresql:///{DB}")
    d = browser.chromium(width=1300, height=980)
    try:
        d.get(web.url + "/")
        t.until(lambda: d.find_elements(By.CSS_SELECTOR, "article.estacion"))
        captura.linea(t.ahora(), f"{sala + 0.1:.1f}", f"{sala - 3:.1f}", "61", "1", "0")
        time.sleep(2.5)
        d.save_screenshot(os.path.join(docs, "web-resumen.png"))
        rows = d.find_elements(By.CSS_SELECTOR, "article.estacion")[1].find_elements(By.CSS_SELECTOR, "tr[data-serie]")
        for row in rows[0:1] + rows[2:4]:
            row.find_element(By.TAG_NAME, "input").click()
        d.find_element(By.ID, "dibujar").click()
        t.until(lambda: d.execute_script("return document.getElementById('lienzos').dataset.cargada"))
        over = d.find_element(By.CSS_SELECTOR, ".grupo .u-over")
        ActionChains(d).scroll_from_origin(ScrollOrigin.from_element(over, over.size["width"] // 4, 0), 0, -200).perform()
        time.sleep(2)
        d.execute_script("document.getElementById('graficas').scrollIntoView()")
        time.sleep(0.5)
        d.save_screenshot(os.path.join(docs, "web-graficas.png"))
    finally:
        browser.close(d)
        web.stop()
        archivo.terminate()
        captura.proc.stdin.close()
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
