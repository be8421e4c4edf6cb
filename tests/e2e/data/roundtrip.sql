-- The round-trip database: every common MySQL type with NULLs and boundary
-- values, quotes, backslashes, Unicode, long text, large blobs, zero-padded
-- binary, reserved and odd names, composite and self-referencing foreign
-- keys, keys named like columns, views. `velquin_e2e` is replaced by the
-- test's own database name.
SET SESSION max_recursive_iterations = 100000;
DROP DATABASE IF EXISTS `velquin_e2e`;
CREATE DATABASE `velquin_e2e` CHARACTER SET utf8mb4;
USE `velquin_e2e`;

CREATE TABLE types (
  id int NOT NULL AUTO_INCREMENT,
  ti tinyint, tu tinyint unsigned, si smallint, su smallint unsigned, mi mediumint,
  ii int, iu int unsigned, bi bigint, bu bigint unsigned,
  d1 decimal(10,2), d2 decimal(28,10), d3 decimal(5,0) unsigned,
  f1 float, f2 double,
  b1 bit(1) NOT NULL DEFAULT b'0', b8 bit(8), b40 bit(40),
  dt date, dtm datetime, dtm3 datetime(3), ts timestamp NULL DEFAULT NULL, tm time, tm3 time(3), yr year,
  c1 char(10), v1 varchar(255), v2 varchar(1000), tt tinytext, tx text, lt longtext,
  bn binary(8), vb varbinary(40), bl blob, lb longblob,
  e1 enum('small','Medium','it''s'), st set('a','b','c'),
  j json,
  PRIMARY KEY (id)
) ENGINE=InnoDB;

INSERT INTO types VALUES
 (1, -128, 255, -32768, 65535, -8388608, -2147483648, 4294967295, -9223372036854775808,
  18446744073709551615, -99999999.99, 123456789012345678.0123456789, 99999,
  -3.40282e38, -1.7976931348623157e308, b'1', b'11111111', b'1111111111111111111111111111111111111111',
  '1000-01-01', '1000-01-01 00:00:00', '2038-01-19 03:14:07.999', '1970-01-01 00:00:01',
  '-838:59:59', '838:59:59.000', 1901,
  'abc', 'O''Brien said "hi" \\ back\\slash', REPEAT('x', 1000), 'tiny', 'text',
  REPEAT('Long text é 😀 ', 20000), x'6162000000000000', x'00', x'0001', REPEAT(x'DEADBEEF00', 1000),
  'small', 'a,c', '{"k": "v"}'),
 (2, 127, 0, 32767, 0, 8388607, 2147483647, 0, 9223372036854775807, 0,
  99999999.99, -0.0000000001, 0, 1.17549e-38, 2.2250738585072014e-308, b'0', b'0', b'0',
  '9999-12-31', '9999-12-31 23:59:59', '2000-02-29 12:34:56.789', '2038-01-19 03:14:07',
  '00:00:00', '-00:00:01.500', 2155,
  '', '', '', '', '', '', x'0000000000000000', x'', x'', x'',
  'Medium', '', '[]'),
 (3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  b'0', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, NULL, NULL, NULL, NULL, NULL),
 (4, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0.01, 1.5, 1, 0.5, 0.1, b'1', b'10', b'1', '2024-02-29',
  '2024-02-29 23:59:59', '2024-02-29 23:59:59.001', NULL, '12:00:00', '23:59:59.999', 2024,
  'Zoë', 'Ünïcödé 東京 العربية 😀🎉', 'line1\nline2\r\nline3\ttab', 'NUL\0inside', 'it''s', '\'\'',
  x'FFFFFFFFFFFFFFFF', x'30313000', x'0A00', REPEAT(x'00', 1000000), 'it''s', 'b', NULL);

-- Reserved words and odd names.
CREATE TABLE `select` (
  `from` int NOT NULL, `where` varchar(20), `order` int, `Date` date, `x.y` int, `a!b` int,
  ` lead` int, `sp ace` varchar(10),
  PRIMARY KEY (`from`)
) ENGINE=InnoDB;
INSERT INTO `select` VALUES (1, 'w', 2, '2001-01-01', 3, 4, 5, 'a b'), (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL);

CREATE TABLE `CaseTest` (id int PRIMARY KEY, v varchar(10)) ENGINE=InnoDB;
CREATE TABLE `casetest` (id int PRIMARY KEY, v varchar(10)) ENGINE=InnoDB;
INSERT INTO `CaseTest` VALUES (1, 'upper');
INSERT INTO `casetest` VALUES (1, 'lower'), (2, 'two');

CREATE TABLE `dots.in.name` (id int PRIMARY KEY, `val.ue` int) ENGINE=InnoDB;
INSERT INTO `dots.in.name` VALUES (1, 10), (2, 20);

CREATE TABLE `with space` (id int PRIMARY KEY, `the name` varchar(10)) ENGINE=InnoDB;
INSERT INTO `with space` VALUES (1, 'one'), (2, 'two');

-- Keys: composite, self-referencing, named like columns.
CREATE TABLE parent (
  a int NOT NULL, b varchar(10) NOT NULL, code varchar(10) NOT NULL, label varchar(20),
  PRIMARY KEY (a, b),
  UNIQUE KEY code (code),
  KEY label (label)
) ENGINE=InnoDB;
INSERT INTO parent VALUES (1, 'x', 'C1', 'one'), (2, 'y', 'C2', 'two');

CREATE TABLE child (
  id int NOT NULL AUTO_INCREMENT,
  pa int, pb varchar(10), manager_id int, note varchar(20),
  PRIMARY KEY (id),
  KEY pa (pa, pb),
  KEY manager_id (manager_id),
  CONSTRAINT fk_child_parent FOREIGN KEY (pa, pb) REFERENCES parent (a, b) ON DELETE CASCADE,
  CONSTRAINT fk_child_manager FOREIGN KEY (manager_id) REFERENCES child (id)
) ENGINE=InnoDB;
INSERT INTO child (id, pa, pb, manager_id, note) VALUES (1, 1, 'x', NULL, 'boss'), (2, 1, 'x', 1, 'a'),
  (3, 2, 'y', 1, NULL);

CREATE TABLE many (id int PRIMARY KEY, v varchar(20), n int) ENGINE=InnoDB;
INSERT INTO many
WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 4500)
SELECT i, CONCAT('row ', i), i % 7 FROM s;

CREATE VIEW v_child AS
SELECT c.id, c.note, p.label FROM child c JOIN parent p ON p.a = c.pa AND p.b = c.pb WHERE c.note <> 'View Join';
CREATE VIEW v_simple AS SELECT `from`, `where` FROM `select`;
CREATE VIEW v_refused AS SELECT GROUP_CONCAT(v) AS g FROM many;
