#include "app/app_icon.h"

// The resources live in a static library; registering them here makes the
// linker keep them.
static bool InitIconResources() {
  Q_INIT_RESOURCE(krt700_setup);
  return true;
}

namespace krt {

QIcon AppIcon() {
  static const bool registered = InitIconResources();
  (void)registered;
  // Both rendered from resources/krt700-setup.svg.
  QIcon icon;
  icon.addFile(QStringLiteral(":/icons/krt700-setup-32.png"), QSize(32, 32));
  icon.addFile(QStringLiteral(":/icons/krt700-setup.png"), QSize(256, 256));
  return icon;
}

}  // namespace krt
