#include "platform/qt/PlainText.h"

namespace zumelko::platform::qt {

QString PlainToolTip(const QString& text) {
    if (text.isEmpty()) return {};
    // Rich text drops a lone CR; it breaks the line as it would in a plain tip.
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // Wrapped in an element of its own the text is rich text for certain, and escaped it has no
    // markup of its own left: entities, tags and all show as typed.
    return QStringLiteral("<p style='white-space:pre'>") + lines.toHtmlEscaped() + QStringLiteral("</p>");
}

QString PlainWindowTitle(const QString& text) {
    QString title = text;
    // Qt shows "[*][*]" as one literal "[*]".
    title.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
    return title;
}

QString MenuText(const QString& caption, bool literal) {
    if (!literal) return caption;
    QString text = caption;
    text.replace(QLatin1Char('&'), QLatin1String("&&"));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text;
}

}  // namespace zumelko::platform::qt
