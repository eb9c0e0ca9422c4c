#!/usr/bin/python3
"""The web page in a real browser: the real climalog-web on the private
PostgreSQL of the test command (scripts/testdb.sh), capture files written by
the monitor's own capture writer (captura_web) and archived by the real
climalog-archivo, driven in headless Chromium whose clock is in another time
zone than every station's; alarms written by the test as the schema's
owner for the "Avisos" panel. With CLIMALOG_PRIMER_FALLO=1 the run stops at
the first failure (the mutation runner sets it)."""
import argparse
import datetime
import email
import email.policy
import glob
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import zoneinfo

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.select import Select
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.wait import WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402
import comun  # noqa: E402
from comun import until  # noqa: E402

BIN = ""
ZONA = "Europe/Madrid"
CANARIAS = "Atlantic/Canary"   # the second station's zone, an hour behind
NAVEGADOR = "Asia/Tokyo"       # the browser's own, far from both
SUR = "<b>sur</b>"             # markup in names is text, never run
LARGO = "mirador_de_la_sierra_norte_estacion_meteorologica_numero_3"  # nowhere to break
DB = "climalog_web"
CLAVE = "cierzo-de-enero"
sitio = None


def ahora(zona=ZONA):
    """A station's wall-clock time now."""
    return datetime.datetime.now(zoneinfo.ZoneInfo(zona)).replace(microsecond=0, tzinfo=None)


def owner(cmd, **kw):
    """A command as the database server's owner (not root)."""
    if os.getuid() == 0:
        cmd = ["runuser", "-u", "climalog-pg", "--"] + cmd
    return subprocess.run(cmd, check=True, capture_output=True, text=True, **kw)


def psql(sql, db=DB):
    return comun.psql(sql, db)


def avisos_una_vez(carpeta, reglas):
    """The real climalog-avisos run once with the rules `reglas` (@PUERTO@ the
    mail server's port), beside the alarm tests' real mail server: its
    result and the mails the server took, parsed."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        puerto = s.getsockname()[1]
    recibidos = os.path.join(carpeta, "correo")
    os.makedirs(recibidos)
    servidor = subprocess.Popen(["/usr/bin/python3", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                 "alarms", "smtp_server.py"), "--port", str(puerto), "--folder", recibidos],
                                stdout=subprocess.PIPE, text=True)
    try:
        if servidor.stdout.readline().strip() != "listo":
            raise RuntimeError("the mail server did not start")
        conf = os.path.join(carpeta, "avisos.conf")
        with open(conf, "w", encoding="utf-8") as f:
            f.write(reglas.replace("@PUERTO@", str(puerto)))
        r = subprocess.run([os.path.join(BIN, "climalog-avisos"), "--conexion", f"postgresql:///{DB}", "--reglas", conf,
                            "--una-vez"], capture_output=True, text=True, timeout=120)
        correos = []
        for nombre in sorted(glob.glob(os.path.join(recibidos, "*.eml"))):
            with open(nombre, "rb") as f:
                correos.append(email.message_from_bytes(f.read(), policy=email.policy.default))
        return r, correos
    finally:
        servidor.terminate()
        servidor.wait()


def Captura(folder, port="1", red=None, zona=ZONA):
    return comun.Captura(BIN, folder, port, red, zona)


def Web(*args, conn=f"postgresql:///{DB}?user=lector_web"):
    return comun.Web(BIN, conn, *args)


class Sitio:
    """The database and three stations: one with four hours of captures (a
    gap, failed reads, the last reading outside its limits) followed by the
    archive, and a second port stopped ten minutes ago; "<b>sur</b>", an hour
    behind, read every five minutes, its heater last exactly at its minimum
    and its relay device's first input active; and a station with a long
    name stopped 87 minutes ago, its sensor last exactly at its maximum.
    Then the web program with one user, and a browser."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="climalog-web-")
        os.chmod(self.dir, 0o755)
        comun.base(BIN, DB, "lector_web")
        # The stations archived once, before the one followed: its last line
        # must still be current when the tests look.
        self.sur = Captura(os.path.join(self.dir, "sur"), red="reles", zona=CANARIAS)
        # The last line four minutes ago: current for a port read every five.
        self.fin_sur = ahora(CANARIAS) - datetime.timedelta(minutes=4, seconds=1)
        for k in range(48, 0, -1):
            self.sur.escribe(self.fin_sur - datetime.timedelta(minutes=5 * k), f"{19 + k % 5 * 0.5:.1f}", "0", "1")
        self.sur.escribe(self.fin_sur, "18", "1", "0")
        self.sur.cierra()
        self.archivar(SUR, CANARIAS, os.path.join(self.dir, "sur"), "1")
        self.largo = Captura(os.path.join(self.dir, "largo"))
        for m in range(120, 87, -1):
            self.largo.linea(ahora() - datetime.timedelta(minutes=m), "20" if m > 88 else "22")
        self.largo.cierra()
        self.archivar(LARGO, ZONA, os.path.join(self.dir, "largo"), "1")
        self.estacion = os.path.join(self.dir, "estacion")
        os.mkdir(self.estacion)
        self.captura = Captura(self.estacion)
        now = ahora()
        self.hueco = (now - datetime.timedelta(minutes=150), now - datetime.timedelta(minutes=130))
        t, i = now - datetime.timedelta(hours=4), 0
        while t < now - datetime.timedelta(seconds=30):
            if not self.hueco[0] <= t < self.hueco[1]:
                sala = "ERR" if i % 500 == 7 else f"{20 + (i % 60) / 10:.1f}".replace(".", ",")
                self.captura.linea(t, sala.replace(",", "."), p1=str(i // 100 % 2))
            t += datetime.timedelta(seconds=4)
            i += 1
        self.captura.linea(ahora(), "25.5", "31", "48", "1", "0")
        # Port 2 stopped capturing ten minutes ago.
        parada = Captura(self.estacion, "2")
        for k in range(10, 0, -1):
            parada.linea(ahora() - datetime.timedelta(minutes=10, seconds=k), "20")
        parada.cierra()
        self.archivar("invernadero-1", ZONA, self.estacion, "1", "2")
        archivo = [os.path.join(BIN, "climalog-archivo"), "--estacion", "invernadero-1", "--zona", ZONA,
                   f"postgresql:///{DB}", os.path.join(self.estacion, "1"), os.path.join(self.estacion, "2")]
        self.archivo = subprocess.Popen(archivo, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.usuarios = os.path.join(self.dir, "usuarios.txt")
        assert comun.usuario(BIN, self.usuarios, "ana", CLAVE).returncode == 0
        self.web = Web("--usuarios", self.usuarios)
        self.descargas = os.path.join(self.dir, "descargas")
        os.mkdir(self.descargas)
        self.driver = browser.chromium(downloads=self.descargas, width=1400, height=1000, zone=NAVEGADOR,
                                       network=True)

    def archivar(self, estacion, zona, folder, *ports):
        comun.archivo(BIN, "--estacion", estacion, "--zona", zona, "--una-vez", f"postgresql:///{DB}",
                      *(os.path.join(folder, p) for p in ports))

    def close(self):
        browser.close(self.driver)
        self.web.stop()
        self.archivo.terminate()
        self.archivo.wait(30)
        self.captura.cierra()
        shutil.rmtree(self.dir, ignore_errors=True)

    def entra(self, web, clave=CLAVE):
        """The login form filled in and sent; returns once the browser has
        left the form's page (the answer is another page, so the form's
        elements go stale: nothing of the old page is read after that)."""
        d = self.driver
        d.get(web.url + "/")
        until(lambda: d.current_url.endswith("/entrar"))
        form = d.find_element(By.TAG_NAME, "form")
        d.find_element(By.ID, "usuario").send_keys("ana")
        d.find_element(By.ID, "clave").send_keys(clave)
        d.find_element(By.ID, "entrar").click()
        WebDriverWait(d, 20).until(expected_conditions.staleness_of(form))

    def filas(self):
        """Every row of the overview as the user sees it, read at one moment
        of the page (so no row is rebuilt halfway through)."""
        return self.driver.execute_script("""
            return [...document.querySelectorAll('#resumen tr[data-serie]')].map(tr => ({
              estacion: tr.closest('article').dataset.estacion, puerto: tr.closest('table').dataset.puerto,
              columna: tr.querySelector('.columna').innerText, valor: tr.querySelector('.valor').innerText,
              unidad: tr.querySelector('.unidad').innerText, hora: tr.querySelector('.hora').innerText,
              marca: tr.querySelector('.marca').innerText, clases: tr.className, serie: +tr.dataset.serie}));""")

    def fila(self, columna, puerto="1", estacion="invernadero-1"):
        return next((f for f in self.filas()
                     if (f["estacion"], f["puerto"], f["columna"]) == (estacion, puerto, columna)), None)

    def celda(self, columna, cell, puerto="1", estacion="invernadero-1"):
        f = self.fila(columna, puerto, estacion)
        return f[cell] if f else None

    def marca_casilla(self, columna, puerto="1", estacion="invernadero-1"):
        """Ticks or unticks a column's box with a real click; a table rebuilt
        between finding the box and the click is looked up again."""
        d = self.driver

        def click():
            try:
                d.find_element(By.CSS_SELECTOR, f"tr[data-serie='{self.fila(columna, puerto, estacion)['serie']}'] input").click()
                return True
            except StaleElementReferenceException:
                return False
        assert until(click), f"no box for {columna}"

    def cookie(self):
        return "climalog_sesion=" + self.driver.get_cookie("climalog_sesion")["value"]


def setUpModule():
    global sitio
    sitio = Sitio()


def tearDownModule():
    if sitio:
        sitio.close()


class Pagina(unittest.TestCase):
    """In order: each step leaves the page where the next one starts."""

    def test_1_entrar(self):
        d = sitio.driver
        self.assertEqual(d.execute_script("return Intl.DateTimeFormat().resolvedOptions().timeZone"), NAVEGADOR)
        sitio.entra(sitio.web, "otra")
        self.assertIn("Usuario o contraseña incorrectos", d.find_element(By.ID, "mensaje").text)
        self.assertIsNone(d.get_cookie("climalog_sesion"))
        sitio.entra(sitio.web)
        self.assertTrue(until(lambda: sitio.fila("Sala (ºC)")), "no overview after the login")
        c = d.get_cookie("climalog_sesion")
        self.assertTrue(c["httpOnly"])
        self.assertEqual(c["sameSite"], "Strict")
        self.assertGreater(c["expiry"], time.time() + 3600)

    def test_2_resumen(self):
        ultima = f"{sitio.captura.lineas()[-1][0]:%d-%m-%Y %H:%M:%S}"
        sur = f"{sitio.fin_sur:%d-%m-%Y %H:%M:%S}"
        until(lambda: sitio.fila("<b>Horno</b> (ºC)", estacion=SUR))
        rows = {(f["estacion"], f["puerto"], f["columna"]): f for f in sitio.filas()}
        expected = {
            # (station, port, column): value, unit, time (the station's own), mark
            ("invernadero-1", "1", "Sala (ºC)"): ("25,5", "ºC", ultima, "Sobre el máximo (22)"),
            # action "Ninguno": never a warning
            ("invernadero-1", "1", "Invernadero (ºC)"): ("31", "ºC", ultima, ""),
            ("invernadero-1", "1", "Invernadero (%)"): ("48", "%", ultima, ""),
            ("invernadero-1", "1", "Puerta - 1"): ("1", "", ultima, "Entrada activa"),
            ("invernadero-1", "1", "Puerta - 2"): ("0", "", ultima, ""),
            # exactly at the minimum is inside, as in the monitor's warning list;
            # read every five minutes, four minutes ago is current
            (SUR, "1", "<b>Horno</b> (ºC)"): ("18", "ºC", sur, ""),
            (SUR, "1", "<i>Bomba</i> - 1"): ("1", "", sur, "Entrada activa"),
            (SUR, "1", "<i>Bomba</i> - 2"): ("0", "", sur, ""),
        }
        for key, (valor, unidad, hora, marca) in expected.items():
            with self.subTest(key):
                self.assertIn(key, rows)
                got = rows[key]
                self.assertEqual((got["valor"], got["unidad"], got["hora"], got["marca"]), (valor, unidad, hora, marca))
        self.assertIn("aviso", rows[("invernadero-1", "1", "Sala (ºC)")]["clases"])
        parada = rows[("invernadero-1", "2", "Sala (ºC)")]
        self.assertRegex(parada["marca"], r"^Sin lecturas desde hace 1[0-2] min$")
        self.assertIn("antigua", parada["clases"])
        # Exactly at the maximum is inside too: only the stop is marked.
        self.assertRegex(rows[(LARGO, "1", "Sala (ºC)")]["marca"], r"^Sin lecturas desde hace (8[89]|9\d) min$")
        d = sitio.driver
        # Names are shown as written: no element comes from them.
        self.assertEqual(d.execute_script("return document.querySelectorAll('#resumen b, #resumen i, #sumario b, #sumario i').length"), 0)
        titulos = d.execute_script("return [...document.querySelectorAll('#resumen h2')].map(e => e.innerText)")
        for nombre in (SUR, "invernadero-1", LARGO):
            self.assertEqual(sum(t.startswith(nombre) for t in titulos), 1, (nombre, titulos))

    def test_2a_avisos(self):
        # Three alarms: one active on each Madrid station (one of a whole
        # port), one ended an hour ago in the Canaries; at whole seconds, so
        # the page's times can be told exactly.
        d = sitio.driver
        now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
        t = {"sala": now - datetime.timedelta(minutes=40), "parada": now - datetime.timedelta(minutes=80),
             "horno": now - datetime.timedelta(hours=3), "fin": now - datetime.timedelta(hours=1)}
        ts = {k: v.strftime("%Y-%m-%d %H:%M:%S+00") for k, v in t.items()}
        local = lambda k, zona: t[k].astimezone(zoneinfo.ZoneInfo(zona)).strftime("%d-%m-%Y %H:%M:%S")

        def alta(estacion, columna, condicion, inicio, fin, extremo, limite):
            serie = "NULL" if columna is None else \
                f"(SELECT s.id FROM climalog.serie s WHERE s.puerto = p.id AND s.columna = '{columna}')"
            return int(psql(
                "INSERT INTO climalog.aviso (puerto, serie, condicion, regla, inicio, fin, extremo, limite)"
                f" SELECT p.id, {serie}, '{condicion}', 'r', '{inicio}', {fin}, {extremo}, {limite}"
                " FROM climalog.puerto p JOIN climalog.estacion e ON e.id = p.estacion"
                f" WHERE e.nombre = '{estacion}' AND p.nombre = '1' RETURNING id").split()[0])

        psql("DELETE FROM climalog.salida; DELETE FROM climalog.envio; DELETE FROM climalog.aviso")
        ids = {"sala": alta("invernadero-1", "Sala (ºC)", "alto", ts["sala"], "NULL", 25.5, 22),
               "parada": alta(LARGO, None, "parada", ts["parada"], "NULL", "NULL", 300),
               "horno": alta(SUR, "<b>Horno</b> (ºC)", "bajo", ts["horno"], f"'{ts['fin']}'", 17.5, 18)}
        filas = """return [...document.querySelectorAll('#avisos-lista tbody tr')].map(tr => ({
            id: +tr.dataset.aviso, clases: tr.className, botones: [...tr.querySelectorAll('button')].map(b => b.innerText),
            celdas: [...tr.querySelectorAll('td:not(.acciones)')].map(td => td.innerText)}));"""
        leidas = until(lambda: (lambda f: f if len(f) == 3 else None)(d.execute_script(filas)), timeout=30)
        self.assertTrue(leidas, d.execute_script(filas))
        # Active first, newest first; each in its station's time; the ended one cannot be silenced.
        self.assertEqual([f["id"] for f in leidas], [ids["sala"], ids["parada"], ids["horno"]])
        self.assertEqual(leidas[0]["celdas"], ["invernadero-1", "1", "Sala (ºC)", "Sobre el máximo", local("sala", ZONA), "",
                                               "25,5 ºC", "22 ºC", "Activo · sin reconocer"])
        self.assertEqual(leidas[1]["celdas"], [LARGO, "1", "(el puerto)", "Puerto parado", local("parada", ZONA), "", "",
                                               "300", "Activo · sin reconocer"])
        self.assertEqual(leidas[2]["celdas"], [SUR, "1", "<b>Horno</b> (ºC)", "Bajo el mínimo", local("horno", CANARIAS),
                                               local("fin", CANARIAS), "17,5 ºC", "18 ºC", "Terminado · sin reconocer"])
        self.assertEqual([f["botones"] for f in leidas], [["Reconocer", "Silenciar"]] * 2 + [["Reconocer"]])
        self.assertTrue(all("sinreconocer" in f["clases"] for f in leidas))
        self.assertEqual(d.find_element(By.ID, "avisos-cabeza").text, "2 activos, 3 sin reconocer.")

        def boton(aviso, clase):
            d.find_element(By.CSS_SELECTOR, f"#avisos-lista tr[data-aviso='{aviso}'] button.{clase}").click()

        def fila_db(aviso):
            return psql("SELECT coalesce(reconocido_por, ''), coalesce(comentario, ''), coalesce(silenciado_por, ''),"
                        " coalesce(round(extract(epoch FROM silenciado_hasta - now()) / 60), 0)"
                        f" FROM climalog.aviso WHERE id = {aviso}").strip().split("|")

        browser.sent(d, "POST")
        comentario = "Ventana abierta; <b>revisado</b>"
        boton(ids["sala"], "reconocer")
        d.find_element(By.ID, "comentario").send_keys(comentario)
        d.find_element(By.ID, "accion-enviar").click()
        self.assertTrue(until(lambda: fila_db(ids["sala"])[0] == "ana"), fila_db(ids["sala"]))
        self.assertEqual(fila_db(ids["sala"])[1], comentario)
        # The acknowledgement's mail, from the real alarm program, to the one
        # recipient of the alarm's rule who asked for acknowledgements. The
        # rule watches no station: it raises nothing of its own.
        r, correos = avisos_una_vez(os.path.join(sitio.dir, "avisos"), (
            "[correo]\nservidor = smtp://127.0.0.1:@PUERTO@\ntls = no\nreunir = 0\nremitente = avisos@example.org\n"
            "[destinatario jefa]\ncorreo = jefa@example.org\nreconocimientos = si\n"
            "[destinatario luis]\ncorreo = luis@example.org\n"
            "[regla r]\nestaciones = ninguna\ncondiciones = alto\ndestinatarios = luis, jefa\n"))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual([c["To"] for c in correos], ["jefa@example.org"])
        self.assertEqual(correos[0]["Subject"], "Aviso reconocido por ana: invernadero-1, puerto 1, Sala (ºC) sobre el máximo")
        self.assertEqual(correos[0].get_content().splitlines()[0], "Aviso reconocido por ana: " + comentario)
        self.assertEqual(psql(f"SELECT suceso, destinatario FROM climalog.salida s WHERE s.aviso = {ids['sala']}"),
                         "reconocido|jefa\n")
        self.assertTrue(until(lambda: d.execute_script(filas)[0]["celdas"][-1].startswith("Activo · reconocido por ana el ")),
                        d.execute_script(filas))
        self.assertEqual(d.execute_script(filas)[0]["botones"], ["Silenciar"])
        self.assertFalse(d.find_element(By.ID, "accion").is_displayed())
        # Silenced for four hours of the choices offered.
        boton(ids["parada"], "silenciar")
        duracion = Select(d.find_element(By.ID, "duracion"))
        self.assertEqual([o.text for o in duracion.options], ["15 min", "1 h", "4 h", "1 día"])
        duracion.select_by_visible_text("4 h")
        d.find_element(By.ID, "accion-enviar").click()
        self.assertTrue(until(lambda: fila_db(ids["parada"])[3] == "240"), fila_db(ids["parada"]))
        self.assertEqual(fila_db(ids["parada"])[:3], ["", "", "ana"])
        self.assertTrue(until(lambda: "silenciado hasta" in d.execute_script(filas)[1]["celdas"][-1]))
        # Each write carried the page's origin and the session's token, never the cookie's value.
        posts = browser.sent(d, "POST")
        self.assertEqual([u[len(sitio.web.url):] for u, _ in posts], ["/api/avisos/reconocer", "/api/avisos/silenciar"])
        for _, h in posts:
            self.assertEqual(h.get("origin"), sitio.web.url)
            self.assertRegex(h.get("x-climalog-ficha", ""), "^[0-9a-f]{64}$")
            self.assertNotIn(h["x-climalog-ficha"], h.get("cookie", ""))
        # The history of one station shows who acknowledged it and why; its CSV too.
        d.find_element(By.CSS_SELECTOR, "#historia summary").click()
        Select(d.find_element(By.ID, "historia-estacion")).select_by_visible_text("invernadero-1")
        d.find_element(By.ID, "historia-buscar").click()
        historia = """return [...document.querySelectorAll('#historia-lista tbody tr')].map(tr =>
            [+tr.dataset.aviso, tr.querySelector('.estado').innerText, tr.querySelector('.comentario').innerText]);"""
        h = until(lambda: d.execute_script(historia))
        self.assertEqual(len(h), 1, h)
        self.assertEqual(h[0][0], ids["sala"])
        self.assertTrue(h[0][1].startswith("Activo · reconocido por ana el "), h)
        self.assertEqual(h[0][2], comentario)
        self.assertEqual(d.execute_script("return document.querySelectorAll('#avisos b').length"), 0)
        href = d.find_element(By.ID, "historia-csv").get_attribute("href")
        self.assertIn("estacion=invernadero-1", href)
        status, body, _ = sitio.web.pide("GET", href[len(sitio.web.url):], cookie=sitio.cookie())
        self.assertEqual(status, 200)
        lines = body.decode("cp1252").split("\r\n")
        self.assertEqual(len(lines), 3, lines)
        cells = lines[1].split(";")
        self.assertEqual(cells[:9], ["invernadero-1", "1", "Sala (ºC)", "Sobre el máximo", "r",
                                     t["sala"].astimezone(zoneinfo.ZoneInfo(ZONA)).strftime("%Y-%m-%dT%H:%M:%S"), "",
                                     "25,5", "22"])
        self.assertEqual(cells[9], "ana")
        self.assertEqual(lines[1].split(";", 11)[11], f'"{comentario}";;')

    def test_2b_avisos_y_sumario(self):
        d = sitio.driver
        cuentas = dict(d.execute_script("return [...document.querySelectorAll('article.estacion')].map(a => [a.dataset.estacion, a.querySelector('.cuenta').innerText])"))
        # Warnings, ERR and stale rows alike: a row that deserves a look.
        self.assertEqual(cuentas, {"invernadero-1": "7 avisos", SUR: "1 aviso", LARGO: "5 avisos"})
        sumario = d.execute_script("""const s = document.getElementById('sumario'), r = s.getBoundingClientRect();
            return {top: r.top, bottom: r.bottom, alto: innerHeight, enlaces: [...s.querySelectorAll('a')].map(a => a.innerText),
                    antes: !!(s.compareDocumentPosition(document.getElementById('resumen')) & Node.DOCUMENT_POSITION_FOLLOWING)}""")
        # Seen without scrolling, the stopped station first.
        self.assertTrue(sumario["antes"] and 0 <= sumario["top"] and sumario["bottom"] <= sumario["alto"], sumario)
        self.assertEqual(len(sumario["enlaces"]), 3, sumario)
        self.assertRegex(sumario["enlaces"][0], "^" + LARGO + r": 5 avisos, sin lecturas desde hace (8[89]|9\d) min$")
        self.assertEqual(sorted(sumario["enlaces"][1:]), sorted(["invernadero-1: 7 avisos", f"{SUR}: 1 aviso"]))

    def test_2c_telefono(self):
        d = sitio.driver
        d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {"width": 390, "height": 844, "deviceScaleFactor": 3, "mobile": True})
        try:
            medidas = "return {ancho: document.documentElement.scrollWidth, vista: innerWidth, filas: [...document.querySelectorAll('#resumen tr[data-serie]')].map(tr => [tr.querySelector('.columna').innerText, tr.getBoundingClientRect().height / parseFloat(getComputedStyle(tr.querySelector('.columna')).lineHeight)])}"
            m = until(lambda: (lambda v: v if v["vista"] == 390 else None)(d.execute_script(medidas)))
            # A long name does not widen the page; a row is one line, and one more for its mark.
            self.assertLessEqual(m["ancho"], m["vista"], "the page is wider than the phone")
            altas = [(c, round(h, 1)) for c, h in m["filas"] if h >= 2.6]
            self.assertEqual(altas, [], "rows of three lines or more")
            self.assertTrue(any(h < 1.6 for _, h in m["filas"]), "no row of one line")
        finally:
            d.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

    def test_3_nueva_linea(self):
        d = sitio.driver
        d.execute_script("window.sinRecargar = true")
        sitio.captura.linea(ahora(), "ERR", "21", "50", "0", "1")
        t0 = time.monotonic()
        self.assertTrue(until(lambda: sitio.celda("Sala (ºC)", "valor") == "ERR"), "the new line never showed")
        print(f"new capture line on the page after {time.monotonic() - t0:.2f} s", file=sys.stderr)
        self.assertIn("err", sitio.fila("Sala (ºC)")["clases"])
        self.assertEqual(sitio.celda("Puerta - 2", "marca"), "Entrada activa")
        self.assertEqual(d.execute_script("return document.querySelector('article[data-estacion=\"invernadero-1\"] .cuenta').innerText"), "7 avisos")
        self.assertTrue(d.execute_script("return window.sinRecargar === true"), "the page was reloaded")
        # The page asks again every second (a line reaches it within about two).
        pedidas = lambda: d.execute_script("return performance.getEntriesByType('resource').filter(e => e.name.endsWith('/api/resumen')).map(e => e.startTime)")
        t = until(lambda: (lambda p: p if len(p) >= 8 else None)(pedidas()), timeout=60) or pedidas()
        pasos = sorted(b - a for a, b in zip(t[-8:], t[-7:]))
        self.assertEqual(len(pasos), 7, "fewer than eight overview requests in a minute")
        self.assertLess(pasos[len(pasos) // 2], 2000, pasos)

    def test_3b_sin_respuesta(self):
        # The server stops answering: within seconds the page says so and
        # marks every value as the last answer's, then comes back by itself.
        d = sitio.driver
        estado = lambda: d.find_element(By.ID, "estado").text
        self.assertTrue(until(lambda: estado().startswith("Actualizado:")))
        os.kill(sitio.web.proc.pid, signal.SIGSTOP)
        try:
            self.assertTrue(until(lambda: estado().startswith("Sin respuesta desde hace")), estado())
            self.assertTrue(until(lambda: "(el servidor no contestó en 5 s)" in estado()), estado())
            self.assertIn("Última actualización:", estado())
            filas = sitio.filas()
            self.assertTrue(filas)
            for f in filas:
                with self.subTest(f["columna"]):
                    self.assertRegex(f["marca"], r"(^| · )Sin respuesta desde hace \d+ s$")
                    self.assertIn("sinrespuesta", f["clases"])
        finally:
            os.kill(sitio.web.proc.pid, signal.SIGCONT)
        self.assertTrue(until(lambda: estado().startswith("Actualizado:")), estado())
        self.assertTrue(until(lambda: not any("sinrespuesta" in f["clases"] for f in sitio.filas())))
        self.assertEqual(sitio.celda("Sala (ºC)", "marca"), "")

    def test_4_grafica(self):
        d = sitio.driver
        for columna in ("Sala (ºC)", "Invernadero (ºC)"):
            sitio.marca_casilla(columna)
        d.find_element(By.ID, "dibujar").click()
        state = "const g = window.climalog.grafica; return {vista: g.vista, cargada: +document.getElementById('lienzos').dataset.cargada || 0, data: g.graficos.map(x => x.u.data), labels: g.graficos.map(x => x.u.series.map(s => s.label))};"
        s = until(lambda: (lambda v: v if v["cargada"] else None)(d.execute_script(state)))
        self.assertAlmostEqual(s["vista"]["max"] - s["vista"]["min"], 86400, delta=2)
        xs, sala = s["data"][0][0], s["data"][0][s["labels"][0].index("Sala (ºC)")]
        # Fewer points than lines (the server reduced them), and the station's
        # twenty stopped minutes drawn as a gap.
        lineas = sitio.captura.lineas()
        self.assertLess(len(xs), len(lineas))
        # (a bucket, about a minute wide here, may start before the first line after it)
        zona = zoneinfo.ZoneInfo(ZONA)
        inside = [i for i, x in enumerate(xs)
                  if sitio.hueco[0].replace(tzinfo=zona).timestamp() + 150 < x < sitio.hueco[1].replace(tzinfo=zona).timestamp() - 150]
        self.assertTrue(inside and all(sala[i] is None for i in inside), "no gap where the station stopped")
        # Each bucket keeps its lowest and its highest reading.
        vistas = [v["Sala (ºC)"] for t, v in lineas
                  if s["vista"]["min"] <= t.timestamp() <= s["vista"]["max"] and v["Sala (ºC)"] is not None]
        dibujadas = [v for v in sala if v is not None]
        self.assertAlmostEqual(max(dibujadas), max(vistas), places=3)
        self.assertAlmostEqual(min(dibujadas), min(vistas), places=3)
        # The wheel near the right end (the last hours) zooms in about it; a
        # drag to the left moves to later times; each view is asked for anew.
        over = d.find_element(By.CSS_SELECTOR, ".grupo .u-over")
        ActionChains(d).scroll_from_origin(ScrollOrigin.from_element(over, over.size["width"] // 2 - 30, 0), 0, -600).perform()
        span = lambda v: v["vista"]["max"] - v["vista"]["min"]
        z = until(lambda: (lambda v: v if v["cargada"] > s["cargada"] and span(v) < 86400 / 4 else None)(d.execute_script(state)))
        self.assertTrue(z, "the wheel did not zoom")
        ActionChains(d).move_to_element(over).click_and_hold().move_by_offset(-150, 0).release().perform()
        p = until(lambda: (lambda v: v if v["cargada"] > z["cargada"] and v["vista"]["min"] > z["vista"]["min"] else None)(d.execute_script(state)))
        self.assertTrue(p, "the drag did not move the view")
        self.assertAlmostEqual(span(p), span(z), delta=1)
        legend = d.find_elements(By.CSS_SELECTOR, ".grupo .u-legend .u-series")[2]
        legend.find_element(By.CSS_SELECTOR, ".u-label").click()
        self.assertIn("u-off", legend.get_attribute("class"))
        self.assertFalse(d.execute_script("return window.climalog.grafica.graficos[0].u.series[2].show"))

    def test_5_csv(self):
        d = sitio.driver
        capturas = dict(sitio.captura.lineas())
        for codificacion, decimal, encoding, sep in (("cp1252", "coma", "cp1252", ";"), ("utf8", "punto", "utf-8", ",")):
            with self.subTest(codificacion=codificacion, decimal=decimal):
                for select, value in (("codificacion", codificacion), ("decimal", decimal)):
                    d.execute_script(f"const s = document.getElementById('{select}'); s.value = '{value}';"
                                     "s.dispatchEvent(new Event('change'));")
                href = d.find_element(By.ID, "csv").get_attribute("href")
                q = urllib.parse.parse_qs(urllib.parse.urlsplit(href).query)
                status, body, _ = sitio.web.pide("GET", href[len(sitio.web.url):], cookie=sitio.cookie())
                self.assertEqual(status, 200)
                rows = body.decode(encoding).split("\r\n")
                # The columns in the order of the capture's header (the monitor sorts its devices by name).
                self.assertEqual(rows[0], sep.join(["Hora", "Invernadero (ºC)", "Sala (ºC)"]))
                self.assertEqual(rows[-1], "")
                desde, hasta = (datetime.datetime.fromisoformat(q[k][0].replace("Z", "+00:00")) for k in ("desde", "hasta"))
                want = sorted(t for t in capturas if desde <= t < hasta)
                self.assertGreater(len(want), 100)
                got = []
                for row in rows[1:-1]:
                    cells = row.split(sep)
                    t = datetime.datetime.fromisoformat(cells[0]).replace(tzinfo=zoneinfo.ZoneInfo(ZONA))
                    got.append(t)
                    values = [None if c == "" else float(c.replace(",", ".")) for c in cells[1:]]
                    self.assertEqual(values, [capturas[t]["Invernadero (ºC)"], capturas[t]["Sala (ºC)"]], row)
                self.assertEqual(got, want)

    def test_5b_comparar(self):
        # Two stations in one plot: their lines are at different times, and
        # the first station's stop stays a gap beside the other's line.
        d = sitio.driver
        sitio.marca_casilla("Invernadero (ºC)")
        sitio.marca_casilla("<b>Horno</b> (ºC)", estacion=SUR)
        d.find_element(By.ID, "dibujar").click()
        zona = zoneinfo.ZoneInfo(ZONA)
        desde, hasta = (t.replace(tzinfo=zona).timestamp() for t in sitio.hueco)
        v = until(lambda: d.execute_script("""
            const g = window.climalog.grafica;
            if (!(+document.getElementById('lienzos').dataset.cargada > 0) || g.graficos.length !== 1) return null;
            const u = g.graficos[0].u;
            if (u.series.length !== 3 || u.data[0].length === 0) return null;
            const k = u.series.findIndex(s => s.label === 'invernadero-1 - puerto 1 - Sala (ºC)');
            const otra = 3 - k;
            const dentro = u.data[0].map((x, i) => [x, i]).filter(([x]) => x > arguments[0] + 300 && x < arguments[1] - 300);
            // The canvas between the stop's edges: no pixel of the stopped line's colour.
            const ctx = u.ctx, b = u.bbox, x0 = Math.ceil(u.valToPos(arguments[0] + 300, 'x', true)),
                  x1 = Math.floor(u.valToPos(arguments[1] - 300, 'x', true));
            const px = ctx.getImageData(x0, b.top, Math.max(1, x1 - x0), b.height).data;
            let azul = 0, rojo = 0;
            for (let i = 0; i < px.length; i += 4) {
              if (px[i + 2] - px[i] > 40) azul++;
              if (px[i] - px[i + 2] > 40 && px[i] - px[i + 1] > 40) rojo++;
            }
            return {k, labels: u.series.map(s => s.label), columnas: x1 - x0,
                    otras: dentro.filter(([x, i]) => u.data[otra][i] != null).length,
                    valores: dentro.map(([x, i]) => u.data[k][i] === null ? 'null' : String(u.data[k][i])),
                    pixeles: k === 1 ? azul : rojo};""", desde, hasta))
        self.assertTrue(v, "the two stations were not drawn in one plot")
        self.assertGreater(v["k"], 0, v["labels"])
        self.assertGreater(v["otras"], 0, "the other station has no point inside the stop")
        self.assertGreater(v["columnas"], 2)
        self.assertEqual(v["pixeles"], 0, "a line is drawn across the stop")
        self.assertEqual(set(v["valores"]), {"null"}, "the stop is not a gap beside the other station")

    def test_8_replica(self):
        # A hot standby streaming from the tests' primary, and the page served
        # from it showing a line captured after it started.
        pgbin = sorted(glob.glob("/usr/lib/postgresql/*/bin"))[-1]
        standby = os.path.join(sitio.dir, "replica")
        os.mkdir(standby)
        if os.getuid() == 0:
            shutil.chown(standby, "climalog-pg")
        owner([f"{pgbin}/pg_basebackup", "-D", f"{standby}/data", "-R", "-X", "stream", "-c", "fast"])
        owner([f"{pgbin}/pg_ctl", "-D", f"{standby}/data", "-l", f"{standby}/server.log", "-w", "-o",
               f"-c listen_addresses='' -c unix_socket_directories='{standby}' -c port=5433", "start"])
        web = None
        try:
            self.assertEqual(psql("SELECT pg_is_in_recovery()", f"host={standby} port=5433 dbname={DB}").strip(), "t")
            web = Web("--usuarios", sitio.usuarios, conn=f"postgresql:///{DB}?host={standby}&port=5433&user=lector_web")
            sitio.entra(web)
            self.assertTrue(until(lambda: sitio.fila("Sala (ºC)")))
            sitio.captura.linea(ahora(), "17.5", "21", "50", "0", "0")
            t0 = time.monotonic()
            self.assertTrue(until(lambda: sitio.celda("Sala (ºC)", "valor") == "17,5"), "the standby's page never showed it")
            print(f"new capture line on the standby's page after {time.monotonic() - t0:.2f} s", file=sys.stderr)
            self.assertEqual(sitio.celda("Sala (ºC)", "marca"), "Bajo el mínimo (18)")
        finally:
            # Away from the standby's page before its program ends.
            sitio.driver.get("about:blank")
            if web:
                web.stop()
            owner([f"{pgbin}/pg_ctl", "-D", f"{standby}/data", "-m", "immediate", "-w", "stop"])

    def test_8b_informe(self):
        # A station's report from its panel, opened and sent from the keyboard:
        # today in the station's zone and every column by default; the PDF
        # names the station, the day and a column; the CSV of two dates only
        # the columns left ticked (every port's "Sala" unticked).
        d = sitio.driver
        sitio.entra(sitio.web)
        self.assertTrue(until(lambda: sitio.fila("Sala (ºC)")))
        columnas = [f"Puerto {f['puerto']} - {f['columna']}" for f in sitio.filas() if f["estacion"] == "invernadero-1"]
        d.find_element(By.CSS_SELECTOR, "article[data-estacion='invernadero-1'] button.informe").send_keys(Keys.ENTER)
        panel = until(lambda: d.execute_script("""
            const p = document.getElementById('informe');
            return p.open && p.contains(document.activeElement) && {
              fecha: document.getElementById('informe-desde').value,
              casillas: [...p.querySelectorAll('#informe-columnas label')].map(l => [l.innerText.trim(),
                                                                                     l.querySelector('input').checked])};"""))
        hoy = ahora().date()
        self.assertEqual(panel, {"fecha": hoy.isoformat(), "casillas": [[c, True] for c in columnas]})

        def descargado(nombre):
            path = os.path.join(sitio.descargas, nombre)
            return until(lambda: os.path.exists(path) and path, timeout=60)
        d.find_element(By.ID, "informe-pdf").send_keys(Keys.ENTER)
        pdf = descargado(f"invernadero-1-{hoy.isoformat()}.pdf")
        self.assertTrue(pdf, os.listdir(sitio.descargas))
        texto = " ".join(subprocess.run(["pdftotext", pdf, "-"], capture_output=True, text=True, check=True).stdout.split())
        meses = ["enero", "febrero", "marzo", "abril", "mayo", "junio", "julio", "agosto", "septiembre", "octubre",
                 "noviembre", "diciembre"]
        for want in ("invernadero-1", f"{hoy.day} de {meses[hoy.month - 1]} de {hoy.year}", "Sala (ºC)"):
            self.assertIn(want, texto)
        ayer = hoy - datetime.timedelta(days=1)
        d.find_element(By.CSS_SELECTOR, "#informe input[value='fechas']").click()
        d.execute_script("document.getElementById('informe-desde').value = arguments[0];", ayer.isoformat())
        for casilla in d.find_elements(By.XPATH, "//fieldset[@id='informe-columnas']//label[contains(., 'Sala')]/input"):
            casilla.click()
        d.find_element(By.ID, "informe-csv").click()
        csv = descargado(f"invernadero-1-{ayer.isoformat()}-a-{hoy.isoformat()}.csv")
        self.assertTrue(csv, os.listdir(sitio.descargas))
        with open(csv, encoding="utf-8") as f:
            contenido = f.read()
        self.assertIn("Invernadero (ºC)", contenido)
        self.assertNotIn("Sala (ºC)", contenido)
        d.switch_to.active_element.send_keys(Keys.ESCAPE)
        self.assertTrue(until(lambda: not d.execute_script("return document.getElementById('informe').open")))
        # The next step logs in anew. The overview asks every second: it is
        # left first, or its next question would be refused for want of the
        # session and the browser would log that refusal.
        d.get(sitio.web.url + "/entrar")
        d.delete_all_cookies()

    def test_9_consola(self):
        # Nothing the page did made the browser complain (a refused script,
        # a failed request, an error).
        logs = [e for e in sitio.driver.get_log("browser") if e["level"] == "SEVERE" and "/entrar" not in e["message"]]
        self.assertEqual(logs, [])


    def test_9b_salir(self):
        # The page's "Salir" posts its form as a browser does (what the server
        # then does with the session, the server's tests see). The login's
        # form and this one name the page's origin, so that the server can
        # tell them from another site's.
        d = sitio.driver
        browser.sent(d, "POST")
        sitio.entra(sitio.web)
        self.assertTrue(until(lambda: sitio.fila("Sala (ºC)")))
        boton = d.find_element(By.CSS_SELECTOR, "#salir button")
        boton.click()
        WebDriverWait(d, 20).until(expected_conditions.staleness_of(boton))
        self.assertTrue(until(lambda: d.current_url.endswith("/entrar")), d.current_url)
        origins = [(url[len(sitio.web.url):], h.get("origin")) for url, h in browser.sent(d, "POST")]
        self.assertEqual(origins, [("/entrar", sitio.web.url), ("/salir", sitio.web.url)])


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    args, rest = parser.parse_known_args()
    BIN = args.bin
    os.environ["TZ"] = ZONA
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, failfast=os.environ.get("CLIMALOG_PRIMER_FALLO") == "1")
