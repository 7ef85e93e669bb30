#include "media/kxImageCopy.h"

#include "common/kxShared.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kx {

namespace {

class TFilePart final : public TkxPartStream {
 public:
  explicit TFilePart(const std::string& FileName) : File(FileName) {}
  void WriteBuffer(const void* Buffer, std::int64_t Count) override { File.WriteBuffer(Buffer, Count); }
  void Close() override { File.Close(); }

 private:
  TkxFileStream File;
};

// Part files after Last that an earlier, longer image left behind would be joined to this image
// by the reader, which takes every consecutive part that exists and is not a folder. A folder of
// such a name ends the reader's series, so it ends this one too and is never removed; anything
// else that is not a regular file is not ours to delete, and is reported.
void RemoveLaterParts(const std::string& FileName, int Last, TkxImageCopyResult& Result)
{
  namespace fs = std::filesystem;
  for (int k = Last + 1;; ++k) {
    const std::string name = PartFileName(FileName, k);
    std::error_code ec;
    const fs::file_status st = fs::status(name, ec);
    if (!fs::exists(st) || fs::is_directory(st)) return;
    if (!fs::is_regular_file(st)) {
      Result.Error = "\"" + name + "\", left from an earlier image, is not a regular file and is not removed; "
                     "the image reader would take it for a further part.";
      Result.Complete = false;
      return;
    }
    // A symbolic link to a file goes, not the file it points to.
    if (!fs::remove(name, ec) || ec) {
      Result.Error = "Cannot remove \"" + name + "\", left from an earlier image: " + ec.message();
      Result.Complete = false;
      return;
    }
  }
}

// Reads the chunk of N sectors from Next into Block, zeros where the medium cannot deliver, and
// counts those sectors. False when the copy must end: the disc was changed (Error), or a stop
// came between the commands of the chunk (Stopped).
bool ReadChunk(TkxDisk& Disk, TkxTransferBuffer& Block, std::int32_t N, std::int64_t Next, TkxImageCopyResult& Result)
{
  const std::int64_t ss = Disk.SectorSize;
  const std::int64_t bytes = N * ss;
  // Cleared before every read so that whatever the medium cannot deliver is written as zeros.
  std::fill_n(Block.begin(), bytes, std::uint8_t{0});
  std::int64_t got = 0;
  try {
    got = std::clamp<std::int64_t>(Disk.ReadSectors(Block.data(), N, Next), 0, bytes);
  } catch (const EkxMediumChanged& e) {
    // Going on would fill the rest of the image from another disc and call it complete.
    Result.Error = e.what();
    return false;
  } catch (const EkxStopped&) {
    Result.Stopped = true;
    return false;
  } catch (const EkxIOError&) {
    got = 0;
  }
  Result.UnreadableSectors += (bytes - got + ss - 1) / ss;
  return true;
}

}  // namespace

std::unique_ptr<TkxPartStream> CreatePartFile(const std::string& FileName)
{
  return std::make_unique<TFilePart>(FileName);
}

std::string ImageTargetError(const std::string& Target)
{
  if (Target.empty()) return "No image file name was given.";
  const auto isDelimiter = [](char c) { return c == PathDelimiter || c == '/'; };
  std::error_code ec;
  if (!isDelimiter(Target.back()) && !std::filesystem::is_directory(Target, ec) &&
      !std::filesystem::is_directory(AddDefaultExt(Target, ".iso"), ec))
    return {};
  std::string folder = Target;
  while (folder.size() > 1 && isDelimiter(folder.back())) folder.pop_back();
  if (!isDelimiter(folder.back())) folder += PathDelimiter;
  const std::string example = folder + "disc.iso";
  return "\"" + Target + "\" names a folder, not an image file; give a file name, such as \"" + example + "\".";
}

std::string ImageCopySourceText(char DriveLetter, const std::string& FileName)
{
  return std::string("Source: '") + DriveLetter + ":', target: '" + FileName + "'";
}

std::string ImageCopyProgressText(std::int64_t SectorsDone, std::int64_t SectorCount, std::int32_t SectorSize)
{
  const std::int64_t megabytes = (std::int64_t{SectorSize} * SectorCount) >> 20;
  return std::to_string(SectorsDone) + "/" + std::to_string(SectorCount) + " sectors (" + std::to_string(megabytes) +
         " MB)";
}

std::string ImageCopyEndText(const TkxImageCopyResult& Result)
{
  if (!Result.Error.empty()) return " - Failed";
  std::string text = " - Complete";
  if (Result.UnreadableSectors > 0)
    text += ", " + std::to_string(Result.UnreadableSectors) + " unreadable sector" +
            (Result.UnreadableSectors == 1 ? "" : "s") + " written as zeros";
  return text;
}

TkxImageCopyResult CopyDiskToImage(TkxDisk& Disk, const std::string& FileName,
                                   const TkxImageCopyOptions& Options)
{
  TkxImageCopyResult result;
  const std::int64_t ss = Disk.SectorSize;
  TkxTransferBuffer block(static_cast<std::size_t>(ImageCopyChunkSectors * ss));

  std::unique_ptr<TkxPartStream> part;
  try {
    part = Options.CreatePart(FileName);
  } catch (const EkxIOError& e) {
    result.Error = e.what();
    return result;
  }
  result.Parts = 1;

  std::int64_t partBytes = 0;
  std::int64_t next = 0;
  std::int64_t remaining = Disk.SectorCount;
  // Between the commands of one chunk, of which a damaged disc may need many.
  Disk.Interrupted = Options.StopRequested;
  while (remaining > 0) {
    if (Options.StopRequested && Options.StopRequested()) {
      result.Stopped = true;
      break;
    }
    if (Options.PauseGate != nullptr) {
      Options.PauseGate->WaitWhilePaused();
      // A stop is requested by resuming a paused copy first; it must not copy one more chunk.
      if (Options.StopRequested && Options.StopRequested()) {
        result.Stopped = true;
        break;
      }
    }
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(remaining, ImageCopyChunkSectors));
    const std::int64_t bytes = n * ss;
    if (!ReadChunk(Disk, block, n, next, result)) break;

    try {
      part->WriteBuffer(block.data(), bytes);
    } catch (const EkxIOError& e) {
      result.Error = e.what();
      break;
    }
    partBytes += bytes;
    next += n;
    remaining -= n;
    result.SectorsDone += n;

    if (partBytes >= Options.PartSize) {
      try {
        part->Close();
        part = Options.CreatePart(PartFileName(FileName, result.Parts + 1));
      } catch (const EkxIOError& e) {
        part.reset();
        result.Error = e.what();
        break;
      }
      ++result.Parts;
      partBytes = 0;
    }
    if (Options.Progress) Options.Progress(result.SectorsDone);
  }

  Disk.Interrupted = nullptr;
  if (part) {
    try {
      part->Close();
    } catch (const EkxIOError& e) {
      if (result.Error.empty()) result.Error = e.what();
    }
  }
  result.Complete = remaining == 0 && result.Error.empty();
  if (result.Complete) RemoveLaterParts(FileName, result.Parts, result);
  return result;
}

}  // namespace kx
