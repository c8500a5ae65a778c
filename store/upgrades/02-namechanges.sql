/* Schema version 2: the log of changes to the names in BANNED and RECENT.
   Palisor runs this file once, as 01-history.sql (which lists the statements
   the upgrade recognises); store/schema.sql makes the same objects. */

SET SQL DIALECT 3;
SET AUTODDL ON;

/* A row for every change to the set of names in BANNED or RECENT, so that
   the program counts a list's distinct names again only when a newer row
   shows up in its own view of the database. Rows are only ever added, so
   two attachments never wait for each other here; the maintenance cycle
   keeps only the newest row of each list. */
CREATE TABLE NAME_CHANGES (
  ID   BIGINT NOT NULL,
  LIST VARCHAR(31) CHARACTER SET ISO8859_1 NOT NULL
);
CREATE DESCENDING INDEX NAME_CHANGES_LATEST ON NAME_CHANGES (LIST, ID);
CREATE SEQUENCE NAME_CHANGE;

SET TERM ^ ;

/* Seeing a player again, moving a ban to a new address or adding a row for
   a name the list holds already leaves the set of names as it was. Other
   attachments see a transaction's changes all at once, so one row per
   transaction tells them all (an import adds thousands of bans in one). */
CREATE OR ALTER TRIGGER BANNED_NAMES FOR BANNED ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 0 AS
DECLARE VARIABLE LOGGED INTEGER;
BEGIN
  IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'BANNED_NAMES') IS NOT NULL) THEN EXIT;
  IF (UPDATING AND NEW.NAME IS NOT DISTINCT FROM OLD.NAME) THEN EXIT;
  IF (INSERTING AND EXISTS (SELECT 1 FROM BANNED B
                            WHERE B.NAME = NEW.NAME AND B.RDB$DB_KEY <> NEW.RDB$DB_KEY)) THEN EXIT;
  IF (DELETING AND EXISTS (SELECT 1 FROM BANNED B WHERE B.NAME = OLD.NAME)) THEN EXIT;
  INSERT INTO NAME_CHANGES (ID, LIST) VALUES (NEXT VALUE FOR NAME_CHANGE, 'BANNED');
  LOGGED = RDB$SET_CONTEXT('USER_TRANSACTION', 'BANNED_NAMES', 1);
END^

CREATE OR ALTER TRIGGER RECENT_NAMES FOR RECENT ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 0 AS
DECLARE VARIABLE LOGGED INTEGER;
BEGIN
  IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'RECENT_NAMES') IS NOT NULL) THEN EXIT;
  IF (UPDATING AND NEW.NAME IS NOT DISTINCT FROM OLD.NAME) THEN EXIT;
  IF (INSERTING AND EXISTS (SELECT 1 FROM RECENT R
                            WHERE R.NAME = NEW.NAME AND R.RDB$DB_KEY <> NEW.RDB$DB_KEY)) THEN EXIT;
  IF (DELETING AND EXISTS (SELECT 1 FROM RECENT R WHERE R.NAME = OLD.NAME)) THEN EXIT;
  INSERT INTO NAME_CHANGES (ID, LIST) VALUES (NEXT VALUE FOR NAME_CHANGE, 'RECENT');
  LOGGED = RDB$SET_CONTEXT('USER_TRANSACTION', 'RECENT_NAMES', 1);
END^

SET TERM ; ^
