/* Schema version 5: the game servers this data folder administers, by name.
   A database kept for one server gains that server, named after the address
   and port of its settings row, so its lists stay that server's. Palisor
   runs this file once, as 01-history.sql (which lists the statements the
   upgrade recognises); store/schema.sql makes the same objects. */

SET SQL DIALECT 3;
SET AUTODDL ON;

/* One row per game server; NAME is what the user calls it (1 to 40
   characters) and stays unique. */
CREATE SEQUENCE SERVERS_ID;
CREATE TABLE SERVERS (
  ID   INTEGER NOT NULL,
  NAME VARCHAR(40) CHARACTER SET ISO8859_1 NOT NULL
);
CREATE UNIQUE INDEX SERVERS_BY_ID ON SERVERS (ID);
CREATE UNIQUE INDEX SERVERS_BY_NAME ON SERVERS (NAME);

/* The one server a database had before: "ADDRESS:PORT" of its settings row,
   number 1 like the monitor claim and server state rows it already has. A
   database already holding servers gains none. */
INSERT INTO SERVERS (ID, NAME)
  SELECT FIRST 1 NEXT VALUE FOR SERVERS_ID, TRIM(COALESCE(ADDRESS, '')) || ':' || TRIM(COALESCE(PORT, ''))
  FROM SETTINGS WHERE NOT EXISTS (SELECT 1 FROM SERVERS);
