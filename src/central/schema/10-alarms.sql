-- Version 4: the alarms that climalog-avisos raises from the archived
-- lines, the notifications each change of one queues, how far each port's
-- lines are judged, and what the page reads and does with them.

-- An alarm: a condition of a series (or of a port: parada) that held for its rule's delay.
CREATE TABLE @schema@.aviso (
    id        bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    puerto    integer NOT NULL REFERENCES @schema@.puerto,
    serie     integer REFERENCES @schema@.serie,   -- NULL: the port's own (parada)
    condicion text NOT NULL CHECK (condicion IN ('alto', 'bajo', 'activa', 'err', 'parada')),
    regla     text NOT NULL,                       -- the rule's name in avisos.conf
    inicio    timestamptz NOT NULL,                -- the instant of its first line
    fin       timestamptz,                         -- NULL while active
    extremo   double precision,                    -- the value farthest past the limit
    limite    double precision,
    reconocido_por text, reconocido timestamptz, comentario text,
    reconocimiento_avisado boolean NOT NULL DEFAULT false, -- its acknowledgement messages are queued
    silenciado_por text, silenciado_hasta timestamptz,
    UNIQUE NULLS NOT DISTINCT (regla, puerto, serie, condicion, inicio)
);
CREATE INDEX aviso_activo ON @schema@.aviso (puerto) WHERE fin IS NULL;

-- A notification waiting to go or gone: written in the same transaction as the alarm's change.
CREATE TABLE @schema@.salida (
    id           bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    aviso        bigint NOT NULL REFERENCES @schema@.aviso,
    suceso       text NOT NULL CHECK (suceso IN ('alta', 'fin', 'reconocido', 'recordatorio', 'escalado')),
    instante     timestamptz NOT NULL,   -- the event's own time (a line's instant, the acknowledgement's)
    destinatario text NOT NULL,          -- the recipient's name in avisos.conf
    canal        text NOT NULL CHECK (canal IN ('correo', 'webhook')),
    direccion    text NOT NULL,          -- the mail address or the URL
    creado       timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX salida_aviso ON @schema@.salida (aviso);

-- How far the alarm program has judged each port's lines: every line up to
-- `hasta` (inclusive), and what it was in the middle of at that line
-- (conditions held for less than their delay, runs of ERR lines), in its
-- own text form; written in the transaction of the alarms it led to.
CREATE TABLE @schema@.avisos_puerto (
    puerto integer PRIMARY KEY REFERENCES @schema@.puerto,
    hasta  timestamptz NOT NULL,
    estado text NOT NULL DEFAULT '',
    actualizado timestamptz NOT NULL DEFAULT now()
);

-- What the page shows of each alarm: where it is, and the alarm itself
-- (`puerto` the port's name, as in the summary; `puerto_id` its key).
CREATE OR REPLACE VIEW @schema@.avisos AS
SELECT a.id, e.nombre AS estacion, e.zona, p.nombre AS puerto, a.puerto AS puerto_id, a.serie, s.columna, s.unidad,
       a.condicion, a.regla, a.inicio, a.fin, a.extremo, a.limite, a.reconocido_por, a.reconocido, a.comentario,
       a.reconocimiento_avisado, a.silenciado_por, a.silenciado_hasta
  FROM @schema@.aviso a
  JOIN @schema@.puerto p ON p.id = a.puerto
  JOIN @schema@.estacion e ON e.id = p.estacion
  LEFT JOIN @schema@.serie s ON s.id = a.serie;

-- A person on the page acknowledges an alarm, active or ended: once.
CREATE OR REPLACE FUNCTION @schema@.reconocer(a_aviso bigint, a_usuario text, a_comentario text) RETURNS boolean
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    v_hecho integer;
BEGIN
    IF a_usuario IS NULL OR pg_catalog.length(a_usuario) = 0 THEN
        RAISE EXCEPTION 'Falta quién reconoce el aviso' USING ERRCODE = '22023';
    END IF;
    IF pg_catalog.length(a_comentario) > 2000 THEN
        RAISE EXCEPTION 'El comentario pasa de 2000 caracteres' USING ERRCODE = '22023';
    END IF;
    UPDATE @schema@.aviso
       SET reconocido_por = a_usuario, reconocido = pg_catalog.now(), comentario = a_comentario
     WHERE id = a_aviso AND reconocido IS NULL;
    GET DIAGNOSTICS v_hecho = ROW_COUNT;
    IF v_hecho = 0 THEN
        RETURN false;
    END IF;
    PERFORM pg_catalog.pg_notify('climalog_avisos', a_aviso::text);
    RETURN true;
END $f$;

-- A person on the page silences an active alarm's reminders and
-- escalations for a while (a week at most).
CREATE OR REPLACE FUNCTION @schema@.silenciar(a_aviso bigint, a_usuario text, a_minutos integer) RETURNS boolean
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $f$
DECLARE
    v_hecho integer;
BEGIN
    IF a_usuario IS NULL OR pg_catalog.length(a_usuario) = 0 THEN
        RAISE EXCEPTION 'Falta quién silencia el aviso' USING ERRCODE = '22023';
    END IF;
    IF a_minutos IS NULL OR a_minutos NOT BETWEEN 1 AND 10080 THEN
        RAISE EXCEPTION 'Los minutos de silencio van de 1 a 10080' USING ERRCODE = '22023';
    END IF;
    UPDATE @schema@.aviso
       SET silenciado_por = a_usuario, silenciado_hasta = pg_catalog.now() + pg_catalog.make_interval(mins => a_minutos)
     WHERE id = a_aviso AND fin IS NULL;
    GET DIAGNOSTICS v_hecho = ROW_COUNT;
    IF v_hecho = 0 THEN
        RETURN false;
    END IF;
    PERFORM pg_catalog.pg_notify('climalog_avisos', a_aviso::text);
    RETURN true;
END $f$;
