"""What the web program's test scripts share: waiting for a condition, the
tests' database (scripts/testdb.sh's server, through PG*), a station's port
written by the monitor's capture writer, and a running climalog-web."""
import datetime
import glob
import http.client
import os
import subprocess
import time
import zoneinfo


def until(check, timeout=20, step=0.05):
    """check()'s first true value within `timeout` seconds, else None."""
    end = time.monotonic() + timeout
    while True:
        value = check()
        if value or time.monotonic() > end:
            return value
        time.sleep(step)


def psql(sql, db):
    return subprocess.run(["psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-d", db, "-c", sql],
                          check=True, capture_output=True, text=True).stdout


def base(bin, db, lector):
    """The database made anew with the archive's schema, and its reader role
    (roles outlive the database: a second run on the same server makes it anew)."""
    psql(f"DROP DATABASE IF EXISTS {db}", "postgres")
    psql(f"CREATE DATABASE {db}", "postgres")
    archivo(bin, "--preparar", f"postgresql:///{db}")
    psql(f"DROP ROLE IF EXISTS {lector}", db)
    psql(f"CREATE ROLE {lector} LOGIN IN ROLE climalog_lectura", db)


def archivo(bin, *args):
    subprocess.run([os.path.join(bin, "climalog-archivo"), *args], check=True, capture_output=True)


def usuario(bin, path, name, clave):
    return subprocess.run([os.path.join(bin, "climalog-web"), "--usuario", name, "--usuarios", path],
                          input=clave + "\n", capture_output=True, text=True)


def certificado(carpeta):
    """A certificate of its own for 127.0.0.1: the options that serve it."""
    cert, clave = os.path.join(carpeta, "cert.pem"), os.path.join(carpeta, "clave.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-keyout", clave, "-out", cert], check=True, capture_output=True)
    return ["--certificado", cert, "--clave", clave]


class Captura:
    """A station's port: lines written by the monitor's capture writer, in
    the station's time zone; `red` "reles" is the port of a heater and a
    relay device read every five minutes."""

    def __init__(self, bin, folder, port="1", red=None, zona=None):
        self.folder, self.port, self.zona = folder, port, zona or os.environ["TZ"]
        os.makedirs(folder, exist_ok=True)
        self.proc = subprocess.Popen([os.path.join(bin, "captura_web"), folder, port] + ([red] if red else []),
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                     env=dict(os.environ, TZ=self.zona))

    def escribe(self, cuando, *valores):
        self.proc.stdin.write(f"{cuando:%Y-%m-%dT%H:%M:%S} {' '.join(valores)}\n")
        self.proc.stdin.flush()
        assert self.proc.stdout.readline().startswith("escrito"), "captura_web did not write the line"

    def linea(self, cuando, sala, inv_c="19", inv_h="55", p1="0", p2="0"):
        self.escribe(cuando, sala, inv_c, inv_h, p1, p2)

    def cierra(self):
        self.proc.stdin.close()
        self.proc.wait(30)
        self.proc.stdout.close()

    def lineas(self):
        """Every line of the capture files: (instant, {column: value or None})."""
        out = []
        for path in sorted(glob.glob(os.path.join(self.folder, self.port, "*.log"))):
            with open(path, encoding="cp1252", newline="") as f:
                rows = f.read().split("\r\n")
            names = rows[0].split("  ")[1:]
            for row in filter(None, rows[1:]):
                cells = row.split("  ")
                t = datetime.datetime.strptime(cells[0], "%d-%m-%Y %H:%M:%S").replace(tzinfo=zoneinfo.ZoneInfo(self.zona))
                out.append((t, {n: None if v == "ERR" else float(v.replace(",", ".")) for n, v in zip(names, cells[1:])}))
        return out


class Web:
    """A running climalog-web (on a free port of 127.0.0.1 unless told where);
    its address from its first line."""

    def __init__(self, bin, conn, *args, usuarios=None):
        cmd = [os.path.join(bin, "climalog-web"), conn, *args] + ([] if "--escuchar" in args else ["--escuchar", "127.0.0.1:0"])
        self.proc = subprocess.Popen(cmd + (["--usuarios", usuarios] if usuarios else []), stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline()
        assert "sirve" in first, first + self.proc.stderr.read()
        self.url = first.split()[2].rstrip("/")
        self.port = int(self.url.rsplit(":", 1)[1])

    def stop(self):
        self.proc.terminate()
        code = self.proc.wait(60)
        err = self.proc.stderr.read()
        self.proc.stdout.close()
        self.proc.stderr.close()
        assert code == 0, f"climalog-web ended with {code}: {err}"
        return err

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.stop()

    def pide(self, method, path, body=None, cookie="", headers=None, context=None):
        """Status, body and response; a POST is the page's own form, with its
        Origin, unless told otherwise (a header None is left out)."""
        if self.url.startswith("https"):
            c = http.client.HTTPSConnection("127.0.0.1", self.port, context=context, timeout=60)
        else:
            c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        h = {"Cookie": cookie} if cookie else {}
        if method == "POST":
            h.update({"Origin": self.url, "Content-Type": "application/x-www-form-urlencoded"})
        h = {k: v for k, v in dict(h, **(headers or {})).items() if v is not None}
        c.request(method, path, body=body, headers=h)
        r = c.getresponse()
        data = r.read()
        c.close()
        return r.status, data, r

    def entra(self, name="ana", clave="cierzo-de-enero", headers=None):
        """The session cookie of a login, or the status when refused."""
        status, _, r = self.pide("POST", "/entrar", f"usuario={name}&clave={clave}", headers=headers)
        if status != 303 or not r.getheader("Set-Cookie", "").startswith("climalog_sesion=") or \
                r.getheader("Location") != "/":
            return status
        return r.getheader("Set-Cookie").split(";")[0]
