#include "ui/kit/MenuPages.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

#include <algorithm>

namespace quorvel::MenuPages {

int rows(QMenu* menu)
{
    const QScreen* screen = QGuiApplication::screenAt(menu->pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1;
    // One item's height as this menu lays it out, and the menu's own frame.
    QMenu probe;
    probe.setFont(menu->font());
    QAction* item = probe.addAction(QStringLiteral("probe"));
    const int frame = probe.sizeHint().height() - probe.actionGeometry(item).height();
    const int row = std::max(1, probe.actionGeometry(item).height());
    return std::max(1, (screen->availableGeometry().height() - frame) / row);
}

void add(QMenu* menu, const QList<QAction*>& entries, int room)
{
    room = std::max(room, 2);
    if (entries.size() <= room) {
        menu->addActions(entries);
        return;
    }
    menu->addActions(entries.mid(0, room - 1));
    QMenu* rest = menu->addMenu(QString::fromUtf8(moreTitle));
    rest->setLayoutDirection(menu->layoutDirection());
    add(rest, entries.mid(room - 1), rows(rest));
}

} // namespace quorvel::MenuPages
