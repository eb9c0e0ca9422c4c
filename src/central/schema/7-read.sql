-- ---- The read interface. Each view and function as it is now: run again
-- ---- by every version step that changes one.

CREATE OR REPLACE VIEW @schema@.lectura AS
SELECT e.nombre AS estacion, p.nombre AS puerto, f.nombre AS fichero, s.columna, l.hora,
       @schema@.valor(l.codigos, l.exactas, l.base + js.posicion) AS valor
  FROM @schema@.puerto p
  JOIN @schema@.estacion e ON e.id = p.estacion,
       LATERAL @schema@.lineas_de(p.id, '-infinity', 'infinity') l
  JOIN @schema@.fichero f ON f.id = l.fichero
  JOIN @schema@.juego_serie js ON js.juego = l.juego
  JOIN @schema@.serie s ON s.id = js.serie;

-- Hourly figures of every column (hours from the epoch, UTC), from the rollups.
CREATE OR REPLACE VIEW @schema@.media_horaria AS
SELECT e.nombre AS estacion, p.nombre AS puerto, s.columna, h.inicio AS hora,
       sum(h.suma[js.posicion]) / nullif(sum(h.n[js.posicion]), 0) AS media,
       min(h.minimo[js.posicion]) AS minimo, max(h.maximo[js.posicion]) AS maximo, sum(h.n[js.posicion])::integer AS lecturas
  FROM @schema@.hora h
  JOIN @schema@.juego_serie js ON js.juego = h.juego
  JOIN @schema@.serie s ON s.id = js.serie
  JOIN @schema@.puerto p ON p.id = s.puerto
  JOIN @schema@.estacion e ON e.id = p.estacion
 GROUP BY e.nombre, p.nombre, s.columna, h.inicio;

-- Set by set, not series by series: a site's every series at once.
CREATE OR REPLACE VIEW @schema@.resumen AS
WITH cabecera AS (      -- each port's latest header: that of its latest line, or the latest made
    SELECT DISTINCT ON (j.puerto) j.puerto, j.id AS juego
      FROM @schema@.juego j LEFT JOIN @schema@.ultima x ON x.juego = j.id
     ORDER BY j.puerto, x.hora DESC NULLS LAST, j.id DESC),
ultimo AS (             -- each series' latest reading
    SELECT DISTINCT ON (js.serie) js.serie, x.hora, @schema@.valor(x.valores, x.exactos, js.posicion) AS valor
      FROM @schema@.juego_serie js JOIN @schema@.ultima x ON x.juego = js.juego
     ORDER BY js.serie, x.hora DESC),
equipo AS (             -- each series' device in its port's latest configuration
    SELECT DISTINCT ON (s.id) s.id AS serie, d.*
      FROM @schema@.serie s
      JOIN (SELECT puerto, max(id) AS id FROM @schema@.configuracion GROUP BY puerto) c ON c.puerto = s.puerto
      JOIN @schema@.dispositivo d ON d.configuracion = c.id AND d.nombre = s.dispositivo
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
       d.periodo::integer AS periodo,
       s.clase         -- T temperature, H humidity, a..d channel, 1 2 input
  FROM @schema@.serie s
  JOIN @schema@.puerto p ON p.id = s.puerto
  JOIN @schema@.estacion e ON e.id = p.estacion
  LEFT JOIN cabecera h ON h.puerto = p.id
  LEFT JOIN @schema@.juego_serie o ON o.serie = s.id AND o.juego = h.juego
  LEFT JOIN ultimo u ON u.serie = s.id
  LEFT JOIN equipo d ON d.serie = s.id;

-- Every reading of the series, in the order of their times: the lines' key
-- gives that order, which a sort of a day's readings costs more than. (The
-- read functions compile nothing: their plans' costs, counted over a whole
-- table, would make the server compile them for longer than they run.)
CREATE OR REPLACE FUNCTION @schema@.lecturas(series integer[], desde timestamptz, hasta timestamptz)
RETURNS TABLE (serie integer, hora timestamptz, valor double precision)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp SET work_mem = '64MB' SET jit = off
SET enable_sort = off AS $f$
#variable_conflict use_column
DECLARE
    p integer[];
BEGIN
    IF lecturas.series IS NULL OR desde IS NULL OR hasta IS NULL THEN
        RAISE EXCEPTION '@schema@.lecturas: argumento nulo' USING ERRCODE = '22004';
    END IF;
    p := ARRAY(SELECT DISTINCT s.puerto FROM @schema@.serie s WHERE s.id = ANY (lecturas.series));
    IF cardinality(p) = 1 AND cardinality(lecturas.series) = 1 THEN
        -- One series: its port's lines in their order.
        RETURN QUERY
        SELECT js.serie, l.hora, @schema@.valor(l.codigos, l.exactas, l.base + js.posicion)
          FROM @schema@.lineas_de(p[1], desde, hasta) l
          JOIN @schema@.juego_serie js ON js.juego = l.juego AND js.serie = lecturas.series[1]
         ORDER BY l.minuto, l.hora;
        RETURN;
    END IF;
    IF cardinality(p) = 1 THEN
        -- One port: its lines in their order, each giving the series asked.
        RETURN QUERY
        SELECT js.serie, l.hora, @schema@.valor(l.codigos, l.exactas, l.base + js.posicion)
          FROM @schema@.lineas_de(p[1], desde, hasta) l
          JOIN @schema@.juego_serie js ON js.juego = l.juego AND js.serie = ANY (lecturas.series)
         ORDER BY l.minuto, l.hora, js.serie;
        RETURN;
    END IF;
    RETURN QUERY
    SELECT js.serie, l.hora, @schema@.valor(l.codigos, l.exactas, l.base + js.posicion)
      FROM @schema@.juego_serie js
      JOIN @schema@.juego j ON j.id = js.juego,
           LATERAL @schema@.lineas_de(j.puerto, desde, hasta) l
     WHERE js.serie = ANY (lecturas.series) AND l.juego = js.juego
     ORDER BY l.minuto, l.hora, js.serie;
END $f$;

-- The bucket of an instant (seconds from the epoch) among `cubos` equal
-- buckets from d0 on, each w seconds.
CREATE OR REPLACE FUNCTION @schema@.cubo(t double precision, d0 double precision, w double precision, cubos integer)
RETURNS integer LANGUAGE sql IMMUTABLE AS $f$ SELECT least(cubos - 1, greatest(0, floor((t - d0) / w)::integer)) $f$;

-- The units of `paso` seconds (hours or minutes, each named by its first
-- second) that a bucket edge or the range's edge cuts.
CREATE OR REPLACE FUNCTION @schema@.cortes(d0 double precision, d1 double precision, w double precision, cubos integer, paso double precision)
RETURNS double precision[] LANGUAGE sql IMMUTABLE AS $f$
SELECT ARRAY(
    SELECT DISTINCT u FROM generate_series(0, cubos) i,
           LATERAL (VALUES (floor((d0 + i * w) / paso) * paso), (floor((d0 + i * w) / paso) * paso - paso)) v(u)
     WHERE u + paso > d0 AND u < d1
       AND NOT (u >= d0 AND u + paso <= d1 AND @schema@.cubo(u, d0, w, cubos) = @schema@.cubo(u + paso - 1, d0, w, cubos)))
$f$;

-- The pieces a series' buckets are made of: whole hours and minutes of the
-- rollups where a bucket holds them whole, the lines themselves where a
-- bucket edge or the range's edge cuts a minute. Each piece: its bucket,
-- its lines, its readings that are not ERR, their minimum and maximum.
-- Lines are reduced by hashing as they are read: a sort would carry every
-- line whole. (OFFSET 0 keeps a line's value one column, which each
-- aggregate over it would otherwise work out again.)
CREATE OR REPLACE FUNCTION @schema@.piezas(s integer, desde timestamptz, hasta timestamptz, cubos integer)
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
        horas := @schema@.cortes(d0, d1, w, cubos, 3600);
    END IF;
    IF w >= 60 THEN
        cortados := @schema@.cortes(d0, d1, w, cubos, 60);
    END IF;
    -- Header by header of the series: its column's place and its port are
    -- then constants, and each look-up an index range (OFFSET 0 keeps the
    -- look-ups one per hour or minute).
    FOR g IN SELECT js.juego, j.puerto, js.posicion FROM @schema@.juego_serie js JOIN @schema@.juego j ON j.id = js.juego
              WHERE js.serie = s LOOP
        IF w >= 3600 THEN
            RETURN QUERY
            SELECT @schema@.cubo(date_part('epoch', h.inicio), d0, w, cubos), h.lineas::bigint, h.n[g.posicion]::bigint,
                   h.minimo[g.posicion], h.maximo[g.posicion]
              FROM @schema@.hora h
             WHERE h.juego = g.juego AND h.inicio >= desde AND h.inicio + interval '1 hour' <= hasta
               AND @schema@.cubo(date_part('epoch', h.inicio), d0, w, cubos) = @schema@.cubo(date_part('epoch', h.inicio) + 3599, d0, w, cubos);
            RETURN QUERY
            SELECT @schema@.cubo(date_part('epoch', m.inicio), d0, w, cubos), m.lineas::bigint, m.n[g.posicion]::bigint,
                   m.minimo[g.posicion], m.maximo[g.posicion]
              FROM unnest(horas) c(hh),
                   LATERAL (SELECT * FROM @schema@.minuto m WHERE m.juego = g.juego AND m.inicio >= to_timestamp(c.hh)
                               AND m.inicio < to_timestamp(c.hh + 3600) OFFSET 0) m
             WHERE m.inicio >= desde AND m.inicio + interval '1 minute' <= hasta
               AND @schema@.cubo(date_part('epoch', m.inicio), d0, w, cubos) = @schema@.cubo(date_part('epoch', m.inicio) + 59, d0, w, cubos);
        ELSIF w >= 60 THEN
            RETURN QUERY
            SELECT @schema@.cubo(date_part('epoch', m.inicio), d0, w, cubos), m.lineas::bigint, m.n[g.posicion]::bigint,
                   m.minimo[g.posicion], m.maximo[g.posicion]
              FROM @schema@.minuto m
             WHERE m.juego = g.juego AND m.inicio >= desde AND m.inicio + interval '1 minute' <= hasta
               AND @schema@.cubo(date_part('epoch', m.inicio), d0, w, cubos) = @schema@.cubo(date_part('epoch', m.inicio) + 59, d0, w, cubos);
        END IF;
        IF w < 60 THEN
            -- Buckets shorter than a minute: every line.
            RETURN QUERY
            SELECT x.b, count(*), count(x.v), min(x.v), max(x.v)
              FROM (SELECT @schema@.cubo(date_part('epoch', l.hora), d0, w, cubos) AS b, @schema@.valor(l.codigos, l.exactas, l.base + g.posicion) AS v
                      FROM @schema@.lineas_de(g.puerto, desde, hasta) l
                     WHERE l.juego = g.juego OFFSET 0) x
             GROUP BY x.b;
        ELSIF d1 - d0 < cardinality(cortados) * 100 THEN
            -- The lines of the cut minutes, in one pass over the range when
            -- that is cheaper than a look-up a minute (about what a hundred
            -- seconds of lines cost).
            RETURN QUERY
            SELECT x.b, count(*), count(x.v), min(x.v), max(x.v)
              FROM (SELECT @schema@.cubo(date_part('epoch', l.hora), d0, w, cubos) AS b, @schema@.valor(l.codigos, l.exactas, l.base + g.posicion) AS v
                      FROM @schema@.lineas_de(g.puerto, desde, hasta) l
                     WHERE l.juego = g.juego AND date_part('epoch', l.minuto) IN (SELECT unnest(cortados)) OFFSET 0) x
             GROUP BY x.b;
        ELSE
            RETURN QUERY
            SELECT x.b, count(*), count(x.v), min(x.v), max(x.v)
              FROM (SELECT @schema@.cubo(date_part('epoch', l.hora), d0, w, cubos) AS b, @schema@.valor(l.codigos, l.exactas, l.base + g.posicion) AS v
                      FROM unnest(cortados) c(mm),
                           LATERAL (SELECT l.hora, l.codigos, l.exactas, l.base
                                      FROM @schema@.lineas_de(g.puerto, greatest(to_timestamp(c.mm), desde),
                                                              least(to_timestamp(c.mm + 60), hasta)) l
                                     WHERE l.juego = g.juego OFFSET 0) l OFFSET 0) x
             GROUP BY x.b;
        END IF;
    END LOOP;
END $f$;

CREATE OR REPLACE FUNCTION @schema@.tramo(series integer[], desde timestamptz, hasta timestamptz, cubos integer)
RETURNS TABLE (serie integer, hora timestamptz, minimo double precision, maximo double precision, lecturas integer)
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog, pg_temp SET work_mem = '64MB' SET jit = off AS $f$
#variable_conflict use_column
DECLARE
    s integer;
    n bigint;
    w double precision;
BEGIN
    IF tramo.series IS NULL OR desde IS NULL OR hasta IS NULL OR cubos IS NULL THEN
        RAISE EXCEPTION '@schema@.tramo: argumento nulo' USING ERRCODE = '22004';
    END IF;
    IF cubos < 1 OR cubos > 20000 THEN
        RAISE EXCEPTION '@schema@.tramo: cubos debe estar entre 1 y 20000, no %', cubos USING ERRCODE = '22023';
    END IF;
    IF hasta <= desde THEN
        RAISE EXCEPTION '@schema@.tramo: el final debe ser posterior al principio' USING ERRCODE = '22023';
    END IF;
    w := (date_part('epoch', hasta) - date_part('epoch', desde)) / cubos;
    FOR s IN SELECT DISTINCT x FROM unnest(tramo.series) x WHERE x IS NOT NULL ORDER BY 1 LOOP
        -- Its lines counted from their rows' seconds alone, in any order:
        -- only as far as one more than the buckets.
        SELECT count(*) INTO n FROM (
            SELECT 1 FROM @schema@.juego_serie js JOIN @schema@.juego j ON j.id = js.juego
              JOIN @schema@.bloque b ON b.puerto = j.puerto AND b.juego = js.juego, unnest(b.segundos) u(segundo)
             WHERE js.serie = s AND b.inicio >= to_timestamp(floor(date_part('epoch', desde) / 60) * 60) AND b.inicio < hasta
               AND b.inicio + u.segundo * interval '1 second' >= desde AND b.inicio + u.segundo * interval '1 second' < hasta
             LIMIT cubos + 1) c;
        IF n <= cubos THEN
            RETURN QUERY
            SELECT s, l.hora, v.v, v.v, (v.v IS NOT NULL)::integer
              FROM @schema@.juego_serie js JOIN @schema@.juego j ON j.id = js.juego,
                   LATERAL @schema@.lineas_de(j.puerto, desde, hasta) l,
                   LATERAL (SELECT @schema@.valor(l.codigos, l.exactas, l.base + js.posicion) AS v) v
             WHERE js.serie = s AND l.juego = js.juego
             ORDER BY l.hora;
        ELSE
            RETURN QUERY
            SELECT s, desde + make_interval(secs => p.b * w), min(p.mn), max(p.mx), sum(p.cuenta)::integer
              FROM @schema@.piezas(s, desde, hasta, cubos) p
             GROUP BY p.b ORDER BY p.b;
        END IF;
    END LOOP;
END $f$;
