-- Version 5: the reports climalog-avisos mails on a schedule. A report's
-- messages (one per recipient, its PDF attached) and the rows that say it
-- went are written in one transaction; the key makes a second send of one
-- rule's period of a station, to one recipient, impossible.

-- A message's attachment: sent with it, as stored.
-- (Each statement may run again over itself: a step taken twice changes nothing.)
ALTER TABLE @schema@.envio
    ADD COLUMN IF NOT EXISTS adjunto        bytea,
    ADD COLUMN IF NOT EXISTS adjunto_nombre text,  -- a plain file name: letters, digits, '-', '_' and '.'
    ADD COLUMN IF NOT EXISTS adjunto_tipo   text;  -- its media type: application/pdf
ALTER TABLE @schema@.envio DROP CONSTRAINT IF EXISTS envio_adjunto;
ALTER TABLE @schema@.envio ADD CONSTRAINT envio_adjunto CHECK (
        (adjunto IS NULL AND adjunto_nombre IS NULL AND adjunto_tipo IS NULL)
        OR (adjunto IS NOT NULL AND adjunto_nombre ~ '^[A-Za-z0-9._-]{1,100}$'
            AND adjunto_tipo IS NOT NULL AND canal = 'correo'));

-- A report sent: a rule's period of a station, to one recipient, in its message.
CREATE TABLE IF NOT EXISTS @schema@.informe_enviado (
    id           bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    regla        text NOT NULL,          -- the [informe NOMBRE] of avisos.conf
    estacion     integer NOT NULL REFERENCES @schema@.estacion,
    desde        timestamptz NOT NULL,   -- the period, [desde, hasta)
    hasta        timestamptz NOT NULL CHECK (hasta > desde),
    destinatario text NOT NULL,          -- the recipient's name in avisos.conf
    envio        bigint NOT NULL UNIQUE REFERENCES @schema@.envio,
    incompleto   boolean NOT NULL,       -- some port's lines did not reach the period's end
    hecho        timestamptz NOT NULL DEFAULT now(),
    UNIQUE (regla, estacion, desde, destinatario)
);
-- The latest period sent of each rule and station.
CREATE INDEX IF NOT EXISTS informe_ultimo ON @schema@.informe_enviado (regla, estacion, hasta);
-- Who may use it: the grants of every set-up (9-grants.sql) give the alarm
-- program its rows.
