#pragma once

#include <QString>

// Whether the service can use its settings file: the folder that holds it
// exists (when folderMustExist: a folder named by the site, not the one the
// registry makes under the user's XDG path), and the file, when there, can be
// read and rewritten (the service
// saves it whole by a rename, so the folder must take new files too). Empty
// when it can; otherwise what is wrong, for the journal. A file that the
// service cannot read would otherwise look like no settings at all, and the
// service would collect on the defaults without a word.
QString settingsAccessProblem(const QString& settingsPath, bool folderMustExist);
