-- Demo schema for scripts/run, loaded after scripts/testdb-fixture.sql (which
-- provides the ALL_USERS and SYS.ALL_TABLES dictionary views).
-- Shaped like a small Oracle site: a few users (schemas), the tables the
-- favourites list names out of the box, Chinese text, one table of every
-- column kind and one table of 120,000 rows to scroll through.
-- Names are unquoted, hence lower case here; the dictionary reports them in
-- capitals and the program's unquoted SQL finds them again.

CREATE SCHEMA bravel;
CREATE SCHEMA telmir;
CREATE SCHEMA scott;
CREATE SCHEMA hr;
CREATE SCHEMA outln;   -- a user that owns no tables

-- Data source kinds of a reporting suite.
CREATE TABLE bravel.t_rudatasourcetype (
  typeid     integer PRIMARY KEY,
  typecode   varchar(20) NOT NULL,
  typename   varchar(60),
  enabled    boolean,
  created    timestamp,
  remark     varchar(200)
);
INSERT INTO bravel.t_rudatasourcetype VALUES
  (1, 'ORACLE',  'Oracle 数据库',       true,  '2019-03-01 08:30:00', '主数据源'),
  (2, 'SQLSRV',  'SQL Server 数据库',   true,  '2019-03-01 08:31:12', NULL),
  (3, 'EXCEL',   '电子表格',             false, '2020-07-15 00:00:00', '只读导入'),
  (4, 'TEXT',    '文本文件（CSV）',      true,  '2021-11-30 17:45:09', '逗号分隔'),
  (5, 'ODBC',    'ODBC 数据源',          true,  '2022-01-04 09:00:00', '通用接口');

CREATE TABLE bravel.t_rureport (
  reportid   integer PRIMARY KEY,
  typeid     integer REFERENCES bravel.t_rudatasourcetype,
  title      varchar(100),
  body       text
);
INSERT INTO bravel.t_rureport VALUES
  (10, 1, '月度收入报表', '按部门汇总的月度收入。'),
  (11, 4, '客户名单',     NULL);

-- Base units (departments, branches) of an accounting system.
CREATE TABLE telmir.kjbaseunitinfo (
  unitid     integer PRIMARY KEY,
  unitcode   char(6) NOT NULL,
  unitname   varchar(80),
  parentid   integer,
  founded    date,
  headcount  smallint,
  budget     numeric(14,2)
);
INSERT INTO telmir.kjbaseunitinfo VALUES
  (1, '000001', '总公司',       NULL, '1998-05-18', 42,  12500000.00),
  (2, '010001', '北京分公司',   1,    '2003-09-01', 118, 3800000.50),
  (3, '020001', '上海分公司',   1,    '2005-02-14', 96,  4100000.75),
  (4, '030001', '广州办事处',   1,    '2011-06-30', 17,  650000.00),
  (5, '010101', '北京研发中心', 2,    '2016-10-10', 64,  2200000.00);

-- Assistant accounting items (projects, customers) attached to vouchers.
CREATE TABLE telmir.kjassistantref (
  refid      integer PRIMARY KEY,
  refkind    varchar(10),
  refcode    varchar(20),
  refname    varchar(100),
  unitid     integer,
  valid_from date,
  valid_to   date
);
INSERT INTO telmir.kjassistantref VALUES
  (1, '项目', 'P-2021-001', '数据中心迁移',   2, '2021-01-01', '2021-12-31'),
  (2, '项目', 'P-2022-007', '财务系统升级',   3, '2022-03-01', NULL),
  (3, '客户', 'C-00042',    '华东电力有限公司', 3, '2019-01-01', NULL),
  (4, '客户', 'C-00077',    'Müller & Söhne GmbH', 1, '2020-05-20', NULL);

-- Account balances per unit and period: the big table, 120,000 rows.
CREATE TABLE telmir.kjbaseunitaccount (
  accountid  bigint PRIMARY KEY,
  unitid     integer NOT NULL,
  period     char(7) NOT NULL,
  subject    varchar(40),
  debit      numeric(16,2),
  credit     numeric(16,2),
  rate       double precision,
  posted     timestamp,
  note       varchar(100)
);
INSERT INTO telmir.kjbaseunitaccount
SELECT n,
       1 + n % 5,
       to_char(date '2015-01-01' + ((n % 120) * interval '1 month'), 'YYYY-MM'),
       (ARRAY['现金', '银行存款', '应收账款', '固定资产', '应付账款', '主营业务收入'])[1 + n % 6],
       round((n * 37 % 1000000) / 100.0, 2),
       round((n * 53 % 1000000) / 100.0, 2),
       (n % 1000) / 997.0,
       timestamp '2015-01-01 09:00:00' + n * interval '37 minutes',
       CASE WHEN n % 10 = 0 THEN '第' || n || '号凭证' END
FROM generate_series(1, 120000) AS n;

-- One column of every kind the grid knows, with a null row.
CREATE TABLE scott.all_kinds (
  id          integer PRIMARY KEY,
  small_v     smallint,
  int_v       integer,
  big_v       bigint,
  real_v      real,
  float_v     double precision,
  num9_v      numeric(9,0),
  num10_v     numeric(10,0),
  money_v     numeric(12,4),
  bool_v      boolean,
  date_v      date,
  time_v      time,
  stamp_v     timestamp,
  char_v      char(8),
  varchar_v   varchar(40),
  memo_v      text,
  blob_v      bytea,
  guid_v      uuid
);
INSERT INTO scott.all_kinds VALUES
  (1, -7, 123456, 9007199254740993, 1.5, 1234.5, 12, 1234567890, 2.5,
   true, '2024-02-29', '13:45:30', '2024-02-29 00:00:00', 'ABC', '中文文本',
   '一段很长的备注' || repeat('。', 50), '\x00ff10', '6f1c3b52-0d7e-4c5a-9a8e-2f1b7c9d4e01'),
  (2, 32767, -1, -5, 0.0001, 0.00005, 0, 0, 1.23456,
   false, '1999-12-31', '00:00:00', '1999-12-31 23:59:59', 'Z', 'plain ascii',
   'short memo', '\x', '00000000-0000-0000-0000-000000000000'),
  (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
   NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);

CREATE TABLE scott.emp (
  empno      smallint PRIMARY KEY,
  ename      varchar(10),
  job        varchar(9),
  sal        numeric(7,2),
  hiredate   date
);
INSERT INTO scott.emp VALUES
  (7369, 'SMITH', 'CLERK', 800, '1980-12-17'),
  (7499, 'ALLEN', 'SALESMAN', 1600, '1981-02-20'),
  (7839, 'KING', 'PRESIDENT', 5000, '1981-11-17');

CREATE TABLE hr.departments (
  department_id   integer PRIMARY KEY,
  department_name varchar(30),
  名称             varchar(30)
);
INSERT INTO hr.departments VALUES
  (10, 'Administration', '行政部'),
  (20, 'Marketing', '市场部'),
  (30, 'Purchasing', '采购部');
