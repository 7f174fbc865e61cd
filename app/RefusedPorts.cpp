#include "app/RefusedPorts.h"

#include <QFileInfo>

namespace {

bool IsPermissionProblem(const CXmit::RefusedPort &refused)
{
    return refused.kind == SerialPort::OpenResult::PermissionDenied;
}

QString Reason(const CXmit::RefusedPort &refused)
{
    QString reason = refused.reason.trimmed();
    if (reason.isEmpty())
        reason = QStringLiteral("refused");
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    return reason;
}

} // namespace

QString DescribeRefusedPorts(const QList<CXmit::RefusedPort> &refusals)
{
    if (refusals.isEmpty())
        return {};

    // Lead with a port refused for permissions: that one the user can act on.
    const CXmit::RefusedPort *lead = &refusals.first();
    for (const CXmit::RefusedPort &refused : refusals) {
        if (IsPermissionProblem(refused)) {
            lead = &refused;
            break;
        }
    }

    QString text = QStringLiteral("Cannot open %1").arg(lead->path);
    if (refusals.size() > 1)
        text += QStringLiteral(" (and %1 more)").arg(refusals.size() - 1);
    text += QStringLiteral(": %1.").arg(Reason(*lead));

    // The status line has room for one short sentence of advice. Joining the
    // group that owns the device file only helps when that group may read
    // and write it.
    if (IsPermissionProblem(*lead)) {
        const QFileInfo device(lead->path);
        const QString group = device.group();
        const auto groupAccess = QFileDevice::ReadGroup | QFileDevice::WriteGroup;
        if (!group.isEmpty() && (device.permissions() & groupAccess) == groupAccess)
            text += QStringLiteral(" Join the group '%1', then log in again.").arg(group);
        else
            text += QStringLiteral(" Ask the administrator for access.");
    }
    return text;
}

QStringList ListRefusedPorts(const QList<CXmit::RefusedPort> &refusals)
{
    QStringList lines;
    for (const CXmit::RefusedPort &refused : refusals)
        lines.append(QStringLiteral("Cannot open %1: %2.").arg(refused.path, Reason(refused)));
    return lines;
}
