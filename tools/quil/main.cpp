// quil: a command-line client of libquilcoreapi. It reaches discs through
// the public header only, so what it shows is what any caller gets; only
// `mkdisc` and `demo` use the disc emulator's formatter.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "commands.h"
#include "disc.h"

namespace {

using namespace quiltool;

constexpr const char* kVersion = "0.1.0";

constexpr const char* kFooter =
    "Volume paths are written with \\ or / (\\CLIP\\C0001.MXF or /CLIP/C0001.MXF).\n"
    "Exit status: 0 done, 1 the library reported a failure, 2 a usage error.\n"
    "Environment: QUIL_DRIVE (default drive, E:), QUIL_DRIVES (the drive folder, /var/lib/quil/drives,\n"
    "  where a link e: -> DIR makes a disc drive E:), QUIL_REGISTRY (settings, /etc/quil/registry.reg),\n"
    "  QUIL_PROGRAM_FILES (logs without settings go below it, /opt), QUIL_PIPE_DIR and\n"
    "  QUIL_ACTIVE_SESSION (the desktop utility's pipe).\n"
    "Logs: `quil log` says where today's log file is and shows its last lines.";

bool parseSize(const std::string& text, uint64_t& out) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (end == text.c_str()) return false;
  uint64_t scale = 1;
  if (*end != '\0') {
    switch (*end) {
      case 'K': case 'k': scale = 1ull << 10; break;
      case 'M': case 'm': scale = 1ull << 20; break;
      case 'G': case 'g': scale = 1ull << 30; break;
      case 'T': case 't': scale = 1ull << 40; break;
      default: return false;
    }
    if (end[1] != '\0') return false;
  }
  out = v * scale;
  return true;
}

int mkdisc(const std::string& folder, const std::string& mediumLetter, bool writeOnce, bool notWritable,
           const std::string& capacity, const std::string& labelText, const std::string& firmware,
           const std::string& clipLimit, bool check23Failed) {
  quil::emulator::MediumDescription medium;
  if (mediumLetter.size() != 1) throw Failure("quil: --medium takes one letter", kUsage);
  medium.mediumType = mediumLetter[0];
  medium.writeOnce = writeOnce;
  medium.writable = !notWritable;
  if (!capacity.empty() && !parseSize(capacity, medium.capacity)) throw Failure("quil: bad capacity", kUsage);
  if (!clipLimit.empty() && !parseSize(clipLimit, medium.clipLimit)) throw Failure("quil: bad clip limit", kUsage);
  medium.label = widen(labelText);
  if (firmware.size() != 4 || firmware.find_first_not_of("0123456789") != std::string::npos) {
    throw Failure("quil: --firmware takes four digits", kUsage);
  }
  medium.firmware = firmware;
  medium.is23ModeCheckOk = !check23Failed;
  if (const std::string error = quil::emulator::formatDisc(folder, medium); !error.empty()) {
    // The formatter's text may name the folder itself: it is named once.
    const bool named = error.rfind(folder, 0) == 0;
    throw Failure("quil: " + (named ? error : folder + ": " + error) +
                      " (quil mkdisc makes a disc in a new or empty folder)",
                  kLibraryFailure);
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"quil: inspect and change a disc through libquilcoreapi", "quil"};
  app.footer(kFooter);
  app.require_subcommand(1);
  DiscChoice disc;
  const char* envDrive = std::getenv("QUIL_DRIVE");
  disc.drive = envDrive != nullptr && *envDrive != '\0' ? envDrive : "E:";
  auto* driveOption = app.add_option("--drive", disc.drive, "drive of the disc (default $QUIL_DRIVE, else E:)");
  app.add_option("--root", disc.root,
                 "a host folder holding an emulated disc, or the UDF image of a disc (read-only), instead of a drive")
      ->excludes(driveOption);
  TransferOptions transfer;
  bool noProgress = false;
  int status = kOk;

  auto* mk = app.add_subcommand("mkdisc", "make a fresh, empty emulated disc in a folder (as quil-mkdisc)");
  std::string mkFolder, mkMedium = "S", mkCapacity, mkLabel, mkFirmware = "0100", mkClipLimit;
  bool mkWriteOnce = false, mkNotWritable = false, mk23Failed = false;
  mk->add_option("DIR", mkFolder, "the folder (created if needed; must be empty)")->required();
  mk->add_option("--medium", mkMedium, "medium type letter as the driver reports it (default S)");
  mk->add_flag("--write-once", mkWriteOnce, "a write-once (R) medium");
  mk->add_flag("--not-writable", mkNotWritable, "the drive reports the medium as not writable");
  mk->add_option("--capacity", mkCapacity, "capacity in bytes, or with K, M, G or T (default 50G)");
  mk->add_option("--label", mkLabel, "volume label (default empty)");
  mk->add_option("--firmware", mkFirmware, "drive firmware revision, four digits (default 0100)");
  mk->add_option("--clip-limit", mkClipLimit, "longest clip the drive records, in bytes of essence");
  mk->add_flag("--23mode-check-failed", mk23Failed, "the medium fails the 2.3-mode check");
  mk->callback([&] {
    status = mkdisc(mkFolder, mkMedium, mkWriteOnce, mkNotWritable, mkCapacity, mkLabel, mkFirmware, mkClipLimit,
                    mk23Failed);
  });

  app.add_subcommand("info", "volume status, write protection, medium, capacity and label")
      ->callback([&] { status = info(disc); });

  auto* ls = app.add_subcommand("ls", "list a folder or the entries matching a pattern, one per line");
  std::string lsPattern = "\\";
  bool lsLong = false, lsRecursive = false;
  ls->add_option("PATTERN", lsPattern, "a folder (\\USERDATA) or a pattern (\\CLIP\\*.MXF); default the root");
  ls->add_flag("-l,--long", lsLong, "type, attributes, size and last-write time (ISO 8601) before each name");
  ls->add_flag("-R,--recursive", lsRecursive, "the folders below too, each under a line with its path");
  ls->callback([&] { status = list(disc, lsPattern, lsLong, lsRecursive); });

  auto* catCmd = app.add_subcommand("cat", "write a file of the disc to standard output");
  std::string catPath;
  catCmd->add_option("PATH", catPath, "volume path")->required();
  catCmd->callback([&] { status = cat(disc, catPath); });

  auto* getCmd = app.add_subcommand("get", "copy a file of the disc to a host file");
  std::string getFrom, getTo;
  getCmd->add_option("DISC-PATH", getFrom, "volume path")->required();
  getCmd->add_option("HOST-FILE", getTo, "host file (replaced)")->required();
  getCmd->add_flag("--no-progress", noProgress, "no progress on standard error");
  getCmd->callback([&] {
    transfer.progress = !noProgress;
    status = get(disc, getFrom, getTo, transfer);
  });

  auto* putCmd = app.add_subcommand("put", "copy a host file to a user-data or general file of the disc");
  std::string putFrom, putTo;
  putCmd->add_option("HOST-FILE", putFrom, "host file")->required();
  putCmd->add_option("DISC-PATH", putTo, "volume path below \\USERDATA or \\GENERAL (replaced)")->required();
  putCmd->add_flag("--no-progress", noProgress, "no progress on standard error");
  putCmd->callback([&] {
    transfer.progress = !noProgress;
    status = put(disc, putFrom, putTo, transfer);
  });

  auto* rec = app.add_subcommand("record", "record a host file as a clip essence file and report the stop reason");
  std::string recFrom, recClip;
  rec->add_option("HOST-FILE", recFrom, "host file with the essence")->required();
  rec->add_option("CLIP", recClip, "the new clip, e.g. \\CLIP\\C0001.MXF")->required();
  rec->add_flag("--no-progress", noProgress, "no progress on standard error");
  rec->callback([&] {
    transfer.progress = !noProgress;
    status = record(disc, recFrom, recClip, transfer);
  });

  auto* rm = app.add_subcommand("rm", "delete a file");
  std::string rmPath;
  rm->add_option("PATH", rmPath, "volume path")->required();
  rm->callback([&] { status = remove(disc, rmPath); });

  auto* mv = app.add_subcommand("mv", "give a file a new name");
  std::string mvFrom, mvTo;
  mv->add_option("FROM", mvFrom, "volume path")->required();
  mv->add_option("TO", mvTo, "new volume path")->required();
  mv->callback([&] { status = move(disc, mvFrom, mvTo); });

  auto* md = app.add_subcommand("mkdir", "create a folder below \\USERDATA or \\GENERAL");
  std::string mdPath;
  md->add_option("PATH", mdPath, "volume path")->required();
  md->callback([&] { status = makeDirectory(disc, mdPath); });

  auto* rd = app.add_subcommand("rmdir", "remove an empty folder below \\USERDATA or \\GENERAL");
  std::string rdPath;
  rd->add_option("PATH", rdPath, "volume path")->required();
  rd->callback([&] { status = removeDirectory(disc, rdPath); });

  auto* lab = app.add_subcommand("label", "print the volume label, or set it to TEXT");
  std::string labelText;
  auto* labelOption = lab->add_option("TEXT", labelText, "new label");
  lab->callback([&] { status = label(disc, labelOption->count() != 0 ? &labelText : nullptr); });

  auto* lk = app.add_subcommand("lock", "make a clip or component read-only");
  std::string lockPath;
  lk->add_option("PATH", lockPath, "volume path")->required();
  lk->callback([&] { status = lock(disc, lockPath, true); });
  auto* ul = app.add_subcommand("unlock", "make a clip or component writable again");
  std::string unlockPath;
  ul->add_option("PATH", unlockPath, "volume path")->required();
  ul->callback([&] { status = lock(disc, unlockPath, false); });

  auto* cid = app.add_subcommand("clipid", "print the identifier of a clip");
  std::string clipPath;
  cid->add_option("PATH", clipPath, "volume path of a clip essence file")->required();
  cid->callback([&] { status = clipId(disc, clipPath); });

  auto* logCmd = app.add_subcommand("log", "where today's log file is, and its last lines");
  size_t tail = 10;
  logCmd->add_option("--tail", tail, "how many lines (default 10)");
  logCmd->callback([&] { status = showLog(tail); });

  auto* err = app.add_subcommand("error", "the library's message for an error code");
  std::string code;
  err->add_option("CODE", code, "error code, e.g. -3010")->required();
  err->callback([&] { status = errorText(code); });

  app.add_subcommand("version", "the version of this tool")->callback([&] {
    std::printf("quil %s (libquilcoreapi, 36 exports)\n", kVersion);
  });

  auto* demoCmd = app.add_subcommand("demo", "a whole session on a fresh disc, with its operation log");
  std::string demoRoot;
  demoCmd->add_option("--root", demoRoot, "keep the disc and logs in this folder (default a temporary one)");
  demoCmd->callback([&] { status = demo(demoRoot); });

  // Every command's help ends with the same words on paths, exit status,
  // environment and logs.
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) sub->footer(kFooter);
  // The first word that is not an option, nor the value of one, names the command.
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--drive" || word == "--root") {
      ++i;
      continue;
    }
    if (word.empty() || word[0] == '-') continue;
    const auto all = app.get_subcommands([&](CLI::App* sub) { return sub->check_name(word); });
    if (all.empty()) {
      std::fprintf(stderr, "quil: unknown command '%s' (quil --help lists them)\n", word.c_str());
      return kUsage;
    }
    break;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kUsage;
  } catch (const Failure& f) {
    std::fprintf(stderr, "%s\n", f.what());
    return f.exitStatus;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quil: %s\n", e.what());
    return kLibraryFailure;
  }
  return status;
}
