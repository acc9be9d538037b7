#include "ui/PelvarIcon.h"

// Resources of a static library must be registered by name, outside any namespace.
static void RegisterPelvarResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(pelvar);
        return true;
    }();
    (void)registered;
}

namespace pelvar {

QIcon PelvarIcon()
{
    RegisterPelvarResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/pelvar/icons/pelvar-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

} // namespace pelvar
