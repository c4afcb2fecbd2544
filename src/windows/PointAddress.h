#pragma once

#include <QString>
#include <QUrl>

// The web configuration page of a registration point, "http://" + host + "/",
// for the text of its IP field: an IPv4 address, an IPv6 address (in brackets
// or bare) or a host name, blanks around it ignored. Any other text (a scheme,
// a path, user information, a port, a file name, a command) gives an invalid
// URL, so that nothing but the point's own page can be opened.
QUrl pointWebPage(const QString& ipText);
