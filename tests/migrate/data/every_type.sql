-- A test database for the DDL rewrite and the key builders: every MySQL
-- (MariaDB 10.11) column type, odd names, keys named like and unlike their
-- columns, composite and self-referencing foreign keys.
DROP DATABASE IF EXISTS `velquin ddl test`;
CREATE DATABASE `velquin ddl test` CHARACTER SET utf8mb4;
USE `velquin ddl test`;

CREATE TABLE `Every Type` (
  id int unsigned NOT NULL AUTO_INCREMENT,
  `Key Id` int NOT NULL DEFAULT 5 COMMENT 'a key, with (parens)',
  monkey varchar(20) COLLATE utf8mb4_bin DEFAULT 'it''s \\ "key"',
  unsigned_total bigint unsigned zerofill,
  b_small bigint NOT NULL DEFAULT -1,
  b_big bigint,
  u_big int unsigned,
  t1 tinyint(1) DEFAULT NULL,
  t2 tinyint unsigned NOT NULL DEFAULT 0,
  s1 smallint, s2 smallint unsigned, m1 mediumint, m2 mediumint unsigned,
  d1 decimal(10,2) NOT NULL DEFAULT 0.00, d2 decimal(65,30), d3 decimal(28,28) unsigned, d4 numeric,
  f1 float, f2 float(7,3), f3 double, f4 double(16,4) unsigned, f5 real,
  bt1 bit(1) NOT NULL DEFAULT b'1', bt_null bit(1), bt_nonull bit(1), bt3 bit(10) DEFAULT b'101', bt4 bit(64),
  dt date DEFAULT '2000-01-01', tm time(3), tm2 time,
  dtm datetime(6) DEFAULT current_timestamp(6) ON UPDATE current_timestamp(6),
  ts timestamp NULL DEFAULT NULL, yr year,
  c1 char(10) CHARACTER SET latin1, c2 char(0), v1 varchar(255), v2 varchar(256),
  bn binary(16), vb varbinary(255), vb2 varbinary(300),
  tt tinytext, tx text, mt mediumtext, lt longtext,
  tb tinyblob, bb blob, mb mediumblob, lb longblob,
  e1 enum('a','B c','it''s') NOT NULL DEFAULT 'a', st set('x','y;z') DEFAULT NULL,
  j json, g geometry, pt point NOT NULL, ls linestring, pg polygon, mp multipoint,
  ml multilinestring, mpg multipolygon, gc geometrycollection,
  u uuid, i4 inet4, i6 inet6,
  gen int AS (`Key Id` * 2) VIRTUAL, gen2 varchar(20) AS (upper(monkey)) PERSISTENT,
  inv int INVISIBLE,
  chk int CHECK (chk > 0),
  `Select` varchar(5) NOT NULL DEFAULT 'KEY',
  `x.y` int,
  ts2 timestamp NOT NULL DEFAULT current_timestamp() ON UPDATE current_timestamp(),
  PRIMARY KEY (id),
  UNIQUE KEY `Key Id` (`Key Id`),
  UNIQUE KEY uq2 (monkey, t1),
  KEY idx_desc (s1 DESC, s2),
  KEY pfx (tx(10)),
  FULLTEXT KEY ft (lt),
  SPATIAL KEY sp (pt),
  CONSTRAINT chk_pos CHECK (`Key Id` >= 0)
) ENGINE=InnoDB AUTO_INCREMENT=7 DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_general_ci
  COMMENT='every type (with parens)';

INSERT INTO `Every Type` (`Key Id`, b_big, u_big, bt_null, bt_nonull, pt, chk)
VALUES (1, 9000000000, 4294967295, NULL, b'1', POINT(1, 2), 1),
       (2, -3, 7, b'1', b'0', POINT(3, 4), 2);

CREATE TABLE parent (
  id bigint unsigned NOT NULL AUTO_INCREMENT,
  code varchar(10) NOT NULL,
  PRIMARY KEY (id, code),
  UNIQUE KEY code (code)
);
INSERT INTO parent (code) VALUES ('a'), ('b');

CREATE TABLE `child table` (
  `child id` int NOT NULL,
  `parent id` bigint unsigned NOT NULL,
  `parent code` varchar(10) NOT NULL,
  `up` int DEFAULT NULL,
  customer_id int DEFAULT NULL,
  PRIMARY KEY (`child id`),
  KEY code (`parent code`),
  KEY customer_id (customer_id),
  CONSTRAINT `fk parent` FOREIGN KEY (`parent id`, `parent code`) REFERENCES parent (id, code)
    ON DELETE CASCADE ON UPDATE CASCADE,
  CONSTRAINT fk_self FOREIGN KEY (up) REFERENCES `child table` (`child id`) ON DELETE SET NULL
);
INSERT INTO `child table` VALUES (1, 1, 'a', NULL, NULL), (2, 2, 'b', 1, 5);

CREATE TABLE clash (
  id int NOT NULL,
  code varchar(10) COLLATE utf8mb4_bin NOT NULL,
  other varchar(10) DEFAULT NULL,
  PRIMARY KEY (id),
  UNIQUE KEY code (code),
  UNIQUE KEY other (other)
);
INSERT INTO clash VALUES (1, 'Abc', 'x'), (2, 'abc', NULL), (3, 'b', NULL);
