-- The test server's dictionary: Oracle-style views over PostgreSQL.
-- The program's SQL is sent unchanged, and PostgreSQL folds unquoted names to
-- lower case where Oracle folds them to upper case: so the views and the
-- schemas and tables they describe are created with unquoted (lower-case)
-- names, while the views report the names in capitals, as Oracle would.
-- Names are typed as bounded varchar (unbounded text would arrive as memo).
CREATE SCHEMA sys;
CREATE VIEW all_users AS
  SELECT CAST(upper(nspname) AS varchar(128)) AS username
  FROM pg_namespace
  WHERE nspname NOT LIKE 'pg\_%' AND nspname NOT IN ('information_schema', 'public', 'sys');
CREATE VIEW sys.all_tables AS
  SELECT CAST(upper(table_schema) AS varchar(128)) AS owner,
         CAST(upper(table_name) AS varchar(128)) AS table_name
  FROM information_schema.tables
  WHERE table_type = 'BASE TABLE'
    AND table_schema NOT IN ('pg_catalog', 'information_schema', 'public', 'sys');
