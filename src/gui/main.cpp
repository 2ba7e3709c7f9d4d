// kestrova-zip-backup: the window program of Kestrova ZIP Backup.
#include "gui/program.h"

int main(int argc, char** argv) {
  return kzb::gui::RunWindowProgram(argc, argv);
}
