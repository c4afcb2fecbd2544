-- The server table of taxi tickets, under the owner dbo. The first ten columns
-- and their order are what the station and the export rely on.
CREATE SCHEMA IF NOT EXISTS dbo;

CREATE TABLE IF NOT EXISTS dbo.tickettaxis (
    ORIGEN     varchar(40),
    LEGAJO     integer,
    NOMBRES    varchar(81),
    FECHA      timestamp(3),
    IMPORTE    double precision,
    CUENTA     integer,
    CECO       integer,
    TARJETA    integer,
    TICKET     integer,
    VERIFICADO integer
);

-- The station sets search_path to dbo, public on its connections, so that the
-- bare name "tickettaxis" names the same table. For other clients of the role:
--   ALTER ROLE <role> SET search_path = dbo, public;

-- The station's own tables follow, at version 2 of its server schema steps
-- (recorded at the end). A station started against a server without them adds
-- them itself, by the same steps, when it may; it never changes the table
-- above.

-- The journal of finished storing runs: the station writes one row per run in
-- the same transaction as the run's tickets, so that a run cut short and
-- stored again never leaves a ticket twice.
CREATE TABLE IF NOT EXISTS dbo.kivo_runs (
    run_id       varchar(40) NOT NULL,
    store        varchar(10) NOT NULL,
    loc          varchar(40),
    record_count integer,
    stored_at    varchar(24),
    PRIMARY KEY (run_id, store)
);

-- The points' leases: the station that collects a point now, and the run the
-- lease guards once the records are fetched. Stations that share this server
-- and list the same point collect it one at a time.
CREATE TABLE IF NOT EXISTS dbo.kivo_leases (
    point        varchar(100) NOT NULL PRIMARY KEY,
    station      varchar(40) NOT NULL,
    host         varchar(100),
    since        varchar(24),
    run_id       varchar(40),
    record_count integer,
    address      varchar(100)
);

-- The records a point may still hold that a station stored (its delete not
-- confirmed, or a point that says it deleted and did not): no station stores
-- them again.
CREATE TABLE IF NOT EXISTS dbo.kivo_pending (
    address      varchar(100) NOT NULL PRIMARY KEY,
    run_id       varchar(40) NOT NULL,
    record_count integer NOT NULL,
    sha256       varchar(64) NOT NULL,
    station      varchar(40) NOT NULL
);

-- The version of the station's own tables, per kind of database; a version
-- already past this one is kept.
CREATE TABLE IF NOT EXISTS dbo.kivo_schema (
    part    varchar(10) NOT NULL PRIMARY KEY,
    version integer NOT NULL
);
INSERT INTO dbo.kivo_schema (part, version) VALUES ('server', 2)
    ON CONFLICT (part) DO UPDATE SET version = GREATEST(dbo.kivo_schema.version, 2);
