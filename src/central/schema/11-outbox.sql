-- The outbox's messages: each gathers a recipient's salida rows and is
-- stored, as it will be sent, before it is sent; sent again after a crash it
-- is the same message.
CREATE TABLE @schema@.envio (
    id           bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    destinatario text NOT NULL,          -- the recipient's name in avisos.conf
    canal        text NOT NULL CHECK (canal IN ('correo', 'webhook')),
    direccion    text NOT NULL,          -- the mail address or the URL
    mensaje_id   text UNIQUE,            -- Message-ID (X-Climalog-Mensaje for a webhook), set as it is stored
    asunto       text NOT NULL,
    cuerpo       text NOT NULL,          -- the mail's text or the webhook's JSON
    creado       timestamptz NOT NULL DEFAULT now(), -- the mail's Date
    intentos     integer NOT NULL DEFAULT 0,
    ultimo_error text,                   -- why the last attempt failed, no password in it
    enviado      timestamptz             -- NULL until the server took it
);
-- The messages still to go, in order.
CREATE INDEX envio_pendiente ON @schema@.envio (id) WHERE enviado IS NULL;

ALTER TABLE @schema@.salida ADD COLUMN envio bigint REFERENCES @schema@.envio;
-- The rows not yet gathered, by recipient, in order.
CREATE INDEX salida_pendiente ON @schema@.salida (destinatario, canal, direccion, id)
    WHERE envio IS NULL;
CREATE INDEX salida_envio ON @schema@.salida (envio);
-- Who may use it: the grants of every set-up (9-grants.sql) give the alarm
-- program its rows.
