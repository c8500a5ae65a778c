/* Schema version 3: an edited ban is recorded, the samples are kept in UTC
   and their 90 days are counted from settled polls. Palisor runs this file
   once, as 01-history.sql (which lists the statements the upgrade
   recognises); store/schema.sql makes the same objects. */

SET SQL DIALECT 3;
SET AUTODDL ON;

/* A row here says that the samples were stored in local time, as Palisor
   did before it kept them in UTC. The program converts them when it next
   connects and deletes the row in the same transaction, before it adds a
   sample in UTC; a database made new never has the row. */
CREATE TABLE SAMPLES_IN_LOCAL_TIME (
  MARK SMALLINT NOT NULL
);
INSERT INTO SAMPLES_IN_LOCAL_TIME (MARK) SELECT FIRST 1 1 FROM SAMPLES;

SET TERM ^ ;

/* The record of a ban or of its removal is written by the statement that
   makes the change, so both are committed together or not at all. A row
   whose name or address is edited is recorded as the removal of the old row
   and the ban of the new; the monitor moving a name's ban to the player's
   current address (PALISOR_FOLLOW) is no new ban. */
CREATE OR ALTER TRIGGER BANNED_RECORD FOR BANNED ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 0 AS
DECLARE VARIABLE SOURCE VARCHAR(16) CHARACTER SET ISO8859_1;
DECLARE VARIABLE CLIENTID VARCHAR(9) CHARACTER SET ISO8859_1;
DECLARE VARIABLE REMOVED SMALLINT = 0;
DECLARE VARIABLE ADDED SMALLINT = 0;
BEGIN
  SOURCE = COALESCE(RDB$GET_CONTEXT('USER_TRANSACTION', 'PALISOR_SOURCE'), 'admin');
  CLIENTID = RDB$GET_CONTEXT('USER_TRANSACTION', 'PALISOR_CLIENTID');
  IF (INSERTING) THEN
    ADDED = 1;
  ELSE IF (DELETING) THEN
    REMOVED = 1;
  ELSE IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'PALISOR_FOLLOW') IS NULL) THEN
    IF (NEW.NAME IS DISTINCT FROM OLD.NAME OR NEW.ADDRESS IS DISTINCT FROM OLD.ADDRESS) THEN
    BEGIN
      REMOVED = 1;
      ADDED = 1;
    END
  IF (REMOVED = 1) THEN
    INSERT INTO EVENTS (KIND, CLIENTID, NAME, ADDRESS, REASON, SOURCE)
      VALUES ('UNBAN', :CLIENTID, OLD.NAME, OLD.ADDRESS,
              RDB$GET_CONTEXT('USER_TRANSACTION', 'PALISOR_REASON'), :SOURCE);
  IF (ADDED = 1) THEN
    INSERT INTO EVENTS (KIND, CLIENTID, NAME, ADDRESS, REASON, SOURCE)
      VALUES ('BAN', :CLIENTID, NEW.NAME, NEW.ADDRESS, NEW.REASON, :SOURCE);
END^

/* A poll's sample; samples older than 90 days are forgotten. The 90 days
   are counted back from the oldest of the 100 newest samples at most, so a
   clock that jumped ahead for fewer than 100 polls cannot delete the
   samples of the days before it. TAKEN is in UTC. */
CREATE OR ALTER PROCEDURE ADD_SAMPLE (
  ITAKEN       TIMESTAMP,
  IPLAYERCOUNT INTEGER,
  IMAXPLAYERS  INTEGER,
  IMAPNAME     VARCHAR(64) CHARACTER SET ISO8859_1,
  IMEDIANPING  INTEGER,
  IHIGHPING    INTEGER)
AS
DECLARE VARIABLE SETTLED TIMESTAMP;
BEGIN
  INSERT INTO SAMPLES (TAKEN, PLAYERCOUNT, MAXPLAYERS, MAPNAME, MEDIANPING, HIGHPING)
    VALUES (:ITAKEN, :IPLAYERCOUNT, :IMAXPLAYERS, :IMAPNAME, :IMEDIANPING, :IHIGHPING);
  SELECT MIN(TAKEN) FROM (SELECT FIRST 100 TAKEN FROM SAMPLES ORDER BY TAKEN DESC) INTO :SETTLED;
  SETTLED = MINVALUE(:ITAKEN, :SETTLED);
  DELETE FROM SAMPLES WHERE TAKEN < DATEADD(-90 DAY TO :SETTLED);
  DELETE FROM SAMPLESPANS WHERE SPANSTART < DATEADD(-90 DAY TO :SETTLED);
END^

SET TERM ; ^
