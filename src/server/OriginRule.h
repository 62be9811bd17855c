#pragma once

#include <QStringList>

struct HTTPRequest;

// Which requests a web page may make. The TV app and command-line tools
// send no Origin header and are always served. A browser sends one with
// every request a page's script makes; such a request is served only when
// the page came from this recorder itself (same scheme, host and port as
// the request's Host), and only when that host is an address or a name of
// this computer, so that a page whose own name was rebound to the recorder's
// address cannot pass as one of its own pages.
namespace OriginRule {

bool accepts(const HTTPRequest &request);

// The same rule with the computer's names given: each a lower-case host
// name by which the recorder may be addressed.
bool accepts(const HTTPRequest &request, const QStringList &localNames);

// This computer's names: its host name, alone, with its domain and with
// ".local", in lower case.
QStringList localNames();

} // namespace OriginRule
