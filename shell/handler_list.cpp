// The one place where the registry order is written down. Extension pass and
// content pass both walk this list from the head, so the order decides which
// handler gets a file that more than one could read.
#include "shell/handler_list.h"

#include <new>

#include "archive/arj/arj_handler.h"
#include "archive/cab/cab_reader.h"
#include "archive/lzh/lzh_handler.h"
#include "archive/tar/tar_handlers.h"
#include "archive/zip/zip_handler.h"
#include "core/handler.h"
#include "stream/base64_handler.h"
#include "stream/compress_handler.h"
#include "stream/bzip2_handler.h"
#include "stream/gzip_handler.h"
#include "stream/library_handler.h"
#include "stream/uu_handler.h"
#include "stream/yenc_handler.h"

FormatHandler* CreateHandlerRegistry() {
  FormatHandler* head = nullptr;
  // A handler whose allocation fails is not linked in; the others keep
  // their relative order.
  AppendHandler(&head, new (std::nothrow) TarHandler());          //  1 "tar"
  AppendHandler(&head, new (std::nothrow) TarGzipHandler());      //  2 "gz", "tgz"
  AppendHandler(&head, new (std::nothrow) TarBzip2Handler());     //  3 "bz2", "tbz"
  AppendHandler(&head, new (std::nothrow) TarCompressHandler());  //  4 "Z", "taZ" (exact case)
  AppendHandler(&head, new (std::nothrow) LzhHandler());          //  5 "lzh"
  AppendHandler(&head, new (std::nothrow) ZipHandler());          //  6 "zip"
  AppendHandler(&head, new (std::nothrow) ArjHandler());          //  7 "arj"
  AppendHandler(&head, new (std::nothrow) GzipHandler());         //  8
  AppendHandler(&head, new (std::nothrow) Bzip2Handler());        //  9
  AppendHandler(&head, new (std::nothrow) CompressHandler());     // 10
  AppendHandler(&head, new (std::nothrow) YencHandler());         // 11 "ntx"
  AppendHandler(&head, new (std::nothrow) CabHandler());          // 12
  AppendHandler(&head, new (std::nothrow) Base64Handler());       // 13
  AppendHandler(&head, new (std::nothrow) UuHandler());           // 14
  // The formats of today, read through their libraries, after all the
  // others: TAR inside each, then the single streams (found by content
  // once their TAR handler has refused the file).
  AppendHandler(&head, new (std::nothrow) TarLibraryHandler(LibraryFormat::kXz, "Tar+Xz" EXTRACT_SUFFIX));      // "xz", "txz"
  AppendHandler(&head, new (std::nothrow) TarLibraryHandler(LibraryFormat::kZstd, "Tar+Zstd" EXTRACT_SUFFIX));  // "zst", "tzst"
  AppendHandler(&head, new (std::nothrow) TarLibraryHandler(LibraryFormat::kLzip, "Tar+Lzip" EXTRACT_SUFFIX));  // "lz", "tlz"
  AppendHandler(&head, new (std::nothrow) TarLibraryHandler(LibraryFormat::kLzma, "Tar+Lzma" EXTRACT_SUFFIX));  // "lzma", "tlz"
  AppendHandler(&head, new (std::nothrow) TarLibraryHandler(LibraryFormat::kLz4, "Tar+Lz4" EXTRACT_SUFFIX));    // "lz4", "tlz4"
  AppendHandler(&head, new (std::nothrow) LibraryStreamHandler(LibraryFormat::kXz, "Xz" EXTRACT_SUFFIX));
  AppendHandler(&head, new (std::nothrow) LibraryStreamHandler(LibraryFormat::kZstd, "Zstd" EXTRACT_SUFFIX));
  AppendHandler(&head, new (std::nothrow) LibraryStreamHandler(LibraryFormat::kLzip, "Lzip" EXTRACT_SUFFIX));
  AppendHandler(&head, new (std::nothrow) LibraryStreamHandler(LibraryFormat::kLzma, "Lzma" EXTRACT_SUFFIX));
  AppendHandler(&head, new (std::nothrow) LibraryStreamHandler(LibraryFormat::kLz4, "Lz4" EXTRACT_SUFFIX));
  return head;
}
