#include "central/migrations.h"

#include "central/connection.h"
#include "central/names.h"
#include "central/versions.h"

#include <libpq-fe.h>

#include <array>

namespace central {

namespace {

// Version 1: a row per capture line with its values as an array in header
// order, the series and headers as small tables, rollups per minute and per
// hour, the latest line of every header, the archived configurations, the
// stations' write functions and the read interface. An existing narrow table
// of the first design is migrated in the same transaction.
const char *const version1 = R"sql(
-- The first design's narrow table and progress make way, kept under other names.
DO $$
BEGIN
    IF (SELECT relkind FROM pg_class WHERE oid = to_regclass('climalog.lectura')) IN ('r', 'p') THEN
        ALTER TABLE climalog.lectura RENAME TO lectura_anterior;
        ALTER TABLE climalog.progreso RENAME TO progreso_anterior;
        ALTER TABLE climalog.progreso_anterior RENAME CONSTRAINT progreso_pkey TO progreso_anterior_pkey;
    END IF;
END $$;
CREATE SCHEMA IF NOT EXISTS climalog;

CREATE TABLE climalog.version (version integer NOT NULL);
INSERT INTO climalog.version VALUES (1);

-- A station: its name, its time zone (IANA) and the login role that archives it.
CREATE TABLE climalog.estacion (
    id     serial PRIMARY KEY,
    nombre text NOT NULL UNIQUE,
    zona   text NOT NULL,
    rol    name     -- NULL: the first station role that starts with this name takes it
);
CREATE TABLE climalog.puerto (
    id       serial PRIMARY KEY,
    estacion integer NOT NULL REFERENCES climalog.estacion,
    nombre   text NOT NULL,            -- the capture folder's name, "1".."4"
    UNIQUE (estacion, nombre)
);
-- A column of a port's captures, by its header text ("Sala (ºC)"); a text
-- that a header holds twice gives two series (ocurrencia 1 and 2).
CREATE TABLE climalog.serie (
    id          serial PRIMARY KEY,
    puerto      integer NOT NULL REFERENCES climalog.puerto,
    columna     text NOT NULL,
    ocurrencia  integer NOT NULL,
    unidad      text,                  -- NULL for inputs
    dispositivo text NOT NULL,         -- the device's name in the column
    clase       text NOT NULL,         -- T temperature, H humidity, a..d channel, 1 2 input
    UNIQUE (puerto, columna, ocurrencia)
);
-- The columns of a header, in order.
CREATE TABLE climalog.juego (
    id     serial PRIMARY KEY,
    puerto integer NOT NULL REFERENCES climalog.puerto,
    series integer[] NOT NULL
);
-- Headers of many columns are longer than an index entry may be: their hash is the key.
CREATE FUNCTION climalog.clave(series integer[]) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$ SELECT md5(series::text) $f$;
CREATE UNIQUE INDEX juego_columnas ON climalog.juego (puerto, climalog.clave(series));
CREATE TABLE climalog.juego_serie (
    serie    integer NOT NULL REFERENCES climalog.serie,
    juego    integer NOT NULL REFERENCES climalog.juego,
    posicion integer NOT NULL,
    PRIMARY KEY (serie, juego)
);
CREATE TABLE climalog.fichero (
    id     serial PRIMARY KEY,
    puerto integer NOT NULL REFERENCES climalog.puerto,
    nombre text NOT NULL,              -- "07-12-2026-00.log"
    dia    date NOT NULL,              -- the day its name gives
    UNIQUE (puerto, nombre)
);
-- How far a capture file is archived, and what a restart needs to go on
-- from there without reading the file from its start.
CREATE TABLE climalog.progreso (
    fichero         integer PRIMARY KEY REFERENCES climalog.fichero,
    posicion        bigint NOT NULL,   -- bytes of whole lines archived
    lineas          bigint NOT NULL,   -- lines before posicion
    huella          bigint,            -- hash of the bytes before posicion; NULL: not known
    muestra         bigint,            -- hash of the start, the header and the end before posicion
    cabecera        bigint NOT NULL,   -- where the header in force at posicion starts, -1 none
    estado          bytea,             -- the capture reader's state at posicion
    por_clave_hasta bigint NOT NULL DEFAULT 0, -- a replaced file: lines before this replace stored ones
    actualizado     timestamptz NOT NULL DEFAULT now()
);

-- A capture line: its values in header order, each a decimal mantissa and
-- exponent in one integer (see climalog.valor), NULL for ERR. A line holding
-- a value that does not fit carries all its values exactly in exactos.
-- One line per port and second: the database itself keeps every reading once.
CREATE TABLE climalog.linea (
    hora    timestamptz NOT NULL,
    puerto  integer NOT NULL,
    fichero integer NOT NULL,
    juego   integer NOT NULL,
    valores integer[] NOT NULL,
    exactos double precision[],
    PRIMARY KEY (puerto, hora)
) PARTITION BY RANGE (hora);

-- Per minute and per hour (periods from the epoch, UTC) of a header: lines,
-- and per column the readings that are not ERR, their minimum, maximum and sum.
CREATE TABLE climalog.minuto (
    juego  integer NOT NULL,
    lineas integer NOT NULL,
    inicio timestamptz NOT NULL,
    n      smallint[] NOT NULL,
    minimo double precision[] NOT NULL,
    maximo double precision[] NOT NULL,
    suma   double precision[] NOT NULL,
    PRIMARY KEY (juego, inicio)
);
CREATE TABLE climalog.hora (LIKE climalog.minuto INCLUDING ALL);

-- The latest line of every header, written with each batch.
CREATE TABLE climalog.ultima (
    juego   integer PRIMARY KEY,
    hora    timestamptz NOT NULL,
    valores integer[] NOT NULL,
    exactos double precision[]
);

-- Each port's configuration file as archived whenever it changed.
CREATE TABLE climalog.configuracion (
    id     serial PRIMARY KEY,
    puerto integer NOT NULL REFERENCES climalog.puerto,
    huella bigint NOT NULL,
    leida  timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX configuracion_puerto ON climalog.configuracion (puerto, id);
CREATE TABLE climalog.dispositivo (
    configuracion integer NOT NULL REFERENCES climalog.configuracion,
    posicion   integer NOT NULL,       -- 1: the table's first device
    nombre     text NOT NULL,          -- without its padding
    sn         text NOT NULL,          -- 16 hexadecimal digits, byte 0 first
    tipo       smallint NOT NULL,      -- 1 STT, 2 HRT, 3 AVI, 4 DET, 5 CTR
    alarma_min real NOT NULL,
    alarma_max real NOT NULL,
    accion     smallint NOT NULL,      -- 0 "Ninguno", 1 "Avisar", or the relay output
    rele       text NOT NULL,          -- the linked relay device's serial, zeros for none
    unidades   text[] NOT NULL,
    ganancias  real[] NOT NULL,
    periodo    smallint NOT NULL,
    PRIMARY KEY (configuracion, posicion)
);
CREATE INDEX dispositivo_nombre ON climalog.dispositivo (configuracion, nombre);

-- A value stored as an integer: mantissa * 64 + exponent + 32, exponent in
-- -22..22. Mantissa and power of ten are both exact doubles, so one product
-- or quotient rounds once: the double the capture text itself reads as.
CREATE FUNCTION climalog.valor(valores integer[], exactos double precision[], k integer)
RETURNS double precision LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
SELECT CASE
    WHEN exactos IS NOT NULL THEN exactos[k]
    WHEN (valores[k] & 63) >= 32 THEN (valores[k] >> 6)::double precision
        * ('{1,1e1,1e2,1e3,1e4,1e5,1e6,1e7,1e8,1e9,1e10,1e11,1e12,1e13,1e14,1e15,1e16,1e17,1e18,1e19,1e20,1e21,1e22}'::double precision[])[(valores[k] & 63) - 31]
    ELSE (valores[k] >> 6)::double precision
        / ('{1,1e1,1e2,1e3,1e4,1e5,1e6,1e7,1e8,1e9,1e10,1e11,1e12,1e13,1e14,1e15,1e16,1e17,1e18,1e19,1e20,1e21,1e22}'::double precision[])[33 - (valores[k] & 63)]
END $f$;

-- The code of a value, NULL when it has none (ERR, -0, too many digits, an
-- exponent out of range): from its shortest exact text.
CREATE FUNCTION climalog.codigo(v double precision) RETURNS integer
LANGUAGE plpgsql IMMUTABLE SET extra_float_digits = 1 AS $f$
DECLARE
    t text; e integer := 0; p integer; m bigint; c integer;
BEGIN
    IF v IS NULL OR v IN ('Infinity', '-Infinity', 'NaN') THEN
        RETURN NULL;
    END IF;
    t := v::text;
    p := position('e' IN t);
    IF p > 0 THEN
        e := substr(t, p + 1)::integer;
        t := left(t, p - 1);
    END IF;
    p := position('.' IN t);
    IF p > 0 THEN
        e := e - (length(t) - p);
        t := left(t, p - 1) || substr(t, p + 1);
    END IF;
    IF ltrim(t, '-0') = '' THEN
        RETURN CASE WHEN t LIKE '-%' THEN NULL ELSE 32 END;
    END IF;
    WHILE e < 22 AND right(t, 1) = '0' LOOP
        t := left(t, -1);
        e := e + 1;
    END LOOP;
    IF length(ltrim(t, '-0')) > 9 THEN
        RETURN NULL;
    END IF;
    m := t::bigint;
    IF abs(m) > 33554431 OR e < -22 OR e > 22 THEN
        RETURN NULL;
    END IF;
    c := (m * 64 + e + 32)::integer;
    IF climalog.valor(ARRAY[c], NULL, 1) IS DISTINCT FROM v THEN
        RETURN NULL;
    END IF;
    RETURN c;
END $f$;

-- Element by element, for merging the rollups of a batch into stored ones.
CREATE FUNCTION climalog.sumar(a smallint[], b smallint[]) RETURNS smallint[]
LANGUAGE sql IMMUTABLE AS $f$ SELECT array_agg((x + y)::smallint ORDER BY i) FROM unnest(a, b) WITH ORDINALITY u(x, y, i) $f$;
CREATE FUNCTION climalog.menor(a double precision[], b double precision[]) RETURNS double precision[]
LANGUAGE sql IMMUTABLE AS $f$ SELECT array_agg(least(x, y) ORDER BY i) FROM unnest(a, b) WITH ORDINALITY u(x, y, i) $f$;
CREATE FUNCTION climalog.mayor(a double precision[], b double precision[]) RETURNS double precision[]
LANGUAGE sql IMMUTABLE AS $f$ SELECT array_agg(greatest(x, y) ORDER BY i) FROM unnest(a, b) WITH ORDINALITY u(x, y, i) $f$;
CREATE FUNCTION climalog.sumar(a double precision[], b double precision[]) RETURNS double precision[]
LANGUAGE sql IMMUTABLE AS $f$
SELECT array_agg(CASE WHEN x IS NULL THEN y WHEN y IS NULL THEN x ELSE x + y END ORDER BY i) FROM unnest(a, b) WITH ORDINALITY u(x, y, i)
$f$;

-- The day a capture file's name gives ("07-12-2026-00.log").
CREATE FUNCTION climalog.dia_de(nombre text) RETURNS date
LANGUAGE plpgsql IMMUTABLE AS $f$
BEGIN
    IF nombre !~ '^\d\d-\d\d-\d\d\d\d-\d\d\.log$' THEN
        RETURN NULL;
    END IF;
    RETURN to_date(left(nombre, 10), 'DD-MM-YYYY');
EXCEPTION WHEN OTHERS THEN
    RETURN NULL;
END $f$;

-- Partitions of climalog.linea, a month (UTC) each, for the months that meet
-- the days given.
CREATE FUNCTION climalog.crear_meses(desde date, hasta date) RETURNS integer
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    mes date := date_trunc('month', desde)::date;
    nombre text;
    hechos integer := 0;
BEGIN
    PERFORM pg_advisory_xact_lock(4354353746960623463);
    WHILE mes <= hasta LOOP
        nombre := 'linea_' || to_char(mes, 'YYYYMM');
        IF to_regclass('climalog.' || nombre) IS NULL THEN
            EXECUTE format('CREATE TABLE climalog.%I PARTITION OF climalog.linea FOR VALUES FROM (%L) TO (%L)',
                           nombre, mes || ' 00:00:00+00', (mes + interval '1 month')::date || ' 00:00:00+00');
            hechos := hechos + 1;
        END IF;
        mes := (mes + interval '1 month')::date;
    END LOOP;
    RETURN hechos;
END $f$;

-- Raises unless the port belongs to a station of the connected role.
CREATE FUNCTION climalog.propio(a_puerto integer) RETURNS void
LANGUAGE plpgsql STABLE SET search_path = pg_catalog, pg_temp AS $f$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM climalog.puerto p JOIN climalog.estacion e ON e.id = p.estacion
                   WHERE p.id = a_puerto AND e.rol = session_user) THEN
        RAISE EXCEPTION 'El puerto % no es de una estación del rol %', a_puerto, session_user USING ERRCODE = '42501';
    END IF;
END $f$;

-- Rollups of a port's lines recomputed from the lines themselves, for the
-- minutes and hours that meet [desde, hasta]: after lines were replaced.
CREATE FUNCTION climalog.resumir(a_puerto integer, desde timestamptz, hasta timestamptz) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    m0 timestamptz := to_timestamp(floor(date_part('epoch', desde) / 60) * 60);
    m1 timestamptz := to_timestamp(floor(date_part('epoch', hasta) / 60) * 60 + 60);
    h0 timestamptz := to_timestamp(floor(date_part('epoch', desde) / 3600) * 3600);
    h1 timestamptz := to_timestamp(floor(date_part('epoch', hasta) / 3600) * 3600 + 3600);
BEGIN
    DELETE FROM climalog.minuto m USING climalog.juego j
     WHERE j.puerto = a_puerto AND m.juego = j.id AND m.inicio >= m0 AND m.inicio < m1;
    INSERT INTO climalog.minuto (juego, inicio, lineas, n, minimo, maximo, suma)
    SELECT juego, inicio, max(c), array_agg(n::smallint ORDER BY k), array_agg(mn ORDER BY k), array_agg(mx ORDER BY k),
           array_agg(sm ORDER BY k)
      FROM (SELECT l.juego, to_timestamp(floor(date_part('epoch', l.hora) / 60) * 60) AS inicio, u.k,
                   count(*) AS c, count(u.v) AS n, min(u.v) AS mn, max(u.v) AS mx, sum(u.v) AS sm
              FROM climalog.linea l,
                   LATERAL (SELECT k, climalog.valor(l.valores, l.exactos, k) AS v
                              FROM generate_series(1, cardinality(l.valores)) k) u
             WHERE l.puerto = a_puerto AND l.hora >= m0 AND l.hora < m1
             GROUP BY 1, 2, 3) x
     GROUP BY juego, inicio;
    DELETE FROM climalog.hora h USING climalog.juego j
     WHERE j.puerto = a_puerto AND h.juego = j.id AND h.inicio >= h0 AND h.inicio < h1;
    INSERT INTO climalog.hora (juego, inicio, lineas, n, minimo, maximo, suma)
    SELECT juego, inicio, max(c), array_agg(n::smallint ORDER BY k), array_agg(mn ORDER BY k), array_agg(mx ORDER BY k),
           array_agg(sm ORDER BY k)
      FROM (SELECT m.juego, to_timestamp(floor(date_part('epoch', m.inicio) / 3600) * 3600) AS inicio, u.k,
                   sum(m.lineas) AS c, sum(u.n) AS n, min(u.mn) AS mn, max(u.mx) AS mx, sum(u.sm) AS sm
              FROM climalog.minuto m JOIN climalog.juego j ON j.id = m.juego,
                   LATERAL unnest(m.n, m.minimo, m.maximo, m.suma) WITH ORDINALITY u(n, mn, mx, sm, k)
             WHERE j.puerto = a_puerto AND m.inicio >= h0 AND m.inicio < h1
             GROUP BY 1, 2, 3) x
     GROUP BY juego, inicio;
END $f$;

-- ---- What a station's role may call: each checks that what it touches is
-- ---- the connected role's own station.

-- The station of this name, taken by the connected role, with its zone.
CREATE FUNCTION climalog.alta_estacion(a_nombre text, a_zona text) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    r integer;
BEGIN
    IF NOT EXISTS (SELECT 1 FROM pg_timezone_names WHERE name = a_zona) THEN
        RAISE EXCEPTION 'Zona horaria desconocida para la base de datos: %', a_zona USING ERRCODE = '22023';
    END IF;
    INSERT INTO climalog.estacion AS e (nombre, zona, rol) VALUES (a_nombre, a_zona, session_user)
    ON CONFLICT (nombre) DO UPDATE SET zona = EXCLUDED.zona, rol = EXCLUDED.rol
     WHERE e.rol IS NULL OR e.rol = session_user
    RETURNING id INTO r;
    IF r IS NULL THEN
        RAISE EXCEPTION 'La estación % es de otro rol de la base de datos, no de %', a_nombre, session_user
              USING ERRCODE = '42501';
    END IF;
    RETURN r;
END $f$;

CREATE FUNCTION climalog.alta_puerto(a_estacion integer, a_nombre text) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    r integer;
BEGIN
    IF NOT EXISTS (SELECT 1 FROM climalog.estacion WHERE id = a_estacion AND rol = session_user) THEN
        RAISE EXCEPTION 'La estación % no es del rol %', a_estacion, session_user USING ERRCODE = '42501';
    END IF;
    SELECT id INTO r FROM climalog.puerto WHERE estacion = a_estacion AND nombre = a_nombre;
    IF r IS NULL THEN
        INSERT INTO climalog.puerto (estacion, nombre) VALUES (a_estacion, a_nombre) ON CONFLICT DO NOTHING RETURNING id INTO r;
    END IF;
    IF r IS NULL THEN
        SELECT id INTO r FROM climalog.puerto WHERE estacion = a_estacion AND nombre = a_nombre;
    END IF;
    RETURN r;
END $f$;

-- A capture file of the port, with the partitions its day needs.
CREATE FUNCTION climalog.alta_fichero(a_puerto integer, a_nombre text) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    r integer;
    d date := climalog.dia_de(a_nombre);
BEGIN
    PERFORM climalog.propio(a_puerto);
    IF d IS NULL OR d < date '2000-01-01' OR d > current_date + 366 THEN
        RAISE EXCEPTION 'Nombre de fichero de captura no válido: %', a_nombre USING ERRCODE = '22023';
    END IF;
    SELECT id INTO r FROM climalog.fichero WHERE puerto = a_puerto AND nombre = a_nombre;
    IF r IS NULL THEN
        -- A day of any zone lies within the day before and the day after in UTC.
        PERFORM climalog.crear_meses(d - 1, d + 2);
        INSERT INTO climalog.fichero (puerto, nombre, dia) VALUES (a_puerto, a_nombre, d)
        ON CONFLICT DO NOTHING RETURNING id INTO r;
    END IF;
    IF r IS NULL THEN
        SELECT id INTO r FROM climalog.fichero WHERE puerto = a_puerto AND nombre = a_nombre;
    END IF;
    RETURN r;
END $f$;

-- The header of these columns (with their series) on the port.
CREATE FUNCTION climalog.alta_juego(a_puerto integer, columnas text[], unidades text[], dispositivos text[], clases text[])
RETURNS integer LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    ids integer[] := '{}';
    s integer;
    j integer;
    vistas text[] := '{}';
    oc integer;
BEGIN
    PERFORM climalog.propio(a_puerto);
    IF cardinality(columnas) IS NULL OR cardinality(unidades) IS DISTINCT FROM cardinality(columnas)
       OR cardinality(dispositivos) IS DISTINCT FROM cardinality(columnas) OR cardinality(clases) IS DISTINCT FROM cardinality(columnas) THEN
        RAISE EXCEPTION 'Cabecera no válida' USING ERRCODE = '22023';
    END IF;
    FOR k IN 1 .. cardinality(columnas) LOOP
        vistas := vistas || columnas[k];
        oc := (SELECT count(*) FROM unnest(vistas) c WHERE c = columnas[k]);
        SELECT id INTO s FROM climalog.serie WHERE puerto = a_puerto AND columna = columnas[k] AND ocurrencia = oc;
        IF s IS NULL THEN
            INSERT INTO climalog.serie (puerto, columna, ocurrencia, unidad, dispositivo, clase)
            VALUES (a_puerto, columnas[k], oc, unidades[k], dispositivos[k], clases[k])
            ON CONFLICT DO NOTHING RETURNING id INTO s;
        END IF;
        IF s IS NULL THEN
            SELECT id INTO s FROM climalog.serie WHERE puerto = a_puerto AND columna = columnas[k] AND ocurrencia = oc;
        END IF;
        ids := ids || s;
    END LOOP;
    SELECT id INTO j FROM climalog.juego WHERE puerto = a_puerto AND climalog.clave(series) = climalog.clave(ids) AND series = ids;
    IF j IS NULL THEN
        INSERT INTO climalog.juego (puerto, series) VALUES (a_puerto, ids) ON CONFLICT DO NOTHING RETURNING id INTO j;
        IF j IS NULL THEN
            SELECT id INTO j FROM climalog.juego WHERE puerto = a_puerto AND climalog.clave(series) = climalog.clave(ids) AND series = ids;
        ELSE
            INSERT INTO climalog.juego_serie (serie, juego, posicion)
            SELECT x, j, k FROM unnest(ids) WITH ORDINALITY u(x, k) ON CONFLICT DO NOTHING;
        END IF;
    END IF;
    RETURN j;
END $f$;

CREATE FUNCTION climalog.progreso_de(a_estacion integer)
RETURNS TABLE (puerto text, fichero text, id integer, posicion bigint, lineas bigint, huella bigint, muestra bigint,
               cabecera bigint, estado bytea, por_clave_hasta bigint)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
SELECT p.nombre, f.nombre, f.id, g.posicion, g.lineas, g.huella, g.muestra, g.cabecera, g.estado, g.por_clave_hasta
  FROM climalog.progreso g
  JOIN climalog.fichero f ON f.id = g.fichero
  JOIN climalog.puerto p ON p.id = f.puerto
  JOIN climalog.estacion e ON e.id = p.estacion
 WHERE e.id = a_estacion AND e.rol = session_user
$f$;

-- A batch of one file: the lines and rollups the caller put in its session's
-- pg_temp.entrada and pg_temp.entrada_resumen, stored with the file's new
-- progress in the caller's transaction, only from the progress it was read
-- from. Plainly, a line of a port and second already stored makes it fail
-- (unique_violation); `reemplazo` then replaces such lines (the newer file
-- wins) and recomputes their rollups. Returns the readings that changed.
CREATE FUNCTION climalog.guardar(a_fichero integer, a_antes bigint, a_antes_huella bigint, a_posicion bigint,
                                 a_lineas bigint, a_huella bigint, a_muestra bigint, a_cabecera bigint,
                                 a_estado bytea, a_por_clave bigint, a_reemplazo boolean)
RETURNS bigint LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    v_puerto integer;
    v_desde timestamptz;
    v_hasta timestamptz;
    v_linea bigint;
    v_cambiadas bigint := 0;
    v_hecho integer;
    v_min timestamptz;
    v_max timestamptz;
BEGIN
    SELECT f.puerto, (f.dia::timestamp AT TIME ZONE e.zona) - interval '10 seconds',
           ((f.dia + 1)::timestamp AT TIME ZONE e.zona) + interval '10 seconds'
      INTO v_puerto, v_desde, v_hasta
      FROM climalog.fichero f JOIN climalog.puerto p ON p.id = f.puerto JOIN climalog.estacion e ON e.id = p.estacion
     WHERE f.id = a_fichero AND e.rol = session_user;
    IF v_puerto IS NULL THEN
        RAISE EXCEPTION 'El fichero % no es de una estación del rol %', a_fichero, session_user USING ERRCODE = '42501';
    END IF;

    -- Progress first: two programs on one station cannot both store a batch.
    UPDATE climalog.progreso
       SET posicion = a_posicion, lineas = a_lineas, huella = a_huella, muestra = a_muestra, cabecera = a_cabecera,
           estado = a_estado, por_clave_hasta = a_por_clave, actualizado = now()
     WHERE fichero = a_fichero AND posicion = a_antes AND huella IS NOT DISTINCT FROM a_antes_huella;
    GET DIAGNOSTICS v_hecho = ROW_COUNT;
    IF v_hecho = 0 AND a_antes = 0 THEN
        INSERT INTO climalog.progreso (fichero, posicion, lineas, huella, muestra, cabecera, estado, por_clave_hasta)
        VALUES (a_fichero, a_posicion, a_lineas, a_huella, a_muestra, a_cabecera, a_estado, a_por_clave)
        ON CONFLICT DO NOTHING;
        GET DIAGNOSTICS v_hecho = ROW_COUNT;
    END IF;
    IF v_hecho = 0 THEN
        RAISE EXCEPTION 'El progreso del fichero % no es el esperado', a_fichero USING ERRCODE = 'CLA01';
    END IF;

    -- Every line: a header of this port, a value per column, within its file's day.
    SELECT x.linea INTO v_linea
      FROM pg_temp.entrada x LEFT JOIN climalog.juego j ON j.id = x.juego
     WHERE j.puerto IS DISTINCT FROM v_puerto OR cardinality(x.valores) <> cardinality(j.series)
        OR cardinality(x.exactos) <> cardinality(j.series) OR x.hora < v_desde OR x.hora >= v_hasta
     LIMIT 1;
    IF v_linea IS NOT NULL THEN
        RAISE EXCEPTION 'La línea % no cabe en el fichero %', v_linea, a_fichero USING ERRCODE = '22023';
    END IF;
    IF EXISTS (SELECT 1 FROM pg_temp.entrada_resumen x LEFT JOIN climalog.juego j ON j.id = x.juego
                WHERE j.puerto IS DISTINCT FROM v_puerto OR x.periodo NOT IN (60, 3600)
                   OR cardinality(x.n) <> cardinality(j.series) OR cardinality(x.minimo) <> cardinality(j.series)
                   OR cardinality(x.maximo) <> cardinality(j.series) OR cardinality(x.suma) <> cardinality(j.series)) THEN
        RAISE EXCEPTION 'Resumen no válido para el fichero %', a_fichero USING ERRCODE = '22023';
    END IF;

    IF NOT a_reemplazo THEN
        INSERT INTO climalog.linea (hora, puerto, fichero, juego, valores, exactos)
        SELECT hora, v_puerto, a_fichero, juego, valores, exactos FROM pg_temp.entrada;
        INSERT INTO climalog.minuto AS r (juego, inicio, lineas, n, minimo, maximo, suma)
        SELECT juego, inicio, lineas, n, minimo, maximo, suma FROM pg_temp.entrada_resumen WHERE periodo = 60
        ON CONFLICT (juego, inicio) DO UPDATE
           SET lineas = r.lineas + EXCLUDED.lineas, n = climalog.sumar(r.n, EXCLUDED.n),
               minimo = climalog.menor(r.minimo, EXCLUDED.minimo), maximo = climalog.mayor(r.maximo, EXCLUDED.maximo),
               suma = climalog.sumar(r.suma, EXCLUDED.suma);
        INSERT INTO climalog.hora AS r (juego, inicio, lineas, n, minimo, maximo, suma)
        SELECT juego, inicio, lineas, n, minimo, maximo, suma FROM pg_temp.entrada_resumen WHERE periodo = 3600
        ON CONFLICT (juego, inicio) DO UPDATE
           SET lineas = r.lineas + EXCLUDED.lineas, n = climalog.sumar(r.n, EXCLUDED.n),
               minimo = climalog.menor(r.minimo, EXCLUDED.minimo), maximo = climalog.mayor(r.maximo, EXCLUDED.maximo),
               suma = climalog.sumar(r.suma, EXCLUDED.suma);
    ELSE
        -- Stored readings of these seconds that the new lines do not keep:
        -- another value, or a column the new line does not have.
        SELECT count(*) INTO v_cambiadas
          FROM (SELECT DISTINCT ON (hora) * FROM pg_temp.entrada ORDER BY hora, linea DESC) x
          JOIN climalog.linea l ON l.puerto = v_puerto AND l.hora = x.hora
          JOIN climalog.juego_serie vl ON vl.juego = l.juego
          LEFT JOIN climalog.juego_serie nx ON nx.juego = x.juego AND nx.serie = vl.serie
         WHERE nx.serie IS NULL
            OR climalog.valor(x.valores, x.exactos, nx.posicion) IS DISTINCT FROM climalog.valor(l.valores, l.exactos, vl.posicion);
        INSERT INTO climalog.linea AS l (hora, puerto, fichero, juego, valores, exactos)
        SELECT DISTINCT ON (hora) hora, v_puerto, a_fichero, juego, valores, exactos
          FROM pg_temp.entrada ORDER BY hora, linea DESC
        ON CONFLICT (puerto, hora) DO UPDATE
           SET fichero = EXCLUDED.fichero, juego = EXCLUDED.juego, valores = EXCLUDED.valores, exactos = EXCLUDED.exactos
         WHERE (l.fichero, l.juego, l.valores, l.exactos)
               IS DISTINCT FROM (EXCLUDED.fichero, EXCLUDED.juego, EXCLUDED.valores, EXCLUDED.exactos);
        SELECT min(hora), max(hora) INTO v_min, v_max FROM pg_temp.entrada;
        IF v_min IS NOT NULL THEN
            PERFORM climalog.resumir(v_puerto, v_min, v_max);
        END IF;
    END IF;

    INSERT INTO climalog.ultima AS u (juego, hora, valores, exactos)
    SELECT DISTINCT ON (juego) juego, hora, valores, exactos FROM pg_temp.entrada ORDER BY juego, hora DESC, linea DESC
    ON CONFLICT (juego) DO UPDATE SET hora = EXCLUDED.hora, valores = EXCLUDED.valores, exactos = EXCLUDED.exactos
     WHERE u.hora <= EXCLUDED.hora;
    RETURN v_cambiadas;
END $f$;

-- A port's configuration file, stored when it differs from the latest one
-- archived. Units and gains: four per device, one after another.
CREATE FUNCTION climalog.guardar_configuracion(a_puerto integer, a_huella bigint, nombres text[], sns text[],
                                               tipos smallint[], minimos real[], maximos real[], acciones smallint[],
                                               reles text[], unidades text[], ganancias real[], periodos smallint[])
RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    c integer;
    n integer := coalesce(cardinality(nombres), 0);
BEGIN
    PERFORM climalog.propio(a_puerto);
    IF (SELECT huella FROM climalog.configuracion WHERE puerto = a_puerto ORDER BY id DESC LIMIT 1) IS NOT DISTINCT FROM a_huella THEN
        RETURN false;
    END IF;
    IF coalesce(cardinality(sns), 0) <> n OR coalesce(cardinality(tipos), 0) <> n OR coalesce(cardinality(minimos), 0) <> n
       OR coalesce(cardinality(maximos), 0) <> n OR coalesce(cardinality(acciones), 0) <> n OR coalesce(cardinality(reles), 0) <> n
       OR coalesce(cardinality(unidades), 0) <> 4 * n OR coalesce(cardinality(ganancias), 0) <> 4 * n
       OR coalesce(cardinality(periodos), 0) <> n THEN
        RAISE EXCEPTION 'Configuración no válida' USING ERRCODE = '22023';
    END IF;
    INSERT INTO climalog.configuracion (puerto, huella) VALUES (a_puerto, a_huella) RETURNING id INTO c;
    INSERT INTO climalog.dispositivo (configuracion, posicion, nombre, sn, tipo, alarma_min, alarma_max, accion, rele,
                                      unidades, ganancias, periodo)
    SELECT c, d.k, d.nombre, d.sn, d.tipo, d.mn, d.mx, d.accion, d.rele, u.a, g.a, d.periodo
      FROM unnest(nombres, sns, tipos, minimos, maximos, acciones, reles, periodos)
           WITH ORDINALITY d(nombre, sn, tipo, mn, mx, accion, rele, periodo, k)
      JOIN (SELECT (i - 1) / 4 + 1 AS k, array_agg(x ORDER BY i) AS a FROM unnest(unidades) WITH ORDINALITY t(x, i) GROUP BY 1) u
        ON u.k = d.k
      JOIN (SELECT (i - 1) / 4 + 1 AS k, array_agg(x ORDER BY i) AS a FROM unnest(ganancias) WITH ORDINALITY t(x, i) GROUP BY 1) g
        ON g.k = d.k;
    RETURN true;
END $f$;

-- ---- The read interface.

CREATE VIEW climalog.lectura AS
SELECT e.nombre AS estacion, p.nombre AS puerto, f.nombre AS fichero, s.columna, l.hora,
       climalog.valor(l.valores, l.exactos, js.posicion) AS valor
  FROM climalog.linea l
  JOIN climalog.puerto p ON p.id = l.puerto
  JOIN climalog.estacion e ON e.id = p.estacion
  JOIN climalog.fichero f ON f.id = l.fichero
  JOIN climalog.juego_serie js ON js.juego = l.juego
  JOIN climalog.serie s ON s.id = js.serie;

-- Hourly figures of every column (hours from the epoch, UTC), from the rollups.
CREATE VIEW climalog.media_horaria AS
SELECT e.nombre AS estacion, p.nombre AS puerto, s.columna, h.inicio AS hora,
       sum(h.suma[js.posicion]) / nullif(sum(h.n[js.posicion]), 0) AS media,
       min(h.minimo[js.posicion]) AS minimo, max(h.maximo[js.posicion]) AS maximo, sum(h.n[js.posicion])::integer AS lecturas
  FROM climalog.hora h
  JOIN climalog.juego_serie js ON js.juego = h.juego
  JOIN climalog.serie s ON s.id = js.serie
  JOIN climalog.puerto p ON p.id = s.puerto
  JOIN climalog.estacion e ON e.id = p.estacion
 GROUP BY e.nombre, p.nombre, s.columna, h.inicio;

-- Set by set, not series by series: a site's every series at once.
CREATE VIEW climalog.resumen AS
WITH cabecera AS (      -- each port's latest header: that of its latest line, or the latest made
    SELECT DISTINCT ON (j.puerto) j.puerto, j.id AS juego
      FROM climalog.juego j LEFT JOIN climalog.ultima x ON x.juego = j.id
     ORDER BY j.puerto, x.hora DESC NULLS LAST, j.id DESC),
ultimo AS (             -- each series' latest reading
    SELECT DISTINCT ON (js.serie) js.serie, x.hora, climalog.valor(x.valores, x.exactos, js.posicion) AS valor
      FROM climalog.juego_serie js JOIN climalog.ultima x ON x.juego = js.juego
     ORDER BY js.serie, x.hora DESC),
equipo AS (             -- each series' device in its port's latest configuration
    SELECT DISTINCT ON (s.id) s.id AS serie, d.*
      FROM climalog.serie s
      JOIN (SELECT puerto, max(id) AS id FROM climalog.configuracion GROUP BY puerto) c ON c.puerto = s.puerto
      JOIN climalog.dispositivo d ON d.configuracion = c.id AND d.nombre = s.dispositivo
     WHERE CASE s.clase WHEN 'T' THEN d.tipo IN (1, 2) WHEN 'H' THEN d.tipo = 2 WHEN '1' THEN d.tipo IN (4, 5)
                        WHEN '2' THEN d.tipo IN (4, 5) ELSE d.tipo = 3 END
     ORDER BY s.id, d.posicion)
SELECT e.nombre AS estacion, e.zona, p.nombre AS puerto, s.id AS serie, s.columna, s.unidad,
       o.posicion AS orden, u.hora, u.valor,
       d.nombre AS dispositivo,
       (ARRAY['STT', 'HRT', 'AVI', 'DET', 'CTR'])[d.tipo] AS tipo,
       CASE WHEN s.clase IN ('T', 'a') AND d.tipo IN (1, 2, 3) THEN d.alarma_min END AS alarma_min,
       CASE WHEN s.clase IN ('T', 'a') AND d.tipo IN (1, 2, 3) THEN d.alarma_max END AS alarma_max,
       coalesce(d.tipo IN (4, 5) OR (s.clase IN ('T', 'a') AND d.tipo IN (1, 2, 3) AND d.accion <> 0), false) AS vigilada,
       d.periodo::integer AS periodo
  FROM climalog.serie s
  JOIN climalog.puerto p ON p.id = s.puerto
  JOIN climalog.estacion e ON e.id = p.estacion
  LEFT JOIN cabecera h ON h.puerto = p.id
  LEFT JOIN climalog.juego_serie o ON o.serie = s.id AND o.juego = h.juego
  LEFT JOIN ultimo u ON u.serie = s.id
  LEFT JOIN equipo d ON d.serie = s.id;

-- Every reading of the series, in the order of their times: the lines' key
-- gives that order, which a sort of a day's readings costs more than. (The
-- read functions compile nothing: their plans' costs, counted over a whole
-- table, would make the server compile them for longer than they run.)
CREATE FUNCTION climalog.lecturas(series integer[], desde timestamptz, hasta timestamptz)
RETURNS TABLE (serie integer, hora timestamptz, valor double precision)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp SET work_mem = '64MB' SET jit = off
SET enable_sort = off AS $f$
#variable_conflict use_column
DECLARE
    p integer[];
BEGIN
    IF lecturas.series IS NULL OR desde IS NULL OR hasta IS NULL THEN
        RAISE EXCEPTION 'climalog.lecturas: argumento nulo' USING ERRCODE = '22004';
    END IF;
    p := ARRAY(SELECT DISTINCT s.puerto FROM climalog.serie s WHERE s.id = ANY (lecturas.series));
    IF cardinality(p) = 1 AND cardinality(lecturas.series) = 1 THEN
        -- One series: its port's lines in their order.
        RETURN QUERY
        SELECT js.serie, l.hora, climalog.valor(l.valores, l.exactos, js.posicion)
          FROM climalog.linea l
          JOIN climalog.juego_serie js ON js.juego = l.juego AND js.serie = lecturas.series[1]
         WHERE l.puerto = p[1] AND l.hora >= desde AND l.hora < hasta
         ORDER BY l.hora;
        RETURN;
    END IF;
    IF cardinality(p) = 1 THEN
        -- One port: its lines in their order, each giving the series asked.
        RETURN QUERY
        SELECT js.serie, l.hora, climalog.valor(l.valores, l.exactos, js.posicion)
          FROM climalog.linea l
          JOIN climalog.juego_serie js ON js.juego = l.juego AND js.serie = ANY (lecturas.series)
         WHERE l.puerto = p[1] AND l.hora >= desde AND l.hora < hasta
         ORDER BY l.hora, js.serie;
        RETURN;
    END IF;
    RETURN QUERY
    SELECT js.serie, l.hora, climalog.valor(l.valores, l.exactos, js.posicion)
      FROM climalog.juego_serie js
      JOIN climalog.juego j ON j.id = js.juego
      JOIN climalog.linea l ON l.puerto = j.puerto AND l.juego = js.juego
     WHERE js.serie = ANY (lecturas.series) AND l.hora >= desde AND l.hora < hasta
     ORDER BY l.hora, js.serie;
END $f$;

-- The bucket of an instant (seconds from the epoch) among `cubos` equal
-- buckets from d0 on, each w seconds.
CREATE FUNCTION climalog.cubo(t double precision, d0 double precision, w double precision, cubos integer)
RETURNS integer LANGUAGE sql IMMUTABLE AS $f$ SELECT least(cubos - 1, greatest(0, floor((t - d0) / w)::integer)) $f$;

-- The units of `paso` seconds (hours or minutes, each named by its first
-- second) that a bucket edge or the range's edge cuts.
CREATE FUNCTION climalog.cortes(d0 double precision, d1 double precision, w double precision, cubos integer, paso double precision)
RETURNS double precision[] LANGUAGE sql IMMUTABLE AS $f$
SELECT ARRAY(
    SELECT DISTINCT u FROM generate_series(0, cubos) i,
           LATERAL (VALUES (floor((d0 + i * w) / paso) * paso), (floor((d0 + i * w) / paso) * paso - paso)) v(u)
     WHERE u + paso > d0 AND u < d1
       AND NOT (u >= d0 AND u + paso <= d1 AND climalog.cubo(u, d0, w, cubos) = climalog.cubo(u + paso - 1, d0, w, cubos)))
$f$;

-- The pieces a series' buckets are made of: whole hours and minutes of the
-- rollups where a bucket holds them whole, the lines themselves where a
-- bucket edge or the range's edge cuts a minute. Each piece: its bucket,
-- its lines, its readings that are not ERR, their minimum and maximum.
-- Lines are reduced by hashing as they are read: a sort would carry every
-- line whole.
CREATE FUNCTION climalog.piezas(s integer, desde timestamptz, hasta timestamptz, cubos integer)
RETURNS TABLE (b integer, lineas bigint, cuenta bigint, mn double precision, mx double precision)
LANGUAGE plpgsql STABLE SET search_path = pg_catalog, pg_temp SET work_mem = '64MB' SET jit = off SET enable_sort = off AS $f$
DECLARE
    d0 double precision := date_part('epoch', desde);
    d1 double precision := date_part('epoch', hasta);
    w double precision := (d1 - d0) / cubos;
    horas double precision[];    -- the hours (their first second) that a bucket edge or the range's edge cuts
    cortados double precision[]; -- the minutes that a bucket edge or the range's edge cuts
    g record;
BEGIN
    IF w >= 3600 THEN
        horas := climalog.cortes(d0, d1, w, cubos, 3600);
    END IF;
    IF w >= 60 THEN
        cortados := climalog.cortes(d0, d1, w, cubos, 60);
    END IF;
    -- Header by header of the series: its column's place and its port are
    -- then constants, and each look-up an index range (OFFSET 0 keeps the
    -- look-ups one per hour or minute).
    FOR g IN SELECT js.juego, j.puerto, js.posicion FROM climalog.juego_serie js JOIN climalog.juego j ON j.id = js.juego
              WHERE js.serie = s LOOP
        IF w >= 3600 THEN
            RETURN QUERY
            SELECT climalog.cubo(date_part('epoch', h.inicio), d0, w, cubos), h.lineas::bigint, h.n[g.posicion]::bigint,
                   h.minimo[g.posicion], h.maximo[g.posicion]
              FROM climalog.hora h
             WHERE h.juego = g.juego AND h.inicio >= desde AND h.inicio + interval '1 hour' <= hasta
               AND climalog.cubo(date_part('epoch', h.inicio), d0, w, cubos) = climalog.cubo(date_part('epoch', h.inicio) + 3599, d0, w, cubos);
            RETURN QUERY
            SELECT climalog.cubo(date_part('epoch', m.inicio), d0, w, cubos), m.lineas::bigint, m.n[g.posicion]::bigint,
                   m.minimo[g.posicion], m.maximo[g.posicion]
              FROM unnest(horas) c(hh),
                   LATERAL (SELECT * FROM climalog.minuto m WHERE m.juego = g.juego AND m.inicio >= to_timestamp(c.hh)
                               AND m.inicio < to_timestamp(c.hh + 3600) OFFSET 0) m
             WHERE m.inicio >= desde AND m.inicio + interval '1 minute' <= hasta
               AND climalog.cubo(date_part('epoch', m.inicio), d0, w, cubos) = climalog.cubo(date_part('epoch', m.inicio) + 59, d0, w, cubos);
        ELSIF w >= 60 THEN
            RETURN QUERY
            SELECT climalog.cubo(date_part('epoch', m.inicio), d0, w, cubos), m.lineas::bigint, m.n[g.posicion]::bigint,
                   m.minimo[g.posicion], m.maximo[g.posicion]
              FROM climalog.minuto m
             WHERE m.juego = g.juego AND m.inicio >= desde AND m.inicio + interval '1 minute' <= hasta
               AND climalog.cubo(date_part('epoch', m.inicio), d0, w, cubos) = climalog.cubo(date_part('epoch', m.inicio) + 59, d0, w, cubos);
        END IF;
        IF w < 60 THEN
            -- Buckets shorter than a minute: every line.
            RETURN QUERY
            SELECT x.b, count(*), count(x.v), min(x.v), max(x.v)
              FROM (SELECT climalog.cubo(date_part('epoch', l.hora), d0, w, cubos) AS b, climalog.valor(l.valores, l.exactos, g.posicion) AS v
                      FROM climalog.linea l
                     WHERE l.puerto = g.puerto AND l.juego = g.juego AND l.hora >= desde AND l.hora < hasta) x
             GROUP BY x.b;
        ELSIF d1 - d0 < cardinality(cortados) * 100 THEN
            -- The lines of the cut minutes, in one pass over the range when
            -- that is cheaper than a look-up a minute (about what a hundred
            -- seconds of lines cost).
            RETURN QUERY
            SELECT x.b, count(*), count(x.v), min(x.v), max(x.v)
              FROM (SELECT climalog.cubo(date_part('epoch', l.hora), d0, w, cubos) AS b, climalog.valor(l.valores, l.exactos, g.posicion) AS v
                      FROM climalog.linea l
                     WHERE l.puerto = g.puerto AND l.juego = g.juego AND l.hora >= desde AND l.hora < hasta
                       AND floor(date_part('epoch', l.hora) / 60) * 60 IN (SELECT unnest(cortados))) x
             GROUP BY x.b;
        ELSE
            RETURN QUERY
            SELECT x.b, count(*), count(x.v), min(x.v), max(x.v)
              FROM (SELECT climalog.cubo(date_part('epoch', l.hora), d0, w, cubos) AS b, climalog.valor(l.valores, l.exactos, g.posicion) AS v
                      FROM unnest(cortados) c(mm),
                           LATERAL (SELECT l.hora, l.valores, l.exactos FROM climalog.linea l
                                     WHERE l.puerto = g.puerto AND l.juego = g.juego AND l.hora >= greatest(to_timestamp(c.mm), desde)
                                       AND l.hora < least(to_timestamp(c.mm + 60), hasta) OFFSET 0) l) x
             GROUP BY x.b;
        END IF;
    END LOOP;
END $f$;

CREATE FUNCTION climalog.tramo(series integer[], desde timestamptz, hasta timestamptz, cubos integer)
RETURNS TABLE (serie integer, hora timestamptz, minimo double precision, maximo double precision, lecturas integer)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp SET work_mem = '64MB' SET jit = off AS $f$
#variable_conflict use_column
DECLARE
    s integer;
    n bigint;
    w double precision;
BEGIN
    IF tramo.series IS NULL OR desde IS NULL OR hasta IS NULL OR cubos IS NULL THEN
        RAISE EXCEPTION 'climalog.tramo: argumento nulo' USING ERRCODE = '22004';
    END IF;
    IF cubos < 1 OR cubos > 20000 THEN
        RAISE EXCEPTION 'climalog.tramo: cubos debe estar entre 1 y 20000, no %', cubos USING ERRCODE = '22023';
    END IF;
    IF hasta <= desde THEN
        RAISE EXCEPTION 'climalog.tramo: el final debe ser posterior al principio' USING ERRCODE = '22023';
    END IF;
    w := (date_part('epoch', hasta) - date_part('epoch', desde)) / cubos;
    FOR s IN SELECT DISTINCT x FROM unnest(tramo.series) x WHERE x IS NOT NULL ORDER BY 1 LOOP
        SELECT count(*) INTO n FROM (
            SELECT 1 FROM climalog.juego_serie js JOIN climalog.juego j ON j.id = js.juego
              JOIN climalog.linea l ON l.puerto = j.puerto AND l.juego = js.juego
             WHERE js.serie = s AND l.hora >= desde AND l.hora < hasta LIMIT cubos + 1) c;
        IF n <= cubos THEN
            RETURN QUERY
            SELECT s, l.hora, v.v, v.v, (v.v IS NOT NULL)::integer
              FROM climalog.juego_serie js JOIN climalog.juego j ON j.id = js.juego
              JOIN climalog.linea l ON l.puerto = j.puerto AND l.juego = js.juego,
                   LATERAL (SELECT climalog.valor(l.valores, l.exactos, js.posicion) AS v) v
             WHERE js.serie = s AND l.hora >= desde AND l.hora < hasta
             ORDER BY l.hora;
        ELSE
            RETURN QUERY
            SELECT s, desde + make_interval(secs => p.b * w), min(p.mn), max(p.mx), sum(p.cuenta)::integer
              FROM climalog.piezas(s, desde, hasta, cubos) p
             GROUP BY p.b ORDER BY p.b;
        END IF;
    END LOOP;
END $f$;

-- ---- A narrow table of the first design, moved into these tables.
CREATE FUNCTION climalog.migrar_anterior() RETURNS bigint
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    n bigint;
BEGIN
    CREATE TEMP TABLE anterior ON COMMIT DROP AS
    SELECT estacion, puerto, fichero, columna, hora, valor, orden
      FROM (SELECT DISTINCT ON (estacion, puerto, fichero, columna, hora)
                   estacion, puerto, fichero, columna, hora, valor, ctid AS orden
              FROM climalog.lectura_anterior
             ORDER BY estacion, puerto, fichero, columna, hora, ctid DESC) a;
    INSERT INTO climalog.estacion (nombre, zona, rol)
    SELECT DISTINCT estacion, current_setting('TimeZone'), NULL::name
      FROM (SELECT estacion FROM anterior UNION SELECT estacion FROM climalog.progreso_anterior) a
    ON CONFLICT (nombre) DO NOTHING;
    INSERT INTO climalog.puerto (estacion, nombre)
    SELECT DISTINCT e.id, a.puerto
      FROM (SELECT estacion, puerto FROM anterior UNION SELECT estacion, puerto FROM climalog.progreso_anterior) a
      JOIN climalog.estacion e ON e.nombre = a.estacion
    ON CONFLICT DO NOTHING;
    INSERT INTO climalog.fichero (puerto, nombre, dia)
    SELECT DISTINCT p.id, a.fichero, coalesce(climalog.dia_de(a.fichero), date '2000-01-01')
      FROM (SELECT estacion, puerto, fichero FROM anterior UNION SELECT estacion, puerto, fichero FROM climalog.progreso_anterior) a
      JOIN climalog.estacion e ON e.nombre = a.estacion JOIN climalog.puerto p ON p.estacion = e.id AND p.nombre = a.puerto
    ON CONFLICT DO NOTHING;
    INSERT INTO climalog.serie (puerto, columna, ocurrencia, unidad, dispositivo, clase)
    SELECT DISTINCT p.id, a.columna, 1,
           CASE WHEN a.columna ~ ' - [a-d] \(.*\)$' THEN substring(a.columna FROM '^.* - [a-d] \((.*)\)$')
                WHEN a.columna ~ ' \([º°]C\)$' THEN 'ºC' WHEN a.columna ~ ' \(%\)$' THEN '%' END,
           CASE WHEN a.columna ~ ' - [a-d] \(.*\)$' THEN substring(a.columna FROM '^(.*) - [a-d] \(.*\)$')
                WHEN a.columna ~ ' \([º°]C\)$' THEN substring(a.columna FROM '^(.*) \([º°]C\)$')
                WHEN a.columna ~ ' \(%\)$' THEN substring(a.columna FROM '^(.*) \(%\)$')
                WHEN a.columna ~ ' - [12]$' THEN substring(a.columna FROM '^(.*) - [12]$') ELSE a.columna END,
           CASE WHEN a.columna ~ ' - [a-d] \(.*\)$' THEN substring(a.columna FROM '^.* - ([a-d]) \(.*\)$')
                WHEN a.columna ~ ' \([º°]C\)$' THEN 'T' WHEN a.columna ~ ' \(%\)$' THEN 'H'
                WHEN a.columna ~ ' - [12]$' THEN right(a.columna, 1) ELSE 'T' END
      FROM (SELECT DISTINCT estacion, puerto, columna FROM anterior) a
      JOIN climalog.estacion e ON e.nombre = a.estacion JOIN climalog.puerto p ON p.estacion = e.id AND p.nombre = a.puerto
    ON CONFLICT DO NOTHING;
    -- A line: the readings of one file and second, in the order they were stored (the header's).
    CREATE TEMP TABLE lineas_anteriores ON COMMIT DROP AS
    SELECT p.id AS puerto, f.id AS fichero, a.fichero AS nombre, a.hora,
           array_agg(s.id ORDER BY a.orden) AS series, array_agg(a.valor ORDER BY a.orden) AS valores
      FROM anterior a
      JOIN climalog.estacion e ON e.nombre = a.estacion
      JOIN climalog.puerto p ON p.estacion = e.id AND p.nombre = a.puerto
      JOIN climalog.fichero f ON f.puerto = p.id AND f.nombre = a.fichero
      JOIN climalog.serie s ON s.puerto = p.id AND s.columna = a.columna AND s.ocurrencia = 1
     GROUP BY p.id, f.id, a.fichero, a.hora;
    INSERT INTO climalog.juego (puerto, series)
    SELECT DISTINCT puerto, series FROM lineas_anteriores ON CONFLICT DO NOTHING;
    INSERT INTO climalog.juego_serie (serie, juego, posicion)
    SELECT u.x, j.id, u.k FROM climalog.juego j, unnest(j.series) WITH ORDINALITY u(x, k) ON CONFLICT DO NOTHING;
    PERFORM climalog.crear_meses(min(hora)::date - 1, max(hora)::date + 1) FROM lineas_anteriores HAVING count(*) > 0;
    -- A second held by two files keeps the later file's line.
    INSERT INTO climalog.linea (hora, puerto, fichero, juego, valores, exactos)
    SELECT DISTINCT ON (a.puerto, a.hora) a.hora, a.puerto, a.fichero, j.id,
           ARRAY(SELECT climalog.codigo(v) FROM unnest(a.valores) WITH ORDINALITY u(v, k) ORDER BY k),
           CASE WHEN EXISTS (SELECT 1 FROM unnest(a.valores) v WHERE v IS NOT NULL AND climalog.codigo(v) IS NULL)
                THEN a.valores END
      FROM lineas_anteriores a
      JOIN climalog.juego j ON j.puerto = a.puerto AND climalog.clave(j.series) = climalog.clave(a.series) AND j.series = a.series
     ORDER BY a.puerto, a.hora, a.nombre DESC;
    GET DIAGNOSTICS n = ROW_COUNT;
    PERFORM climalog.resumir(p.id, min(l.hora), max(l.hora)) FROM climalog.puerto p JOIN climalog.linea l ON l.puerto = p.id GROUP BY p.id;
    INSERT INTO climalog.ultima (juego, hora, valores, exactos)
    SELECT DISTINCT ON (juego) juego, hora, valores, exactos FROM climalog.linea ORDER BY juego, hora DESC
    ON CONFLICT (juego) DO NOTHING;
    -- The files' progress: read again by key up to where they were archived.
    INSERT INTO climalog.progreso (fichero, posicion, lineas, huella, muestra, cabecera, estado, por_clave_hasta)
    SELECT f.id, a.posicion, 0, NULL, NULL, -1, NULL, greatest(a.posicion, a.por_clave_hasta)
      FROM climalog.progreso_anterior a
      JOIN climalog.estacion e ON e.nombre = a.estacion
      JOIN climalog.puerto p ON p.estacion = e.id AND p.nombre = a.puerto
      JOIN climalog.fichero f ON f.puerto = p.id AND f.nombre = a.fichero;
    RETURN n;
END $f$;

DO $$
BEGIN
    IF to_regclass('climalog.lectura_anterior') IS NOT NULL THEN
        PERFORM climalog.migrar_anterior();
    END IF;
END $$;
)sql";

// Run on every set-up, whatever the version: the roles (when missing), who
// may do what, and the month partitions of the present and the next months.
const char *const grants = R"sql(
DO $$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'climalog_estacion') THEN
        CREATE ROLE climalog_estacion NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'climalog_lectura') THEN
        CREATE ROLE climalog_lectura NOLOGIN;
    END IF;
END $$;
REVOKE ALL ON SCHEMA climalog FROM PUBLIC;
REVOKE ALL ON ALL TABLES IN SCHEMA climalog FROM PUBLIC;
REVOKE ALL ON ALL SEQUENCES IN SCHEMA climalog FROM PUBLIC;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA climalog FROM PUBLIC;
GRANT USAGE ON SCHEMA climalog TO climalog_estacion, climalog_lectura;
GRANT SELECT ON climalog.version TO climalog_estacion, climalog_lectura;
GRANT EXECUTE ON FUNCTION
    climalog.alta_estacion(text, text),
    climalog.alta_puerto(integer, text),
    climalog.alta_fichero(integer, text),
    climalog.alta_juego(integer, text[], text[], text[], text[]),
    climalog.progreso_de(integer),
    climalog.guardar(integer, bigint, bigint, bigint, bigint, bigint, bigint, bigint, bigint, bytea, bigint, boolean, boolean,
                     climalog.entrada[]),
    climalog.guardar_configuracion(integer, bigint, text[], text[], smallint[], real[], real[], smallint[], text[], text[], real[], smallint[])
  TO climalog_estacion;
GRANT SELECT ON climalog.resumen, climalog.lectura, climalog.media_horaria TO climalog_lectura;
GRANT EXECUTE ON FUNCTION
    climalog.tramo(integer[], timestamptz, timestamptz, integer),
    climalog.lecturas(integer[], timestamptz, timestamptz),
    climalog.valor(integer[], double precision[], integer)
  TO climalog_lectura;
SELECT climalog.crear_meses(current_date - 1, current_date + 32);
)sql";

struct Migration {
    int version;
    const char *const *sql;
};
constexpr std::array<Migration, 2> migrations{{{1, &version1}, {2, &version2}}};
static_assert(migrations.back().version == schemaVersion);

bool run(pg_conn *c, const char *sql, QString &error)
{
    PGresult *r = PQexec(c, sql);
    const ExecStatusType s = PQresultStatus(r);
    const bool ok = s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
    if (!ok)
        error = serverText(c);
    PQclear(r);
    return ok;
}

} // namespace

bool prepare(pg_conn *c, QStringList &report, QString &error)
{
    // One set-up at a time: the lock is the transaction's.
    if (!run(c, "BEGIN; SELECT pg_advisory_xact_lock(4354353746960623463)", error))
        return false;
    const int found = storedSchemaVersion(c, error);
    if (found < 0)
        return run(c, "ROLLBACK", error), false;
    if (found > schemaVersion) {
        error = QStringLiteral("El esquema climalog es de la versión %1, más nueva que la %2 de este programa").arg(found).arg(schemaVersion);
        run(c, "ROLLBACK", error);
        return false;
    }
    const bool legacy = found == 0 && [&] {
        PGresult *r = PQexec(c, "SELECT to_regclass('climalog.lectura') IS NOT NULL");
        const bool yes = PQntuples(r) == 1 && PQgetvalue(r, 0, 0)[0] == 't';
        PQclear(r);
        return yes;
    }();
    for (const Migration &m : migrations) {
        if (m.version <= found)
            continue;
        if (!run(c, *m.sql, error)) {
            error = QStringLiteral("No se puede poner el esquema climalog en la versión %1: %2").arg(m.version).arg(error);
            QString ignored;
            run(c, "ROLLBACK", ignored);
            return false;
        }
        report << QStringLiteral("Esquema climalog puesto en la versión %1.").arg(m.version);
    }
    if (!run(c, "UPDATE climalog.version SET version = " + QByteArray::number(schemaVersion), error) || !run(c, grants, error)) {
        error = QStringLiteral("No se pueden dar los permisos del esquema climalog (el propietario necesita poder crear roles, "
                               "o que un superusuario cree antes climalog_estacion y climalog_lectura): %1")
                    .arg(error);
        QString ignored;
        run(c, "ROLLBACK", ignored);
        return false;
    }
    if (!run(c, "COMMIT", error))
        return false;
    if (legacy)
        report << QStringLiteral("Las lecturas de la tabla anterior están ya en el esquema nuevo; la tabla queda como "
                                 "climalog.lectura_anterior (y su progreso como climalog.progreso_anterior) hasta que la borre.");
    report << QStringLiteral("Roles climalog_estacion (estaciones) y climalog_lectura (lectores) con sus permisos; "
                             "particiones hasta el mes que viene.");
    return true;
}

} // namespace central
