-- Version 7: a station's catch-up sends its lines as finished rows, each
-- with its minute's figures, and the figures of its hours: the batch is
-- written a row and not a reading at a time (see @schema@.guardar_filas).

-- A row of @schema@.bloque as a station sends it, with the figures of its
-- minute (as @schema@.minuto keeps them; its lines, the row's own) and
-- `linea`, the file line of its first line, for the messages.
DO $$
BEGIN
    IF to_regtype('@schema@.fila') IS NOT NULL THEN
        RETURN;
    END IF;
    CREATE TYPE @schema@.fila AS (
        inicio timestamptz, juego integer, linea bigint, segundos smallint[], valores integer[],
        exactos double precision[], n smallint[], minimo double precision[], maximo double precision[],
        suma double precision[], cuadrados double precision[], arrhenius double precision[]);
    -- A header's figures of one minute or hour, as @schema@.minuto and @schema@.hora keep them.
    CREATE TYPE @schema@.cifras AS (
        juego integer, inicio timestamptz, lineas integer, n smallint[], minimo double precision[],
        maximo double precision[], suma double precision[], cuadrados double precision[], arrhenius double precision[]);
END $$;
