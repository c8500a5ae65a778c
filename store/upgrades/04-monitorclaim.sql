/* Schema version 4: who monitors the game server, and what its last poll
   showed, for the other programs on the same data folder. Palisor runs this
   file once, as 01-history.sql (which lists the statements the upgrade
   recognises); store/schema.sql makes the same objects. */

SET SQL DIALECT 3;
SET AUTODDL ON;

/* Who monitors the game server now: one row while a monitor runs (ID 1, the
   data folder's one server), none while nobody does. A second monitor reads
   it before it starts and refuses while the claim is fresh; times are UTC. A
   claim whose RENEWED is older than three scan times plus 60 seconds is stale
   and may be taken over. */
CREATE TABLE MONITOR_CLAIM (
  ID       INTEGER NOT NULL PRIMARY KEY,
  PROGRAM  VARCHAR(40)  CHARACTER SET ISO8859_1 NOT NULL,
  HOST     VARCHAR(253) CHARACTER SET ISO8859_1 NOT NULL,
  PID      INTEGER NOT NULL,
  STARTED  TIMESTAMP NOT NULL,
  RENEWED  TIMESTAMP NOT NULL,
  SCANTIME INTEGER NOT NULL
);

/* What the monitor's last poll showed, as the main window's information
   boxes show it, written at the end of each poll after its players; POLLED is
   UTC and POLL_ERROR is null when the poll succeeded. */
CREATE TABLE SERVER_STATE (
  ID          INTEGER NOT NULL PRIMARY KEY,
  POLLED      TIMESTAMP,
  POLL_ERROR  VARCHAR(1000) CHARACTER SET ISO8859_1,
  HOSTNAME    VARCHAR(100) CHARACTER SET ISO8859_1,
  GAMETYPE    VARCHAR(100) CHARACTER SET ISO8859_1,
  PLAYERCOUNT VARCHAR(20)  CHARACTER SET ISO8859_1,
  CURMAP      VARCHAR(100) CHARACTER SET ISO8859_1,
  NEXTMAP     VARCHAR(100) CHARACTER SET ISO8859_1,
  PLAYERS     INTEGER,
  MAXPLAYERS  INTEGER,
  PING_MEDIAN INTEGER
);

SET TERM ^ ;

/* Other programs on the data folder learn of a new or ended claim, and of
   each stored poll, from events posted in the commit that makes the change.
   Renewing a claim is no news. */
CREATE OR ALTER TRIGGER MONITOR_CLAIM_CHANGED FOR MONITOR_CLAIM ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 0 AS
BEGIN
  IF (INSERTING OR DELETING) THEN
    POST_EVENT 'PALISOR_CLAIM';
  ELSE IF (NEW.PROGRAM IS DISTINCT FROM OLD.PROGRAM OR NEW.HOST IS DISTINCT FROM OLD.HOST
           OR NEW.PID IS DISTINCT FROM OLD.PID OR NEW.STARTED IS DISTINCT FROM OLD.STARTED) THEN
    POST_EVENT 'PALISOR_CLAIM';
END^

CREATE OR ALTER TRIGGER SERVER_STATE_POLLED FOR SERVER_STATE ACTIVE AFTER INSERT OR UPDATE POSITION 0 AS
BEGIN
  POST_EVENT 'PALISOR_POLLED';
END^

SET TERM ; ^
