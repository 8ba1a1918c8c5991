// krt700-setup: brings a KRT700 probe up to date and sets up its network
// addresses, in one modal dialog.
#include "app/devarore_app.h"

int main(int argc, char** argv) {
  krt::CDevaroreApp app(argc, argv);
  return app.Run();
}
