-- Tables of several shapes for the copy, export and restore tests, loaded next to
-- alltypes.sql: rows enough for three multiple-row batches, an empty table, keyword
-- names that only work quoted, and a view that reads a table.
CREATE TABLE `items` (
  `id` INT NOT NULL PRIMARY KEY,
  `name` VARCHAR(50) NOT NULL,
  `price` DECIMAL(10,2),
  `note` TEXT,
  KEY `by_name` (`name`)
) ENGINE=InnoDB;
INSERT INTO `items`
  WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 25)
  SELECT n, CONCAT('item ', n), n * 1.25, IF(n % 5 = 0, NULL, REPEAT('x;\n', n)) FROM s;

CREATE TABLE `empty_t` (`id` INT) ENGINE=MyISAM;

CREATE TABLE `select` (`order` INT, `from` VARCHAR(10)) ENGINE=InnoDB;
INSERT INTO `select` VALUES (1, 'where'), (2, NULL);

CREATE VIEW `v_items` AS SELECT `id`, `name` FROM `items` WHERE `id` > 5;
