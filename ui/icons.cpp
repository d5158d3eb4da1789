#include "ui/icons.h"

#include <QImage>

// The images are linked into the user-interface library; a static library needs its resources named once.
static void InitIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace velmora::ui {

namespace {

// The images are pictures in the program's resources (ui/icons/): the job states in one strip of five, the
// toolbar's normal and hot images in a strip of three each, and the icons in the sizes they are shown at.
QImage Resource(const QString& name) {
    [[maybe_unused]] static const bool initialised = [] {
        InitIconResources();
        return true;
    }();
    return QImage(QStringLiteral(":/velmora/") + name);
}

QIcon IconInSizes(const QString& name, std::initializer_list<int> sizes) {
    QIcon icon;
    for (const int size : sizes)
        icon.addPixmap(QPixmap::fromImage(Resource(QStringLiteral("%1_%2.png").arg(name).arg(size))));
    return icon;
}

}  // namespace

QPixmap StateImage(int state) {
    if (state < 0 || state > 4)
        return QPixmap();
    return QPixmap::fromImage(Resource(QStringLiteral("job_states.png")).copy(16 * state, 0, 16, 15));
}

QPixmap ToolbarPixmap(ToolbarImage which, bool hot) {
    const QImage strip = Resource(hot ? QStringLiteral("toolbar_hot.png") : QStringLiteral("toolbar.png"));
    return QPixmap::fromImage(strip.copy(40 * static_cast<int>(which), 0, 40, 20));
}

QIcon ToolbarIcon(ToolbarImage which) {
    QIcon icon;
    icon.addPixmap(ToolbarPixmap(which, false), QIcon::Normal);
    icon.addPixmap(ToolbarPixmap(which, true), QIcon::Active);
    return icon;
}

QIcon TrayIcon(int iconId) {
    if (iconId == IDI_SPOOLER_RUNNING)
        return IconInSizes(QStringLiteral("spooler_running"), {16, 22, 32, 48});
    if (iconId == IDI_SPOOLER_STOPPED)
        return IconInSizes(QStringLiteral("spooler_stopped"), {16, 22, 32, 48});
    return QIcon();
}

QIcon ProgramIcon() {
    return IconInSizes(QStringLiteral("program"), {16, 32, 48});
}

}  // namespace velmora::ui
