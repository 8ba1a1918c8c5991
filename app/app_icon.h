// The program's icon (resource 128): the window icon of both dialogs and the
// picture in the About box.
#pragma once

#include <QIcon>

namespace krt {

QIcon AppIcon();

}  // namespace krt
