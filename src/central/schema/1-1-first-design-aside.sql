-- A database of no schema yet: the first design's narrow table and its
-- progress, if there, set aside for 8-first-design.sql.
-- The first design's narrow table and progress make way, kept under other names.
DO $$
BEGIN
    IF (SELECT relkind FROM pg_class WHERE oid = to_regclass('@schema@.lectura')) IN ('r', 'p') THEN
        ALTER TABLE @schema@.lectura RENAME TO lectura_anterior;
        ALTER TABLE @schema@.progreso RENAME TO progreso_anterior;
        ALTER TABLE @schema@.progreso_anterior RENAME CONSTRAINT progreso_pkey TO progreso_anterior_pkey;
    END IF;
END $$;
