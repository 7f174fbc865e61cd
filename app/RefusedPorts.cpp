#include "app/RefusedPorts.h"

#include <QFileInfo>

namespace {

bool IsPermissionProblem(const CXmit::RefusedPort &refused)
{
    return refused.reason.contains(QLatin1String("permission"), Qt::CaseInsensitive);
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

    // Lead with a port the user can fix by joining a group, if there is one.
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

    // The status line has room for one short sentence of advice. The group
    // that owns the device file is the one that grants access to it.
    if (IsPermissionProblem(*lead)) {
        const QString group = QFileInfo(lead->path).group();
        if (group.isEmpty())
            text += QStringLiteral(" Add your user to the group of the serial devices, then "
                                   "log in again.");
        else
            text +=
                QStringLiteral(" Add your user to the group '%1', then log in again.").arg(group);
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
