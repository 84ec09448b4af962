#include "plant/plantschema.h"

#include <QSqlQuery>
#include <QVariant>

namespace {

// The group roles exist once per server; made only where missing.
const QStringList &roleStatements()
{
    static const QStringList statements {
        QStringLiteral("DO $$ BEGIN "
                       "IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'quillet_station') THEN "
                       "CREATE ROLE quillet_station NOLOGIN; END IF; "
                       "IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'quillet_reader') THEN "
                       "CREATE ROLE quillet_reader NOLOGIN; END IF; END $$"),
    };
    return statements;
}

// The fields travel as the text the chain encodes, NULL told apart from empty, so that the
// plant can recompute every station's chain. A row's key is (station, store, local id);
// plant_id is the order rows arrived in. A file row names its row without a foreign key: the
// check's plan, made while the table was small, would read the whole table for every file
// row; the station writes both in one transaction, and the plant check pairs them.
const QList<QStringList> &schemaSteps()
{
    static const QList<QStringList> steps {
        {
            QStringLiteral("CREATE SCHEMA quillet"),
            QStringLiteral("CREATE TABLE quillet.schema_version (version integer NOT NULL)"),
            QStringLiteral("INSERT INTO quillet.schema_version VALUES (0)"),
            QStringLiteral("CREATE TABLE quillet.history ("
                           " plant_id bigserial NOT NULL UNIQUE,"
                           " station name NOT NULL DEFAULT current_user,"
                           " store_id uuid NOT NULL,"
                           " local_id bigint NOT NULL,"
                           " time text, action text, user_id text, device text, task text, kind text,"
                           " source text, target text, bytes text, sha256 text, outcome text, ok text,"
                           " duration_ms text, kept_path text, original_time text, start_id text,"
                           " chain text,"
                           " received_at timestamptz NOT NULL DEFAULT now(),"
                           " PRIMARY KEY (station, store_id, local_id))"),
            QStringLiteral("CREATE INDEX history_task ON quillet.history (task)"),
            QStringLiteral("CREATE INDEX history_time ON quillet.history (time)"),
            QStringLiteral("CREATE INDEX history_arrival ON quillet.history (station, plant_id)"),
            QStringLiteral("CREATE INDEX history_start ON quillet.history (station, store_id, start_id)"),
            QStringLiteral("CREATE TABLE quillet.history_file ("
                           " station name NOT NULL DEFAULT current_user,"
                           " store_id uuid NOT NULL,"
                           " local_id bigint NOT NULL,"
                           " path text, size text, sha256 text)"),
            QStringLiteral(
                "CREATE INDEX history_file_row ON quillet.history_file (station, store_id, local_id)"),
            QStringLiteral("CREATE TABLE quillet.station ("
                           " station name PRIMARY KEY DEFAULT current_user,"
                           " device text, host text, client_version text, store_id uuid,"
                           " backlog bigint, backlog_since timestamptz,"
                           " last_contact timestamptz NOT NULL DEFAULT now())"),
            QStringLiteral("ALTER TABLE quillet.history ENABLE ROW LEVEL SECURITY"),
            QStringLiteral("ALTER TABLE quillet.history_file ENABLE ROW LEVEL SECURITY"),
            QStringLiteral("ALTER TABLE quillet.station ENABLE ROW LEVEL SECURITY"),
            QStringLiteral("CREATE POLICY station_adds ON quillet.history FOR INSERT TO quillet_station"
                           " WITH CHECK (station = current_user)"),
            QStringLiteral("CREATE POLICY station_reads ON quillet.history FOR SELECT TO quillet_station"
                           " USING (station = current_user)"),
            QStringLiteral(
                "CREATE POLICY reader_reads ON quillet.history FOR SELECT TO quillet_reader USING (true)"),
            QStringLiteral("CREATE POLICY station_adds ON quillet.history_file FOR INSERT TO quillet_station"
                           " WITH CHECK (station = current_user)"),
            QStringLiteral("CREATE POLICY station_reads ON quillet.history_file FOR SELECT TO quillet_station"
                           " USING (station = current_user)"),
            QStringLiteral("CREATE POLICY reader_reads ON quillet.history_file FOR SELECT TO quillet_reader "
                           "USING (true)"),
            QStringLiteral("CREATE POLICY station_own ON quillet.station FOR ALL TO quillet_station"
                           " USING (station = current_user) WITH CHECK (station = current_user)"),
            QStringLiteral(
                "CREATE POLICY reader_reads ON quillet.station FOR SELECT TO quillet_reader USING (true)"),
            // The version in place: the newest row of the task and kind that put a version in
            // place (a fetch or a restore that succeeded), as the client decides it itself.
            QStringLiteral(
                "CREATE VIEW quillet.version_in_place AS"
                " SELECT DISTINCT ON (station, task, kind) station, task, kind, store_id, local_id,"
                " time, action, user_id, device, source, sha256, chain"
                " FROM quillet.history WHERE ok = '1' AND action IN ('fetch', 'restore')"
                " ORDER BY station, task, kind, plant_id DESC"),
            QStringLiteral("CREATE VIEW quillet.station_backlog AS"
                           " SELECT station, device, host, client_version, store_id, backlog, backlog_since,"
                           " last_contact, last_contact < now() - interval '3 minutes' AS offline"
                           " FROM quillet.station"),
        },
    };
    return steps;
}

// Granted at every run, so that a setup run again mends a grant taken away.
const QStringList &grantStatements()
{
    static const QStringList statements {
        QStringLiteral("GRANT USAGE ON SCHEMA quillet TO quillet_station, quillet_reader"),
        QStringLiteral("GRANT SELECT ON quillet.schema_version TO quillet_station"),
        QStringLiteral("GRANT SELECT, INSERT ON quillet.history, quillet.history_file TO quillet_station"),
        QStringLiteral("GRANT SELECT, INSERT, UPDATE ON quillet.station TO quillet_station"),
        QStringLiteral("GRANT USAGE ON ALL SEQUENCES IN SCHEMA quillet TO quillet_station"),
        QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA quillet TO quillet_reader"),
    };
    return statements;
}

bool run(QSqlDatabase db, const QStringList &statements, QString &error)
{
    QSqlQuery query(db);
    for (const QString &statement : statements) {
        if (!query.exec(statement)) {
            error = QStringLiteral("%1: %2").arg(statement.left(60), query.lastError().text());
            return false;
        }
    }
    return true;
}

} // namespace

int PlantSchema::version()
{
    return schemaSteps().size();
}

bool PlantSchema::readVersion(QSqlDatabase db, int &version, QSqlError &error)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT to_regclass('quillet.schema_version') IS NOT NULL"))
        || !query.next()) {
        error = query.lastError();
        return false;
    }
    if (!query.value(0).toBool()) {
        version = 0;
        return true;
    }
    if (!query.exec(QStringLiteral("SELECT version FROM quillet.schema_version")) || !query.next()) {
        error = query.lastError();
        return false;
    }
    version = query.value(0).toInt();
    return true;
}

bool PlantSchema::setup(QSqlDatabase db, QStringList &report, QString &error)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SHOW server_encoding")) || !query.next()) {
        error = query.lastError().text();
        return false;
    }
    if (query.value(0).toString() != QLatin1String("UTF8")) {
        error = QStringLiteral("the database is encoded in %1, not UTF8").arg(query.value(0).toString());
        return false;
    }
    int version = 0;
    QSqlError readError;
    if (!readVersion(db, version, readError)) {
        error = readError.text();
        return false;
    }
    if (version > PlantSchema::version()) {
        error = QStringLiteral("the plant schema's version %1 is newer than this client's %2")
                    .arg(version)
                    .arg(PlantSchema::version());
        return false;
    }
    if (!run(db, roleStatements(), error))
        return false;
    for (int step = version; step < PlantSchema::version(); ++step) {
        if (!db.transaction()) {
            error = db.lastError().text();
            return false;
        }
        // Prepared only once the step has made the table: a failed PREPARE ends the transaction.
        QSqlQuery update(db);
        const bool done = run(db, schemaSteps().at(step), error)
            && update.prepare(QStringLiteral("UPDATE quillet.schema_version SET version = ?"));
        update.addBindValue(step + 1);
        if (!done || !update.exec() || !db.commit()) {
            if (error.isEmpty())
                error = update.lastError().isValid() ? update.lastError().text() : db.lastError().text();
            db.rollback();
            return false;
        }
        report << QStringLiteral("schema quillet brought to version %1").arg(step + 1);
    }
    if (version == PlantSchema::version())
        report << QStringLiteral("schema quillet is at version %1 already").arg(version);
    if (!run(db, grantStatements(), error))
        return false;
    report << QStringLiteral(
        "granted quillet_station: USAGE on schema quillet; SELECT on quillet.schema_version; "
        "INSERT, and SELECT of its own rows, on quillet.history and quillet.history_file; "
        "SELECT, INSERT and UPDATE of its own row of quillet.station; USAGE on the "
        "schema's sequences; no UPDATE or DELETE of history")
           << QStringLiteral(
                  "granted quillet_reader: USAGE on schema quillet; SELECT on every table and view "
                  "of it (quillet.version_in_place, quillet.station_backlog)");
    return true;
}

QStringList PlantSchema::perStation(const QString &database)
{
    return { QStringLiteral("for each station, as a role with CREATEROLE:"),
        QStringLiteral("  CREATE ROLE station_name LOGIN PASSWORD '...';   -- or a client certificate"),
        QStringLiteral("  GRANT quillet_station TO station_name;"),
        QStringLiteral("in pg_hba.conf, one line per station:"),
        QStringLiteral("  hostssl %1 station_name 192.0.2.10/32 scram-sha-256")
            .arg(database.isEmpty() ? QStringLiteral("dbname") : database),
        QStringLiteral("on the station: the password in the pgpass file of its account "
                       "(%APPDATA%\\postgresql\\pgpass.conf), and in quillet.ini"),
        QStringLiteral("  plantHistory=host=... dbname=%1 user=station_name sslrootcert=ca.crt")
            .arg(database.isEmpty() ? QStringLiteral("...") : database),
        QStringLiteral(
            "for the plant's reporting tools: CREATE ROLE reader_name LOGIN; GRANT quillet_reader TO "
            "reader_name;") };
}
