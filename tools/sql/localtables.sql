-- The six local tables, for a local alias on PostgreSQL. Names are left
-- unquoted, so that they fold to lower case as the station's SQL texts do;
-- "desc" is a keyword and must stay quoted.
CREATE TABLE IF NOT EXISTS lectura (
    Codigo integer, Hora time(3), Fecha date, Loc integer, Cta integer, NroTicket integer,
    Origen varchar(40)
);
CREATE TABLE IF NOT EXISTS lecturaBAK (
    Codigo integer, Hora time(3), Fecha date, Loc integer, Cta integer, NroTicket integer,
    Origen varchar(40)
);
CREATE TABLE IF NOT EXISTS log (
    Fecha date, Hora time(3), Archivo varchar(255), NroRegAsist integer
);
CREATE TABLE IF NOT EXISTS confRegIP (
    IP varchar(40), "desc" varchar(80), Loc varchar(40), Activo boolean
);
CREATE TABLE IF NOT EXISTS personal (
    CODIGO integer, NOMBRES varchar(40), APELLIDOS varchar(40), TARJETA integer, GRUPO integer,
    SERV_TAXI boolean
);
CREATE TABLE IF NOT EXISTS ceco (
    CECO integer, OVERTIME integer, VIAJES integer
);
