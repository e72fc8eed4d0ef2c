// The one place where the registry order is written down. Extension pass and
// content pass both walk this list from the head, so the order decides which
// handler gets a file that more than one could read.
#include "shell/handler_list.h"

#include <new>

#include "archive/arj/arj_handler.h"
#include "archive/cab/cab_reader.h"
#include "core/handler.h"
#include "archive/lzh/lzh_handler.h"
#include "stream/gzip_handler.h"
#include "stream/bzip2_handler.h"

FormatHandler* CreateHandlerRegistry() {
  FormatHandler* head = nullptr;
  // A handler whose allocation fails is not linked in; the others keep
  // their relative order.
  //  1 TarHandler            "tar"
  //  2 TarGzipHandler        "gz", "tgz"
  //  3 TarBzip2Handler       "bz2", "tbz"
  //  4 TarCompressHandler    "Z", "taZ" (exact case)
  AppendHandler(&head, new (std::nothrow) LzhHandler());    //  5 "lzh"
  //  6 ZipHandler            "zip"
  AppendHandler(&head, new (std::nothrow) ArjHandler());    //  7 "arj"
  AppendHandler(&head, new (std::nothrow) GzipHandler());   //  8
  AppendHandler(&head, new (std::nothrow) Bzip2Handler());  //  9
  // 10 CompressHandler
  // 11 YencHandler           "ntx"
  AppendHandler(&head, new (std::nothrow) CabHandler());    // 12
  // 13 Base64Handler
  // 14 UuHandler
  return head;
}
