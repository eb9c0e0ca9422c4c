-- Run on every set-up, whatever the version: the roles (when missing), who
-- may do what, and the month partitions of the present and the next months.
DO $$
BEGIN
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '@station@') THEN
        CREATE ROLE @station@ NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '@reader@') THEN
        CREATE ROLE @reader@ NOLOGIN;
    END IF;
    IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '@alarms@') THEN
        CREATE ROLE @alarms@ NOLOGIN;
    END IF;
END $$;
REVOKE ALL ON SCHEMA @schema@ FROM PUBLIC;
REVOKE ALL ON ALL TABLES IN SCHEMA @schema@ FROM PUBLIC;
REVOKE ALL ON ALL SEQUENCES IN SCHEMA @schema@ FROM PUBLIC;
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA @schema@ FROM PUBLIC;
GRANT USAGE ON SCHEMA @schema@ TO @station@, @reader@, @alarms@;
GRANT SELECT ON @schema@.version TO @station@, @reader@;
GRANT EXECUTE ON FUNCTION
    @schema@.alta_estacion(text, text),
    @schema@.alta_puerto(integer, text),
    @schema@.alta_fichero(integer, text),
    @schema@.alta_juego(integer, text[], text[], text[], text[]),
    @schema@.progreso_de(integer),
    @schema@.guardar(integer, bigint, bigint, bigint, bigint, bigint, bigint, bigint, bigint, bytea, bigint, boolean, boolean,
                     @schema@.entrada[]),
    @schema@.guardar_filas(integer, bigint, bigint, bigint, bigint, bigint, bigint, bigint, bytea, bigint, @schema@.fila[],
                           @schema@.cifras[]),
    @schema@.guardar_configuracion(integer, bigint, text[], text[], smallint[], real[], real[], smallint[], text[], text[], real[], smallint[])
  TO @station@;
GRANT SELECT ON @schema@.resumen, @schema@.lectura, @schema@.media_horaria TO @reader@;
GRANT EXECUTE ON FUNCTION
    @schema@.tramo(integer[], timestamptz, timestamptz, integer),
    @schema@.lecturas(integer[], timestamptz, timestamptz),
    @schema@.valor(integer[], double precision[], integer)
  TO @reader@;
-- The reports' reads.
GRANT EXECUTE ON FUNCTION
    @schema@.informe_juegos(integer[]),
    @schema@.informe_piezas(integer[], timestamptz, timestamptz),
    @schema@.informe_lineas(integer[], timestamptz[], timestamptz[]),
    @schema@.informe_configuraciones(integer[], timestamptz, timestamptz),
    @schema@.informe_minutos(integer[], timestamptz[], timestamptz[]),
    @schema@.informe_minutos_de(integer[], timestamptz[])
  TO @reader@;
-- The page's alarms: what it shows, and the acknowledgement and silence.
GRANT SELECT ON @schema@.avisos TO @reader@;
GRANT EXECUTE ON FUNCTION
    @schema@.reconocer(bigint, text, text),
    @schema@.silenciar(bigint, text, integer)
  TO @reader@;
-- The alarm program: what a reader may, the ports' configurations, and its
-- own tables.
GRANT @reader@ TO @alarms@;
GRANT SELECT ON @schema@.estacion, @schema@.puerto, @schema@.serie, @schema@.juego, @schema@.juego_serie,
    @schema@.configuracion, @schema@.dispositivo TO @alarms@;
GRANT SELECT, INSERT, UPDATE ON @schema@.aviso, @schema@.salida, @schema@.avisos_puerto, @schema@.envio TO @alarms@;
SELECT @schema@.crear_meses(current_date - 1, current_date + 32);
-- The alarm program's reports: what they read is a reader's; what it
-- writes, the reports it sent.
GRANT SELECT, INSERT ON @schema@.informe_enviado TO @alarms@;
