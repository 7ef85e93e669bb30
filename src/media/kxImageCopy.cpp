// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/kxImageCopy.h"

#include "common/kxShared.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

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
      Result.Outcome = TkxJobOutcome::Failed("\"" + name +
                                             "\", left from an earlier image, is not a regular file and is not "
                                             "removed; the image reader would take it for a further part.");
      Result.Complete = false;
      return;
    }
    // A symbolic link to a file goes, not the file it points to.
    if (!fs::remove(name, ec) || ec) {
      Result.Outcome = TkxJobOutcome::Failed("Cannot remove \"" + name + "\", left from an earlier image: " + ec.message());
      Result.Complete = false;
      return;
    }
  }
}

// One copy between two chunks: the transfer block, the part being written and what was done.
class TCopier {
 public:
  TCopier(TkxDisk& Disk_, const std::string& FileName_, const TkxImageCopyOptions& Options_)
      : Disk(Disk_), FileName(FileName_), Options(Options_),
        Block(static_cast<std::size_t>(ImageCopyChunkSectors * std::int64_t{Disk_.SectorSize}))
  {
  }

  TkxImageCopyResult Copy();

 private:
  bool CopyChunk(std::int64_t First, std::int32_t Count);
  bool NextPartWhenFull();
  void ClosePart();

  TkxDisk& Disk;
  const std::string& FileName;
  const TkxImageCopyOptions& Options;
  TkxTransferBuffer Block;
  std::unique_ptr<TkxPartStream> Part;
  std::int64_t PartBytes = 0;
  TkxImageCopyResult Result;
};

TkxImageCopyResult TCopier::Copy()
{
  try {
    Part = Options.CreatePart(FileName);
  } catch (const EkxIOError& e) {
    Result.Outcome = TkxJobOutcome::Failed(e.what());
    return Result;
  }
  Result.Parts = 1;

  std::int64_t next = 0;
  std::int64_t remaining = Disk.SectorCount;
  while (remaining > 0) {
    if (Options.Control != nullptr && Options.Control->ShouldStop()) {
      Result.Outcome = TkxJobOutcome::Stopped();
      break;
    }
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(remaining, ImageCopyChunkSectors));
    if (!CopyChunk(next, n)) break;
    next += n;
    remaining -= n;
    Result.SectorsDone += n;
    if (!NextPartWhenFull()) break;
    if (Options.Progress) Options.Progress(Result.SectorsDone);
  }

  ClosePart();
  Result.Complete = remaining == 0 && !Result.Outcome.IsFailed();
  if (Result.Complete) RemoveLaterParts(FileName, Result.Parts, Result);
  return Result;
}

// Reads Count sectors from First and writes them to the part; false, with the outcome set, when
// the copy must end.
bool TCopier::CopyChunk(std::int64_t First, std::int32_t Count)
{
  const std::int64_t ss = Disk.SectorSize;
  const std::int64_t bytes = Count * ss;
  // Cleared before every read so that whatever the medium cannot deliver is written as zeros.
  std::fill_n(Block.begin(), bytes, std::uint8_t{0});
  std::int64_t got = 0;
  try {
    // Asked between the commands of one chunk too, of which a damaged disc may need many.
    got = std::clamp<std::int64_t>(Disk.ReadSectors(Block.data(), Count, First, {.Control = Options.Control}), 0,
                                   bytes);
  } catch (const EkxMediumChanged& e) {
    // Going on would fill the rest of the image from another disc and call it complete.
    Result.Outcome = TkxJobOutcome::Failed(e.what());
    return false;
  } catch (const EkxStopped&) {
    // A stop came between the commands of the chunk: nothing of it is written.
    Result.Outcome = TkxJobOutcome::Stopped();
    return false;
  } catch (const EkxIOError&) {
    got = 0;
  }
  Result.UnreadableSectors += (bytes - got + ss - 1) / ss;
  try {
    Part->WriteBuffer(Block.data(), bytes);
  } catch (const EkxIOError& e) {
    Result.Outcome = TkxJobOutcome::Failed(e.what());
    return false;
  }
  PartBytes += bytes;
  return true;
}

bool TCopier::NextPartWhenFull()
{
  if (PartBytes < Options.PartSize) return true;
  try {
    Part->Close();
    Part = Options.CreatePart(PartFileName(FileName, Result.Parts + 1));
  } catch (const EkxIOError& e) {
    Part.reset();
    Result.Outcome = TkxJobOutcome::Failed(e.what());
    return false;
  }
  ++Result.Parts;
  PartBytes = 0;
  return true;
}

void TCopier::ClosePart()
{
  if (!Part) return;
  try {
    Part->Close();
  } catch (const EkxIOError& e) {
    if (!Result.Outcome.IsFailed()) Result.Outcome = TkxJobOutcome::Failed(e.what());
  }
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

TkxImageTarget ResolveImageTarget(const std::string& Typed)
{
  TkxImageTarget target;
  target.Error = ImageTargetError(Typed);
  const TkxTypedName name = TypedFileName(Typed, ".iso");
  target.FileName = name.FileName;
  target.AskReplace = target.Error.empty() && name.AskReplace;
  return target;
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
  return Result.Outcome.IsFailed() ? " - Failed" : " - Complete";
}

std::string ImageCopyEndFigures(const TkxImageCopyResult& Result, std::int64_t SectorCount, std::int32_t SectorSize)
{
  if (Result.UnreadableSectors == 0) return ImageCopyProgressText(Result.SectorsDone, SectorCount, SectorSize);
  return Counted(Result.UnreadableSectors, "unreadable sector was", "unreadable sectors were") +
         " written as zeros.";
}

TkxImageCopyResult CopyDiskToImage(TkxDisk& Disk, const std::string& FileName, const TkxImageCopyOptions& Options)
{
  return TCopier(Disk, FileName, Options).Copy();
}

TkxCopyJob::TkxCopyJob(std::unique_ptr<TkxDisk> Disk_, std::string FileName_)
    : FileName(std::move(FileName_)), SectorSize(Disk_->SectorSize), SectorCount(Disk_->SectorCount),
      Disk(std::move(Disk_))
{
}

TkxImageCopyResult TkxCopyJob::Run(TkxJobControl& Control, const TkxProgressSink<std::int64_t>& Progress)
{
  TkxImageCopyOptions options;
  options.Control = &Control;
  options.Progress = Progress;
  options.CreatePart = CreatePart;
  // Released when the copy ends, also when it ends by an exception.
  const std::unique_ptr<TkxDisk> disk = std::move(Disk);
  if (!disk) return {TkxJobOutcome::Failed("The copy has run already.")};
  return CopyDiskToImage(*disk, FileName, options);
}

}  // namespace kx
