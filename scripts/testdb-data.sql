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

-- Hostile data, one table for each way a value can be hard to show or to
-- write out, under a user of its own so that nothing else counts them. Rows
-- come back in the order they were inserted (no ORDER BY in the program's
-- row query, and these tables are never updated).
CREATE SCHEMA hostile;

-- A null in every kind, after a row of values.
CREATE TABLE hostile.nulls (
  s     smallint,
  i     integer,
  n9    numeric(9,0),
  b     bigint,
  n12_4 numeric(12,4),
  r     real,
  d     double precision,
  flag  boolean,
  day   date,
  clock time,
  stamp timestamp,
  code  char(5),
  name  varchar(20),
  note  text,
  bin   bytea,
  uid   uuid
);
INSERT INTO hostile.nulls VALUES
  (1, 2, 3, 4, 5.5, 6.5, 7.25, true, '2024-01-02', '03:04:05', '2024-01-02 03:04:05', 'abc', 'name', 'note',
   '\x41', '0e37df36-f698-11e6-8dd4-cb9ced3df976'),
  (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);

-- Ten million characters in one cell, once as bounded-looking text (a
-- varchar without length, which the driver declares at 255 characters) and
-- once as a memo; the row around them is ordinary.
CREATE TABLE hostile.bigtext (
  id   integer,
  big  varchar,
  memo text
);
INSERT INTO hostile.bigtext VALUES
  (1, 'small', 'small'),
  (2, 'start' || repeat('0123456789', 1048576) || 'end', repeat('abcdefghij', 1048576)),
  (3, 'after', 'after');

-- Bytes that are no UTF-8: stray continuation bytes, a cut sequence, NUL,
-- 0xFF, a surrogate's encoding, an overlong slash.
CREATE TABLE hostile.badbytes (
  id  integer,
  raw bytea
);
INSERT INTO hostile.badbytes VALUES
  (1, '\x80bf'), (2, '\xc328'), (3, '\x00ff00'), (4, '\xeda080'), (5, '\xc0af'), (6, '\x'),
  (7, '\xe4bda0e5a5bd');

-- Control characters, tabs and line breaks inside text.
CREATE TABLE hostile.controls (
  id   integer,
  line varchar(40),
  note text
);
INSERT INTO hostile.controls VALUES
  (1, E'tab\there', E'tab\there'),
  (2, E'line1\nline2', E'line1\r\nline2'),
  (3, E'cr\ronly', E'\n'),
  (4, E'\x01\x02\x1b[31mred\x7f', E'bell\x07'),
  (5, E'  \t  ', E'"quoted", comma;semicolon'),
  (6, E'\x1f\x0b\x0c', E'form\x0cfeed'),
  (7, '_x0041_', '_x005F_');

-- Emoji, joined and flagged; right-to-left scripts, mixed and overridden;
-- combining marks.
CREATE TABLE hostile.scripts (
  id   integer,
  word varchar(40)
);
INSERT INTO hostile.scripts VALUES
  (1, U&'\+01F600\+01F44D\+01F3FD'),
  (2, U&'\+01F468\200D\+01F469\200D\+01F467\200D\+01F466'),
  (3, U&'\+01F1E8\+01F1F3 flag'),
  (4, 'مرحبا بالعالم'),
  (5, 'שלום עולם'),
  (6, 'abc שלום 123'),
  (7, U&'abc\202Edef\202C'),
  (8, U&'e\0301\0302\0303'),
  (9, U&'\200B\FEFF');

-- 1,500 columns (the server allows 1,600): c0001 to c1499 integers, c1500
-- a text to find at the far right.
DO $$
BEGIN
  EXECUTE 'CREATE TABLE hostile.wide (' ||
          (SELECT string_agg(format('c%s integer', lpad(i::text, 4, '0')), ', ') FROM generate_series(1, 1499) i) ||
          ', c1500 varchar(20))';
  EXECUTE 'INSERT INTO hostile.wide SELECT ' ||
          (SELECT string_agg(format('r * 10000 + %s', i), ', ') FROM generate_series(1, 1499) i) ||
          ', ''far right '' || r FROM generate_series(1, 3) r';
END
$$;

-- A table without columns, with two rows.
CREATE TABLE hostile.nocols ();
INSERT INTO hostile.nocols DEFAULT VALUES;
INSERT INTO hostile.nocols DEFAULT VALUES;

-- Numbers beyond the four-decimal fixed point, at its very edges, and
-- floating values without a number's text.
CREATE TABLE hostile.numbers (
  id    integer,
  wide  numeric,
  n38   numeric(38,0),
  dbl   double precision
);
INSERT INTO hostile.numbers VALUES
  (1, 922337203685477.5807, 99999999999999999999999999999999999999, 1e308),
  (2, -922337203685477.5807, -99999999999999999999999999999999999999, -1e308),
  (3, 922337203685477.5808, 1, 'Infinity'),
  (4, 1e30, 0, '-Infinity'),
  (5, 'NaN', NULL, 'NaN'),
  (6, 0.00005, 12, 5e-324),
  (7, 1e-30, -1, 0);

-- Dates at the first and the last year a four-digit year holds, and the
-- end of a day (the server's time 24:00:00).
CREATE TABLE hostile.dates (
  id    integer,
  day   date,
  stamp timestamp,
  clock time
);
INSERT INTO hostile.dates VALUES
  (1, '0001-01-01', '0001-01-01 00:00:00', '00:00:00'),
  (2, '9999-12-31', '9999-12-31 23:59:59', '23:59:59'),
  (3, '0001-01-01', '0001-01-01 00:00:01', '00:00:01'),
  (4, '9999-12-31', '9999-12-31 23:59:59.999', '23:59:59.999'),
  (5, '0001-01-01', '0001-01-01 23:59:59.999999', '24:00:00');

-- Column types no field kind takes, between ordinary columns.
CREATE TABLE hostile.othertypes (
  id     integer,
  ints   integer[],
  doc    json,
  docb   jsonb,
  span   interval,
  spot   point,
  addr   inet,
  bits   bit(3),
  last   varchar(10)
);
INSERT INTO hostile.othertypes VALUES
  (1, '{1,2,3}', '{"a": [1, "x"]}', '{"b": null}', '1 year 2 mons 3 days 04:05:06', '(1,2)', '10.0.0.1', B'101', 'end'),
  (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
