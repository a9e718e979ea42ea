#pragma once

// Turning a connection's triggers off for a stretch of writes and on again.
// Apart from SQLiteDB.h, which nearly every file includes, for its one user.

namespace quorvel {

class SQLiteDB;

// Turns the triggers of the connection's databases off (TEMP triggers still
// fire) or back on. Statements prepared under the other setting are prepared
// again at their next step. False when SQLite did not take the setting.
bool setTriggersEnabled(SQLiteDB& db, bool on);

} // namespace quorvel
