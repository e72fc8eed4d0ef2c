#include "stream/text_parts.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "core/checksum.h"
#include "core/handler.h"
#include "core/member_output.h"

namespace text {

namespace {

struct Parts {
  FILE* spool = nullptr;
  std::vector<PartRecord> records;
};

Parts& RunParts() {
  static Parts parts;
  return parts;
}

// "2", "2 and 4", "2, 4 and 5" (numbers ascending).
std::string NumberList(const std::vector<unsigned>& numbers) {
  std::string text;
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) text += i + 1 == numbers.size() ? " and " : ", ";
    text += std::to_string(numbers[i]);
  }
  return text;
}

// Names a file that is not written because parts of it are missing.
void NameMissing(const std::string& name, const std::vector<unsigned>& missing, unsigned total) {
  MemberNotice(name.c_str(), "%s %s of %u missing; not written", missing.size() == 1 ? "part" : "parts",
               NumberList(missing).c_str(), total);
  ++g_ResultCounters.failed;
}

// Writes the parts, in this order, as one member; each part's own CRC
// is checked on the way. Counted as FAILED when the member fails.
void WriteWhole(const std::string& name, const std::string& folder, const std::vector<const PartRecord*>& parts,
                uint64_t size, bool hasCrc, uint32_t crc) {
  ResetArchiveOutcome();
  {
    MemberOutput out(folder.c_str());
    MemberInfo info;
    info.name = name.c_str();
    info.size = size;
    info.checksum = ChecksumKind::kCrc32;
    info.hasStoredChecksum = hasCrc;
    info.storedChecksum = crc;
    if (out.Begin(info)) {
      char reason[160];
      reason[0] = '\0';
      for (size_t i = 0; i < parts.size(); ++i) {
        const PartRecord* part = parts[i];
        const unsigned number = part->number != 0 ? part->number : unsigned(i) + 1;
        if (part->damaged) {
          snprintf(reason, sizeof reason, "part %u is cut short or damaged; not written", number);
          break;
        }
        uint32_t partCrc = 0;
        if (!CopyFromSpool(part->spoolOffset, part->length, out, &partCrc)) {
          if (!out.Failed()) snprintf(reason, sizeof reason, "its collected parts cannot be read back; not written");
          break;
        }
        if (part->hasPartCrc && partCrc != part->partCrc) {
          snprintf(reason, sizeof reason, "part %u: checksum error (stored %08" PRIx32 ", computed %08" PRIx32 "); not written",
                   number, part->partCrc, partCrc);
          break;
        }
      }
      if (reason[0] != '\0') {
        out.Fail(reason);
      } else {
        out.End(MemberEnd::kComplete);
      }
    }
  }
  if (g_ArchiveOutcome.failed) ++g_ResultCounters.failed;
}

// yEnc: the parts of one name, placed by their offsets.
void FinishYenc(std::vector<const PartRecord*> parts) {
  const PartRecord& first = *parts.front();
  std::sort(parts.begin(), parts.end(), [](const PartRecord* a, const PartRecord* b) { return a->begin < b->begin; });
  // A part posted twice counts once.
  parts.erase(std::unique(parts.begin(), parts.end(),
                          [](const PartRecord* a, const PartRecord* b) { return a->begin == b->begin; }),
              parts.end());
  uint64_t size = 0, partSize = 0;
  unsigned total = 0;
  bool hasCrc = false;
  uint32_t crc = 0;
  for (const PartRecord* p : parts) {
    size = std::max(size, p->fileSize);
    total = std::max(total, p->total);
    if (p->hasCrc) hasCrc = true, crc = p->crc;
  }
  // A whole part's size: that of a part before the last, or what the parts
  // before a later one took.
  for (const PartRecord* p : parts) {
    if (p->end >= p->begin && p->end < size) partSize = std::max(partSize, p->end - p->begin + 1);
    if (partSize == 0 && p->number > 1 && p->begin > 1) partSize = (p->begin - 1) / (p->number - 1);
  }
  // The parts must tile the file from its first byte to its last.
  uint64_t next = 1;
  bool whole = true;
  for (const PartRecord* p : parts) {
    if (p->begin != next || p->end < p->begin) whole = false;
    next = p->end + 1;
  }
  if (whole && size != 0 && next == size + 1) {
    WriteWhole(first.name, first.folder, parts, size, hasCrc, crc);
    return;
  }
  // Without total= the parts are numbered by the size of a whole part.
  if (total == 0 && partSize != 0) total = unsigned(std::min<uint64_t>((size + partSize - 1) / partSize, 100000));
  std::vector<unsigned> missing;
  for (unsigned n = 1; n <= total; ++n) {
    const bool present = std::any_of(parts.begin(), parts.end(), [&](const PartRecord* p) {
      return p->number == n || (p->number == 0 && partSize != 0 && (p->begin - 1) / partSize + 1 == n);
    });
    if (!present) missing.push_back(n);
  }
  if (missing.empty()) {  // numbers all there, yet the offsets do not fit
    MemberNotice(first.name.c_str(), "its parts do not fit together; not written");
    ++g_ResultCounters.failed;
    return;
  }
  NameMissing(first.name, missing, total);
}

// Numbered uuencoded parts of one name.
void FinishNumbered(std::vector<const PartRecord*> parts) {
  std::sort(parts.begin(), parts.end(), [](const PartRecord* a, const PartRecord* b) { return a->number < b->number; });
  parts.erase(std::unique(parts.begin(), parts.end(),
                          [](const PartRecord* a, const PartRecord* b) { return a->number == b->number; }),
              parts.end());
  unsigned total = 0;
  std::string name = parts.front()->name;
  for (const PartRecord* p : parts) total = std::max(total, p->total);
  std::vector<unsigned> missing;
  size_t at = 0;
  for (unsigned n = 1; n <= total; ++n) {
    if (at < parts.size() && parts[at]->number == n) {
      ++at;
    } else {
      missing.push_back(n);
    }
  }
  if (!missing.empty()) return NameMissing(name, missing, total);
  WriteWhole(name, parts.front()->folder, parts, kUnknownSize, false, 0);
}

// The place of a split piece: its file name's tail after the part all
// pieces share, read as a number ("00", "01") or in letters ("aa", "ab").
bool PieceIndex(const std::string& tail, uint64_t* index) {
  if (tail.empty() || tail.size() > 8) return false;
  const bool digits = std::all_of(tail.begin(), tail.end(), [](char c) { return c >= '0' && c <= '9'; });
  const bool letters = std::all_of(tail.begin(), tail.end(), [](char c) { return c >= 'a' && c <= 'z'; });
  if (!digits && !letters) return false;
  *index = 0;
  for (char c : tail) *index = *index * (digits ? 10 : 26) + uint64_t(digits ? c - '0' : c - 'a');
  return true;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A "begin" section that stopped without "end", with the split pieces of
// its folder whose names differ from its own only in their tails.
void FinishSplit(const PartRecord& first, std::vector<PartRecord*>& pieces) {
  std::vector<const PartRecord*> group{&first};
  for (PartRecord* piece : pieces) {
    if (piece->kind == PartKind::kUuPiece && FolderOf(piece->path) == FolderOf(first.path) &&
        piece->path.size() == first.path.size())
      group.push_back(piece);
  }
  if (group.size() == 1) {
    // Nothing continues it: the text was cut.
    ResetArchiveOutcome();
    {
      MemberOutput out(first.folder.c_str());
      MemberInfo info;
      info.name = first.name.c_str();
      if (out.Begin(info)) {
        uint32_t crc = 0;
        (void)CopyFromSpool(first.spoolOffset, first.length, out, &crc);
        out.End(first.damaged ? MemberEnd::kDamaged : MemberEnd::kTruncated);
      }
    }
    if (g_ArchiveOutcome.failed) ++g_ResultCounters.failed;
    return;
  }
  size_t shared = first.path.size();
  for (const PartRecord* p : group) {
    size_t n = 0;
    while (n < shared && p->path[n] == first.path[n]) ++n;
    shared = n;
  }
  std::vector<std::pair<uint64_t, const PartRecord*>> ordered;
  for (const PartRecord* p : group) {
    uint64_t index = 0;
    if (!PieceIndex(p->path.substr(shared), &index)) continue;
    ordered.emplace_back(index, p);
  }
  std::sort(ordered.begin(), ordered.end());
  // Taken by this file: not left over as pieces of nothing.
  for (auto& [index, p] : ordered) {
    for (PartRecord*& piece : pieces)
      if (piece == p) piece = nullptr;
  }
  pieces.erase(std::remove(pieces.begin(), pieces.end(), nullptr), pieces.end());
  if (ordered.empty() || ordered.front().second != &first) {
    MemberNotice(first.name.c_str(), "its split pieces cannot be put in order; not written");
    ++g_ResultCounters.failed;
    return;
  }
  const uint64_t base = ordered.front().first;
  std::vector<unsigned> missing;
  std::vector<const PartRecord*> inOrder;
  uint64_t expected = base;
  unsigned total = 0;
  for (auto& [index, p] : ordered) {
    if (index < expected) continue;  // the same piece twice
    while (expected < index && missing.size() < 1000) missing.push_back(unsigned(++expected - base));
    expected = index + 1;
    inOrder.push_back(p);
    if (p->last) {
      total = unsigned(index - base + 1);
      break;
    }
  }
  if (total == 0) {
    MemberNotice(first.name.c_str(), "the piece holding its end line is missing; not written");
    ++g_ResultCounters.failed;
    return;
  }
  if (!missing.empty()) return NameMissing(first.name, missing, total);
  WriteWhole(first.name, first.folder, inOrder, kUnknownSize, false, 0);
}

}  // namespace

FILE* PartSpool() {
  Parts& parts = RunParts();
  if (parts.spool == nullptr) parts.spool = tmpfile();
  if (parts.spool != nullptr && fseek(parts.spool, 0, SEEK_END) != 0) return nullptr;
  return parts.spool;
}

void AddPart(PartRecord record) {
  Parts& parts = RunParts();
  fflush(parts.spool);
  const long end = parts.spool != nullptr && fseek(parts.spool, 0, SEEK_END) == 0 ? ftell(parts.spool) : -1;
  record.length = end > record.spoolOffset ? uint64_t(end - record.spoolOffset) : 0;
  parts.records.push_back(std::move(record));
}

PartRecord& LastPart() { return RunParts().records.back(); }

void DropLastPart() { RunParts().records.pop_back(); }

bool CopyFromSpool(long offset, uint64_t length, MemberOutput& out, uint32_t* crc) {
  FILE* spool = RunParts().spool;
  if (spool == nullptr || fseek(spool, offset, SEEK_SET) != 0) return false;
  static uint8_t buffer[64 * 1024];
  for (uint64_t left = length; left > 0;) {
    const size_t n = fread(buffer, 1, std::min<uint64_t>(left, sizeof buffer), spool);
    if (n == 0) return false;
    *crc = Crc32Update(*crc, buffer, n);
    if (!out.Write(buffer, n)) return false;
    left -= n;
  }
  return true;
}

void FinishParts() {
  Parts& parts = RunParts();
  std::vector<PartRecord*> pieces;
  std::vector<bool> done(parts.records.size());
  for (size_t i = 0; i < parts.records.size(); ++i)
    if (parts.records[i].kind == PartKind::kUuPiece) pieces.push_back(&parts.records[i]), done[i] = true;
  for (size_t i = 0; i < parts.records.size(); ++i) {
    if (done[i]) continue;
    const PartRecord& first = parts.records[i];
    if (first.kind == PartKind::kUuFirst) {
      done[i] = true;
      FinishSplit(first, pieces);
      continue;
    }
    // The parts of one file, in the order they were met.
    std::vector<const PartRecord*> group;
    for (size_t j = i; j < parts.records.size(); ++j) {
      if (!done[j] && parts.records[j].kind == first.kind && parts.records[j].name == first.name) {
        group.push_back(&parts.records[j]);
        done[j] = true;
      }
    }
    if (first.kind == PartKind::kYenc) {
      FinishYenc(group);
    } else {
      FinishNumbered(group);
    }
  }
  for (const PartRecord* piece : pieces) {
    MemberNotice(piece->path.c_str(), "a piece of uuencoded text whose first piece was not given; not written");
    ++g_ResultCounters.failed;
  }
  parts.records.clear();
  if (parts.spool != nullptr) fclose(parts.spool);
  parts.spool = nullptr;
}

}  // namespace text
