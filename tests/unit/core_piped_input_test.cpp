// Piped input read by several streams: each starts at the first byte and
// reads the kept start again; past it only the stream that is where
// descriptor 0 is goes on, and another gets an error, never other bytes.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "core/piped_input.h"

namespace {

std::string ReadAll(FILE* stream) {
  std::string all;
  char piece[1 << 15];
  for (size_t n; (n = fread(piece, 1, sizeof piece, stream)) > 0;) all.append(piece, n);
  return all;
}

TEST(PipedInput, ReadersShareOnlyTheKeptStart) {
  std::string data(3 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 2654435761u >> 13);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::thread writer([&] {
    for (size_t done = 0; done < data.size();) {
      const ssize_t put = write(ends[1], data.data() + done, data.size() - done);
      if (put <= 0) break;
      done += static_cast<size_t>(put);
    }
    close(ends[1]);
  });
  const int saved = dup(STDIN_FILENO);
  dup2(ends[0], STDIN_FILENO);
  close(ends[0]);

  std::string error;
  ASSERT_TRUE(BeginPipedInput(&error)) << error;
  EXPECT_FALSE(PipedInputWhole());
  FILE* probe = OpenPipedInput();
  ASSERT_NE(probe, nullptr);
  EXPECT_NE(fseek(probe, 0, SEEK_END), 0);  // the end is not known yet
  char head[100];
  ASSERT_EQ(fread(head, 1, sizeof head, probe), sizeof head);
  EXPECT_EQ(std::string(head, sizeof head), data.substr(0, sizeof head));
  fclose(probe);

  StopKeepingPipedInput();
  FILE* reader = OpenPipedInput();
  FILE* late = OpenPipedInput();
  EXPECT_TRUE(ReadAll(reader) == data);
  ASSERT_EQ(fseek(reader, 0, SEEK_END), 0);
  EXPECT_EQ(ftell(reader), static_cast<long>(data.size()));
  ASSERT_EQ(fseek(late, 2 << 20, SEEK_SET), 0);
  EXPECT_EQ(fread(head, 1, sizeof head, late), 0u);
  EXPECT_TRUE(ferror(late));
  fclose(reader);
  fclose(late);

  writer.join();
  dup2(saved, STDIN_FILENO);
  close(saved);
}

}  // namespace
