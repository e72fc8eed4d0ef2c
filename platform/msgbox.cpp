// Message boxes. Until a dialog layer installs its handler, a box is text on
// standard error: the caption on a line of its own (when there is one), then
// the text, ending with a line end; the box is answered at once with its
// first positive button.
#include <atomic>
#include <cstdio>
#include <string>

#include "platform/host.h"

namespace {
std::atomic<MessageBoxHandler> g_handler{nullptr};
}

void SetMessageBoxHandler(MessageBoxHandler handler) { g_handler = handler; }

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  if (MessageBoxHandler handler = g_handler.load()) return handler(owner, text, caption, type);
  std::string body = host::ToUtf8(text);
  if (body.empty() || body.back() != '\n') body += '\n';
  std::string out = caption && *caption ? host::ToUtf8(caption) + "\n" + body : body;
  // One write, so a box is never split by other output.
  fwrite(out.data(), 1, out.size(), stderr);
  fflush(stderr);
  UINT buttons = type & 0x0F;
  return buttons == MB_YESNO || buttons == 3 /* MB_YESNOCANCEL */ ? IDYES : IDOK;
}
