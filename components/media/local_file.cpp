#include "media/local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "media/content_sniffer.h"
#include "media/flv/flv_format.h"
#include "media/flv/walker.h"
#include "media/flv_index.h"
#include "media/handle_source.h"
#include "media/mkv/tracks.h"
#include "media/mp4/walker.h"

namespace local_file {
namespace {

constexpr int kTagHeaderBytes = 11;
// Enough tags to tell a writer's habit from one damaged spot, and few enough
// to cost a handful of small reads.
constexpr int kTagsToCheck = 16;
// Enough of the start to tell any format this player knows of.
constexpr qint64 kHeadBytes = 4096;

bool ReadAt(const FileHandle& file, qint64 offset, char* data, qint64 size) {
  return file.ReadAt(offset, data, size) == size;
}

// An audio, video or script tag with no reserved bits set and stream id 0.
bool LooksLikeTagHeader(const std::array<char, kTagHeaderBytes>& h) {
  const auto flags = static_cast<uchar>(h[0]);
  const int type = flags & 0x1f;
  return (flags & 0xc0) == 0 && (type == 8 || type == 9 || type == 18) && h[8] == 0 && h[9] == 0 &&
         h[10] == 0;
}

quint32 Uint24(const char* p) { return qFromBigEndian<quint32>(p) >> 8; }

QString NotRegular(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return QStringLiteral("it is a folder, not a video file");
  return QStringLiteral("it is not a regular file");
}

// Hides what the engine must not parse, and, when the player tells the
// engine the file's length and index itself, the file's own onMetaData,
// whose claims would otherwise be read after the player's.
void Prepare(Inspection& result) {
  std::vector<flv_reader::HiddenTag> hidden = flv_reader::ScriptTagsToHide(result.facts);
  if (!result.prefix.isEmpty() && result.facts.scripts.metadata.hideMark) {
    hidden.push_back(*result.facts.scripts.metadata.hideMark);
  }
  for (const flv_reader::HiddenTag& tag : hidden) {
    result.patches.emplace_back(tag.patchOffset, char(tag.replacement));
  }
  // Once each: a file may start with a hundred thousand of them.
  std::sort(result.patches.begin(), result.patches.end());
  result.patches.erase(std::unique(result.patches.begin(), result.patches.end()),
                       result.patches.end());
}

// A file in either modern way of writing FLV goes to the engine as
// Matroska; any other plays as it always did.
void ModernView(Inspection& result, const std::shared_ptr<FileHandle>& file) {
  auto source = std::make_shared<HandleSource>(file);
  const int64_t dataStart =
      std::max<int64_t>(result.facts.file.header.dataOffset, flv_reader::kFileHeaderBytes) + 4;
  const mkv::Routes routes = mkv::FindRoutes(*source, dataStart, result.facts);
  if (!routes.modern) return;
  result.matroska = mkv::FileView::Make(source, result.facts, routes);
  if (routes.video.present) result.unplayableVideo = routes.video.why;
  if (routes.audio.present) result.unplayableAudio = routes.audio.why;
  if (!result.matroska) {
    std::string why = result.unplayableVideo;
    if (!why.empty() && !result.unplayableAudio.empty()) why += "; ";
    why += result.unplayableAudio;
    result.error =
        why.empty()
            ? QStringLiteral("it holds no picture or sound this player can play")
            : QStringLiteral("nothing in it can be played (%1)").arg(QString::fromStdString(why));
    return;
  }
  // The view gives the engine its own Cues and makes its bytes from the
  // tags: no lead, no prefix, no patches, no cuts.
  result.prefix.clear();
  result.realStart = 0;
  result.patches.clear();
  result.cuts.clear();
  result.seekLead = 0;
}

}  // namespace

bool PreviousTagSizesWrong(const FileHandle& file) {
  char header[9];
  if (!ReadAt(file, 0, header, sizeof header) || std::memcmp(header, "FLV", 3) != 0) return false;
  const quint32 dataOffset = qFromBigEndian<quint32>(header + 5);
  if (dataOffset < sizeof header) return false;

  // Walks the chain of tags by their own sizes. A tag counts when the next
  // one is where its size says; its PreviousTagSize then either agrees or not.
  qint64 tagAt = qint64{dataOffset} + 4;
  std::array<char, kTagHeaderBytes> tag{};
  if (!ReadAt(file, tagAt, tag.data(), tag.size()) || !LooksLikeTagHeader(tag)) return false;
  int chained = 0, agreeing = 0;
  while (chained < kTagsToCheck) {
    const quint32 bodySize = Uint24(tag.data() + 1);
    const qint64 sizeAt = tagAt + kTagHeaderBytes + bodySize;
    char previousSize[4];
    std::array<char, kTagHeaderBytes> next{};
    if (!ReadAt(file, sizeAt, previousSize, 4) ||
        !ReadAt(file, sizeAt + 4, next.data(), next.size()) || !LooksLikeTagHeader(next)) {
      break;
    }
    ++chained;
    if (qFromBigEndian<quint32>(previousSize) == bodySize + kTagHeaderBytes) ++agreeing;
    tagAt = sizeAt + 4;
    tag = next;
  }
  // One wrong field is damage the demuxer's own resync handles; a chain with
  // not one right field is a writer that got them all wrong.
  return chained >= 2 && agreeing == 0;
}

Inspection Inspect(const QByteArray& path, std::chrono::milliseconds walkBudget,
                   qint64 indexFromBytes) {
  Inspection result;
  // Non-blocking, so that opening a FIFO does not wait for a writer; the
  // descriptor is checked before anything is read from it.
  const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    result.error = QString::fromLocal8Bit(std::strerror(errno));
    return result;
  }
  auto file = std::make_shared<FileHandle>(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    result.error = QString::fromLocal8Bit(std::strerror(errno));
    return result;
  }
  if (!S_ISREG(info.st_mode)) {
    result.error = NotRegular(info);
    return result;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

  QByteArray head(kHeadBytes, Qt::Uninitialized);
  const qint64 got = file->ReadAt(0, head.data(), head.size());
  if (got < 0) {
    result.error = QString::fromLocal8Bit(std::strerror(errno));
    return result;
  }
  head.truncate(got);
  const qint64 size = file->Size();
  const content_sniffer::Kind kind = content_sniffer::Classify(head, size);
  switch (kind) {
    case content_sniffer::Kind::kFlv: {
      result.format = Format::kFlv;
      result.previousTagSizesWrong = PreviousTagSizesWrong(*file);
      result.watch = std::make_shared<FlvWatch>(file);
      bool whole = result.watch->WalkFor(walkBudget);
      // A file that starts with nothing but script data is read up to its
      // first picture or sound: what hides the script data from the engine
      // must be known before the engine reads it.
      if (!whole && !result.watch->MediaSeen()) {
        whole = result.watch->WalkToMedia(kScriptStartBudget);
      }
      result.cuts = flv_index::NoTagStretches(result.watch->Facts());
      if (whole) {
        result.facts = result.watch->Facts();
        const bool index = flv_index::IndexWorthGiving(result.facts, indexFromBytes);
        result.prefix = flv_index::Prefix(result.facts, index, result.cuts);
        result.realStart = flv_index::RealStart(result.facts);
        result.seekLead = index ? flv_index::SeekLeadSeconds(result.facts) : 0;
      } else {
        // What is known of the start of a long file, with its end; the
        // engine has the file's own index, if any, and needs the lead.
        result.facts = result.watch->QuickFacts();
        result.seekLead = flv_index::SeekLeadSeconds(result.facts);
        for (const flv_reader::HiddenTag& tag :
             flv_reader::ScriptTagsToHide(result.watch->Facts())) {
          result.patches.emplace_back(tag.patchOffset, char(tag.replacement));
        }
      }
      Prepare(result);
      ModernView(result, file);
      if (!result.error.isEmpty()) return result;
      break;
    }
    case content_sniffer::Kind::kMp4: {
      result.format = Format::kMp4;
      const flv_reader::FileSource source(fd);
      result.mp4 = mp4_reader::Walk(source);
      if (result.mp4.refusal != mp4_reader::Refusal::kNone) {
        result.error = QString::fromStdString(result.mp4.refusalText);
        return result;
      }
      result.engineEnd = mp4_reader::EngineEnd(result.mp4);
      break;
    }
    case content_sniffer::Kind::kFlvHeaderOnly: {
      // Refused, and still read: what is there is told.
      const flv_reader::FileSource source(fd);
      result.facts = flv_reader::WalkAll(source);
      result.error = content_sniffer::Refusal(kind, head, size);
      return result;
    }
    case content_sniffer::Kind::kOther:
      result.error = content_sniffer::Refusal(kind, head, size);
      return result;
  }
  result.file = std::move(file);
  return result;
}

}  // namespace local_file
