#include "shell/main_dialog.h"

#include <cstdio>

// The terminal dialogs are not built yet: without a command line the
// program explains how to call it.
int RunMainDialog() {
  fputs("usage: dorvane ARCHIVE\n"
        "       dorvane '#P(FOLDER)#F(ARCHIVE)'\n"
        "Extracts ARCHIVE into the remembered extract path, or into FOLDER (which is\n"
        "then remembered).\n",
        stderr);
  return 2;
}
