// The GUI tests' entry: the one application object of the program, then the
// tests. Offscreen unless the environment names another platform.
#include <gmock/gmock.h>
#include <stdlib.h>

#include "app/devarore_app.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  krt::CDevaroreApp app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
