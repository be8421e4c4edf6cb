-- The demo's sample database: a small shop with the common column types,
-- keys, foreign keys, a view, a few thousand generated rows and some Unicode.
DROP DATABASE IF EXISTS velquin_sample;
CREATE DATABASE velquin_sample CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
USE velquin_sample;
SET SESSION max_recursive_iterations = 100000;

CREATE TABLE customers (
  id INT NOT NULL AUTO_INCREMENT,
  name VARCHAR(80) NOT NULL,
  city VARCHAR(40) NULL,
  email VARCHAR(120) NULL,
  since DATE NULL,
  PRIMARY KEY (id),
  UNIQUE KEY uq_customers_email (email)
) ENGINE=InnoDB;

CREATE TABLE products (
  id INT NOT NULL AUTO_INCREMENT,
  code CHAR(8) NOT NULL,
  title VARCHAR(100) NOT NULL,
  price DECIMAL(10,2) NOT NULL,
  weight_kg DOUBLE NULL,
  in_stock TINYINT(1) NOT NULL DEFAULT 1,
  notes TEXT NULL,
  PRIMARY KEY (id),
  KEY idx_products_title (title)
) ENGINE=InnoDB;

CREATE TABLE orders (
  id INT NOT NULL AUTO_INCREMENT,
  customer_id INT NOT NULL,
  ordered_at DATETIME NOT NULL,
  status ENUM('new','paid','shipped') NOT NULL DEFAULT 'new',
  PRIMARY KEY (id),
  KEY idx_orders_customer (customer_id),
  CONSTRAINT fk_orders_customer FOREIGN KEY (customer_id) REFERENCES customers (id)
) ENGINE=InnoDB;

CREATE TABLE order_lines (
  order_id INT NOT NULL,
  line_no SMALLINT NOT NULL,
  product_id INT NOT NULL,
  quantity INT NOT NULL,
  unit_price DECIMAL(10,2) NOT NULL,
  PRIMARY KEY (order_id, line_no),
  KEY idx_lines_product (product_id),
  CONSTRAINT fk_lines_order FOREIGN KEY (order_id) REFERENCES orders (id) ON DELETE CASCADE,
  CONSTRAINT fk_lines_product FOREIGN KEY (product_id) REFERENCES products (id)
) ENGINE=InnoDB;

CREATE TABLE `product photos` (
  product_id INT NOT NULL,
  photo BLOB NOT NULL,
  caption VARCHAR(200) NULL,
  PRIMARY KEY (product_id),
  CONSTRAINT fk_photos_product FOREIGN KEY (product_id) REFERENCES products (id)
) ENGINE=InnoDB;

-- Generated rows: 500 customers, 200 products, 2000 orders, 4000 order lines.
INSERT INTO customers (name, city, email, since)
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500)
SELECT CONCAT(ELT(1 + i % 6, 'Zoë', 'José', 'Ōtani', '李', 'Siobhán', 'O''Brien'), ' ', i),
       ELT(1 + i % 5, 'München', 'Zürich', '東京', 'Kraków', NULL),
       IF(i % 7 = 0, NULL, CONCAT('customer', i, '@example.org')),
       IF(i % 11 = 0, NULL, DATE_ADD('2015-01-01', INTERVAL i * 3 DAY))
FROM n;

INSERT INTO products (code, title, price, weight_kg, in_stock, notes)
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200)
SELECT CONCAT('P', LPAD(i, 7, '0')),
       CONCAT(ELT(1 + i % 4, 'Crème brûlée pan', 'Tea cup "Ming"', 'Back\\slash tool', 'Mug 😀'), ' #', i),
       ROUND(i * 1.37 + 0.99, 2),
       IF(i % 9 = 0, NULL, i / 8),
       i % 3 <> 0,
       IF(i % 2 = 0, NULL, REPEAT(CONCAT('Line ', i, ' of the notes. '), 1 + i % 20))
FROM n;

INSERT INTO orders (customer_id, ordered_at, status)
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)
SELECT 1 + (i * 37) % 500,
       DATE_ADD('2020-01-01 08:00:00', INTERVAL i * 317 MINUTE),
       ELT(1 + i % 3, 'new', 'paid', 'shipped')
FROM n;

INSERT INTO order_lines (order_id, line_no, product_id, quantity, unit_price)
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4000)
SELECT 1 + (i - 1) DIV 2, 1 + (i - 1) % 2, 1 + (i * 13) % 200, 1 + i % 5,
       ROUND(((i * 13) % 200 + 1) * 1.37 + 0.99, 2)
FROM n;

INSERT INTO `product photos` (product_id, photo, caption)
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 50)
SELECT i, UNHEX(REPEAT(CONCAT('89504E470D0A1A0A', LPAD(HEX(i), 4, '0'), '0000'), 10 + i)),
       CONCAT('Photo of product ', i)
FROM n;

CREATE VIEW customer_orders AS
SELECT c.name AS customer, o.id AS order_id, o.ordered_at, o.status
FROM customers c JOIN orders o ON o.customer_id = c.id
WHERE o.status <> 'new';
