#ifndef PLANTSCHEMA_H
#define PLANTSCHEMA_H

#include <QSqlDatabase>
#include <QSqlError>
#include <QStringList>

// The plant store's schema "quillet", versioned like the local history: a table holds the
// version, each version adds one step, and a released step never changes. Every station
// signs in as a role of its own, a member of quillet_station, and the database fills a row's
// station from current_user and checks it (row-level security), so that no station writes,
// reads, changes or deletes another's rows; history rows are only ever inserted.
// quillet_reader reads everything. docs/plant-history.md lists the tables and views.
class PlantSchema
{
public:
    static int version();
    // The version in place; 0 when there is no plant schema yet.
    static bool readVersion(QSqlDatabase db, int &version, QSqlError &error);
    // Creates or brings up to date the schema, the group roles and their grants, idempotent;
    // run as a role with CREATEROLE that owns the database. report says what was done and
    // granted, and what IT adds per station. A database not encoded in UTF8, or a schema
    // newer than this client's, is refused.
    static bool setup(QSqlDatabase db, QStringList &report, QString &error);
    // What IT adds for each station: its role, the grant and the pg_hba.conf line.
    static QStringList perStation(const QString &database);
};

#endif // PLANTSCHEMA_H
