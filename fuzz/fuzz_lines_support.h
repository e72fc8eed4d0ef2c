// Shared by the text-decoder fuzz targets (uuencode, Base64, yEnc): memory
// streams, the check that the line reader agrees with ReadTextLine, and a
// handler run whose output must stay inside its folder.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/handler.h"
#include "core/output.h"
#include "harness.h"
#include "stream/line_decoder.h"
#include "stream/text_parts.h"

namespace fuzz {

using namespace text;

// A read stream over the bytes (null for none: fmemopen needs one byte).
inline FILE* OpenMemory(const uint8_t* data, size_t size) {
  return size == 0 ? fopen("/dev/null", "rb")
                   : fmemopen(const_cast<uint8_t*>(data), size, "rb");
}

// TextLineReader must deliver exactly the lines and answers of ReadTextLine.
inline void CheckLineReader(const uint8_t* data, size_t size, int capacity) {
  FILE* a = OpenMemory(data, size);
  FILE* b = OpenMemory(data, size);
  TextLineReader reader(a);
  std::vector<char> expected(capacity), got(capacity);
  for (;;) {
    size_t length = 0;
    const bool delivered = reader.ReadLine(got.data(), capacity, &length);
    const bool referenceDelivered = ReadTextLine(expected.data(), capacity, b) != nullptr;
    if (delivered != referenceDelivered || strcmp(got.data(), expected.data()) != 0 ||
        length != strlen(got.data()) || reader.AtEnd() != (feof(b) != 0)) {
      abort();
    }
    if (!delivered) break;
  }
  fclose(a);
  fclose(b);
}

// Every regular file below `root` (host path), relative to it.
inline void ListFiles(const std::string& root, const std::string& prefix,
                      std::vector<std::string>* files) {
  DIR* d = opendir((root + prefix).c_str());
  if (d == nullptr) return;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    const std::string name = prefix + "/" + e->d_name;
    struct stat st;
    if (lstat((root + name).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      ListFiles(root, name, files);
    } else {
      files->push_back(name);
    }
  }
  closedir(d);
}

// Runs the handler's Probe and Extract on the bytes, stored as `name`, with
// the output folder two levels below the scratch folder; aborts when
// anything but the input appears outside that folder. File system calls are
// slow next to the decoders, so only one input in four (picked by its last
// byte) goes through the handler.
inline void RunHandler(FormatHandler& handler, const char* name, const uint8_t* data,
                       size_t size) {
  if (size == 0 || data[size - 1] % 4 != 0) return;
  const std::string input = WriteInput(name, data, size);
  const std::string out = ScratchFolder() + "/a/out";
  mkdir((ScratchFolder() + "/a").c_str(), 0700);
  mkdir(out.c_str(), 0700);
  memcpy(g_ReadAheadBuffer, data, size < kReadAheadSize ? size : kReadAheadSize);
  const std::string path = ProgramForm(input);
  (void)handler.Probe(path.c_str(), static_cast<int32_t>(size));
  (void)handler.Extract(path.c_str(), ProgramForm(out).c_str());
  text::FinishParts();  // parts are written at the end of a run
  std::vector<std::string> files;
  ListFiles(ScratchFolder(), "", &files);
  for (const std::string& f : files) {
    if (f != std::string("/") + name && f.rfind("/a/out/", 0) != 0) {
      fprintf(stderr, "written outside the output folder: %s\n", f.c_str());
      abort();
    }
  }
  CheckAndClean();
}

}  // namespace fuzz
