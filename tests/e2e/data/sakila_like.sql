-- A rental-shop schema of our own with the shape of the well-known sample
-- databases: AutoNumber keys, foreign keys with and without their own index
-- (InnoDB then names the index after the constraint), a store <-> staff
-- cycle between AutoNumber keys, self-references, composite keys, views on
-- views three deep, and views with GROUP_CONCAT, which Access cannot express.
SET FOREIGN_KEY_CHECKS = 0;

CREATE TABLE country (
  country_id smallint unsigned NOT NULL AUTO_INCREMENT,
  country varchar(50) NOT NULL,
  PRIMARY KEY (country_id)
);
CREATE TABLE city (
  city_id smallint unsigned NOT NULL AUTO_INCREMENT,
  city varchar(50) NOT NULL,
  country_id smallint unsigned NOT NULL,
  PRIMARY KEY (city_id),
  KEY idx_fk_country_id (country_id),
  CONSTRAINT fk_city_country FOREIGN KEY (country_id) REFERENCES country (country_id) ON UPDATE CASCADE
);
CREATE TABLE address (
  address_id smallint unsigned NOT NULL AUTO_INCREMENT,
  address varchar(50) NOT NULL,
  district varchar(20) NOT NULL,
  city_id smallint unsigned NOT NULL,
  phone varchar(20) NOT NULL,
  PRIMARY KEY (address_id),
  CONSTRAINT fk_address_city FOREIGN KEY (city_id) REFERENCES city (city_id) ON UPDATE CASCADE
);
CREATE TABLE language (
  language_id tinyint unsigned NOT NULL AUTO_INCREMENT,
  name char(20) NOT NULL,
  PRIMARY KEY (language_id)
);
CREATE TABLE category (
  category_id tinyint unsigned NOT NULL AUTO_INCREMENT,
  name varchar(25) NOT NULL,
  parent_id tinyint unsigned DEFAULT NULL,
  PRIMARY KEY (category_id),
  CONSTRAINT fk_category_parent FOREIGN KEY (parent_id) REFERENCES category (category_id)
);
CREATE TABLE actor (
  actor_id smallint unsigned NOT NULL AUTO_INCREMENT,
  first_name varchar(45) NOT NULL,
  last_name varchar(45) NOT NULL,
  PRIMARY KEY (actor_id),
  KEY idx_actor_last_name (last_name)
);
CREATE TABLE film (
  film_id smallint unsigned NOT NULL AUTO_INCREMENT,
  title varchar(128) NOT NULL,
  description text,
  release_year year DEFAULT NULL,
  language_id tinyint unsigned NOT NULL,
  original_language_id tinyint unsigned DEFAULT NULL,
  rental_rate decimal(4,2) NOT NULL DEFAULT 4.99,
  length smallint unsigned DEFAULT NULL,
  rating enum('G','PG','PG-13','R','NC-17') DEFAULT 'G',
  PRIMARY KEY (film_id),
  KEY idx_title (title),
  KEY idx_fk_language_id (language_id),
  CONSTRAINT fk_film_language FOREIGN KEY (language_id) REFERENCES language (language_id),
  CONSTRAINT fk_film_language_original FOREIGN KEY (original_language_id) REFERENCES language (language_id)
);
CREATE TABLE film_actor (
  actor_id smallint unsigned NOT NULL,
  film_id smallint unsigned NOT NULL,
  PRIMARY KEY (actor_id, film_id),
  KEY idx_fk_film_id (film_id),
  CONSTRAINT fk_film_actor_actor FOREIGN KEY (actor_id) REFERENCES actor (actor_id),
  CONSTRAINT fk_film_actor_film FOREIGN KEY (film_id) REFERENCES film (film_id)
);
CREATE TABLE film_category (
  film_id smallint unsigned NOT NULL,
  category_id tinyint unsigned NOT NULL,
  PRIMARY KEY (film_id, category_id),
  CONSTRAINT fk_film_category_film FOREIGN KEY (film_id) REFERENCES film (film_id),
  CONSTRAINT fk_film_category_category FOREIGN KEY (category_id) REFERENCES category (category_id)
);
CREATE TABLE store (
  store_id tinyint unsigned NOT NULL AUTO_INCREMENT,
  manager_staff_id tinyint unsigned NOT NULL,
  address_id smallint unsigned NOT NULL,
  PRIMARY KEY (store_id),
  UNIQUE KEY idx_unique_manager (manager_staff_id),
  CONSTRAINT fk_store_staff FOREIGN KEY (manager_staff_id) REFERENCES staff (staff_id),
  CONSTRAINT fk_store_address FOREIGN KEY (address_id) REFERENCES address (address_id)
);
CREATE TABLE staff (
  staff_id tinyint unsigned NOT NULL AUTO_INCREMENT,
  first_name varchar(45) NOT NULL,
  last_name varchar(45) NOT NULL,
  address_id smallint unsigned NOT NULL,
  store_id tinyint unsigned NOT NULL,
  reports_to tinyint unsigned DEFAULT NULL,
  active tinyint(1) NOT NULL DEFAULT 1,
  PRIMARY KEY (staff_id),
  CONSTRAINT fk_staff_store FOREIGN KEY (store_id) REFERENCES store (store_id),
  CONSTRAINT fk_staff_address FOREIGN KEY (address_id) REFERENCES address (address_id),
  CONSTRAINT fk_staff_reports_to FOREIGN KEY (reports_to) REFERENCES staff (staff_id)
);
CREATE TABLE customer (
  customer_id smallint unsigned NOT NULL AUTO_INCREMENT,
  store_id tinyint unsigned NOT NULL,
  first_name varchar(45) NOT NULL,
  last_name varchar(45) NOT NULL,
  email varchar(50) DEFAULT NULL,
  address_id smallint unsigned NOT NULL,
  active tinyint(1) NOT NULL DEFAULT 1,
  PRIMARY KEY (customer_id),
  KEY idx_fk_store_id (store_id),
  CONSTRAINT fk_customer_address FOREIGN KEY (address_id) REFERENCES address (address_id),
  CONSTRAINT fk_customer_store FOREIGN KEY (store_id) REFERENCES store (store_id)
);
CREATE TABLE inventory (
  inventory_id mediumint unsigned NOT NULL AUTO_INCREMENT,
  film_id smallint unsigned NOT NULL,
  store_id tinyint unsigned NOT NULL,
  PRIMARY KEY (inventory_id),
  CONSTRAINT fk_inventory_film FOREIGN KEY (film_id) REFERENCES film (film_id),
  CONSTRAINT fk_inventory_store FOREIGN KEY (store_id) REFERENCES store (store_id)
);
CREATE TABLE rental (
  rental_id int NOT NULL AUTO_INCREMENT,
  rental_date datetime NOT NULL,
  inventory_id mediumint unsigned NOT NULL,
  customer_id smallint unsigned NOT NULL,
  return_date datetime DEFAULT NULL,
  staff_id tinyint unsigned NOT NULL,
  PRIMARY KEY (rental_id),
  UNIQUE KEY rental_date (rental_date, inventory_id, customer_id),
  CONSTRAINT fk_rental_inventory FOREIGN KEY (inventory_id) REFERENCES inventory (inventory_id),
  CONSTRAINT fk_rental_customer FOREIGN KEY (customer_id) REFERENCES customer (customer_id),
  CONSTRAINT fk_rental_staff FOREIGN KEY (staff_id) REFERENCES staff (staff_id)
);
CREATE TABLE payment (
  payment_id smallint unsigned NOT NULL AUTO_INCREMENT,
  customer_id smallint unsigned NOT NULL,
  staff_id tinyint unsigned NOT NULL,
  rental_id int DEFAULT NULL,
  amount decimal(5,2) NOT NULL,
  payment_date datetime NOT NULL,
  PRIMARY KEY (payment_id),
  CONSTRAINT fk_payment_rental FOREIGN KEY (rental_id) REFERENCES rental (rental_id) ON DELETE SET NULL,
  CONSTRAINT fk_payment_customer FOREIGN KEY (customer_id) REFERENCES customer (customer_id),
  CONSTRAINT fk_payment_staff FOREIGN KEY (staff_id) REFERENCES staff (staff_id)
);
-- A composite key referenced by a composite foreign key.
CREATE TABLE shelf (
  store_id tinyint unsigned NOT NULL,
  shelf_no smallint NOT NULL,
  label varchar(20),
  PRIMARY KEY (store_id, shelf_no),
  CONSTRAINT fk_shelf_store FOREIGN KEY (store_id) REFERENCES store (store_id)
);
CREATE TABLE shelf_item (
  inventory_id mediumint unsigned NOT NULL,
  store_id tinyint unsigned NOT NULL,
  shelf_no smallint NOT NULL,
  PRIMARY KEY (inventory_id),
  CONSTRAINT fk_item_shelf FOREIGN KEY (store_id, shelf_no) REFERENCES shelf (store_id, shelf_no),
  CONSTRAINT fk_item_inventory FOREIGN KEY (inventory_id) REFERENCES inventory (inventory_id)
);

INSERT INTO country VALUES (1, 'Canada'), (2, 'Australia');
INSERT INTO city VALUES (1, 'Lethbridge', 1), (2, 'Woodridge', 2);
INSERT INTO address VALUES (1, '47 MySakila Drive', 'Alberta', 1, '555-0101'),
  (2, '28 MySQL Boulevard', 'QLD', 2, '555-0102'), (3, '23 Workhaven Lane', 'Alberta', 1, '555-0103'),
  (4, '1411 Lillydale Drive', 'QLD', 2, '555-0104'), (5, '1913 Hanoi Way', 'Alberta', 1, '555-0105');
INSERT INTO language VALUES (1, 'English'), (2, 'Italian');
INSERT INTO category VALUES (1, 'Drama', NULL), (2, 'Comedy', NULL), (3, 'Dark Comedy', 2);
INSERT INTO actor VALUES (1, 'PENELOPE', 'GUINESS'), (2, 'NICK', 'WAHLBERG'), (3, 'ED', 'CHASE');
INSERT INTO film VALUES
  (1, 'ACADEMY DINOSAUR', 'An epic drama', 2006, 1, NULL, 0.99, 86, 'PG'),
  (2, 'ACE GOLDFINGER', NULL, 2006, 1, 2, 4.99, 48, 'G'),
  (3, 'ADAPTATION HOLES', 'A comedy of errors', NULL, 2, NULL, 2.99, NULL, 'NC-17');
INSERT INTO film_actor VALUES (1, 1), (1, 2), (2, 1), (3, 3);
INSERT INTO film_category VALUES (1, 1), (2, 2), (3, 3), (3, 2);
INSERT INTO staff VALUES (1, 'Mike', 'Hillyer', 3, 1, NULL, 1), (2, 'Jon', 'Stephens', 4, 2, 1, 1);
INSERT INTO store VALUES (1, 1, 1), (2, 2, 2);
INSERT INTO customer VALUES (1, 1, 'MARY', 'SMITH', 'mary@example.org', 5, 1),
  (2, 2, 'PATRICIA', 'JOHNSON', NULL, 5, 0);
INSERT INTO inventory VALUES (1, 1, 1), (2, 1, 2), (3, 2, 1), (4, 3, 2);
INSERT INTO rental VALUES (1, '2005-05-24 22:53:30', 1, 1, '2005-05-26 22:04:30', 1),
  (2, '2005-05-24 22:54:33', 3, 2, NULL, 2), (3, '2005-05-25 00:00:40', 4, 1, NULL, 1);
INSERT INTO payment VALUES (1, 1, 1, 1, 2.99, '2005-05-25 11:30:37'),
  (2, 2, 2, 2, 0.99, '2005-05-28 10:35:23'), (3, 1, 1, NULL, 5.99, '2005-06-15 00:54:12');
INSERT INTO shelf VALUES (1, 1, 'New'), (2, 1, 'Classics');
INSERT INTO shelf_item VALUES (1, 1, 1), (2, 2, 1);

SET FOREIGN_KEY_CHECKS = 1;

-- Views on views, three deep.
CREATE VIEW film_rate AS SELECT f.film_id, f.title, f.rental_rate FROM film f;
CREATE VIEW cheap_film AS SELECT r.film_id, r.title FROM film_rate r WHERE r.rental_rate < 3;
CREATE VIEW cheap_film_count AS SELECT COUNT(*) AS films FROM cheap_film;
-- Joins Access can express.
CREATE VIEW customer_city AS
  SELECT cu.customer_id, cu.first_name, ci.city, co.country
  FROM customer cu JOIN address a ON a.address_id = cu.address_id
  JOIN city ci ON ci.city_id = a.city_id JOIN country co ON co.country_id = ci.country_id;
-- GROUP_CONCAT: Access cannot express it.
CREATE VIEW film_actors AS
  SELECT f.film_id, f.title, GROUP_CONCAT(a.last_name ORDER BY a.last_name SEPARATOR ', ') AS actors
  FROM film f JOIN film_actor fa ON fa.film_id = f.film_id JOIN actor a ON a.actor_id = fa.actor_id
  GROUP BY f.film_id, f.title;
CREATE VIEW category_films AS
  SELECT c.name AS category, GROUP_CONCAT(f.title SEPARATOR '; ') AS titles
  FROM category c JOIN film_category fc ON fc.category_id = c.category_id
  JOIN film f ON f.film_id = fc.film_id GROUP BY c.name;
-- One view per translation into Jet (docs/migration.md).
CREATE VIEW t_concat AS SELECT a.actor_id, CONCAT(a.first_name, ' ', a.last_name) AS full_name FROM actor a;
CREATE VIEW t_concat_ws AS SELECT c.customer_id, CONCAT_WS(', ', c.last_name, c.email) AS contact FROM customer c;
CREATE VIEW t_ifnull AS SELECT f.film_id, IFNULL(f.length, 0) AS minutes FROM film f;
CREATE VIEW t_coalesce AS SELECT f.film_id, COALESCE(f.original_language_id, f.language_id, 1) AS lang FROM film f;
CREATE VIEW t_if AS SELECT c.customer_id, IF(c.active, 'active', '') AS state FROM customer c;
CREATE VIEW t_case AS SELECT f.film_id,
  CASE WHEN f.rental_rate < 1 THEN 'cheap' WHEN f.rental_rate < 3 THEN 'fair' ELSE 'dear' END AS price,
  CASE f.rating WHEN 'G' THEN 'all' WHEN 'PG' THEN 'guided' END AS audience FROM film f;
CREATE VIEW t_joins AS SELECT i.inventory_id, f.title, s.label FROM inventory i
  JOIN film f ON f.film_id = i.film_id
  LEFT JOIN shelf_item si ON si.inventory_id = i.inventory_id
  LEFT JOIN shelf s ON s.store_id = si.store_id AND s.shelf_no = si.shelf_no;
CREATE VIEW t_right_join AS SELECT s.label, si.inventory_id FROM shelf_item si
  RIGHT JOIN shelf s ON s.store_id = si.store_id AND s.shelf_no = si.shelf_no;
CREATE VIEW t_union AS SELECT a.first_name FROM actor a UNION SELECT c.first_name FROM customer c;
CREATE VIEW t_union_all AS SELECT s.store_id AS id, 'store' AS kind FROM store s
  UNION ALL SELECT st.staff_id, 'staff' FROM staff st
  UNION ALL SELECT a.actor_id, CONCAT('actor ', a.last_name) FROM actor a ORDER BY kind DESC, id;
CREATE VIEW t_dates AS SELECT r.rental_id, NOW() AS at_now, CURDATE() AS today FROM rental r;
CREATE VIEW t_text AS SELECT f.film_id, SUBSTRING(f.title, 1, 3) AS code, SUBSTR(f.title, 5) AS rest,
  LENGTH(f.title) AS bytes, CHAR_LENGTH(f.title) AS chars FROM film f;
CREATE VIEW t_limit AS SELECT f.film_id, f.title FROM film f ORDER BY f.title LIMIT 2;
CREATE VIEW t_subqueries AS SELECT c.customer_id,
  (SELECT COUNT(*) FROM rental r WHERE r.customer_id = c.customer_id) AS rentals
  FROM customer c WHERE c.customer_id IN (SELECT p.customer_id FROM payment p)
  AND NOT EXISTS (SELECT 1 FROM payment p2 WHERE p2.customer_id = c.customer_id AND p2.amount > 5)
  AND c.customer_id NOT IN (SELECT r2.customer_id FROM rental r2 WHERE r2.return_date IS NOT NULL);
CREATE VIEW t_derived AS SELECT x.store_id, x.copies FROM
  (SELECT i.store_id, COUNT(*) AS copies FROM inventory i GROUP BY i.store_id) x
  WHERE x.copies >= ALL (SELECT COUNT(*) FROM inventory i2 GROUP BY i2.store_id);
