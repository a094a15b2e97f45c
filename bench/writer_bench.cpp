// What the writer adapter's catching frame costs: a 64 KiB user-data write
// through WriterFile (invokeWriterFunction, the closure, the status and the
// two filtered trace lines) against the writer library's own Write on the
// same kind of file. Both rewrite the same 64 KiB at the start of their
// file, so the disc never fills. Also the writer error map lookup alone.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "disc.h"
#include "files/file_name_manage.h"
#include "quil/sibling/quilwriter.h"
#include "ratio_reporter.h"
#include "text/utf.h"
#include "writer/writer_file.h"
#include "writer/writer_volume.h"

namespace {

constexpr uint32_t kChunk = 64u << 10;

// The writer borrows a reader for the disc; the writes here never read.
class NoCache final : public QUILWriter::QUILCacheReader {
 public:
  int32_t cacheOpen(const QUILCHAR*) override { return -1; }
  int32_t cacheClose(int32_t) override { return 0; }
  int32_t cacheRead(int32_t, void*, uint32_t, uint32_t*) override { return 0; }
  int32_t cacheGetSize(int32_t, int64_t*) override { return 0; }
};

struct Setup {
  std::string folder;
  std::u16string root;
  NoCache cache;
  std::unique_ptr<quil::writer::WriterVolume> volume;
  std::unique_ptr<quil::writer::WriterFile> wrapped;
  std::shared_ptr<QUILWriter::UserDataWriter> direct;
  std::vector<char> buffer = std::vector<char>(kChunk, 'w');
};
Setup g;

void BM_WriterWriteDirect(benchmark::State& state) {
  for (auto _ : state) {
    int64_t position = 0;
    uint32_t done = 0;
    g.direct->Seek(0, &position, QUILWriter::QUIL_WHENCE_BEGIN);
    g.direct->Write(g.buffer.data(), kChunk, &done);
    if (done != kChunk) state.SkipWithError("short write");
  }
  state.SetBytesProcessed(state.iterations() * kChunk);
}

void BM_WriterWriteThroughFrame(benchmark::State& state) {
  for (auto _ : state) {
    int64_t position = 0;
    uint32_t done = 0;
    g.wrapped->setFilePointer(0, &position, QUILWriter::QUIL_WHENCE_BEGIN);
    if (g.wrapped->writeFile(g.buffer.data(), kChunk, &done).status() != 0 || done != kChunk) {
      state.SkipWithError("write failed");
    }
  }
  state.SetBytesProcessed(state.iterations() * kChunk);
}

void BM_WriterErrorMapLookup(benchmark::State& state) {
  // Hits across the table, run ends and codes the map does not hold.
  static const uint32_t kCodes[] = {0x82000002, 0x85000014, 0x85000015, 0x86000010, 0x8A000004,
                                    0x94000001, 0x12345678, 0x88000013, 0x8200001E, 0x91000013};
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(quil::writer::mapWriterError(kCodes[i]));
    i = (i + 1) % std::size(kCodes);
  }
}

BENCHMARK(BM_WriterWriteDirect);
BENCHMARK(BM_WriterWriteThroughFrame);
BENCHMARK(BM_WriterErrorMapLookup);

bool setUp() {
  const auto base = std::filesystem::temp_directory_path() / ("quil-writer-bench-" + std::to_string(getpid()));
  g.folder = (base / "disc").string();
  quil::emulator::MediumDescription medium;
  medium.capacity = 1ull << 30;
  if (!quil::emulator::formatDisc(g.folder, medium).empty()) return false;
  // The driver reaches the disc through a drive letter.
  std::error_code ec;
  std::filesystem::create_directories(base / "drives", ec);
  std::filesystem::create_directory_symlink(g.folder, base / "drives" / "q:", ec);
  setenv("QUIL_DRIVES", (base / "drives").c_str(), 1);
  g.root = u"Q:";
  _Volume_Param param{};
  Media_Param_ media{};
  auto made = quil::writer::WriterVolume::create(g.root, param, media, g.cache);
  if (!made.volume) return false;
  g.volume = std::move(made.volume);
  const quil::files::FileNameManage name(u"\\USERDATA\\wrapped.bin", false);
  auto opened = quil::writer::WriterFile::createFile(*g.volume, name, 0xC0000000u, 0, nullptr, 2, 0, nullptr);
  if (!opened.file) return false;
  g.wrapped = std::move(opened.file);
  try {
    g.direct = QUILWriter::UserDataWriter::createFile(g.root, u"direct.bin", 0xC0000000u, 0, nullptr, 2, 0,
                                                      nullptr, false);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer_bench: %s\n", e.what());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  quilbench::useTemporarySettings(1, (std::filesystem::temp_directory_path() / "quil-writer-bench-log").string());
  if (!setUp()) return 1;
  const int rc = quilbench::runWithRatios(
      argc, argv,
      {{"BM_WriterWriteThroughFrame", "BM_WriterWriteDirect",
        "64 KiB user-data write through the catching frame against the writer's own call; goal at most 1.05x",
        false}});
  g.wrapped->close();
  g.wrapped.reset();
  g.direct->Close();
  g.direct.reset();
  g.volume.reset();
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::path(g.folder).parent_path(), ec);
  return rc;
}
