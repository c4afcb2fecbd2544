#pragma once

#include <QString>
#include <sys/types.h>

// Like a database server, the station collects only as the owner of its state
// folder: a run as another user (root, by hand) would leave the recovery state
// and the local databases to that user, and the service could no longer write
// them. Empty when `user` may collect on `stateFolder` with `program`, else
// why not, for a person. A folder not made yet belongs to whoever makes it.
QString stateOwnerProblem(const QString& stateFolder, uid_t user, const QString& program);
