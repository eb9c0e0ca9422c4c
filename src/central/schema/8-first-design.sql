-- ---- A narrow table of the first design, moved into these tables.
CREATE FUNCTION @schema@.migrar_anterior() RETURNS bigint
LANGUAGE plpgsql SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    n bigint;
BEGIN
    CREATE TEMP TABLE anterior ON COMMIT DROP AS
    SELECT estacion, puerto, fichero, columna, hora, valor, orden
      FROM (SELECT DISTINCT ON (estacion, puerto, fichero, columna, hora)
                   estacion, puerto, fichero, columna, hora, valor, ctid AS orden
              FROM @schema@.lectura_anterior
             ORDER BY estacion, puerto, fichero, columna, hora, ctid DESC) a;
    INSERT INTO @schema@.estacion (nombre, zona, rol)
    SELECT DISTINCT estacion, current_setting('TimeZone'), NULL::name
      FROM (SELECT estacion FROM anterior UNION SELECT estacion FROM @schema@.progreso_anterior) a
    ON CONFLICT (nombre) DO NOTHING;
    INSERT INTO @schema@.puerto (estacion, nombre)
    SELECT DISTINCT e.id, a.puerto
      FROM (SELECT estacion, puerto FROM anterior UNION SELECT estacion, puerto FROM @schema@.progreso_anterior) a
      JOIN @schema@.estacion e ON e.nombre = a.estacion
    ON CONFLICT DO NOTHING;
    INSERT INTO @schema@.fichero (puerto, nombre, dia)
    SELECT DISTINCT p.id, a.fichero, coalesce(@schema@.dia_de(a.fichero), date '2000-01-01')
      FROM (SELECT estacion, puerto, fichero FROM anterior UNION SELECT estacion, puerto, fichero FROM @schema@.progreso_anterior) a
      JOIN @schema@.estacion e ON e.nombre = a.estacion JOIN @schema@.puerto p ON p.estacion = e.id AND p.nombre = a.puerto
    ON CONFLICT DO NOTHING;
    INSERT INTO @schema@.serie (puerto, columna, ocurrencia, unidad, dispositivo, clase)
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
      JOIN @schema@.estacion e ON e.nombre = a.estacion JOIN @schema@.puerto p ON p.estacion = e.id AND p.nombre = a.puerto
    ON CONFLICT DO NOTHING;
    -- A line: the readings of one file and second, in the order they were stored (the header's).
    CREATE TEMP TABLE lineas_anteriores ON COMMIT DROP AS
    SELECT p.id AS puerto, f.id AS fichero, a.fichero AS nombre, a.hora,
           array_agg(s.id ORDER BY a.orden) AS series, array_agg(a.valor ORDER BY a.orden) AS valores
      FROM anterior a
      JOIN @schema@.estacion e ON e.nombre = a.estacion
      JOIN @schema@.puerto p ON p.estacion = e.id AND p.nombre = a.puerto
      JOIN @schema@.fichero f ON f.puerto = p.id AND f.nombre = a.fichero
      JOIN @schema@.serie s ON s.puerto = p.id AND s.columna = a.columna AND s.ocurrencia = 1
     GROUP BY p.id, f.id, a.fichero, a.hora;
    INSERT INTO @schema@.juego (puerto, series)
    SELECT DISTINCT puerto, series FROM lineas_anteriores ON CONFLICT DO NOTHING;
    INSERT INTO @schema@.juego_serie (serie, juego, posicion)
    SELECT u.x, j.id, u.k FROM @schema@.juego j, unnest(j.series) WITH ORDINALITY u(x, k) ON CONFLICT DO NOTHING;
    PERFORM @schema@.crear_meses(min(hora)::date - 1, max(hora)::date + 1) FROM lineas_anteriores HAVING count(*) > 0;
    -- A second held by two files keeps the later file's line.
    CREATE TEMP TABLE lineas_nuevas ON COMMIT DROP AS
    SELECT DISTINCT ON (a.puerto, a.hora) a.hora, a.puerto, a.fichero, j.id AS juego,
           ARRAY(SELECT @schema@.codigo(v) FROM unnest(a.valores) WITH ORDINALITY u(v, k) ORDER BY k) AS valores,
           CASE WHEN EXISTS (SELECT 1 FROM unnest(a.valores) v WHERE v IS NOT NULL AND @schema@.codigo(v) IS NULL)
                THEN a.valores END AS exactos
      FROM lineas_anteriores a
      JOIN @schema@.juego j ON j.puerto = a.puerto AND @schema@.clave(j.series) = @schema@.clave(a.series) AND j.series = a.series
     ORDER BY a.puerto, a.hora, a.nombre DESC;
    GET DIAGNOSTICS n = ROW_COUNT;
    PERFORM @schema@.empaquetar('lineas_nuevas');
    PERFORM @schema@.resumir(puerto, min(hora), max(hora)) FROM lineas_nuevas GROUP BY puerto;
    INSERT INTO @schema@.ultima (juego, hora, valores, exactos)
    SELECT DISTINCT ON (juego) juego, hora, valores, exactos FROM lineas_nuevas ORDER BY juego, hora DESC
    ON CONFLICT (juego) DO NOTHING;
    -- The files' progress: read again by key up to where they were archived.
    INSERT INTO @schema@.progreso (fichero, posicion, lineas, huella, muestra, cabecera, estado, por_clave_hasta)
    SELECT f.id, a.posicion, 0, NULL, NULL, -1, NULL, greatest(a.posicion, a.por_clave_hasta)
      FROM @schema@.progreso_anterior a
      JOIN @schema@.estacion e ON e.nombre = a.estacion
      JOIN @schema@.puerto p ON p.estacion = e.id AND p.nombre = a.puerto
      JOIN @schema@.fichero f ON f.puerto = p.id AND f.nombre = a.fichero;
    RETURN n;
END $f$;

DO $$
BEGIN
    IF to_regclass('@schema@.lectura_anterior') IS NOT NULL THEN
        PERFORM @schema@.migrar_anterior();
    END IF;
END $$;
