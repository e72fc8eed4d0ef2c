// The one place where the registry order is written down. Extension pass and
// content pass both walk this list from the head, so the order decides which
// handler gets a file that more than one could read.
#include "shell/handler_list.h"

#include <new>

#include "archive/tar/tar_handlers.h"
#include "core/handler.h"
#include "stream/compress_handler.h"
#include "stream/gzip_handler.h"
#include "stream/bzip2_handler.h"

FormatHandler* CreateHandlerRegistry() {
  FormatHandler* head = nullptr;
  // A handler whose allocation fails is not linked in; the others keep
  // their relative order.
  AppendHandler(&head, new (std::nothrow) TarHandler());          //  1 "tar"
  AppendHandler(&head, new (std::nothrow) TarGzipHandler());      //  2 "gz", "tgz"
  AppendHandler(&head, new (std::nothrow) TarBzip2Handler());     //  3 "bz2", "tbz"
  AppendHandler(&head, new (std::nothrow) TarCompressHandler());  //  4 "Z", "taZ" (exact case)
  //  5 LzhHandler            "lzh"
  //  6 ZipHandler            "zip"
  //  7 ArjHandler            "arj"
  AppendHandler(&head, new (std::nothrow) GzipHandler());   //  8
  AppendHandler(&head, new (std::nothrow) Bzip2Handler());  //  9
  AppendHandler(&head, new (std::nothrow) CompressHandler());  // 10
  // 11 YencHandler           "ntx"
  // 12 CabHandler
  // 13 Base64Handler
  // 14 UuHandler
  return head;
}
