#include "cab_builder.h"

#include <zlib.h>

#include <algorithm>

#include "archive/cab/cab_reader.h"

namespace cabtest {
namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}
void PutString(std::vector<uint8_t>& v, const std::string& s) {
  v.insert(v.end(), s.begin(), s.end());
  v.push_back(0);
}

}  // namespace

std::vector<uint8_t> Build(const Cabinet& c) {
  std::vector<uint8_t> head;
  uint16_t flags = c.flags | (c.reserve ? 4 : 0);
  // Header, then the sizes of what follows to find the data offsets.
  std::vector<uint8_t> tail;  // reserve sizes, names
  if (c.reserve) {
    Put16(tail, c.headerReserve);
    tail.push_back(c.folderReserve);
    tail.push_back(c.dataReserve);
    tail.insert(tail.end(), c.headerReserve, 0);
  }
  if (flags & 1) PutString(tail, c.previousName), PutString(tail, "disk0");
  if (flags & 2) PutString(tail, c.nextName), PutString(tail, "disk2");
  std::vector<uint8_t> files;
  for (const CabFile& f : c.files) {
    Put32(files, f.size);
    Put32(files, f.offset);
    Put16(files, f.folder);
    Put16(files, 0x3021);  // 2004-01-01
    Put16(files, 0x6000);  // 12:00:00
    Put16(files, f.attributes);
    PutString(files, f.name);
  }
  size_t folderEntries = c.folders.size() * (8 + c.folderReserve);
  uint32_t dataStart = static_cast<uint32_t>(36 + tail.size() + folderEntries + files.size());
  std::vector<uint8_t> folders, data;
  for (const CabFolder& f : c.folders) {
    Put32(folders, dataStart + static_cast<uint32_t>(data.size()));
    Put16(folders, static_cast<uint32_t>(f.blocks.size()));
    Put16(folders, f.type);
    folders.insert(folders.end(), c.folderReserve, 0);
    for (const CabBlock& b : f.blocks) {
      uint8_t sizes[4] = {static_cast<uint8_t>(b.data.size()), static_cast<uint8_t>(b.data.size() >> 8),
                          static_cast<uint8_t>(b.uncompressed), static_cast<uint8_t>(b.uncompressed >> 8)};
      uint32_t sum = BlockChecksum(sizes, 4, BlockChecksum(b.data.data(), b.data.size(), 0));
      Put32(data, b.badChecksum ? b.badChecksum : b.checksum ? sum : 0);
      Put16(data, static_cast<uint32_t>(b.data.size()));
      Put16(data, b.uncompressed);
      data.insert(data.end(), c.dataReserve, 0);
      data.insert(data.end(), b.data.begin(), b.data.end());
    }
  }
  Put32(head, 0x4643534D);  // "MSCF"
  Put32(head, 0);
  Put32(head, dataStart + static_cast<uint32_t>(data.size()));
  Put32(head, 0);
  Put32(head, static_cast<uint32_t>(36 + tail.size() + folderEntries));
  Put32(head, 0);
  head.push_back(c.minor);
  head.push_back(c.major);
  Put16(head, static_cast<uint32_t>(c.folders.size()));
  Put16(head, static_cast<uint32_t>(c.files.size()));
  Put16(head, flags);
  Put16(head, 0x1234);
  Put16(head, 0);
  for (auto* part : {&tail, &folders, &files, &data}) head.insert(head.end(), part->begin(), part->end());
  return head;
}

std::vector<CabBlock> MakeBlocks(int method, const std::vector<uint8_t>& content, const LzxOptions& lzx) {
  std::vector<CabBlock> blocks;
  constexpr size_t kFrame = 32768;
  if (method == 3) {
    auto frames = LzxCompress(content, lzx);
    for (size_t i = 0; i < frames.size(); ++i)
      blocks.push_back({frames[i], static_cast<uint16_t>(std::min(kFrame, content.size() - i * kFrame))});
    return blocks;
  }
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  for (size_t at = 0; at < content.size(); at += kFrame) {
    size_t n = std::min(kFrame, content.size() - at);
    CabBlock b;
    b.uncompressed = static_cast<uint16_t>(n);
    if (method == 0) {
      b.data.assign(content.begin() + at, content.begin() + at + n);
    } else {
      deflateReset(&z);
      if (at > 0) deflateSetDictionary(&z, content.data() + at - kFrame, kFrame);
      b.data.resize(2 + deflateBound(&z, n) + 16);
      b.data[0] = 'C';
      b.data[1] = 'K';
      z.next_in = const_cast<uint8_t*>(content.data() + at);
      z.avail_in = static_cast<uInt>(n);
      z.next_out = b.data.data() + 2;
      z.avail_out = static_cast<uInt>(b.data.size() - 2);
      deflate(&z, Z_FINISH);
      b.data.resize(b.data.size() - z.avail_out);
    }
    blocks.push_back(b);
  }
  deflateEnd(&z);
  return blocks;
}

void SplitBlocks(const std::vector<CabBlock>& blocks, size_t index, size_t at,
                 std::vector<CabBlock>* first, std::vector<CabBlock>* rest) {
  first->assign(blocks.begin(), blocks.begin() + index);
  rest->assign(blocks.begin() + index + 1, blocks.end());
  const CabBlock& b = blocks[index];
  CabBlock head{std::vector<uint8_t>(b.data.begin(), b.data.begin() + at), 0};
  CabBlock tail{std::vector<uint8_t>(b.data.begin() + at, b.data.end()), b.uncompressed};
  first->push_back(head);
  rest->insert(rest->begin(), tail);
}

}  // namespace cabtest
