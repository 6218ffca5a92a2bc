#include "app/file_filter.h"

#include <QStringList>

namespace rk {

QString QtFileFilter(const std::string& windowsFilter) {
    const QStringList parts = QString::fromStdString(windowsFilter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        QString patterns = i + 1 < parts.size() ? parts[i + 1].trimmed() : QString();
        if (description.isEmpty() && patterns.isEmpty()) continue;
        // Qt reads the patterns from the last parentheses of the description,
        // so any list the description carries itself is dropped first.
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open >= 0 && description.endsWith(QLatin1Char(')'))) description = description.left(open).trimmed();
        QStringList list;
        for (const QString& p : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            QString q = p.trimmed();
            // Characters that would end the pattern list or split a pattern.
            q.remove(QLatin1Char('(')).remove(QLatin1Char(')')).remove(QLatin1Char(' '));
            if (q == QLatin1String("*.*")) q = QStringLiteral("*");
            if (!q.isEmpty()) list << q;
        }
        if (list.isEmpty()) list << QStringLiteral("*");
        if (description.isEmpty()) description = list.join(QLatin1Char(' '));
        description = description.remove(QLatin1Char('(')).remove(QLatin1Char(')')).trimmed();
        filters << description + QStringLiteral(" (") + list.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    if (filters.isEmpty()) return QStringLiteral("All files (*)");
    return filters.join(QStringLiteral(";;"));
}

}  // namespace rk
