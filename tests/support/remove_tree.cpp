#include "support/remove_tree.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace testutil {

void RemoveTree(const std::string& path, bool keepTop) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    if (DIR* d = opendir(path.c_str())) {
      while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        RemoveTree(path + "/" + e->d_name, false);
      }
      closedir(d);
    }
    if (!keepTop) rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

}  // namespace testutil
