-- Version 2's changes to the tables and types.

ALTER TABLE @schema@.estacion ALTER COLUMN zona SET DEFAULT 'UTC';

-- A capture line on its way in: a station's batch is an array of these.
CREATE TYPE @schema@.entrada AS (hora timestamptz, juego integer, linea bigint, valores integer[], exactos double precision[]);
