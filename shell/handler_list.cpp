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

namespace {

// A handler with its format's everyday name (null stays null).
FormatHandler* Named(FormatHandler* handler, const char* formatName) {
  if (handler != nullptr) handler->formatName = formatName;
  return handler;
}

}  // namespace

FormatHandler* CreateHandlerRegistry() {
  FormatHandler* head = nullptr;
  // A handler whose allocation fails is not linked in; the others keep
  // their relative order.
  AppendHandler(&head, Named(new (std::nothrow) TarHandler(), "tar"));            //  1 "tar"
  AppendHandler(&head, Named(new (std::nothrow) TarGzipHandler(), "tar.gz"));     //  2 "gz", "tgz"
  AppendHandler(&head, Named(new (std::nothrow) TarBzip2Handler(), "tar.bz2"));   //  3 "bz2", "tbz"
  AppendHandler(&head, Named(new (std::nothrow) TarCompressHandler(), "tar.Z"));  //  4 "Z", "taZ" (exact case)
  AppendHandler(&head, Named(new (std::nothrow) LzhHandler(), "lzh"));            //  5 "lzh"
  AppendHandler(&head, Named(new (std::nothrow) ZipHandler(), "zip"));            //  6 "zip"
  AppendHandler(&head, Named(new (std::nothrow) ArjHandler(), "arj"));            //  7 "arj"
  AppendHandler(&head, Named(new (std::nothrow) GzipHandler(), "gzip"));          //  8
  AppendHandler(&head, Named(new (std::nothrow) Bzip2Handler(), "bzip2"));        //  9
  AppendHandler(&head, Named(new (std::nothrow) CompressHandler(), "compress"));  // 10
  AppendHandler(&head, Named(new (std::nothrow) YencHandler(), "yenc"));          // 11 "ntx"
  AppendHandler(&head, Named(new (std::nothrow) CabHandler(), "cab"));            // 12
  AppendHandler(&head, Named(new (std::nothrow) Base64Handler(), "base64"));      // 13
  AppendHandler(&head, Named(new (std::nothrow) UuHandler(), "uuencode"));        // 14
  // The formats of today, read through their libraries, after all the
  // others: TAR inside each, then the single streams (found by content
  // once their TAR handler has refused the file).
  AppendHandler(&head, Named(new (std::nothrow) TarLibraryHandler(LibraryFormat::kXz, "Tar+Xz" EXTRACT_SUFFIX),
                             "tar.xz"));  // "xz", "txz"
  AppendHandler(&head, Named(new (std::nothrow) TarLibraryHandler(LibraryFormat::kZstd, "Tar+Zstd" EXTRACT_SUFFIX),
                             "tar.zst"));  // "zst", "tzst"
  AppendHandler(&head, Named(new (std::nothrow) TarLibraryHandler(LibraryFormat::kLzip, "Tar+Lzip" EXTRACT_SUFFIX),
                             "tar.lz"));  // "lz", "tlz"
  AppendHandler(&head, Named(new (std::nothrow) TarLibraryHandler(LibraryFormat::kLzma, "Tar+Lzma" EXTRACT_SUFFIX),
                             "tar.lzma"));  // "lzma", "tlz"
  AppendHandler(&head, Named(new (std::nothrow) TarLibraryHandler(LibraryFormat::kLz4, "Tar+Lz4" EXTRACT_SUFFIX),
                             "tar.lz4"));  // "lz4", "tlz4"
  AppendHandler(&head, Named(new (std::nothrow) LibraryStreamHandler(LibraryFormat::kXz, "Xz" EXTRACT_SUFFIX),
                             "xz"));
  AppendHandler(&head, Named(new (std::nothrow) LibraryStreamHandler(LibraryFormat::kZstd, "Zstd" EXTRACT_SUFFIX),
                             "zstd"));
  AppendHandler(&head, Named(new (std::nothrow) LibraryStreamHandler(LibraryFormat::kLzip, "Lzip" EXTRACT_SUFFIX),
                             "lzip"));
  AppendHandler(&head, Named(new (std::nothrow) LibraryStreamHandler(LibraryFormat::kLzma, "Lzma" EXTRACT_SUFFIX),
                             "lzma"));
  AppendHandler(&head, Named(new (std::nothrow) LibraryStreamHandler(LibraryFormat::kLz4, "Lz4" EXTRACT_SUFFIX),
                             "lz4"));
  return head;
}
