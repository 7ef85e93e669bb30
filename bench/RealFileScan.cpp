// SPDX-License-Identifier: GPL-3.0-or-later
// How well a scan carves real files: writes the given files into a plain disc image, each from
// a sector boundary and directly after the one before (as a disc's file system lays them out),
// scans the image as the scan command does, and tells for each file whether an entry of the
// expected kind begins at its first byte, whether that entry covers the whole file, and into how
// many entries the scan cut the file (those that begin inside it).
//   RealFileScan IMAGE [--kind CODE FILE...]...
// The files after "--kind CODE" are expected to be found as kind CODE. The image is left in
// place for the caller to remove.
#include "media/kxDisks.h"
#include "recognition/kxEngine.h"
#include "recognition/kxRecognition.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

struct TPlaced {
  std::string FileName;
  int Kind;
  std::int64_t Offset;
  std::int64_t Size;
};

// Whole sectors of a file's bytes, its last one padded with zeros.
bool Append(std::ofstream& Image, const std::string& FileName, std::int64_t& Size)
{
  std::ifstream in(FileName, std::ios::binary);
  if (!in) return false;
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  Size = static_cast<std::int64_t>(bytes.size());
  Image.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  const std::vector<char> pad((2048 - bytes.size() % 2048) % 2048, 0);
  Image.write(pad.data(), static_cast<std::streamsize>(pad.size()));
  return static_cast<bool>(Image);
}

const char* BaseName(const std::string& Path)
{
  const std::size_t slash = Path.rfind('/');
  return Path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s IMAGE [--kind CODE FILE...]...\n", argv[0]);
    return 2;
  }
  const std::string imageName = argv[1];
  std::vector<TPlaced> placed;
  {
    std::ofstream image(imageName, std::ios::binary | std::ios::trunc);
    int kind = 0;
    std::int64_t offset = 0;
    for (int i = 2; i < argc; ++i) {
      if (std::strcmp(argv[i], "--kind") == 0 && i + 1 < argc) {
        kind = std::atoi(argv[++i]);
        continue;
      }
      std::int64_t size = 0;
      if (!Append(image, argv[i], size)) {
        std::fprintf(stderr, "cannot read %s or write %s\n", argv[i], imageName.c_str());
        return 1;
      }
      placed.push_back({argv[i], kind, offset, size});
      offset += (size + 2047) / 2048 * 2048;
    }
  }

  const auto disk = kx::OpenDisk(imageName);
  if (!disk) {
    std::fprintf(stderr, "cannot open %s\n", imageName.c_str());
    return 1;
  }
  kx::TkxRecognition scan(*disk);
  while (scan.Position < disk->SectorCount) scan.RecognizeNext();
  const kx::TkxFileList& list = scan.FileList;

  std::map<std::int64_t, const kx::TkxFileEntry*> byOffset;
  std::map<int, int> entriesPerKind;
  for (std::int32_t i = 0; i < list.Count; ++i) {
    const kx::TkxFileEntry& e = list.Items[static_cast<std::size_t>(i)];
    byOffset[e.Offset] = &e;
    ++entriesPerKind[e.Kind];
  }

  struct TTally {
    int Files = 0, Found = 0, Whole = 0;
  };
  std::map<int, TTally> tally;
  std::printf("file\tkind\tbytes\tentry kind\tentry bytes\tcovers\tentries in it\n");
  for (const TPlaced& p : placed) {
    const auto it = byOffset.find(p.Offset);
    const kx::TkxFileEntry* e = it == byOffset.end() ? nullptr : it->second;
    const bool found = e && e->Kind == p.Kind;
    const bool whole = found && e->Size >= p.Size;
    const auto pieces = std::distance(byOffset.lower_bound(p.Offset), byOffset.lower_bound(p.Offset + p.Size));
    TTally& t = tally[p.Kind];
    ++t.Files;
    t.Found += found;
    t.Whole += whole;
    std::printf("%s\t%d\t%lld\t%s\t%lld\t%s\t%ld\n", BaseName(p.FileName), p.Kind, static_cast<long long>(p.Size),
                e ? std::to_string(e->Kind).c_str() : "-", e ? static_cast<long long>(e->Size) : 0LL,
                whole ? "whole" : found ? "part" : "no", static_cast<long>(pieces));
  }

  std::printf("\nentries: %d", list.Count);
  for (const auto& [kind, count] : entriesPerKind)
    std::printf(", %d %s", count, kind == 0 ? "unrecognised" : std::string(kx::KindExtensions[kind]).c_str());
  std::printf("\n");
  int files = 0, whole = 0;
  for (const auto& [kind, t] : tally) {
    std::printf("%-8s files %3d, found %3d, whole %3d (%.0f%%)\n",
                std::string(kx::KindExtensions[static_cast<std::size_t>(kind)]).c_str(), t.Files, t.Found, t.Whole,
                100.0 * t.Whole / t.Files);
    files += t.Files;
    whole += t.Whole;
  }
  std::printf("all      files %3d, whole %3d (%.0f%%)\n", files, whole, files ? 100.0 * whole / files : 0.0);
  return 0;
}
