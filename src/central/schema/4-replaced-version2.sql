-- Version 2's batch takes its lines as an argument: the function of version
-- 1's arguments makes way.
DROP FUNCTION @schema@.guardar(integer, bigint, bigint, bigint, bigint, bigint, bigint, bigint, bytea, bigint, boolean);
