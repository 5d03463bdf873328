-- The test suite's own users and tables, loaded after the dictionary
-- (testdb-fixture.sql) when scripts/testdb is started without fixtures.
-- Names are unquoted, hence lower case here; the dictionary reports them in
-- capitals and the program's unquoted SQL finds them again.
-- Kept small: the suite loads it once per run.

CREATE SCHEMA bravel;
CREATE SCHEMA telmir;
CREATE SCHEMA qltest;
CREATE SCHEMA zzempty;   -- a user that owns no tables

-- The tables the favourites list names out of the box.
CREATE TABLE bravel.t_rudatasourcetype (
  typeid   integer PRIMARY KEY,
  typecode varchar(20) NOT NULL,
  typename varchar(60)
);
INSERT INTO bravel.t_rudatasourcetype VALUES
  (1, 'ORACLE', 'Oracle 数据库'),
  (2, 'EXCEL',  '电子表格'),
  (3, 'TEXT',   NULL);

CREATE TABLE telmir.kjbaseunitinfo (
  unitcode varchar(10) PRIMARY KEY,   -- codes with leading zeros
  unitname varchar(40),
  levelno  numeric(9,0)
);
INSERT INTO telmir.kjbaseunitinfo VALUES
  ('0001', '总公司', 1), ('0001001', '北京分公司', 2), ('0002', '上海分公司', 2);

CREATE TABLE telmir.kjassistantref (
  refid    numeric(10,0) PRIMARY KEY,
  unitcode varchar(10),
  amount   numeric(12,2)
);
INSERT INTO telmir.kjassistantref VALUES (1, '0001', 100.50), (2, '0002', -3.75);

CREATE TABLE telmir.kjbaseunitaccount (
  accountno char(12) PRIMARY KEY,
  unitcode  varchar(10),
  opened    date
);
INSERT INTO telmir.kjbaseunitaccount VALUES ('000123456789', '0001', '2001-01-01');

-- One column of every kind, with a row of values, a row of NULLs and a row
-- of extremes.
CREATE TABLE qltest.allkinds (
  id      integer PRIMARY KEY,
  n9      numeric(9,0),
  n10     numeric(10,0),
  n12_4   numeric(12,4),
  n6_2    numeric(6,2),
  r       real,
  d       double precision,
  s       smallint,
  i       integer,
  b       bigint,
  flag    boolean,
  day     date,
  clock   time,
  stamp   timestamp,
  code    char(5),
  name    varchar(20),
  note    text,
  bin     bytea,
  uid     uuid
);
INSERT INTO qltest.allkinds VALUES
  (1, 123456789, 1234567890, 12345678.1234, -1234.5, 1.5, 0.1, 12, 123, 1234567890123, true,
   '2024-02-29', '13:14:15', '2024-02-29 13:14:15.5', '007', '00420', '备注：汉字', '\x00ff10',
   '0e37df36-f698-11e6-8dd4-cb9ced3df976'),
  (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL),
  (3, -999999999, -9999999999, -0.0001, 0.01, -3.25e-5, 1e20, -32768, -2147483648,
   -9223372036854775808, false, '1899-12-30', '00:00:00', '2000-01-01 00:00:00', 'abcde', '中文字符',
   '', '\x', '00000000-0000-0000-0000-000000000000');

-- Names that collide in a result: SELECT a.name, b.name ... gives NAME twice.
CREATE TABLE qltest.pairs (
  name  varchar(10),
  other varchar(10)
);
INSERT INTO qltest.pairs VALUES ('左', '右');

-- Rows in an order that differs from their insertion, for sorted listings.
CREATE TABLE qltest.letters (
  letter varchar(4)
);
INSERT INTO qltest.letters VALUES ('b'), ('B'), ('a'), ('C');
