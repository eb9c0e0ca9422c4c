-- The stations' write functions and what they call. Each function as it is
-- now: run again by every version step that changes one.

-- The day a capture file's name gives ("07-12-2026-00.log").
CREATE OR REPLACE FUNCTION @schema@.dia_de(nombre text) RETURNS date
LANGUAGE plpgsql IMMUTABLE AS $f$
BEGIN
    IF nombre !~ '^\d\d-\d\d-\d\d\d\d-\d\d\.log$' THEN
        RETURN NULL;
    END IF;
    RETURN to_date(left(nombre, 10), 'DD-MM-YYYY');
EXCEPTION WHEN OTHERS THEN
    RETURN NULL;
END $f$;

-- Raises unless the port belongs to a station of the connected role.
CREATE OR REPLACE FUNCTION @schema@.propio(a_puerto integer) RETURNS void
LANGUAGE plpgsql STABLE SET search_path = pg_catalog, pg_temp AS $f$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM @schema@.puerto p JOIN @schema@.estacion e ON e.id = p.estacion
                   WHERE p.id = a_puerto AND e.rol = session_user) THEN
        RAISE EXCEPTION 'El puerto % no es de una estación del rol %', a_puerto, session_user USING ERRCODE = '42501';
    END IF;
END $f$;

-- The connected role has the rights of the schema's owner.
CREATE OR REPLACE FUNCTION @schema@.es_propietario() RETURNS boolean
LANGUAGE sql STABLE SET search_path = pg_catalog, pg_temp AS $f$
SELECT pg_has_role(session_user, n.nspowner, 'USAGE') FROM pg_namespace n WHERE n.nspname = '@schema@'
$f$;

-- Every reading of these lines with its header, minute (from the epoch)
-- and place, decoded once: the readings come out of the lines beside them
-- (no table function a line), and OFFSET 0 keeps the decoded value one
-- column, which each aggregate over it would otherwise decode again.
CREATE OR REPLACE FUNCTION @schema@.lecturas_de(lineas @schema@.entrada[])
RETURNS TABLE (juego integer, minuto double precision, k integer, v double precision)
LANGUAGE sql IMMUTABLE AS $f$
SELECT juego, minuto, k, CASE WHEN exacta THEN e ELSE @schema@.valor_de(c) END
  FROM (SELECT x.juego, floor(date_part('epoch', x.hora) / 60) AS minuto, x.exactos IS NOT NULL AS exacta,
               unnest(x.valores) AS c, unnest(x.exactos) AS e, generate_series(1, cardinality(x.valores)) AS k
          FROM unnest(lineas) x) u
OFFSET 0
$f$;

-- The minute rollups of these lines, per header and column: lines,
-- readings that are not ERR, their minimum, maximum, sum, sum of squares
-- and, for temperatures, the sum of exp(-10000 / (v + 273.15)) that the
-- mean kinetic temperature is made of. The exponent and the square are
-- bounded so that no reading, however far out, makes the batch fail: a
-- reading below -259 ºC or beyond 1e100 gives a term the report does not
-- use (it reads such a column's lines); an ERR adds e^-714, which no sum of
-- readings above -259 ºC can hold. In PL/pgSQL, as the lines of a station's
-- rows below, for its plan to be made once a session, not at every batch.
CREATE OR REPLACE FUNCTION @schema@.resumen_de(lineas @schema@.entrada[])
RETURNS TABLE (juego integer, minuto double precision, k integer, c bigint, n bigint, mn double precision,
               mx double precision, sm double precision, sq double precision, ar double precision)
LANGUAGE plpgsql STABLE SET search_path = pg_catalog, pg_temp AS $f$
#variable_conflict use_column
BEGIN
RETURN QUERY
WITH x AS MATERIALIZED (
    SELECT juego, minuto, k, count(*) AS c, count(v) AS n, min(v) AS mn, max(v) AS mx, sum(v) AS sm,
           sum(CASE WHEN abs(v) < 1e100 THEN v * v WHEN v IS NOT NULL THEN 'Infinity' END) AS sq,
           sum(exp(-10000 / greatest(v + 273.15, 14))) AS ar
      FROM @schema@.lecturas_de(lineas) GROUP BY 1, 2, 3)
SELECT x.juego, x.minuto, x.k, x.c, x.n, x.mn, x.mx, x.sm, x.sq, CASE WHEN t.k IS NOT NULL THEN x.ar END
  FROM x
  LEFT JOIN (SELECT js.juego, js.posicion AS k FROM @schema@.juego_serie js JOIN @schema@.serie s ON s.id = js.serie
              WHERE s.clase = 'T' AND js.juego IN (SELECT DISTINCT x.juego FROM x)) t
    ON t.juego = x.juego AND t.k = x.k;
END $f$;

-- Rollups of a port's lines recomputed from the lines themselves, for the
-- minutes and hours that meet [desde, hasta]: after lines were replaced or
-- dropped. Each line's values are read once, in order.
CREATE OR REPLACE FUNCTION @schema@.resumir(a_puerto integer, desde timestamptz, hasta timestamptz) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    m0 timestamptz := to_timestamp(floor(date_part('epoch', desde) / 60) * 60);
    m1 timestamptz := to_timestamp(floor(date_part('epoch', hasta) / 60) * 60 + 60);
    h0 timestamptz := to_timestamp(floor(date_part('epoch', desde) / 3600) * 3600);
    h1 timestamptz := to_timestamp(floor(date_part('epoch', hasta) / 3600) * 3600 + 3600);
    -- The lines in a variable: a sub-select as the argument would keep the
    -- readings' query apart from the query aggregating them.
    v_lineas @schema@.entrada[] := ARRAY(SELECT ROW(l.hora, l.juego, 0::bigint, l.valores, l.exactos)::@schema@.entrada
                                           FROM @schema@.lineas_de(a_puerto, m0, m1) l);
BEGIN
    DELETE FROM @schema@.minuto m USING @schema@.juego j
     WHERE j.puerto = a_puerto AND m.juego = j.id AND m.inicio >= m0 AND m.inicio < m1;
    INSERT INTO @schema@.minuto (juego, inicio, lineas, n, minimo, maximo, suma, cuadrados, arrhenius)
    SELECT juego, to_timestamp(minuto * 60), max(c), array_agg(n::smallint ORDER BY k), array_agg(mn ORDER BY k),
           array_agg(mx ORDER BY k), array_agg(sm ORDER BY k), array_agg(sq ORDER BY k), array_agg(ar ORDER BY k)
      FROM @schema@.resumen_de(v_lineas) x
     GROUP BY juego, minuto;
    DELETE FROM @schema@.hora h USING @schema@.juego j
     WHERE j.puerto = a_puerto AND h.juego = j.id AND h.inicio >= h0 AND h.inicio < h1;
    INSERT INTO @schema@.hora (juego, inicio, lineas, n, minimo, maximo, suma, cuadrados, arrhenius)
    SELECT juego, inicio, max(c), array_agg(n::smallint ORDER BY k), array_agg(mn ORDER BY k), array_agg(mx ORDER BY k),
           array_agg(sm ORDER BY k), array_agg(sq ORDER BY k), array_agg(ar ORDER BY k)
      FROM (SELECT m.juego, to_timestamp(floor(date_part('epoch', m.inicio) / 3600) * 3600) AS inicio, u.k,
                   sum(m.lineas) AS c, sum(u.n) AS n, min(u.mn) AS mn, max(u.mx) AS mx, sum(u.sm) AS sm,
                   sum(u.sq) AS sq, sum(u.ar) AS ar
              FROM @schema@.minuto m JOIN @schema@.juego j ON j.id = m.juego,
                   LATERAL unnest(m.n, m.minimo, m.maximo, m.suma, m.cuadrados, m.arrhenius)
                           WITH ORDINALITY u(n, mn, mx, sm, sq, ar, k)
             WHERE j.puerto = a_puerto AND m.inicio >= h0 AND m.inicio < h1
             GROUP BY 1, 2, 3) x
     GROUP BY juego, inicio;
END $f$;

-- The latest line of each of these headers of the port, after lines went.
CREATE OR REPLACE FUNCTION @schema@.ultimas(a_puerto integer, juegos integer[]) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $f$
BEGIN
    DELETE FROM @schema@.ultima WHERE juego = ANY (juegos);
    INSERT INTO @schema@.ultima (juego, hora, valores, exactos)
    SELECT b.juego, l.hora, l.valores, l.exactos
      FROM unnest(juegos) g(juego),
           LATERAL (SELECT * FROM @schema@.bloque b WHERE b.puerto = a_puerto AND b.juego = g.juego
                     ORDER BY b.inicio DESC, b.segundos[cardinality(b.segundos)] DESC LIMIT 1) b,
           LATERAL (SELECT * FROM @schema@.desplegar(b.inicio, b.segundos, b.valores, b.exactos) d
                     ORDER BY d.hora DESC LIMIT 1) l;
END $f$;

-- The port's rows of these minutes merged with these lines, the later line
-- of a second winning (a batch's over those stored, a batch's later line
-- over its earlier), and written again a row per minute, file and header;
-- with `a_apartar` (and no lines), the file's stored lines set aside.
CREATE OR REPLACE FUNCTION @schema@.fundir(a_puerto integer, a_fichero integer, a_minutos timestamptz[],
                                           a_entrada @schema@.entrada[], a_apartar boolean) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp SET work_mem = '64MB' SET jit = off AS $f$
BEGIN
    WITH idos AS (
        DELETE FROM @schema@.bloque b WHERE b.puerto = a_puerto AND b.inicio = ANY (a_minutos)
        RETURNING b.inicio, b.fichero, b.juego, b.segundos, b.valores, b.exactos),
    todas AS (
        SELECT l.hora, CASE WHEN a_apartar AND abs(i.fichero) = a_fichero THEN -a_fichero ELSE i.fichero END AS fichero,
               i.juego, l.valores, l.exactos, 0 AS nueva, 0::bigint AS orden
          FROM idos i, LATERAL @schema@.desplegar(i.inicio, i.segundos, i.valores, i.exactos) l
        UNION ALL
        SELECT x.hora, a_fichero, x.juego, x.valores, x.exactos, 1, x.linea
          FROM unnest(a_entrada) x),
    elegidas AS (
        SELECT DISTINCT ON (hora) t.*, floor(date_part('epoch', t.hora) / 60) * 60 AS m
          FROM todas t ORDER BY hora, nueva DESC, orden DESC)
    INSERT INTO @schema@.bloque (puerto, inicio, fichero, juego, segundos, valores, exactos)
    SELECT a_puerto, to_timestamp(m), fichero, juego, array_agg((date_part('epoch', hora) - m)::smallint ORDER BY hora),
           @schema@.juntar(@schema@.codigos(valores, exactos) ORDER BY hora),
           @schema@.exactos_de(array_agg((date_part('epoch', hora) - m)::smallint ORDER BY hora),
               array_agg((date_part('epoch', hora) - m)::smallint) FILTER (WHERE cardinality(array_remove(exactos, NULL)) > 0),
               array_agg(exactos) FILTER (WHERE cardinality(array_remove(exactos, NULL)) > 0))
      FROM elegidas GROUP BY m, fichero, juego;
END $f$;

-- The connected role's own file: its port, the instants its day may hold
-- (10 s either side), the port's row lock taken (a port's lines are merged
-- minute by minute: one batch of the port at a time), and the file's progress
-- moved from `a_antes` to its new point.
CREATE OR REPLACE FUNCTION @schema@.avanzar(a_fichero integer, a_antes bigint, a_antes_huella bigint, a_posicion bigint,
                                            a_lineas bigint, a_huella bigint, a_muestra bigint, a_cabecera bigint,
                                            a_estado bytea, a_por_clave bigint,
                                            OUT o_puerto integer, OUT o_desde timestamptz, OUT o_hasta timestamptz)
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    v_hecho integer;
BEGIN
    SELECT f.puerto, (f.dia::timestamp AT TIME ZONE e.zona) - interval '10 seconds',
           ((f.dia + 1)::timestamp AT TIME ZONE e.zona) + interval '10 seconds'
      INTO o_puerto, o_desde, o_hasta
      FROM @schema@.fichero f JOIN @schema@.puerto p ON p.id = f.puerto JOIN @schema@.estacion e ON e.id = p.estacion
     WHERE f.id = a_fichero AND e.rol = session_user;
    IF o_puerto IS NULL THEN
        RAISE EXCEPTION 'El fichero % no es de una estación del rol %', a_fichero, session_user USING ERRCODE = '42501';
    END IF;
    -- The port's lines are merged minute by minute: one batch of the port at a time.
    PERFORM 1 FROM @schema@.puerto WHERE id = o_puerto FOR NO KEY UPDATE;

    -- Progress first: two programs on one station cannot both store a batch.
    UPDATE @schema@.progreso
       SET posicion = a_posicion, lineas = a_lineas, huella = a_huella, muestra = a_muestra, cabecera = a_cabecera,
           estado = a_estado, por_clave_hasta = a_por_clave, actualizado = now()
     WHERE fichero = a_fichero AND posicion = a_antes AND huella IS NOT DISTINCT FROM a_antes_huella;
    GET DIAGNOSTICS v_hecho = ROW_COUNT;
    IF v_hecho = 0 AND a_antes = 0 THEN
        INSERT INTO @schema@.progreso (fichero, posicion, lineas, huella, muestra, cabecera, estado, por_clave_hasta)
        VALUES (a_fichero, a_posicion, a_lineas, a_huella, a_muestra, a_cabecera, a_estado, a_por_clave)
        ON CONFLICT DO NOTHING;
        GET DIAGNOSTICS v_hecho = ROW_COUNT;
    END IF;
    IF v_hecho = 0 THEN
        RAISE EXCEPTION 'El progreso del fichero % no es el esperado', a_fichero USING ERRCODE = 'CLA01';
    END IF;
END $f$;

-- These figures of minutes or of hours (`tabla`), one a header and period,
-- added to those stored.
CREATE OR REPLACE FUNCTION @schema@.sumar_cifras(tabla text, cifras @schema@.cifras[]) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $f$
BEGIN
    IF tabla NOT IN ('minuto', 'hora') THEN
        RAISE EXCEPTION 'Tabla de cifras desconocida: %', tabla USING ERRCODE = '22023';
    END IF;
    EXECUTE format($q$
        INSERT INTO @schema@.%I AS r (juego, inicio, lineas, n, minimo, maximo, suma, cuadrados, arrhenius)
        SELECT juego, inicio, lineas, n, minimo, maximo, suma, cuadrados, arrhenius FROM unnest($1)
        ON CONFLICT (juego, inicio) DO UPDATE
           SET lineas = r.lineas + EXCLUDED.lineas, n = @schema@.sumar(r.n, EXCLUDED.n),
               minimo = @schema@.menor(r.minimo, EXCLUDED.minimo), maximo = @schema@.mayor(r.maximo, EXCLUDED.maximo),
               suma = @schema@.sumar(r.suma, EXCLUDED.suma), cuadrados = @schema@.sumar(r.cuadrados, EXCLUDED.cuadrados),
               arrhenius = @schema@.sumar(r.arrhenius, EXCLUDED.arrhenius)$q$, tabla) USING cifras;
END $f$;

-- Two figures the same but for the rounding of their sums' order.
CREATE OR REPLACE FUNCTION @schema@.cerca(a double precision, b double precision) RETURNS boolean
LANGUAGE sql IMMUTABLE AS $f$
SELECT a IS NOT DISTINCT FROM b OR abs(a - b) <= 1e-9 * greatest(abs(a), abs(b))
$f$;

-- The lines of a station's rows (see @schema@.guardar_filas), each
-- numbered by its row's first file line.
CREATE OR REPLACE FUNCTION @schema@.lineas_de_filas(filas @schema@.fila[]) RETURNS @schema@.entrada[]
LANGUAGE plpgsql IMMUTABLE SET search_path = pg_catalog, pg_temp AS $f$
BEGIN
    RETURN ARRAY(SELECT ROW(l.hora, x.juego, x.linea, l.valores, l.exactos)::@schema@.entrada
                   FROM unnest(filas) x, LATERAL @schema@.desplegar(x.inicio, x.segundos, x.valores, x.exactos) l);
END $f$;

-- A batch of rows' figures checked against its rows (see
-- @schema@.guardar_filas): those of about one row in 64 picked at random,
-- and of one row at least, against the rows' lines, whose seconds must rise
-- (a station cannot tell which are looked at); those of every hour, against
-- its rows' figures: a station sends the hours in the order it likes, so any
-- one hour looked at alone would be of its choosing.
CREATE OR REPLACE FUNCTION @schema@.comprobar_filas(a_filas @schema@.fila[], a_horas @schema@.cifras[]) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    v_elegidas @schema@.fila[] := ARRAY(SELECT a_filas[k] FROM generate_subscripts(a_filas, 1) k
                                         WHERE random() < 1.0 / 64);
    v_lineas @schema@.entrada[];
BEGIN
    IF cardinality(v_elegidas) = 0 AND cardinality(a_filas) > 0 THEN
        v_elegidas := ARRAY[a_filas[1 + floor(random() * cardinality(a_filas))::integer]];
    END IF;
    v_lineas := @schema@.lineas_de_filas(v_elegidas);
    IF EXISTS (SELECT 1 FROM unnest(v_elegidas) x, LATERAL unnest(x.segundos, x.segundos[2:]) u(a, b) WHERE u.a >= u.b) THEN
        RAISE EXCEPTION 'Los segundos de una fila del lote no van en orden' USING ERRCODE = '22023';
    END IF;
    IF EXISTS (SELECT 1
                 FROM @schema@.resumen_de(v_lineas) r
                 JOIN (SELECT x.juego, date_part('epoch', x.inicio) / 60 AS minuto, cardinality(x.segundos) AS l, u.*
                         FROM unnest(v_elegidas) x,
                              LATERAL unnest(x.n, x.minimo, x.maximo, x.suma, x.cuadrados, x.arrhenius)
                                      WITH ORDINALITY u(n, mn, mx, sm, sq, ar, k)) f
                   ON f.juego = r.juego AND f.minuto = r.minuto AND f.k = r.k
                WHERE r.c <> f.l OR r.n <> f.n OR r.mn IS DISTINCT FROM f.mn OR r.mx IS DISTINCT FROM f.mx
                   OR NOT @schema@.cerca(r.sm, f.sm) OR NOT @schema@.cerca(r.sq, f.sq) OR NOT @schema@.cerca(r.ar, f.ar))
       OR EXISTS (SELECT 1
                    FROM (SELECT x.juego, x.hora AS inicio, u.k, sum(u.n) AS n, min(u.mn) AS mn, max(u.mx) AS mx,
                                 sum(u.sm) AS sm, sum(u.sq) AS sq, sum(u.ar) AS ar
                            FROM (SELECT x.*, to_timestamp(floor(date_part('epoch', x.inicio) / 3600) * 3600) AS hora
                                    FROM unnest(a_filas) x OFFSET 0) x,   -- each row's hour once, not once a column
                                 LATERAL unnest(x.n, x.minimo, x.maximo, x.suma, x.cuadrados, x.arrhenius)
                                         WITH ORDINALITY u(n, mn, mx, sm, sq, ar, k)
                           GROUP BY 1, 2, 3) f
                    JOIN (SELECT h.juego, h.inicio, u.*
                            FROM unnest(a_horas) h,
                                 LATERAL unnest(h.n, h.minimo, h.maximo, h.suma, h.cuadrados, h.arrhenius)
                                         WITH ORDINALITY u(n, mn, mx, sm, sq, ar, k)) h
                      ON h.juego = f.juego AND h.inicio = f.inicio AND h.k = f.k
                   WHERE f.n <> h.n OR f.mn IS DISTINCT FROM h.mn OR f.mx IS DISTINCT FROM h.mx
                      OR NOT @schema@.cerca(f.sm, h.sm) OR NOT @schema@.cerca(f.sq, h.sq) OR NOT @schema@.cerca(f.ar, h.ar)) THEN
        RAISE EXCEPTION 'Las cifras del lote no son las de sus líneas' USING ERRCODE = '22023';
    END IF;
END $f$;

-- ---- What a station's role may call: each checks that what it touches is
-- ---- the connected role's own station.

-- The station of this name, for the connected role, with its zone. A role
-- takes only a station the owner gave it (a row of @schema@.estacion with
-- its name in rol); the owner's own roles may make new stations and take
-- those of no role.
CREATE OR REPLACE FUNCTION @schema@.alta_estacion(a_nombre text, a_zona text) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp SET timezone = 'UTC' AS $f$
DECLARE
    r integer;
    dueno name;
    v_zona text;
BEGIN
    IF a_nombre IS NULL OR length(a_nombre) NOT BETWEEN 1 AND 200 OR a_nombre ~ '[[:cntrl:]]' THEN
        RAISE EXCEPTION 'Nombre de estación no válido' USING ERRCODE = '22023';
    END IF;
    SELECT id, rol, zona INTO r, dueno, v_zona FROM @schema@.estacion WHERE nombre = a_nombre FOR UPDATE;
    -- A zone the station does not have yet: the server must know it. Tried
    -- as this call's own zone (restored as it ends) rather than found in the
    -- list of every zone, which the server reads from its disk in tens of ms.
    -- (No zone at all is tried as '', which no zone is.)
    IF a_zona IS NULL OR v_zona IS DISTINCT FROM a_zona THEN
        BEGIN
            PERFORM set_config('timezone', coalesce(a_zona, ''), true);
        EXCEPTION WHEN invalid_parameter_value THEN
            RAISE EXCEPTION 'Zona horaria desconocida para la base de datos: %', a_zona USING ERRCODE = '22023';
        END;
    END IF;
    IF r IS NULL THEN
        IF NOT @schema@.es_propietario() THEN
            RAISE EXCEPTION 'La estación % no está dada de alta para el rol %: el propietario del esquema la da de alta con INSERT INTO @schema@.estacion (nombre, rol)',
                  a_nombre, session_user USING ERRCODE = '42501';
        END IF;
        INSERT INTO @schema@.estacion (nombre, zona, rol) VALUES (a_nombre, a_zona, session_user)
        ON CONFLICT (nombre) DO NOTHING RETURNING id, rol INTO r, dueno;
        IF r IS NULL THEN
            SELECT id, rol INTO r, dueno FROM @schema@.estacion WHERE nombre = a_nombre FOR UPDATE;
        END IF;
    END IF;
    IF dueno IS DISTINCT FROM session_user AND NOT (dueno IS NULL AND @schema@.es_propietario()) THEN
        RAISE EXCEPTION 'La estación % es de otro rol de la base de datos, no de %', a_nombre, session_user
              USING ERRCODE = '42501';
    END IF;
    UPDATE @schema@.estacion SET zona = a_zona, rol = session_user
     WHERE id = r AND (zona, rol) IS DISTINCT FROM (a_zona, session_user);
    RETURN r;
END $f$;

-- A port of the connected role's station: a folder's name, at most 16 a station.
CREATE OR REPLACE FUNCTION @schema@.alta_puerto(a_estacion integer, a_nombre text) RETURNS integer
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    r integer;
BEGIN
    PERFORM 1 FROM @schema@.estacion WHERE id = a_estacion AND rol = session_user FOR UPDATE;
    IF NOT FOUND THEN
        RAISE EXCEPTION 'La estación % no es del rol %', a_estacion, session_user USING ERRCODE = '42501';
    END IF;
    SELECT id INTO r FROM @schema@.puerto WHERE estacion = a_estacion AND nombre = a_nombre;
    IF r IS NOT NULL THEN
        RETURN r;
    END IF;
    IF a_nombre IS NULL OR length(a_nombre) NOT BETWEEN 1 AND 64 OR a_nombre ~ '[[:cntrl:]/\\]' THEN
        RAISE EXCEPTION 'Nombre de puerto no válido' USING ERRCODE = '22023';
    END IF;
    IF (SELECT count(*) FROM @schema@.puerto WHERE estacion = a_estacion) >= 16 THEN
        RAISE EXCEPTION 'La estación % tiene ya 16 puertos, los que puede tener', a_estacion USING ERRCODE = '54000';
    END IF;
    INSERT INTO @schema@.puerto (estacion, nombre) VALUES (a_estacion, a_nombre) RETURNING id INTO r;
    RETURN r;
END $f$;

-- A capture file of the port, with the partitions its day needs.
CREATE OR REPLACE FUNCTION @schema@.alta_fichero(a_puerto integer, a_nombre text)
RETURNS integer LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    r integer;
    d date := @schema@.dia_de(a_nombre);
BEGIN
    PERFORM @schema@.propio(a_puerto);
    IF d IS NULL OR d < date '2000-01-01' OR d > current_date + 366 THEN
        RAISE EXCEPTION 'Nombre de fichero de captura no válido: %', a_nombre USING ERRCODE = '22023';
    END IF;
    SELECT id INTO r FROM @schema@.fichero WHERE puerto = a_puerto AND nombre = a_nombre;
    IF r IS NULL THEN
        -- A day of any zone lies within the day before and the day after in UTC.
        PERFORM @schema@.crear_meses(d - 1, d + 2);
        INSERT INTO @schema@.fichero (puerto, nombre, dia) VALUES (a_puerto, a_nombre, d)
        ON CONFLICT DO NOTHING RETURNING id INTO r;
    END IF;
    IF r IS NULL THEN
        SELECT id INTO r FROM @schema@.fichero WHERE puerto = a_puerto AND nombre = a_nombre;
    END IF;
    RETURN r;
END $f$;

-- The header of these columns (with their series) on the port, in one pass
-- over the columns: the n-th column of a text is its n-th series.
CREATE OR REPLACE FUNCTION @schema@.alta_juego(a_puerto integer, columnas text[], unidades text[], dispositivos text[], clases text[])
RETURNS integer LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    ids integer[];
    j integer;
    n integer := cardinality(columnas);
BEGIN
    PERFORM @schema@.propio(a_puerto);
    IF n IS NULL OR n > 131068 OR cardinality(unidades) IS DISTINCT FROM n
       OR cardinality(dispositivos) IS DISTINCT FROM n OR cardinality(clases) IS DISTINCT FROM n THEN
        RAISE EXCEPTION 'Cabecera no válida' USING ERRCODE = '22023';
    END IF;
    INSERT INTO @schema@.serie (puerto, columna, ocurrencia, unidad, dispositivo, clase)
    SELECT a_puerto, c.columna, row_number() OVER (PARTITION BY c.columna ORDER BY c.k), c.unidad, c.dispositivo, c.clase
      FROM unnest(columnas, unidades, dispositivos, clases) WITH ORDINALITY c(columna, unidad, dispositivo, clase, k)
    ON CONFLICT DO NOTHING;
    ids := ARRAY(SELECT s.id
                   FROM (SELECT c.columna, c.k, row_number() OVER (PARTITION BY c.columna ORDER BY c.k) AS oc
                           FROM unnest(columnas) WITH ORDINALITY c(columna, k)) c
                   JOIN @schema@.serie s ON s.puerto = a_puerto AND s.columna = c.columna AND s.ocurrencia = c.oc
                  ORDER BY c.k);
    IF cardinality(ids) <> n THEN
        RAISE EXCEPTION 'Cabecera no válida' USING ERRCODE = '22023';
    END IF;
    SELECT id INTO j FROM @schema@.juego WHERE puerto = a_puerto AND @schema@.clave(series) = @schema@.clave(ids) AND series = ids;
    IF j IS NULL THEN
        INSERT INTO @schema@.juego (puerto, series) VALUES (a_puerto, ids) ON CONFLICT DO NOTHING RETURNING id INTO j;
        IF j IS NULL THEN
            SELECT id INTO j FROM @schema@.juego WHERE puerto = a_puerto AND @schema@.clave(series) = @schema@.clave(ids) AND series = ids;
        ELSE
            INSERT INTO @schema@.juego_serie (serie, juego, posicion)
            SELECT x, j, k FROM unnest(ids) WITH ORDINALITY u(x, k) ON CONFLICT DO NOTHING;
        END IF;
    END IF;
    RETURN j;
END $f$;

CREATE OR REPLACE FUNCTION @schema@.progreso_de(a_estacion integer)
RETURNS TABLE (puerto text, fichero text, id integer, posicion bigint, lineas bigint, huella bigint, muestra bigint,
               cabecera bigint, estado bytea, por_clave_hasta bigint)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
SELECT p.nombre, f.nombre, f.id, g.posicion, g.lineas, g.huella, g.muestra, g.cabecera, g.estado, g.por_clave_hasta
  FROM @schema@.progreso g
  JOIN @schema@.fichero f ON f.id = g.fichero
  JOIN @schema@.puerto p ON p.id = f.puerto
  JOIN @schema@.estacion e ON e.id = p.estacion
 WHERE e.id = a_estacion AND e.rol = session_user
$f$;

-- A batch of one file, stored with the file's new progress in the caller's
-- transaction, only from the progress it was read from. `a_desde`: where
-- its reading started, before `a_antes` when the file is read again from
-- its start: its stored lines are then set aside (their file's id negated)
-- until `a_cierre`, the batch that ends the reading again, drops those the
-- new content did not give again. Plainly, a line of a port and second
-- already stored, or twice in the batch, makes it fail (unique_violation);
-- `a_reemplazo` then replaces such lines (the later line wins) and
-- recomputes their minutes and hours. `cambiadas`: the readings whose stored
-- or batch value a later line replaced with another; `borradas`: the lines
-- dropped. (No compiling: a batch's readings, counted a thousand a line,
-- would make the server compile its queries for longer than they run.)
CREATE OR REPLACE FUNCTION @schema@.guardar(a_fichero integer, a_antes bigint, a_antes_huella bigint, a_desde bigint, a_posicion bigint,
                                 a_lineas bigint, a_huella bigint, a_muestra bigint, a_cabecera bigint, a_estado bytea,
                                 a_por_clave bigint, a_reemplazo boolean, a_cierre boolean, a_entrada @schema@.entrada[],
                                 OUT cambiadas bigint, OUT borradas bigint)
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp SET jit = off AS $f$
DECLARE
    v_puerto integer;
    v_desde timestamptz;
    v_hasta timestamptz;
    v_linea bigint;
    v_min timestamptz;
    v_max timestamptz;
    v_juegos integer[];
    v_m0 timestamptz;
    v_minutos timestamptz[];
    v_viejas @schema@.entrada[];
    v_cifras @schema@.cifras[];
    v_horas @schema@.cifras[];
BEGIN
    cambiadas := 0;
    borradas := 0;
    SELECT o_puerto, o_desde, o_hasta INTO v_puerto, v_desde, v_hasta
      FROM @schema@.avanzar(a_fichero, a_antes, a_antes_huella, a_posicion, a_lineas, a_huella, a_muestra, a_cabecera,
                            a_estado, a_por_clave);
    v_m0 := to_timestamp(floor(date_part('epoch', v_desde) / 60) * 60);

    -- Every line: a header of this port, a value per column, within its file's day.
    SELECT coalesce(x.linea, 0) INTO v_linea
      FROM unnest(a_entrada) x LEFT JOIN @schema@.juego j ON j.id = x.juego
     WHERE j.puerto IS DISTINCT FROM v_puerto OR x.hora IS NULL OR x.valores IS NULL
        OR cardinality(x.valores) <> cardinality(j.series) OR cardinality(x.exactos) <> cardinality(j.series)
        OR x.hora < v_desde OR x.hora >= v_hasta OR x.hora <> date_trunc('second', x.hora)
     LIMIT 1;
    IF v_linea IS NOT NULL THEN
        RAISE EXCEPTION 'La línea % no cabe en el fichero %', v_linea, a_fichero USING ERRCODE = '22023';
    END IF;

    IF a_desde < a_antes THEN
        -- Minutes holding lines of the file still set aside by an earlier
        -- reading again: its rows there merged into one set aside.
        v_minutos := ARRAY(SELECT DISTINCT inicio FROM @schema@.bloque
                            WHERE puerto = v_puerto AND fichero = -a_fichero AND inicio >= v_m0 AND inicio < v_hasta);
        UPDATE @schema@.bloque SET fichero = -a_fichero
         WHERE puerto = v_puerto AND fichero = a_fichero AND inicio >= v_m0 AND inicio < v_hasta
           AND inicio <> ALL (v_minutos);
        IF cardinality(v_minutos) > 0 THEN
            PERFORM @schema@.fundir(v_puerto, a_fichero, v_minutos, '{}', true);
        END IF;
    END IF;

    v_minutos := ARRAY(SELECT DISTINCT to_timestamp(floor(date_part('epoch', hora) / 60) * 60) FROM unnest(a_entrada));
    SELECT min(hora), max(hora) INTO v_min, v_max FROM unnest(a_entrada);
    IF NOT a_reemplazo THEN
        IF EXISTS (SELECT 1 FROM unnest(a_entrada) GROUP BY hora HAVING count(*) > 1)
           OR EXISTS (SELECT 1 FROM @schema@.lineas_de(v_puerto, v_min, v_max + interval '1 second') l
                        JOIN unnest(a_entrada) x ON x.hora = l.hora) THEN
            RAISE EXCEPTION 'Una línea del lote es de un segundo ya guardado del puerto %, o dos lo son', v_puerto
                  USING ERRCODE = '23505';
        END IF;
        PERFORM @schema@.fundir(v_puerto, a_fichero, v_minutos, a_entrada, false);
        -- The batch's minutes and hours, merged into those stored.
        WITH m AS MATERIALIZED (SELECT * FROM @schema@.resumen_de(a_entrada))
        SELECT ARRAY(SELECT ROW(juego, to_timestamp(minuto * 60), max(c)::integer, array_agg(n::smallint ORDER BY k), array_agg(mn ORDER BY k),
                                array_agg(mx ORDER BY k), array_agg(sm ORDER BY k), array_agg(sq ORDER BY k),
                                array_agg(ar ORDER BY k))::@schema@.cifras
                       FROM m GROUP BY juego, minuto),
               ARRAY(SELECT ROW(juego, to_timestamp(hora * 3600), max(c)::integer, array_agg(n::smallint ORDER BY k), array_agg(mn ORDER BY k),
                                array_agg(mx ORDER BY k), array_agg(sm ORDER BY k), array_agg(sq ORDER BY k),
                                array_agg(ar ORDER BY k))::@schema@.cifras
                       FROM (SELECT juego, floor(minuto / 60) AS hora, k, sum(c) AS c, sum(n) AS n, min(mn) AS mn, max(mx) AS mx,
                                    sum(sm) AS sm, sum(sq) AS sq, sum(ar) AS ar
                               FROM m GROUP BY 1, 2, 3) h
                      GROUP BY juego, hora)
          INTO v_cifras, v_horas;
        PERFORM @schema@.sumar_cifras('minuto', v_cifras);
        PERFORM @schema@.sumar_cifras('hora', v_horas);
    ELSE
        -- Readings that a later line of the same second replaces with
        -- another value, or drops: of stored lines, and of this batch's own.
        -- Each line's values are read once, in order (a value picked by its
        -- place would read a wide line whole for each of its columns).
        v_viejas := ARRAY(SELECT ROW(l.hora, l.juego, 0::bigint, l.valores, l.exactos)::@schema@.entrada
                            FROM @schema@.lineas_de(v_puerto, v_min, v_max + interval '1 second') l
                           WHERE l.hora IN (SELECT hora FROM unnest(a_entrada)));
        WITH nuevas AS MATERIALIZED (
            SELECT x.*, row_number() OVER (PARTITION BY x.hora ORDER BY x.linea DESC) AS orden FROM unnest(a_entrada) x),
        viejas AS (
            SELECT hora, juego, valores, exactos FROM unnest(v_viejas)
            UNION ALL
            SELECT hora, juego, valores, exactos FROM nuevas WHERE orden > 1),
        antes AS (
            SELECT o.hora, js.serie, CASE WHEN o.exactos IS NULL THEN @schema@.valor_de(u.c) ELSE u.e END AS v
              FROM viejas o, LATERAL unnest(o.valores, o.exactos) WITH ORDINALITY u(c, e, k), @schema@.juego_serie js
             WHERE js.juego = o.juego AND js.posicion = u.k),
        despues AS (
            SELECT x.hora, js.serie, CASE WHEN x.exactos IS NULL THEN @schema@.valor_de(u.c) ELSE u.e END AS v
              FROM nuevas x, LATERAL unnest(x.valores, x.exactos) WITH ORDINALITY u(c, e, k), @schema@.juego_serie js
             WHERE js.juego = x.juego AND js.posicion = u.k AND x.orden = 1 AND x.hora IN (SELECT hora FROM viejas))
        SELECT count(*) INTO cambiadas
          FROM antes a LEFT JOIN despues d ON d.hora = a.hora AND d.serie = a.serie
         WHERE d.serie IS NULL OR d.v IS DISTINCT FROM a.v;
        PERFORM @schema@.fundir(v_puerto, a_fichero, v_minutos, a_entrada, false);
        IF v_min IS NOT NULL THEN
            PERFORM @schema@.resumir(v_puerto, v_min, v_max);
        END IF;
    END IF;

    INSERT INTO @schema@.ultima AS u (juego, hora, valores, exactos)
    SELECT y.juego, y.hora, y.valores, y.exactos
      FROM (SELECT DISTINCT juego FROM unnest(a_entrada)) g,
           LATERAL (SELECT * FROM unnest(a_entrada) y WHERE y.juego = g.juego ORDER BY y.hora DESC, y.linea DESC LIMIT 1) y
    ON CONFLICT (juego) DO UPDATE SET hora = EXCLUDED.hora, valores = EXCLUDED.valores, exactos = EXCLUDED.exactos
     WHERE u.hora <= EXCLUDED.hora;

    IF a_cierre THEN
        WITH idas AS (
            DELETE FROM @schema@.bloque
             WHERE puerto = v_puerto AND fichero = -a_fichero AND inicio >= v_m0 AND inicio < v_hasta
            RETURNING inicio, juego, segundos)
        SELECT coalesce(sum(cardinality(segundos)), 0), min(inicio + segundos[1] * interval '1 second'),
               max(inicio + segundos[cardinality(segundos)] * interval '1 second'), array_agg(DISTINCT juego)
          INTO borradas, v_min, v_max, v_juegos FROM idas;
        IF borradas > 0 THEN
            PERFORM @schema@.resumir(v_puerto, v_min, v_max);
            PERFORM @schema@.ultimas(v_puerto, v_juegos);
        END IF;
    END IF;
    -- The alarm program judges the port's new lines once this commits.
    PERFORM pg_notify('climalog_lineas', v_puerto::text);
END $f$;

-- A batch of one file as finished rows, stored with the file's new progress
-- in the caller's transaction, as @schema@.guardar stores its lines: the
-- station's catch-up, written a row and not a reading at a time. Each row
-- of @schema@.bloque comes with its minute's figures; `a_horas`, the
-- batch's figures of each header and hour. Rows and figures must agree: the
-- figures of the first hour, and of about one row in 64 picked here (one at
-- least), are worked out again from the rows, and the batch fails (22023)
-- when they differ. Its lines rise in time; a second stored already fails as
-- in @schema@.guardar (23505): the station then sends the same lines there,
-- to replace it. Its plans are made once a session: a catch-up calls it for
-- batch after batch of the same shape.
CREATE OR REPLACE FUNCTION @schema@.guardar_filas(a_fichero integer, a_antes bigint, a_antes_huella bigint, a_posicion bigint,
                                                  a_lineas bigint, a_huella bigint, a_muestra bigint, a_cabecera bigint,
                                                  a_estado bytea, a_por_clave bigint, a_filas @schema@.fila[],
                                                  a_horas @schema@.cifras[]) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp SET jit = off
SET plan_cache_mode = force_generic_plan AS $f$
DECLARE
    v_puerto integer;
    v_desde timestamptz;
    v_hasta timestamptz;
    v_linea bigint;
    v_minutos timestamptz[];
    v_entrada @schema@.entrada[];
BEGIN
    SELECT o_puerto, o_desde, o_hasta INTO v_puerto, v_desde, v_hasta
      FROM @schema@.avanzar(a_fichero, a_antes, a_antes_huella, a_posicion, a_lineas, a_huella, a_muestra, a_cabecera,
                            a_estado, a_por_clave);

    -- Every row: a header of this port, a whole minute, its lines' seconds
    -- within it and after the row before's, within the file's day, a value
    -- and a figure per column. (That they rise within the row is checked
    -- with the figures, on the rows picked: a look at every second costs
    -- more than the rest of this together, and such a row can only muddle
    -- the station's own minute.)
    SELECT coalesce(x.linea, 0) INTO v_linea
      FROM (SELECT x.*, x.inicio + x.segundos[1] * interval '1 second' AS primera,
                   lag(x.inicio + x.segundos[cardinality(x.segundos)] * interval '1 second') OVER (ORDER BY x.k) AS antes,
                   cardinality(x.segundos) AS l
              FROM unnest(a_filas) WITH ORDINALITY x(inicio, juego, linea, segundos, valores, exactos, n, minimo, maximo, suma,
                                                     cuadrados, arrhenius, k)) x
      LEFT JOIN @schema@.juego j ON j.id = x.juego
     WHERE j.puerto IS DISTINCT FROM v_puerto OR x.inicio IS NULL OR x.l IS NULL OR x.l NOT BETWEEN 1 AND 60
        OR date_part('epoch', x.inicio) <> floor(date_part('epoch', x.inicio) / 60) * 60
        OR x.segundos[1] < 0 OR x.segundos[x.l] > 59 OR x.primera < v_desde OR x.primera <= x.antes
        OR x.inicio + x.segundos[x.l] * interval '1 second' >= v_hasta
        OR cardinality(x.valores) IS DISTINCT FROM x.l * cardinality(j.series)
        OR cardinality(x.exactos) <> cardinality(x.valores) OR array_position(x.valores, NULL) IS NOT NULL
        OR cardinality(x.n) IS DISTINCT FROM cardinality(j.series) OR cardinality(x.minimo) IS DISTINCT FROM cardinality(j.series)
        OR cardinality(x.maximo) IS DISTINCT FROM cardinality(j.series) OR cardinality(x.suma) IS DISTINCT FROM cardinality(j.series)
        OR cardinality(x.cuadrados) IS DISTINCT FROM cardinality(j.series)
        OR cardinality(x.arrhenius) IS DISTINCT FROM cardinality(j.series)
     LIMIT 1;
    IF v_linea IS NOT NULL THEN
        RAISE EXCEPTION 'La fila de la línea % no cabe en el fichero %', v_linea, a_fichero USING ERRCODE = '22023';
    END IF;
    -- Every hour of a header the batch has lines of: its figures once, of as many lines.
    IF EXISTS (SELECT 1
                 FROM (SELECT x.juego, to_timestamp(floor(date_part('epoch', x.inicio) / 3600) * 3600) AS inicio,
                              sum(cardinality(x.segundos)) AS lineas, min(cardinality(j.series)) AS columnas
                         FROM unnest(a_filas) x JOIN @schema@.juego j ON j.id = x.juego GROUP BY 1, 2) f
                 FULL JOIN (SELECT h.*, count(*) OVER (PARTITION BY h.juego, h.inicio) AS veces FROM unnest(a_horas) h) h
                   ON h.juego = f.juego AND h.inicio = f.inicio
                WHERE f.juego IS NULL OR h.juego IS NULL OR h.veces > 1 OR h.lineas IS DISTINCT FROM f.lineas
                   OR cardinality(h.n) IS DISTINCT FROM f.columnas OR cardinality(h.minimo) IS DISTINCT FROM f.columnas
                   OR cardinality(h.maximo) IS DISTINCT FROM f.columnas OR cardinality(h.suma) IS DISTINCT FROM f.columnas
                   OR cardinality(h.cuadrados) IS DISTINCT FROM f.columnas
                   OR cardinality(h.arrhenius) IS DISTINCT FROM f.columnas) THEN
        RAISE EXCEPTION 'Las cifras por hora del lote no son las de sus filas' USING ERRCODE = '22023';
    END IF;
    PERFORM @schema@.comprobar_filas(a_filas, a_horas);

    -- Minutes that an earlier batch began (a batch ends within a minute):
    -- the rows' lines merged into those stored there, a second stored
    -- already refused as @schema@.guardar refuses it.
    v_minutos := ARRAY(SELECT DISTINCT b.inicio FROM @schema@.bloque b
                        WHERE b.puerto = v_puerto AND b.inicio = ANY (ARRAY(SELECT inicio FROM unnest(a_filas))));
    IF cardinality(v_minutos) > 0 THEN
        v_entrada := @schema@.lineas_de_filas(ARRAY(SELECT a_filas[k] FROM generate_subscripts(a_filas, 1) k
                                                     WHERE (a_filas[k]).inicio = ANY (v_minutos)));
        IF EXISTS (SELECT 1 FROM @schema@.lineas_de(v_puerto, (SELECT min(m) FROM unnest(v_minutos) m),
                                                    (SELECT max(m) FROM unnest(v_minutos) m) + interval '1 minute') l
                     JOIN unnest(v_entrada) x ON x.hora = l.hora) THEN
            RAISE EXCEPTION 'Una línea del lote es de un segundo ya guardado del puerto %', v_puerto USING ERRCODE = '23505';
        END IF;
        PERFORM @schema@.fundir(v_puerto, a_fichero, v_minutos, v_entrada, false);
    END IF;
    INSERT INTO @schema@.bloque (puerto, inicio, fichero, juego, segundos, valores, exactos)
    SELECT v_puerto, inicio, a_fichero, juego, segundos, valores, exactos FROM unnest(a_filas) WHERE inicio <> ALL (v_minutos);
    PERFORM @schema@.sumar_cifras('minuto', ARRAY(
        SELECT ROW(juego, inicio, cardinality(segundos), n, minimo, maximo, suma, cuadrados, arrhenius)::@schema@.cifras
          FROM unnest(a_filas)));
    PERFORM @schema@.sumar_cifras('hora', a_horas);

    INSERT INTO @schema@.ultima AS u (juego, hora, valores, exactos)
    SELECT x.juego, l.hora, l.valores, l.exactos
      FROM (SELECT DISTINCT ON (juego) * FROM unnest(a_filas) ORDER BY juego, inicio DESC) x,
           LATERAL (SELECT * FROM @schema@.desplegar(x.inicio, x.segundos, x.valores, x.exactos) d
                     ORDER BY d.hora DESC LIMIT 1) l
    ON CONFLICT (juego) DO UPDATE SET hora = EXCLUDED.hora, valores = EXCLUDED.valores, exactos = EXCLUDED.exactos
     WHERE u.hora <= EXCLUDED.hora;
    -- The alarm program judges the port's new lines once this commits.
    PERFORM pg_notify('climalog_lineas', v_puerto::text);
END $f$;

-- A port's configuration file, stored when it differs from the latest one
-- archived. Units and gains: four per device, one after another.
CREATE OR REPLACE FUNCTION @schema@.guardar_configuracion(a_puerto integer, a_huella bigint, nombres text[], sns text[],
                                               tipos smallint[], minimos real[], maximos real[], acciones smallint[],
                                               reles text[], unidades text[], ganancias real[], periodos smallint[])
RETURNS boolean LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    c integer;
    n integer := coalesce(cardinality(nombres), 0);
BEGIN
    PERFORM @schema@.propio(a_puerto);
    IF (SELECT huella FROM @schema@.configuracion WHERE puerto = a_puerto ORDER BY id DESC LIMIT 1) IS NOT DISTINCT FROM a_huella THEN
        RETURN false;
    END IF;
    IF coalesce(cardinality(sns), 0) <> n OR coalesce(cardinality(tipos), 0) <> n OR coalesce(cardinality(minimos), 0) <> n
       OR coalesce(cardinality(maximos), 0) <> n OR coalesce(cardinality(acciones), 0) <> n OR coalesce(cardinality(reles), 0) <> n
       OR coalesce(cardinality(unidades), 0) <> 4 * n OR coalesce(cardinality(ganancias), 0) <> 4 * n
       OR coalesce(cardinality(periodos), 0) <> n THEN
        RAISE EXCEPTION 'Configuración no válida' USING ERRCODE = '22023';
    END IF;
    INSERT INTO @schema@.configuracion (puerto, huella) VALUES (a_puerto, a_huella) RETURNING id INTO c;
    INSERT INTO @schema@.dispositivo (configuracion, posicion, nombre, sn, tipo, alarma_min, alarma_max, accion, rele,
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
