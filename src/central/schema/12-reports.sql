-- Version 5: what the reports read. The rollups carry, per column, the sum
-- of squares (the standard deviation) and, for temperatures, the sum of
-- exp(-10000 / (v + 273.15)) (the mean kinetic temperature), so that a
-- report of whole hours needs no line; and the report's read functions.

ALTER TABLE @schema@.minuto ADD COLUMN IF NOT EXISTS cuadrados double precision[],
                            ADD COLUMN IF NOT EXISTS arrhenius double precision[];
ALTER TABLE @schema@.hora ADD COLUMN IF NOT EXISTS cuadrados double precision[],
                          ADD COLUMN IF NOT EXISTS arrhenius double precision[];

-- An archive of an earlier version: its rollups recomputed from its lines,
-- a UTC day of a port at a time (each day's lines are read once).
SELECT @schema@.resumir(d.puerto, to_timestamp(d.dia * 86400), to_timestamp(d.dia * 86400 + 86399))
  FROM (SELECT DISTINCT j.puerto, floor(date_part('epoch', h.inicio) / 86400) AS dia
          FROM @schema@.hora h JOIN @schema@.juego j ON j.id = h.juego
         WHERE h.cuadrados IS NULL) d;

-- The headers that hold each series (its port, the header, the column's
-- place in it, its device's name), and every other header of the same ports (serie NULL):
-- a report counts a port's lines whatever their header.
CREATE OR REPLACE FUNCTION @schema@.informe_juegos(series integer[])
RETURNS TABLE (serie integer, puerto integer, juego integer, posicion integer, dispositivo text)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
SELECT js.serie, j.puerto, j.id, js.posicion, s.dispositivo
  FROM @schema@.juego j
  LEFT JOIN @schema@.juego_serie js ON js.juego = j.id AND js.serie = ANY (series)
  LEFT JOIN @schema@.serie s ON s.id = js.serie
 WHERE j.puerto IN (SELECT s.puerto FROM @schema@.serie s WHERE s.id = ANY (series))
$f$;

-- The rollup pieces of the series' ports over [desde, hasta): every whole
-- hour, and the whole minutes of the hours the range's edges cut, each with
-- every array. What is left (the seconds before the first whole minute and
-- after the last) the report reads from the lines.
CREATE OR REPLACE FUNCTION @schema@.informe_piezas(series integer[], desde timestamptz, hasta timestamptz)
RETURNS TABLE (juego integer, inicio timestamptz, segundos integer, lineas integer, n smallint[],
               minimo double precision[], maximo double precision[], suma double precision[],
               cuadrados double precision[], arrhenius double precision[])
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp SET jit = off AS $f$
#variable_conflict use_column
DECLARE
    d0 double precision := date_part('epoch', desde);
    d1 double precision := date_part('epoch', hasta);
    m0 timestamptz := to_timestamp(ceil(d0 / 60) * 60);      -- the first whole minute
    m1 timestamptz := to_timestamp(floor(d1 / 60) * 60);     -- the end of the last one
    h0 timestamptz := to_timestamp(ceil(d0 / 3600) * 3600);  -- the first whole hour
    h1 timestamptz := to_timestamp(floor(d1 / 3600) * 3600); -- the end of the last one
    juegos integer[];
BEGIN
    IF informe_piezas.series IS NULL OR desde IS NULL OR hasta IS NULL THEN
        RAISE EXCEPTION '@schema@.informe_piezas: argumento nulo' USING ERRCODE = '22004';
    END IF;
    juegos := ARRAY(SELECT j.id FROM @schema@.juego j
                     WHERE j.puerto IN (SELECT s.puerto FROM @schema@.serie s WHERE s.id = ANY (informe_piezas.series)));
    IF h0 >= h1 THEN
        -- No whole hour: whole minutes only.
        h0 := m1;
        h1 := m1;
    END IF;
    RETURN QUERY
    SELECT h.juego, h.inicio, 3600, h.lineas, h.n, h.minimo, h.maximo, h.suma, h.cuadrados, h.arrhenius
      FROM @schema@.hora h
     WHERE h.juego = ANY (juegos) AND h.inicio >= h0 AND h.inicio < h1;
    RETURN QUERY
    SELECT m.juego, m.inicio, 60, m.lineas, m.n, m.minimo, m.maximo, m.suma, m.cuadrados, m.arrhenius
      FROM @schema@.minuto m
     WHERE m.juego = ANY (juegos) AND ((m.inicio >= m0 AND m.inicio < least(h0, m1)) OR (m.inicio >= greatest(h1, m0) AND m.inicio < m1));
END $f$;

-- The lines of each series' port over each range (series[i], desde[i],
-- hasta[i]), in the order of their times: the range's number, the line's
-- time (ms since the epoch), whether its header holds the series, and the
-- series' value in it (NULL: ERR, or not held).
CREATE OR REPLACE FUNCTION @schema@.informe_lineas(series integer[], desde timestamptz[], hasta timestamptz[])
RETURNS TABLE (i integer, hora bigint, tiene boolean, valor double precision)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp SET jit = off AS $f$
-- In one pass over the ranges; the header's place looked up in the series'
-- few headers, not joined line by line. (The caller puts each range's
-- lines in order.)
WITH g AS (SELECT s.id, s.puerto, array_agg(js.juego) AS juegos, array_agg(js.posicion) AS posiciones
             FROM @schema@.serie s JOIN @schema@.juego_serie js ON js.serie = s.id
            WHERE s.id = ANY (series) GROUP BY s.id, s.puerto)
SELECT r.k::integer, (date_part('epoch', l.hora) * 1000)::bigint, x.pos IS NOT NULL, @schema@.valor(l.codigos, l.exactas, l.base + x.pos)
  FROM unnest(series, desde, hasta) WITH ORDINALITY r(s, a, b, k)
  JOIN g ON g.id = r.s,
       LATERAL (SELECT l.hora, l.juego, l.codigos, l.exactas, l.base FROM @schema@.lineas_de(g.puerto, r.a, r.b) l OFFSET 0) l,
       LATERAL (SELECT g.posiciones[array_position(g.juegos, l.juego)] AS pos) x
$f$;

-- The minute rollups of each hour (series[i], horas[i]) of a series, its
-- own figures only: for a report's hours whose lines it would otherwise read.
CREATE OR REPLACE FUNCTION @schema@.informe_minutos_de(series integer[], horas timestamptz[])
RETURNS TABLE (serie integer, inicio bigint, lineas integer, n integer, minimo double precision, maximo double precision,
               suma double precision, cuadrados double precision, arrhenius double precision)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp SET jit = off AS $f$
SELECT r.s, (date_part('epoch', m.inicio) * 1000)::bigint, m.lineas, m.n[js.posicion], m.minimo[js.posicion],
       m.maximo[js.posicion], m.suma[js.posicion], m.cuadrados[js.posicion], m.arrhenius[js.posicion]
  FROM unnest(series, horas) r(s, h)
  JOIN @schema@.juego_serie js ON js.serie = r.s,
       LATERAL (SELECT * FROM @schema@.minuto m
                 WHERE m.juego = js.juego AND m.inicio >= r.h AND m.inicio < r.h + interval '1 hour' OFFSET 0) m
$f$;

-- The archived configurations of the series' ports over [desde, hasta):
-- the one in force at desde (the latest read by then; before the first,
-- the first) and every later one read before hasta, with their devices.
CREATE OR REPLACE FUNCTION @schema@.informe_configuraciones(series integer[], desde timestamptz, hasta timestamptz)
RETURNS TABLE (puerto integer, configuracion integer, leida timestamptz, posicion integer, nombre text, sn text,
               tipo smallint, alarma_min real, alarma_max real, accion smallint, rele text, unidades text[],
               periodo smallint)
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
WITH primera AS (    -- each port's configuration in force at desde
    SELECT (SELECT c.id FROM @schema@.configuracion c WHERE c.puerto = p.puerto
             ORDER BY c.leida <= desde DESC, CASE WHEN c.leida <= desde THEN c.leida END DESC, c.leida, c.id DESC
             LIMIT 1) AS id
      FROM (SELECT DISTINCT s.puerto FROM @schema@.serie s WHERE s.id = ANY (series)) p)
SELECT c.puerto, c.id, c.leida, d.posicion, d.nombre, d.sn, d.tipo, d.alarma_min, d.alarma_max, d.accion, d.rele,
       d.unidades, d.periodo
  FROM primera p
  JOIN @schema@.configuracion f ON f.id = p.id
  JOIN @schema@.configuracion c ON c.puerto = f.puerto
  JOIN @schema@.dispositivo d ON d.configuracion = c.id
 WHERE c.id = f.id OR ((c.leida, c.id) > (f.leida, f.id) AND c.leida < hasta)
 ORDER BY c.puerto, c.leida, c.id, d.posicion
$f$;

-- The minute rollups of the series' ports over each range [desde[i],
-- hasta[i]) (ranges that do not overlap), as informe_piezas gives them: for a
-- report's hours whose lines it would otherwise read, and its plots of a few days.
CREATE OR REPLACE FUNCTION @schema@.informe_minutos(series integer[], desde timestamptz[], hasta timestamptz[])
RETURNS TABLE (juego integer, inicio timestamptz, segundos integer, lineas integer, n smallint[],
               minimo double precision[], maximo double precision[], suma double precision[],
               cuadrados double precision[], arrhenius double precision[])
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
SELECT m.juego, m.inicio, 60, m.lineas, m.n, m.minimo, m.maximo, m.suma, m.cuadrados, m.arrhenius
  FROM unnest(desde, hasta) r(a, b),
       LATERAL (SELECT * FROM @schema@.minuto m
                 WHERE m.juego IN (SELECT j.id FROM @schema@.juego j
                                    WHERE j.puerto IN (SELECT s.puerto FROM @schema@.serie s WHERE s.id = ANY (series)))
                   AND m.inicio >= r.a AND m.inicio < r.b) m
$f$;
