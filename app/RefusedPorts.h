#pragma once

#include "link/CXmit.h"

#include <QList>
#include <QString>

// One plain-English line about the ports the last scan could not open, with
// what the user can do about it; empty when there were none. A port that
// exists but is refused would otherwise be skipped without a word forever.
QString DescribeRefusedPorts(const QList<CXmit::RefusedPort> &refusals);

// One line per refused port, for the command line.
QStringList ListRefusedPorts(const QList<CXmit::RefusedPort> &refusals);
