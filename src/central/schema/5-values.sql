-- The value encoding and the element-by-element merging of rollups. Each
-- function as it is now: run again by every version step that changes one.

-- A value stored as an integer: mantissa * 64 + exponent + 32, exponent in
-- -22..22. Mantissa and power of ten are both exact doubles, so one product
-- or quotient rounds once: the double the capture text itself reads as.
CREATE OR REPLACE FUNCTION @schema@.valor(valores integer[], exactos double precision[], k integer)
RETURNS double precision LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
SELECT CASE
    WHEN exactos IS NOT NULL THEN exactos[k]
    WHEN (valores[k] & 63) >= 32 THEN (valores[k] >> 6)::double precision
        * ('{1,1e1,1e2,1e3,1e4,1e5,1e6,1e7,1e8,1e9,1e10,1e11,1e12,1e13,1e14,1e15,1e16,1e17,1e18,1e19,1e20,1e21,1e22}'::double precision[])[(valores[k] & 63) - 31]
    ELSE (valores[k] >> 6)::double precision
        / ('{1,1e1,1e2,1e3,1e4,1e5,1e6,1e7,1e8,1e9,1e10,1e11,1e12,1e13,1e14,1e15,1e16,1e17,1e18,1e19,1e20,1e21,1e22}'::double precision[])[33 - (valores[k] & 63)]
END $f$;

-- The code of a value, NULL when it has none (ERR, -0, too many digits, an
-- exponent out of range): from its shortest exact text.
CREATE OR REPLACE FUNCTION @schema@.codigo(v double precision) RETURNS integer
LANGUAGE plpgsql IMMUTABLE SET extra_float_digits = 1 AS $f$
DECLARE
    t text; e integer := 0; p integer; m bigint; c integer;
BEGIN
    IF v IS NULL OR v IN ('Infinity', '-Infinity', 'NaN') THEN
        RETURN NULL;
    END IF;
    t := v::text;
    p := position('e' IN t);
    IF p > 0 THEN
        e := substr(t, p + 1)::integer;
        t := left(t, p - 1);
    END IF;
    p := position('.' IN t);
    IF p > 0 THEN
        e := e - (length(t) - p);
        t := left(t, p - 1) || substr(t, p + 1);
    END IF;
    IF ltrim(t, '-0') = '' THEN
        RETURN CASE WHEN t LIKE '-%' THEN NULL ELSE 32 END;
    END IF;
    WHILE e < 22 AND right(t, 1) = '0' LOOP
        t := left(t, -1);
        e := e + 1;
    END LOOP;
    IF length(ltrim(t, '-0')) > 9 THEN
        RETURN NULL;
    END IF;
    m := t::bigint;
    IF abs(m) > 33554431 OR e < -22 OR e > 22 THEN
        RETURN NULL;
    END IF;
    c := (m * 64 + e + 32)::integer;
    IF @schema@.valor(ARRAY[c], NULL, 1) IS DISTINCT FROM v THEN
        RETURN NULL;
    END IF;
    RETURN c;
END $f$;

-- Element by element, for merging the rollups of a batch into stored ones.
CREATE OR REPLACE FUNCTION @schema@.sumar(a smallint[], b smallint[]) RETURNS smallint[]
LANGUAGE sql IMMUTABLE AS $f$ SELECT array_agg((x + y)::smallint ORDER BY i) FROM unnest(a, b) WITH ORDINALITY u(x, y, i) $f$;
CREATE OR REPLACE FUNCTION @schema@.menor(a double precision[], b double precision[]) RETURNS double precision[]
LANGUAGE sql IMMUTABLE AS $f$ SELECT array_agg(least(x, y) ORDER BY i) FROM unnest(a, b) WITH ORDINALITY u(x, y, i) $f$;
CREATE OR REPLACE FUNCTION @schema@.mayor(a double precision[], b double precision[]) RETURNS double precision[]
LANGUAGE sql IMMUTABLE AS $f$ SELECT array_agg(greatest(x, y) ORDER BY i) FROM unnest(a, b) WITH ORDINALITY u(x, y, i) $f$;
CREATE OR REPLACE FUNCTION @schema@.sumar(a double precision[], b double precision[]) RETURNS double precision[]
LANGUAGE sql IMMUTABLE AS $f$
SELECT array_agg(CASE WHEN x IS NULL THEN y WHEN y IS NULL THEN x ELSE x + y END ORDER BY i) FROM unnest(a, b) WITH ORDINALITY u(x, y, i)
$f$;

-- The value of one code (see @schema@.valor), NULL for NULL.
CREATE OR REPLACE FUNCTION @schema@.valor_de(c integer) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $f$
SELECT CASE
    WHEN (c & 63) >= 32 THEN (c >> 6)::double precision
        * ('{1,1e1,1e2,1e3,1e4,1e5,1e6,1e7,1e8,1e9,1e10,1e11,1e12,1e13,1e14,1e15,1e16,1e17,1e18,1e19,1e20,1e21,1e22}'::double precision[])[(c & 63) - 31]
    ELSE (c >> 6)::double precision
        / ('{1,1e1,1e2,1e3,1e4,1e5,1e6,1e7,1e8,1e9,1e10,1e11,1e12,1e13,1e14,1e15,1e16,1e17,1e18,1e19,1e20,1e21,1e22}'::double precision[])[33 - (c & 63)]
END $f$;
