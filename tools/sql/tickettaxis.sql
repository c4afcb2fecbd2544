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

-- The bare name "tickettaxis" names the same table.
ALTER ROLE CURRENT_USER SET search_path = dbo, public;
