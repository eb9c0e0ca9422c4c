-- Version 1's tables: stations, ports, series, headers, files and their
-- progress, rollups, latest lines and configurations.

CREATE SCHEMA IF NOT EXISTS @schema@;

CREATE TABLE @schema@.version (version integer NOT NULL);
INSERT INTO @schema@.version VALUES (1);

-- A station: its name, its time zone (IANA) and the login role that archives it.
CREATE TABLE @schema@.estacion (
    id     serial PRIMARY KEY,
    nombre text NOT NULL UNIQUE,
    zona   text NOT NULL,
    rol    name     -- NULL: the first station role that starts with this name takes it
);
CREATE TABLE @schema@.puerto (
    id       serial PRIMARY KEY,
    estacion integer NOT NULL REFERENCES @schema@.estacion,
    nombre   text NOT NULL,            -- the capture folder's name, "1".."4"
    UNIQUE (estacion, nombre)
);
-- A column of a port's captures, by its header text ("Sala (ºC)"); a text
-- that a header holds twice gives two series (ocurrencia 1 and 2).
CREATE TABLE @schema@.serie (
    id          serial PRIMARY KEY,
    puerto      integer NOT NULL REFERENCES @schema@.puerto,
    columna     text NOT NULL,
    ocurrencia  integer NOT NULL,
    unidad      text,                  -- NULL for inputs
    dispositivo text NOT NULL,         -- the device's name in the column
    clase       text NOT NULL,         -- T temperature, H humidity, a..d channel, 1 2 input
    UNIQUE (puerto, columna, ocurrencia)
);
-- The columns of a header, in order.
CREATE TABLE @schema@.juego (
    id     serial PRIMARY KEY,
    puerto integer NOT NULL REFERENCES @schema@.puerto,
    series integer[] NOT NULL
);
-- Headers of many columns are longer than an index entry may be: their hash is the key.
CREATE FUNCTION @schema@.clave(series integer[]) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$ SELECT md5(series::text) $f$;
CREATE UNIQUE INDEX juego_columnas ON @schema@.juego (puerto, @schema@.clave(series));
CREATE TABLE @schema@.juego_serie (
    serie    integer NOT NULL REFERENCES @schema@.serie,
    juego    integer NOT NULL REFERENCES @schema@.juego,
    posicion integer NOT NULL,
    PRIMARY KEY (serie, juego)
);
CREATE TABLE @schema@.fichero (
    id     serial PRIMARY KEY,
    puerto integer NOT NULL REFERENCES @schema@.puerto,
    nombre text NOT NULL,              -- "07-12-2026-00.log"
    dia    date NOT NULL,              -- the day its name gives
    UNIQUE (puerto, nombre)
);
-- How far a capture file is archived, and what a restart needs to go on
-- from there without reading the file from its start.
CREATE TABLE @schema@.progreso (
    fichero         integer PRIMARY KEY REFERENCES @schema@.fichero,
    posicion        bigint NOT NULL,   -- bytes of whole lines archived
    lineas          bigint NOT NULL,   -- lines before posicion
    huella          bigint,            -- hash of the bytes before posicion; NULL: not known
    muestra         bigint,            -- hash of the start, the header and the end before posicion
    cabecera        bigint NOT NULL,   -- where the header in force at posicion starts, -1 none
    estado          bytea,             -- the capture reader's state at posicion
    por_clave_hasta bigint NOT NULL DEFAULT 0, -- a replaced file: lines before this replace stored ones
    actualizado     timestamptz NOT NULL DEFAULT now()
);

-- A capture line's values in header order, each a decimal mantissa and
-- exponent in one integer (see @schema@.valor), NULL for ERR; a line holding
-- a value that does not fit carries all its values exactly. Lines are kept
-- a minute to a row: see 2-2-blocks.sql.

-- Per minute and per hour (periods from the epoch, UTC) of a header: lines,
-- and per column the readings that are not ERR, their minimum, maximum and sum.
CREATE TABLE @schema@.minuto (
    juego  integer NOT NULL,
    lineas integer NOT NULL,
    inicio timestamptz NOT NULL,
    n      smallint[] NOT NULL,
    minimo double precision[] NOT NULL,
    maximo double precision[] NOT NULL,
    suma   double precision[] NOT NULL,
    PRIMARY KEY (juego, inicio)
);
CREATE TABLE @schema@.hora (LIKE @schema@.minuto INCLUDING ALL);

-- The latest line of every header, written with each batch.
CREATE TABLE @schema@.ultima (
    juego   integer PRIMARY KEY,
    hora    timestamptz NOT NULL,
    valores integer[] NOT NULL,
    exactos double precision[]
);

-- Each port's configuration file as archived whenever it changed.
CREATE TABLE @schema@.configuracion (
    id     serial PRIMARY KEY,
    puerto integer NOT NULL REFERENCES @schema@.puerto,
    huella bigint NOT NULL,
    leida  timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX configuracion_puerto ON @schema@.configuracion (puerto, id);
CREATE TABLE @schema@.dispositivo (
    configuracion integer NOT NULL REFERENCES @schema@.configuracion,
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
CREATE INDEX dispositivo_nombre ON @schema@.dispositivo (configuracion, nombre);
