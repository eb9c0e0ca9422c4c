#!/usr/bin/python3
"""The web program over HTTP, without a browser: the real climalog-web on the
private PostgreSQL of the test command (scripts/testdb.sh), two stations'
capture files written by the monitor's own capture writer (captura_web) and
archived by the real climalog-archivo. What a browser's page cannot show:
who gets in and for how long, how guessing is slowed, which POSTs are
served, what the answers carry, and the alarms' writes: who may make them,
where they go, what they record."""
import argparse
import concurrent.futures
import datetime
import gzip
import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import comun  # noqa: E402
from comun import until  # noqa: E402

BIN = ""
DB = "climalog_web_servidor"
LECTOR = f"postgresql:///{DB}?user=lector_servidor"
CLAVE = "cierzo-de-enero"
sitio = None


def psql(sql, db=DB):
    return comun.psql(sql, db)


def iso(t):
    return t.strftime("%Y-%m-%dT%H:%M:%SZ")


def Web(*args, conn=LECTOR, usuarios=None):
    return comun.Web(BIN, conn, *args, usuarios=usuarios)


class Enlace:
    """A relay between a web program and the private server's socket, for
    database faults at a chosen point: the answers to an export's question
    held back while `libre` is clear (a slow or stuck export), and every
    connection cut at the export's FETCH number `cortar`."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.libre = threading.Event()
        self.libre.set()
        self.cortar = None
        self.palabra = b"climalog.lecturas"  # what marks a connection's answers to hold back
        threading.Thread(target=self._acepta, daemon=True).start()

    def conn(self):
        return f"postgresql://lector_servidor@127.0.0.1:{self.port}/{DB}?sslmode=disable&gssencmode=disable"

    def _acepta(self):
        while True:
            try:
                web, _ = self.listener.accept()
            except OSError:
                return
            db = socket.socket(socket.AF_UNIX)
            db.connect(os.path.join(os.environ["PGHOST"], ".s.PGSQL.5432"))
            estado = {"exporta": False, "fetch": 0}
            threading.Thread(target=self._sube, args=(web, db, estado), daemon=True).start()
            threading.Thread(target=self._baja, args=(db, web, estado), daemon=True).start()

    def _sube(self, web, db, estado):
        try:
            while data := web.recv(65536):
                if self.palabra in data:
                    estado["exporta"] = True
                if estado["exporta"] and b"FETCH" in data:
                    estado["fetch"] += 1
                    if self.cortar and estado["fetch"] >= self.cortar:
                        break
                db.sendall(data)
        except OSError:
            pass
        self._corta(web, db)

    def _baja(self, db, web, estado):
        try:
            while data := db.recv(65536):
                if estado["exporta"]:
                    self.libre.wait()
                web.sendall(data)
        except OSError:
            pass
        self._corta(web, db, cierra=True)

    @staticmethod
    def _corta(web, db, cierra=False):
        """Both ends of a relayed connection cut, so the other direction's
        read ends too; the direction that ends last closes them."""
        for s in (web, db):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            if cierra:
                s.close()

    def close(self):
        self.listener.close()


class Sitio:
    """Two stations in UTC: "nave", a line a minute for the last three hours
    (values known to the test), and a station whose name is a formula, a
    line every two minutes; archived once; a users file with ana and luis."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="climalog-servidor-")
        os.chmod(self.dir, 0o755)
        comun.base(BIN, DB, "lector_servidor")
        now = datetime.datetime.now(datetime.timezone.utc).replace(second=0, microsecond=0, tzinfo=None)
        self.lineas = {}  # station: [(instant, Sala value)]
        for estacion, paso, base in (("nave", 1, 10.0), ('=HYPERLINK("http://x")', 2, 30.0)):
            cap = comun.Captura(BIN, os.path.join(self.dir, str(len(self.lineas))))
            rows = [(now - datetime.timedelta(minutes=m), base + (k * 7 % 23) / 2)
                    for k, m in enumerate(range(180, -1, -paso))]
            for t, sala in rows:
                cap.linea(t, str(sala))
            cap.cierra()
            self.lineas[estacion] = [(t.replace(tzinfo=datetime.timezone.utc), v) for t, v in rows]
            comun.archivo(BIN, "--una-vez", "--estacion", estacion, "--zona", "UTC", f"postgresql:///{DB}",
                          os.path.join(cap.folder, "1"))
        self.usuarios = os.path.join(self.dir, "usuarios.txt")
        for name in ("ana", "luis"):
            assert comun.usuario(BIN, self.usuarios, name, CLAVE).returncode == 0
        with Web() as w:
            _, body, _ = w.pide("GET", "/api/resumen")
        self.series = {(s["estacion"], s["columna"]): s["serie"] for s in json.loads(body)["series"]}

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def setUpModule():
    global sitio
    sitio = Sitio()


def tearDownModule():
    if sitio:
        sitio.close()


class Usuarios(unittest.TestCase):

    def test_cambios_del_fichero_valen_en_segundos(self):
        usuarios = os.path.join(sitio.dir, "cambios.txt")
        shutil.copy(sitio.usuarios, usuarios)
        with Web(usuarios=usuarios) as w:
            ana, luis = w.entra("ana"), w.entra("luis")
            self.assertTrue(ana.startswith("climalog_sesion=") and luis.startswith("climalog_sesion="), (ana, luis))
            ok = lambda cookie: w.pide("GET", "/api/resumen", cookie=cookie)[0] == 200
            # Ana's password changed: her session ends, the old password no
            # longer opens one, the new one does; Luis stays in.
            self.assertEqual(comun.usuario(BIN, usuarios, "ana", "viento-del-norte").returncode, 0)
            self.assertTrue(until(lambda: not ok(ana), timeout=5), "ana's session outlived her password")
            self.assertTrue(ok(luis))
            self.assertEqual(w.entra("ana"), 401)
            self.assertTrue(ok(w.entra("ana", "viento-del-norte")))
            # Luis removed from the file: his session ends, he cannot enter.
            with open(usuarios) as f:
                kept = [line for line in f if not line.startswith("luis:")]
            with open(usuarios + ".nuevo", "w") as f:
                f.writelines(kept)
            os.replace(usuarios + ".nuevo", usuarios)
            self.assertTrue(until(lambda: not ok(luis), timeout=5), "a removed user's session went on")
            self.assertEqual(w.entra("luis"), 401)

    def test_fichero_que_todos_leen_avisado_al_empezar(self):
        usuarios = os.path.join(sitio.dir, "abierto.txt")
        shutil.copy(sitio.usuarios, usuarios)
        os.chmod(usuarios, 0o644)
        w = Web(usuarios=usuarios)
        self.assertIn("chmod 600", w.stop())
        self.assertNotIn("chmod 600", Web(usuarios=sitio.usuarios).stop())

    def test_en_la_red_solo_con_usuarios(self):
        # Open to the network only with users; without them, only this
        # machine's address, not a site's name pointed at it.
        nadie = os.path.join(sitio.dir, "nadie.txt")
        r = subprocess.run([os.path.join(BIN, "climalog-web"), LECTOR, "--escuchar", "0.0.0.0:0", "--usuarios", nadie],
                           capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 2)
        self.assertIn("hace falta al menos un usuario", r.stderr)
        with Web(usuarios=nadie) as w:
            self.assertEqual(w.pide("GET", "/api/resumen")[0], 200)
            self.assertEqual(w.pide("GET", "/api/resumen", headers={"Host": f"otro.example:{w.port}"})[0], 403)
        w = Web("--escuchar", "0.0.0.0:0", conn=f"postgresql:///{DB}", usuarios=sitio.usuarios)
        self.assertEqual(w.pide("GET", "/api/resumen")[0], 401)
        # The owner's role can write: the program says so at the start.
        self.assertIn("solo lea", w.stop())

    def test_sin_entrar_nada(self):
        q = f"series={sitio.series[('nave', 'Sala (ºC)')]}&desde=2026-12-07T00:00:00Z&hasta=2026-12-08T00:00:00Z"
        with Web(usuarios=sitio.usuarios) as w:
            for path, status in (("/api/resumen", 401), (f"/api/tramo?{q}&cubos=10", 401), (f"/api/csv?{q}", 401),
                                 ("/app.js", 401), ("/resumen.js", 401), ("/uplot.js", 401), ("/", 303),
                                 ("/api/informe?estacion=nave&periodo=dia&desde=2026-12-07", 401),
                                 # The login page's style alone is for anyone; the pages only at their addresses.
                                 ("/app.css", 200), ("/app-css", 404), ("/entrar.html", 404)):
                with self.subTest(path):
                    self.assertEqual(w.pide("GET", path, cookie="climalog_sesion=" + "0" * 64)[0], status)


class Intentos(unittest.TestCase):

    def test_frena_al_que_adivina_no_al_usuario(self):
        otra = {"X-Forwarded-For": "198.51.100.4"}
        atacante = {"X-Forwarded-For": "203.0.113.9"}
        rows = (
            # row, the program's options, the attacker's tries (name, headers), ana's try: status
            ("three wrong for ana elsewhere, ana from her address",
             ["--proxy", "127.0.0.1"], [("ana", atacante)] * 3, otra, 303),
            ("the forwarded address of a proxy not trusted is not believed", [],
             [(f"u{k}", atacante) for k in range(10)], otra, 429),
        )
        for row, options, tries, ana, status in rows:
            with self.subTest(row), Web(*options, usuarios=sitio.usuarios) as w:
                for name, headers in tries:
                    self.assertEqual(w.entra(name, "mal", headers=headers), 401, name)
                got = w.entra("ana", headers=ana)
                self.assertEqual(got if isinstance(got, int) else 303, status)

    def test_intentos_a_la_vez_no_pasan_del_limite(self):
        with Web(usuarios=sitio.usuarios) as w:
            with concurrent.futures.ThreadPoolExecutor(60) as pool:
                statuses = list(pool.map(lambda _: w.entra("ana", "mal"), range(60)))
            self.assertEqual(statuses.count(401), 3, statuses)
            self.assertEqual(statuses.count(429), 57, statuses)
            status, body, _ = w.pide("POST", "/entrar", f"usuario=ana&clave={CLAVE}")
            self.assertEqual((status, "Espere" in body.decode()), (429, True))


class Origen(unittest.TestCase):

    def test_solo_los_post_de_la_pagina(self):
        with Web(usuarios=sitio.usuarios) as w:
            ana = w.entra()
            ok = lambda: w.pide("GET", "/api/resumen", cookie=ana)[0] == 200
            rows = (
                # row, path, body, headers, status
                ("a login from another site", "/entrar", f"usuario=luis&clave={CLAVE}",
                 {"Origin": "http://atacante.example"}, 403),
                ("a logout from another site", "/salir", "", {"Origin": "http://atacante.example"}, 403),
                ("a logout without origin or referer", "/salir", "", {"Origin": None}, 403),
            )
            for row, path, body, headers, status in rows:
                with self.subTest(row):
                    got, _, r = w.pide("POST", path, body, cookie=ana, headers=headers)
                    self.assertEqual(got, status)
                    self.assertIsNone(r.getheader("Set-Cookie"))
                    self.assertTrue(ok(), "the session ended")
            # The page's own logout ends the session on the server too.
            status, _, r = w.pide("POST", "/salir", "", cookie=ana)
            self.assertEqual((status, r.getheader("Location")), (303, "/entrar"))
            self.assertFalse(ok(), "the session outlived its logout")

    def test_hsts_solo_bajo_https(self):
        # Under https the browser is told to keep to it, and the cookie is only for https.
        tls = comun.certificado(sitio.dir)
        context = ssl.create_default_context(cafile=tls[1])
        context.check_hostname = False
        for row, options, hsts, secure in (("http", [], None, False), ("https", tls, "max-age=31536000", True)):
            with self.subTest(row), Web(*options, usuarios=sitio.usuarios) as w:
                _, _, r = w.pide("GET", "/entrar", context=context)
                self.assertEqual(r.getheader("Strict-Transport-Security"), hsts)
                status, _, r = w.pide("POST", "/entrar", f"usuario=ana&clave={CLAVE}", context=context)
                self.assertEqual((status, "Secure" in r.getheader("Set-Cookie")), (303, secure))


class Lecturas(unittest.TestCase):

    def setUp(self):
        self.web = Web()

    def tearDown(self):
        self.web.stop()

    def test_cubos_de_una_hora_hasta_la_ultima(self):
        nave = sitio.lineas["nave"]
        serie = sitio.series[("nave", "Sala (ºC)")]
        hasta = nave[-1][0] + datetime.timedelta(seconds=30)
        desde = hasta - datetime.timedelta(days=3)
        status, body, _ = self.web.pide("GET", f"/api/tramo?series={serie}&desde={iso(desde)}&hasta={iso(hasta)}&cubos=72")
        self.assertEqual(status, 200, body)
        got = json.loads(body)["series"][0]
        hours = {}
        for t, v in nave:
            hours.setdefault(t.replace(minute=0).timestamp(), []).append(v)
        self.assertEqual(got["t"], sorted(hours), "every hour with readings, the range's last one included")
        self.assertEqual(got["min"], [min(hours[h]) for h in sorted(hours)])
        self.assertEqual(got["max"], [max(hours[h]) for h in sorted(hours)])

    def test_csv_de_dos_estaciones_sin_linea_de_mas(self):
        hostil = '=HYPERLINK("http://x")'
        nave, otra = sitio.lineas["nave"], sitio.lineas[hostil]
        keys = f"{sitio.series[('nave', 'Sala (ºC)')]},{sitio.series[(hostil, 'Sala (ºC)')]}"
        # The range ends on an instant of both stations' lines: that line is past its end.
        desde, hasta = otra[10][0], otra[40][0]
        status, body, r = self.web.pide("GET", f"/api/csv?series={keys}&desde={iso(desde)}&hasta={iso(hasta)}"
                                               "&codificacion=utf8&decimal=punto")
        self.assertEqual(status, 200)
        rows = body.decode().split("\r\n")
        self.assertEqual(rows[-1], "")
        self.assertEqual(rows[0], 'Hora,nave - puerto 1 - Sala (ºC),'
                                  '"\'=HYPERLINK(""http://x"") - puerto 1 - Sala (ºC)"')
        a, b = dict(nave), dict(otra)
        want = [f"{t:%Y-%m-%dT%H:%M:%S}," + ",".join("" if v is None else format(v, "g") for v in (a.get(t), b.get(t)))
                for t in sorted(set(a) | set(b)) if desde <= t < hasta]
        self.assertEqual(rows[1:-1], want)


class Informes(unittest.TestCase):
    """The requests refused, each with its reason; and the report's file,
    named by the station and period whatever the station's name holds."""

    def test_peticiones_malas(self):
        nave = sitio.series[("nave", "Sala (ºC)")]
        q = "periodo=dia&desde=2026-12-07"
        dia = "desde=2026-12-07T00:00:00Z&hasta=2026-12-08T00:00:00Z"
        bad = {
            # request: a word of its message
            f"/api/tramo?series=1;DROP%20TABLE%20x&{dia}&cubos=10": "no es válida",
            f"/api/tramo?series=999999&{dia}&cubos=10": "No hay ninguna serie 999999",
            f"/api/tramo?series=99999999999999999999&{dia}&cubos=10": "no es válida",
            "/api/tramo?series=1&desde=ayer&hasta=2026-12-08T00:00:00Z&cubos=10": "no es válida",
            "/api/tramo?series=1&desde=2026-02-30T00:00:00Z&hasta=2026-12-08T00:00:00Z&cubos=10": "no es válida",
            "/api/tramo?series=1&desde=2026-12-08T00:00:00Z&hasta=2026-12-07T00:00:00Z&cubos=10": "vacío",
            "/api/tramo?series=1&desde=1990-01-01T00:00:00Z&hasta=2026-12-07T00:00:00Z&cubos=10": "demasiado largo",
            f"/api/tramo?series=1&{dia}&cubos=0": "cubos",
            f"/api/tramo?series=1&{dia}": "Falta el parámetro",
            f"/api/tramo?series=1&series=2&{dia}&cubos=5": "repetido",
            "/api/tramo?series=" + ",".join(map(str, range(1, 50))) + f"&{dia}&cubos=5": "demasiadas",
            f"/api/csv?series=1&{dia}&codificacion=latin9": "codificacion",
            f"/api/csv?series=1&{dia}&x=%27%20OR%201=1": "desconocido",
            "/api/resumen?estacion=%27%3B--": "desconocido",
            "/api/avisos/historia?puerto=1": "desconocido",
            f"/api/informe?estacion=nadie&{q}": "No hay ninguna estación",
            f"/api/informe?estacion=nave%27%20OR%20%271%27=%271&{q}": "No hay ninguna estación",
            f"/api/informe?series={nave}&periodo=dia&desde=2026-02-29": "no existe",
            f"/api/informe?series={nave}&periodo=dia&desde=7-12-2026": "no existe",
            f"/api/informe?series={nave}&periodo=fechas&desde=2026-12-07": "Falta el parámetro",
            f"/api/informe?series={nave}&periodo=fechas&desde=2026-12-07&hasta=2026-12-06": "al revés",
            f"/api/informe?series={nave}&periodo=fechas&desde=2025-12-07&hasta=2026-12-07": "un año",
            "/api/informe?series=" + ",".join(map(str, range(1, 402))) + f"&{q}": "demasiadas",
            f"/api/informe?series=999999&{q}": "No hay ninguna serie 999999",
            f"/api/informe?series={nave}&periodo=trimestre&desde=2026-12-07": "periodo",
            f"/api/informe?estacion=nave&series={nave}&{q}": "una de las dos",
            f"/api/informe?series={nave}&{q}&formato=docx": "formato",
            f"/api/informe?series={nave}&{q}&hasta=2026-12-08": "solo vale",
        }
        with Web() as w:
            for path, word in bad.items():
                with self.subTest(path):
                    status, body, _ = w.pide("GET", path)
                    self.assertEqual(status, 400, body)
                    self.assertIn(word, json.loads(body)["error"])

    def test_fichero_del_informe(self):
        hostil = '=HYPERLINK("http://x")'
        nave, otra = sitio.series[("nave", "Sala (ºC)")], sitio.series[(hostil, "Sala (ºC)")]
        hoy = sitio.lineas["nave"][-1][0].date().isoformat()
        rows = (
            # query, file name, type
            (f"estacion=nave&periodo=dia&desde={hoy}", f"nave-{hoy}.pdf", "application/pdf"),
            (f"series={otra}&periodo=semana&desde=2026-12-10&formato=csv", "HYPERLINK_http_x-semana-2026-12-07.csv",
             "text/csv; charset=utf-8"),
            # A year to the day before the last date is no longer than a year.
            (f"series={nave},{otra}&periodo=fechas&desde=2025-12-08&hasta=2026-12-07",
             "nave-2025-12-08-a-2026-12-07.pdf", "application/pdf"),
            ("estacion=nave&periodo=mes&desde=2024-02-29&formato=csv", "nave-2024-02.csv", "text/csv; charset=utf-8"),
        )
        with Web("--sitio", "Almacén central") as w:
            for query, name, kind in rows:
                with self.subTest(query):
                    status, body, r = w.pide("GET", "/api/informe?" + urllib.parse.quote(query, safe="=&,"))
                    self.assertEqual(status, 200, body[:300])
                    self.assertEqual(r.getheader("Content-Disposition"), f'attachment; filename="{name}"')
                    self.assertEqual(r.getheader("Content-Type"), kind)
                    if kind == "application/pdf":
                        text = subprocess.run(["pdftotext", "-", "-"], input=body, capture_output=True,
                                              check=True).stdout.decode()
                        self.assertIn("Almacén central", text)
                        self.assertIn("nave", text)
                    else:
                        self.assertIn("Sala (ºC)", body.decode())


class Conexiones(unittest.TestCase):

    def setUp(self):
        self.enlace = Enlace()
        self.nave = sitio.lineas["nave"]
        self.csv = (f"/api/csv?series={sitio.series[('nave', 'Sala (ºC)')]}&desde={iso(self.nave[0][0])}"
                    f"&hasta={iso(self.nave[-1][0])}&codificacion=utf8")

    def tearDown(self):
        self.enlace.libre.set()
        self.enlace.close()

    def test_exportaciones_lentas_no_paran_el_resumen(self):
        nave, q = self.nave, self.csv
        with Web("--conexiones", "3", conn=self.enlace.conn()) as w:
            self.assertEqual(w.pide("GET", "/api/resumen")[0], 200)
            self.enlace.libre.clear()
            with concurrent.futures.ThreadPoolExecutor(3) as pool:
                exports = [pool.submit(w.pide, "GET", q) for _ in range(3)]
                # The export that finds no connection free says so within seconds.
                first = next(concurrent.futures.as_completed(exports, timeout=15))
                status, body, r = first.result()
                self.assertEqual(status, 503)
                self.assertIn("ocupadas", json.loads(body)["error"])
                self.assertEqual(r.getheader("Retry-After"), "5")
                # The overview is still answered while the others wait.
                self.assertEqual(w.pide("GET", "/api/resumen")[0], 200)
                self.enlace.libre.set()
                done = sorted(f.result()[0] for f in exports)
                self.assertEqual(done, [200, 200, 503])
                rows = [f.result()[1].decode().split("\r\n") for f in exports if f.result()[0] == 200]
                self.assertEqual(len(rows[0]), len(nave) + 1)

    def test_dos_informes_a_la_vez(self):
        # Two reports held by a slow database: a third waits its turn, then is
        # told to come back; the overview is answered meanwhile; both files
        # come whole once the database answers.
        self.enlace.palabra = b"climalog.informe_"
        q = f"/api/informe?estacion=nave&periodo=dia&desde={sitio.lineas['nave'][-1][0].date().isoformat()}"
        with Web(conn=self.enlace.conn()) as w:
            self.enlace.libre.clear()
            with concurrent.futures.ThreadPoolExecutor(3) as pool:
                dos = [pool.submit(w.pide, "GET", q) for _ in range(2)]
                time.sleep(2)
                t0 = time.monotonic()
                status, body, r = w.pide("GET", q)
                self.assertGreater(time.monotonic() - t0, 14)
                self.assertEqual((status, r.getheader("Retry-After")), (503, "5"))
                self.assertIn("dos informes", json.loads(body)["error"])
                self.assertEqual(w.pide("GET", "/api/resumen")[0], 200)
                self.enlace.libre.set()
                for f in dos:
                    self.assertEqual(f.result()[0], 200)
                    self.assertTrue(f.result()[1].startswith(b"%PDF") and f.result()[1].rstrip().endswith(b"%%EOF"))

    def test_exportacion_cortada_se_ve(self):
        nave, q = self.nave, self.csv
        with Web(conn=self.enlace.conn()) as w:
            self.enlace.cortar = 2
            c = http.client.HTTPConnection("127.0.0.1", w.port, timeout=30)
            c.request("GET", q)
            r = c.getresponse()
            self.assertEqual(r.status, 200)
            with self.assertRaises(http.client.IncompleteRead) as cut:
                r.read()
            rows = cut.exception.partial.decode().split("\r\n")
            self.assertTrue(rows[-2].startswith("Exportación incompleta"), rows[-2])
            self.assertEqual(rows[-1], "")
            # The next export is whole; the cut one held its lines up to
            # the cut (the last one, which the next block could have
            # completed, left out).
            self.enlace.cortar = None
            status, body, _ = w.pide("GET", q)
            whole = body.decode().split("\r\n")
            self.assertEqual((status, len(whole)), (200, len(nave) + 1))
            self.assertEqual(rows[:-2], whole[:-2])


class Resumen(unittest.TestCase):

    def linea(self, sala):
        """A new line of "nave", archived."""
        nave = sitio.lineas["nave"]
        t = max(datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0),
                nave[-1][0] + datetime.timedelta(seconds=1))
        cap = comun.Captura(BIN, os.path.join(sitio.dir, "0"))
        cap.linea(t, str(sala))
        cap.cierra()
        nave.append((t, sala))
        comun.archivo(BIN, "--una-vez", "--estacion", "nave", "--zona", "UTC", f"postgresql:///{DB}", os.path.join(cap.folder, "1"))

    def test_comprimido_y_sin_cambios(self):
        with Web() as w:
            def sala(body):
                return next(s["valor"] for s in json.loads(body)["series"]
                            if s["estacion"] == "nave" and s["columna"] == "Sala (ºC)")

            self.linea(99.5)
            got = until(lambda: (lambda a: a if sala(gzip.decompress(a[1])) == 99.5 else None)(
                w.pide("GET", "/api/resumen", headers={"Accept-Encoding": "gzip, deflate, br"})))
            self.assertTrue(got, "the new line never showed")
            status, packed, r = got
            self.assertEqual(r.getheader("Content-Encoding"), "gzip")
            etag = r.getheader("ETag")
            _, plain, p = w.pide("GET", "/api/resumen")
            self.assertIsNone(p.getheader("Content-Encoding"))
            self.assertEqual(p.getheader("ETag"), etag)
            self.assertEqual(json.loads(gzip.decompress(packed))["series"], json.loads(plain)["series"])
            self.assertLess(len(packed) * 3, len(plain))
            # Nothing changed: "not modified", without a body.
            status, body, _ = w.pide("GET", "/api/resumen", headers={"If-None-Match": etag})
            self.assertEqual((status, body), (304, b""))
            # A new line: the whole answer again.
            self.linea(98.5)
            got = until(lambda: (lambda a: a if a[0] == 200 else None)(
                w.pide("GET", "/api/resumen", headers={"If-None-Match": etag})))
            self.assertTrue(got, "a change was answered as not modified")
            self.assertEqual(sala(got[1]), 98.5)
            self.assertNotEqual(got[2].getheader("ETag"), etag)


def aviso(serie, condicion, inicio, fin=None, extremo="NULL", limite="NULL", visto=None):
    """An alarm of "nave"'s Sala (or of its port: `serie` None), begun
    `inicio` ago, ended `fin` ago, acknowledged a day ago as `visto` (who,
    comment); written as the schema's owner. Its id."""
    fin = f"now() - interval '{fin}'" if fin else "NULL"
    por, cuando, comentario = (f"'{visto[0]}'", "now() - interval '1 day'", f"'{visto[1]}'") if visto else ["NULL"] * 3
    return int(psql(
        "INSERT INTO climalog.aviso (puerto, serie, condicion, regla, inicio, fin, extremo, limite, reconocido_por,"
        f" reconocido, comentario) SELECT p.id, {serie or 'NULL'}, '{condicion}', 'regla-{condicion}',"
        f" now() - interval '{inicio}', {fin}, {extremo}, {limite}, {por}, {cuando}, {comentario} FROM climalog.puerto p"
        " JOIN climalog.estacion e ON e.id = p.estacion WHERE e.nombre = 'nave' AND p.nombre = '1' RETURNING id").split()[0])


def avisos_nuevos():
    """Five alarms of "nave", old ones gone: two active, one ended an hour
    ago, one ended three days ago and acknowledged (no longer current), one
    ended three days ago that nobody acknowledged."""
    psql("DELETE FROM climalog.aviso")
    sala = sitio.series[("nave", "Sala (ºC)")]
    return {
        "alto": aviso(sala, "alto", "2 hours", extremo=25.5, limite=22),
        "parada": aviso(None, "parada", "30 minutes", limite=600),
        "bajo": aviso(sala, "bajo", "3 hours", fin="1 hour", extremo=-0.5, limite=0),
        "visto": aviso(sala, "err", "4 days", fin="3 days", visto=("luis", "sonda cambiada")),
        "olvidado": aviso(sala, "alto", "5 days", fin="3 days", extremo=30, limite=22),
    }


class Avisos(unittest.TestCase):

    def setUp(self):
        self.ids = avisos_nuevos()

    def lista(self, w, cookie=""):
        status, body, _ = w.pide("GET", "/api/avisos", cookie=cookie)
        self.assertEqual(status, 200, body)
        return json.loads(body)

    def fila(self, aviso):
        return psql(f"SELECT coalesce(reconocido_por, ''), coalesce(comentario, ''), reconocido IS NOT NULL,"
                    f" coalesce(round(extract(epoch FROM silenciado_hasta - now()) / 60), 0)"
                    f" FROM climalog.aviso WHERE id = {aviso}").strip().split("|")

    def test_activos_primero(self):
        ids = self.ids
        with Web(usuarios=sitio.usuarios) as w:
            ana = w.entra()
            self.assertEqual(w.pide("GET", "/api/avisos")[0], 401)
            datos = self.lista(w, ana)
            self.assertEqual([a["id"] for a in datos["avisos"]], [ids["parada"], ids["alto"], ids["bajo"], ids["olvidado"]])
            self.assertEqual(datos["usuario"], "ana")
            self.assertRegex(datos["ficha"], "^[0-9a-f]{64}$")
            alto = datos["avisos"][1]
            self.assertEqual({k: alto[k] for k in ("estacion", "zona", "puerto", "columna", "unidad", "condicion", "regla",
                                                    "fin", "extremo", "limite", "reconocido", "silenciado_hasta")},
                             {"estacion": "nave", "zona": "UTC", "puerto": "1", "columna": "Sala (ºC)", "unidad": "ºC",
                              "condicion": "alto", "regla": "regla-alto", "fin": None, "extremo": 25.5, "limite": 22,
                              "reconocido": None, "silenciado_hasta": None})
            self.assertAlmostEqual(datos["ahora"] - alto["inicio"], 2 * 3600000, delta=60000)
            parada = datos["avisos"][0]
            self.assertEqual((parada["columna"], parada["extremo"], parada["limite"]), ("", None, 600))
            # A second session has a token of its own.
            self.assertNotEqual(self.lista(w, w.entra("luis"))["ficha"], datos["ficha"])

    def test_solo_con_la_ficha_de_la_sesion(self):
        ids = self.ids
        with Web(usuarios=sitio.usuarios) as w:
            ana, luis = w.entra(), w.entra("luis")
            ficha, otra = self.lista(w, ana)["ficha"], self.lista(w, luis)["ficha"]
            json_ = "application/json"
            cuerpo = json.dumps({"aviso": ids["alto"], "comentario": "Ventilado; «puerta» abierta"})
            rows = (
                # row, cookie, headers, body, status, a word of the answer
                ("without the token", ana, {"Content-Type": json_}, cuerpo, 403, "ficha"),
                ("another session's token", ana, {"Content-Type": json_, "X-Climalog-Ficha": otra}, cuerpo, 403, "ficha"),
                ("a token one digit off", ana, {"Content-Type": json_, "X-Climalog-Ficha": ficha[:-1] + ("0" if ficha[-1] != "0" else "1")},
                 cuerpo, 403, "ficha"),
                ("from another site", ana, {"Content-Type": json_, "X-Climalog-Ficha": ficha,
                                            "Origin": "http://atacante.example"}, cuerpo, 403, "propia página"),
                ("without a session", "", {"Content-Type": json_, "X-Climalog-Ficha": ficha}, cuerpo, 401, "entrar"),
                ("a form, not JSON", ana, {"X-Climalog-Ficha": ficha}, f"aviso={ids['alto']}", 400, "JSON"),
                ("an alarm that is not there", ana, {"Content-Type": json_, "X-Climalog-Ficha": ficha},
                 json.dumps({"aviso": 999999}), 409, "no existe"),
            )
            for row, cookie, headers, body, status, word in rows:
                with self.subTest(row):
                    got, answer, _ = w.pide("POST", "/api/avisos/reconocer", body.encode(), cookie=cookie, headers=headers)
                    self.assertEqual(got, status, answer)
                    self.assertIn(word, answer.decode())
                    self.assertEqual(self.fila(ids["alto"]), ["", "", "f", "0"], "refused, yet written")
            headers = {"Content-Type": json_, "X-Climalog-Ficha": ficha}
            status, answer, _ = w.pide("POST", "/api/avisos/reconocer", cuerpo.encode(), cookie=ana, headers=headers)
            self.assertEqual((status, json.loads(answer)), (200, {"hecho": True}))
            self.assertEqual(self.fila(ids["alto"]), ["ana", "Ventilado; «puerta» abierta", "t", "0"])
            # Once: the second acknowledgement changes nothing.
            status, _, _ = w.pide("POST", "/api/avisos/reconocer", json.dumps({"aviso": ids["alto"], "comentario": "otra"}).encode(),
                                  cookie=luis, headers=dict(headers, **{"X-Climalog-Ficha": otra}))
            self.assertEqual(status, 409)
            self.assertEqual(self.fila(ids["alto"])[:2], ["ana", "Ventilado; «puerta» abierta"])
            # Silences: a chosen time, a week at most, only while active.
            for row, body, status in (("four hours", {"aviso": ids["parada"], "minutos": 240}, 200),
                                      ("more than a week", {"aviso": ids["parada"], "minutos": 10081}, 400),
                                      ("an ended alarm", {"aviso": ids["bajo"], "minutos": 15}, 409)):
                with self.subTest(row):
                    got, answer, _ = w.pide("POST", "/api/avisos/silenciar", json.dumps(body).encode(), cookie=ana,
                                            headers=headers)
                    self.assertEqual(got, status, answer)
            self.assertEqual(self.fila(ids["parada"])[3], "240")
            self.assertEqual(self.fila(ids["bajo"])[3], "0")
            self.assertEqual(psql(f"SELECT silenciado_por FROM climalog.aviso WHERE id = {ids['parada']}").strip(), "ana")
            # Logged out: the session's token goes with it.
            w.pide("POST", "/salir", "", cookie=ana)
            got, _, _ = w.pide("POST", "/api/avisos/silenciar", json.dumps({"aviso": ids["parada"], "minutos": 15}).encode(),
                               cookie=ana, headers=headers)
            self.assertEqual(got, 401)

    def test_sin_usuarios_el_equipo_es_local(self):
        ids = self.ids
        with Web() as w:
            ficha = self.lista(w)["ficha"]
            headers = {"Content-Type": "application/json", "X-Climalog-Ficha": ficha}
            body = json.dumps({"aviso": ids["olvidado"], "comentario": ""}).encode()
            self.assertEqual(w.pide("POST", "/api/avisos/reconocer", body,
                                    headers=dict(headers, **{"X-Climalog-Ficha": "0" * 64}))[0], 403)
            self.assertEqual(w.pide("POST", "/api/avisos/reconocer", body, headers=headers)[0], 200)
            self.assertEqual(self.fila(ids["olvidado"])[:3], ["local", "", "t"])
        # Another run of the program has another token.
        with Web() as w:
            self.assertNotEqual(self.lista(w)["ficha"], ficha)

    def test_el_rol_de_la_web_no_cambia_los_avisos(self):
        lector = f"postgresql:///{DB}?user=lector_servidor"
        for sql in (f"UPDATE climalog.aviso SET reconocido_por = 'x' WHERE id = {self.ids['alto']}",
                    "DELETE FROM climalog.aviso",
                    "INSERT INTO climalog.aviso (puerto, condicion, regla, inicio) SELECT puerto, 'alto', 'x', now()"
                    " FROM climalog.aviso LIMIT 1",
                    "UPDATE climalog.salida SET destinatario = 'x'"):
            with self.subTest(sql):
                with self.assertRaises(subprocess.CalledProcessError) as refused:
                    psql(sql, lector)
                self.assertIn("permission denied", refused.exception.stderr)
        self.assertEqual(self.fila(self.ids["alto"]), ["", "", "f", "0"])
        # Through its function it can.
        self.assertEqual(psql(f"SELECT climalog.reconocer({self.ids['alto']}, 'ana', 'visto')", lector).strip(), "t")

    def test_historia_y_su_csv(self):
        ids = self.ids
        with Web() as w:
            def historia(q):
                status, body, _ = w.pide("GET", "/api/avisos/historia" + q)
                self.assertEqual(status, 200, body)
                return [a["id"] for a in json.loads(body)["avisos"]]

            now = datetime.datetime.now(datetime.timezone.utc)
            rows = (
                ("every alarm, newest first", "", [ids["parada"], ids["alto"], ids["bajo"], ids["visto"], ids["olvidado"]]),
                ("of the station", "?estacion=nave", [ids["parada"], ids["alto"], ids["bajo"], ids["visto"], ids["olvidado"]]),
                ("of another station", "?estacion=" + urllib.parse.quote('=HYPERLINK("http://x")'), []),
                ("the last 90 minutes: the active ones and the one ended an hour ago",
                 f"?desde={iso(now - datetime.timedelta(minutes=90))}", [ids["parada"], ids["alto"], ids["bajo"]]),
                ("four days ago", f"?desde={iso(now - datetime.timedelta(days=4, hours=1))}"
                                  f"&hasta={iso(now - datetime.timedelta(days=3, hours=12))}", [ids["visto"], ids["olvidado"]]),
                ("up to an hour and a half ago", f"?hasta={iso(now - datetime.timedelta(minutes=90))}",
                 [ids["alto"], ids["bajo"], ids["visto"], ids["olvidado"]]),
            )
            for row, q, want in rows:
                with self.subTest(row):
                    self.assertEqual(historia(q), want)
            hora = lambda sql: psql(f"SELECT to_char({sql} AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS')"
                                    f" FROM climalog.aviso WHERE id = {ids['visto']}").strip()
            status, body, r = w.pide("GET", "/api/avisos/csv?estacion=nave&codificacion=utf8&decimal=punto")
            self.assertEqual(status, 200)
            self.assertEqual(r.getheader("Content-Type"), "text/csv; charset=utf-8")
            lines = body.decode().split("\r\n")
            self.assertEqual(lines[0], "Estación,Puerto,Columna,Condición,Regla,Inicio,Fin,Extremo,Límite,Reconocido por,"
                                       "Reconocido,Comentario,Silenciado por,Silenciado hasta")
            self.assertEqual(len(lines), 7)
            self.assertEqual(lines[-1], "")
            # Oldest first; the acknowledged one four days ago is the second.
            self.assertEqual(lines[2], f"nave,1,Sala (ºC),Lecturas ERR,regla-err,{hora('inicio')},{hora('fin')},,,luis,"
                                       f"{hora('reconocido')},sonda cambiada,,")
            self.assertTrue(lines[3].startswith("nave,1,Sala (ºC),Bajo el mínimo,regla-bajo,"), lines[3])
            self.assertIn(",-0.5,0,", lines[3])
            status, body, _ = w.pide("GET", "/api/avisos/csv?estacion=nave")
            self.assertEqual(body.decode("cp1252").split("\r\n")[3].count(";-0,5;0;"), 1)

    def test_primaria_recibe_los_cambios(self):
        # A web program reading one database and writing to the primary named:
        # a copy of the first stands for the primary.
        primaria = DB + "_primaria"
        psql(f"DROP DATABASE IF EXISTS {primaria}", "postgres")
        psql(f"CREATE DATABASE {primaria} TEMPLATE {DB}", "postgres")
        try:
            alto = self.ids["alto"]
            w = Web("--primaria", f"postgresql:///{primaria}?user=lector_servidor&password=no-se-dice")
            with w:
                ficha = self.lista(w)["ficha"]
                status, body, _ = w.pide("POST", "/api/avisos/reconocer", json.dumps({"aviso": alto, "comentario": "allí"}).encode(),
                                         headers={"Content-Type": "application/json", "X-Climalog-Ficha": ficha})
                self.assertEqual(status, 200, body)
                self.assertEqual(psql(f"SELECT reconocido_por, comentario FROM climalog.aviso WHERE id = {alto}",
                                      primaria).strip(), "local|allí")
                self.assertEqual(self.fila(alto), ["", "", "f", "0"], "the write went to the database read")
                # The page reads on from the one it reads.
                self.assertIsNone(next(a for a in self.lista(w)["avisos"] if a["id"] == alto)["reconocido"])
                err = w.stop()
            # The program says where its writes go, never with the password.
            self.assertIn(f"van a postgresql:///{primaria}?user=lector_servidor", err)
            self.assertNotIn("no-se-dice", err)
        finally:
            psql(f"DROP DATABASE IF EXISTS {primaria}", "postgres")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    args, rest = parser.parse_known_args()
    BIN = args.bin
    os.environ["TZ"] = "UTC"
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
