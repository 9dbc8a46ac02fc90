-- Demo data for the run.sh sandbox: a small shop with tables, a view and a few hundred rows.
-- Rows are generated with MariaDB's sequence tables (seq_1_to_N).
CREATE DATABASE IF NOT EXISTS shop CHARACTER SET utf8mb4;
USE shop;

CREATE TABLE customers (
  id INT UNSIGNED NOT NULL PRIMARY KEY,
  name VARCHAR(80) NOT NULL,
  email VARCHAR(120) NULL,
  country CHAR(2) NOT NULL,
  created_at DATETIME NOT NULL
) ENGINE=InnoDB;

CREATE TABLE products (
  id INT UNSIGNED NOT NULL PRIMARY KEY,
  name VARCHAR(80) NOT NULL,
  price DECIMAL(10,2) NOT NULL,
  stock INT NOT NULL,
  description TEXT NULL
) ENGINE=InnoDB;

CREATE TABLE orders (
  id INT UNSIGNED NOT NULL PRIMARY KEY,
  customer_id INT UNSIGNED NOT NULL,
  ordered_at DATETIME NOT NULL,
  status ENUM('open','paid','shipped','cancelled') NOT NULL,
  note VARCHAR(200) NULL,
  KEY (customer_id),
  CONSTRAINT fk_orders_customer FOREIGN KEY (customer_id) REFERENCES customers (id)
) ENGINE=InnoDB;

CREATE TABLE order_items (
  order_id INT UNSIGNED NOT NULL,
  product_id INT UNSIGNED NOT NULL,
  quantity SMALLINT UNSIGNED NOT NULL,
  unit_price DECIMAL(10,2) NOT NULL,
  PRIMARY KEY (order_id, product_id),
  CONSTRAINT fk_items_order FOREIGN KEY (order_id) REFERENCES orders (id),
  CONSTRAINT fk_items_product FOREIGN KEY (product_id) REFERENCES products (id)
) ENGINE=InnoDB;

INSERT INTO customers
SELECT seq,
       CONCAT(ELT(1 + seq % 8, 'Anna', 'Björn', 'Chloé', 'Dmitri', 'Eva', 'François', 'Giulia', 'Hans'),
              ' ', ELT(1 + seq % 7, 'Meyer', 'O''Brien', 'Novák', 'García', 'Smith', 'Łukasik', 'Rossi')),
       IF(seq % 10 = 0, NULL, CONCAT('customer', seq, '@example.com')),
       ELT(1 + seq % 5, 'DE', 'FR', 'CZ', 'ES', 'GB'),
       '2024-01-01 09:00:00' + INTERVAL seq * 37 HOUR
FROM seq_1_to_120;

INSERT INTO products
SELECT seq,
       CONCAT(ELT(1 + seq % 5, 'Desk lamp', 'Notebook', 'Coffee mug', 'Backpack', 'USB cable'), ' #', seq),
       ROUND(2.5 + (seq * 7919 % 10000) / 100, 2),
       seq * 13 % 250,
       IF(seq % 4 = 0, NULL, CONCAT('Line one\nLine two with "quotes", a tab\there and a backslash \\ #', seq))
FROM seq_1_to_40;

INSERT INTO orders
SELECT seq,
       1 + seq * 31 % 120,
       '2024-03-01 10:00:00' + INTERVAL seq * 5 HOUR,
       ELT(1 + seq % 4, 'open', 'paid', 'shipped', 'cancelled'),
       IF(seq % 9 = 0, 'Leave at the door', NULL)
FROM seq_1_to_300;

INSERT INTO order_items
SELECT o.seq, 1 + (o.seq * 7 + i.seq * 11) % 40, 1 + (o.seq + i.seq) % 5, 0
FROM seq_1_to_300 o JOIN seq_1_to_3 i
WHERE i.seq <= 1 + o.seq % 3;
UPDATE order_items oi JOIN products p ON p.id = oi.product_id SET oi.unit_price = p.price;

CREATE VIEW order_totals AS
SELECT o.id AS order_id, c.name AS customer, o.status, SUM(oi.quantity * oi.unit_price) AS total
FROM orders o
JOIN customers c ON c.id = o.customer_id
JOIN order_items oi ON oi.order_id = o.id
GROUP BY o.id, c.name, o.status;
