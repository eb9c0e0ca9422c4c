-- Version 6: a port's lines kept by the minute, one row a minute, file and
-- header (a row's fixed cost shared by its minute's lines), and
-- @schema@.linea a view of them. An archive of an earlier version has its
-- lines moved into these rows, every reading as it was.

-- A port's lines of one minute (from the epoch, UTC), one file and one
-- header: each line's second, ascending, and its codes (see
-- @schema@.codigos) and exact values line after line. `exactos` is NULL when no line of the row has exact
-- values; otherwise a line without them has NULL there. One line per port
-- and second: the station's write function is the only writer, and takes
-- the port's row lock before it merges a minute's rows.
CREATE TABLE IF NOT EXISTS @schema@.bloque (
    puerto   integer NOT NULL,
    inicio   timestamptz NOT NULL,
    fichero  integer NOT NULL,           -- negated while set aside (see @schema@.guardar)
    juego    integer NOT NULL,
    segundos smallint[] NOT NULL,
    valores  integer[] NOT NULL,
    exactos  double precision[],
    PRIMARY KEY (puerto, inicio, fichero, juego),
    CONSTRAINT bloque_forma CHECK (cardinality(segundos) BETWEEN 1 AND 60
        AND cardinality(valores) % cardinality(segundos) = 0
        AND (exactos IS NULL OR cardinality(exactos) = cardinality(valores))
        AND floor(date_part('epoch', inicio) / 60) * 60 = date_part('epoch', inicio))
) PARTITION BY RANGE (inicio);
-- Kept as they are, not compressed: a minute's codes are read several
-- times faster so, in less than twice the room.
ALTER TABLE @schema@.bloque ALTER COLUMN valores SET STORAGE EXTERNAL, ALTER COLUMN exactos SET STORAGE EXTERNAL;

-- Arrays joined one after another, in the aggregate's order: a row's
-- lines are at most sixty.
CREATE OR REPLACE AGGREGATE @schema@.juntar(anycompatiblearray) (
    SFUNC = array_cat, STYPE = anycompatiblearray, INITCOND = '{}');

-- A line's codes as a row keeps them: ERR as 0, which is no value's code
-- (@schema@.valor reads it as NULL), so that a row's array has no NULL and
-- its n-th code is found at once rather than counted to; all ERR when the
-- line's exact values, given, are all NULL (a row tells a line of exact
-- values by one that is not).
CREATE OR REPLACE FUNCTION @schema@.codigos(valores integer[], exactos double precision[]) RETURNS integer[]
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
SELECT CASE WHEN exactos IS NOT NULL AND cardinality(array_remove(exactos, NULL)) = 0
            THEN array_fill(0, ARRAY[cardinality(valores)]) ELSE array_replace(valores, NULL, 0) END
$f$;

-- A row's exact values from its lines' seconds and those of its lines of
-- exact values with their values (a line each): NULL for its other lines.
-- Only a row with such lines is given any, and works them out.
CREATE OR REPLACE FUNCTION @schema@.exactos_de(segundos smallint[], cuales smallint[], exactos double precision[])
RETURNS double precision[] LANGUAGE sql IMMUTABLE STRICT AS $f$
SELECT @schema@.juntar(CASE WHEN x.p IS NULL THEN array_fill(NULL::double precision, ARRAY[cardinality(exactos) / cardinality(cuales)])
                            ELSE ARRAY(SELECT unnest(exactos[x.p:x.p])) END ORDER BY s.k)
  FROM unnest(segundos) WITH ORDINALITY s(s, k), LATERAL (SELECT array_position(cuales, s.s) AS p) x
$f$;

-- Partitions of @schema@.bloque, a month (UTC) each, for the months that
-- meet the days given.
CREATE OR REPLACE FUNCTION @schema@.crear_meses(desde date, hasta date) RETURNS integer
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    mes date := date_trunc('month', desde)::date;
    nombre text;
    hechos integer := 0;
BEGIN
    PERFORM pg_advisory_xact_lock(@lock@);
    WHILE mes <= hasta LOOP
        nombre := 'bloque_' || to_char(mes, 'YYYYMM');
        IF to_regclass('@schema@.' || nombre) IS NULL THEN
            EXECUTE format('CREATE TABLE @schema@.%I PARTITION OF @schema@.bloque FOR VALUES FROM (%L) TO (%L)',
                           nombre, mes || ' 00:00:00+00', (mes + interval '1 month')::date || ' 00:00:00+00');
            hechos := hechos + 1;
        END IF;
        mes := (mes + interval '1 month')::date;
    END LOOP;
    RETURN hechos;
END $f$;

-- The lines of a row (its minute, seconds, codes and exact values), in
-- their order: a line's exact values only when it has any; `base`, the
-- place in the row's arrays before the line's first value.
CREATE OR REPLACE FUNCTION @schema@.desplegar(inicio timestamptz, segundos smallint[], valores integer[],
                                              exactos double precision[])
RETURNS TABLE (hora timestamptz, valores integer[], exactos double precision[], base integer, exacta boolean)
LANGUAGE sql IMMUTABLE AS $f$
SELECT hora, valores, CASE WHEN exacta THEN exactos END, base, exacta FROM (
    SELECT inicio + s.s * interval '1 second' AS hora, array_replace(valores[s.k * n.n - n.n + 1 : s.k * n.n], 0, NULL) AS valores,
           exactos[s.k * n.n - n.n + 1 : s.k * n.n] AS exactos, (s.k * n.n - n.n)::integer AS base,
           cardinality(exactos) > 0 AND cardinality(array_remove(exactos[s.k * n.n - n.n + 1 : s.k * n.n], NULL)) > 0
               AS exacta
      FROM (SELECT cardinality(valores) / cardinality(segundos) AS n) n,
           unnest(segundos) WITH ORDINALITY s(s, k)
    OFFSET 0) l   -- each line's arrays made once, not once for each use of them
$f$;

-- A port's lines of [desde, hasta), minute by minute in the key's order
-- (`minuto`: a line's minute; ordered by it and the time, only the lines
-- of one minute are sorted). Inlined into the query that calls it, so that
-- the rows are picked by their key. Each row's arrays are read whole once
-- (the `|| '{}'` in the sub-select), not once per line; a reader of one
-- value a line takes it from them (`codigos` and `exactas`, the row's
-- arrays, the latter only for a line of exact values, at `base` + its
-- column) rather than from the line's own arrays, made for it.
CREATE OR REPLACE FUNCTION @schema@.lineas_de(a_puerto integer, desde timestamptz, hasta timestamptz)
RETURNS TABLE (minuto timestamptz, hora timestamptz, puerto integer, fichero integer, juego integer,
               valores integer[], exactos double precision[], codigos integer[], exactas double precision[],
               base integer)
LANGUAGE sql STABLE AS $f$
SELECT b.inicio, l.hora, b.puerto, b.fichero, b.juego, l.valores, l.exactos, b.valores,
       CASE WHEN l.exacta THEN b.exactos END, l.base
  FROM (SELECT b.puerto, b.inicio, b.fichero, b.juego, b.segundos, b.valores || '{}'::integer[] AS valores,
               b.exactos || '{}'::double precision[] AS exactos
          FROM @schema@.bloque b
         WHERE b.puerto = a_puerto AND b.inicio >= to_timestamp(floor(date_part('epoch', desde) / 60) * 60)
           AND b.inicio < hasta
         ORDER BY b.puerto, b.inicio, b.fichero, b.juego OFFSET 0) b,
       LATERAL @schema@.desplegar(b.inicio, b.segundos, b.valores, b.exactos) l
 WHERE l.hora >= desde AND l.hora < hasta
$f$;

-- The lines of a table of lines (hora, puerto, fichero, juego, valores,
-- exactos; one a port and second) written as rows.
CREATE OR REPLACE FUNCTION @schema@.empaquetar(lineas regclass) RETURNS void
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp SET work_mem = '64MB' AS $f$
BEGIN
    EXECUTE format($q$
        INSERT INTO @schema@.bloque (puerto, inicio, fichero, juego, segundos, valores, exactos)
        SELECT puerto, to_timestamp(m), fichero, juego, array_agg((date_part('epoch', hora) - m)::smallint ORDER BY hora),
               @schema@.juntar(@schema@.codigos(valores, exactos) ORDER BY hora),
               @schema@.exactos_de(array_agg((date_part('epoch', hora) - m)::smallint ORDER BY hora),
                   array_agg((date_part('epoch', hora) - m)::smallint) FILTER (WHERE cardinality(array_remove(exactos, NULL)) > 0),
                   array_agg(exactos) FILTER (WHERE cardinality(array_remove(exactos, NULL)) > 0))
          FROM (SELECT l.*, floor(date_part('epoch', l.hora) / 60) * 60 AS m FROM %s l) l
         GROUP BY puerto, m, fichero, juego$q$, lineas);
END $f$;

-- An archive of an earlier version: its lines into rows, its month
-- partitions as they were, then the line table and its partitions gone.
DO $$
DECLARE
    p record;
BEGIN
    IF (SELECT relkind FROM pg_class WHERE oid = to_regclass('@schema@.linea')) = 'p' THEN
        FOR p IN SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid
                  WHERE i.inhparent = '@schema@.linea'::regclass AND c.relname ~ '^linea_\d{6}$' LOOP
            PERFORM @schema@.crear_meses(to_date(right(p.relname, 6), 'YYYYMM'), to_date(right(p.relname, 6), 'YYYYMM'));
        END LOOP;
        PERFORM @schema@.empaquetar('@schema@.linea');
        DROP VIEW IF EXISTS @schema@.lectura;
        DROP TABLE @schema@.linea;
    END IF;
END $$;

-- Every line as one row, as the line table had them.
CREATE OR REPLACE VIEW @schema@.linea AS
SELECT l.hora, l.puerto, l.fichero, l.juego, l.valores, l.exactos
  FROM @schema@.puerto p, LATERAL @schema@.lineas_de(p.id, '-infinity', 'infinity') l;

-- Written only through the station's batch: a write to the view is refused
-- (and, for a role without the right, refused as such).
CREATE OR REPLACE FUNCTION @schema@.linea_de_lectura() RETURNS trigger
LANGUAGE plpgsql AS $f$
BEGIN
    RAISE EXCEPTION '@schema@.linea solo se lee: las líneas se guardan con @schema@.guardar' USING ERRCODE = '42501';
END $f$;
CREATE OR REPLACE TRIGGER linea_de_lectura INSTEAD OF INSERT OR UPDATE OR DELETE ON @schema@.linea
FOR EACH ROW EXECUTE FUNCTION @schema@.linea_de_lectura();
