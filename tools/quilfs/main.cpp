// quilfs: one volume of the disc mounted as a Linux file system through
// libquilcoreapi, on libfuse 3.
//
//   quilfs DRIVE-OR-ROOT MOUNTPOINT [-o ro] [-o OPTION...] [-f] [-d] [-s]
//
// DRIVE-OR-ROOT is a drive ("E:"), a host folder holding an emulated disc
// or the UDF image of a disc (mounted read-only), reached as the quil tool reaches one: through a drive folder of the
// daemon's own with the link q: -> folder. The volume is opened before the
// mount and closed when it ends (fusermount3 -u, umount, SIGTERM, SIGINT).
#include "volume_fs.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/disc_advice.h"
#include "common/settings_check.h"
#include "names.h"

namespace {

namespace fs = std::filesystem;

constexpr int kOk = 0;
constexpr int kFailure = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageLine = "usage: quilfs DRIVE-OR-ROOT MOUNTPOINT [-o ro] [-o OPTION...] [-f] [-d] [-s]\n";

void help() {
  std::printf("%s", kUsageLine);
  std::printf(
      "\n"
      "Mounts the volume of a disc through libquilcoreapi.\n"
      "  DRIVE-OR-ROOT  a drive (E:), a host folder holding an emulated disc, or the\n"
      "                 UDF image of a disc (2048-byte sectors), always mounted read-only\n"
      "  MOUNTPOINT     an empty folder\n"
      "  -o ro          mount read-only; the volume is opened write-protected\n"
      "  -f             stay in the foreground; failures go to standard error\n"
      "  -d             debug: foreground, every FUSE request and every refusal\n"
      "  -s             one thread for the requests\n"
      "Unmount with: fusermount3 -u MOUNTPOINT\n");
}

bool isDrive(const std::string& text) {
  return (text.size() == 2 || (text.size() == 3 && (text[2] == '\\' || text[2] == '/'))) &&
         std::isalpha(static_cast<unsigned char>(text[0])) != 0 && text[1] == ':';
}

// An option value for -o: commas and backslashes escaped.
std::string optionValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == ',' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// The disc the daemon works on, and the drive folder a host folder needs.
struct Disc {
  std::u16string rootPath;
  std::string shown;
  std::string driveFolder;

  ~Disc() {
    std::error_code ec;
    if (!driveFolder.empty()) fs::remove_all(driveFolder, ec);
  }
};

// A disc image is a file where a disc folder is a folder.
bool isImage(const std::string& source) {
  std::error_code ec;
  return !isDrive(source) && fs::is_regular_file(source, ec);
}

bool chooseDisc(const std::string& source, Disc& disc) {
  if (isDrive(source)) {
    disc.rootPath = quilfs::utf16Of(source.substr(0, 2)).value();
    disc.shown = source.substr(0, 2);
    return true;
  }
  std::error_code ec;
  const fs::path folder = fs::absolute(source, ec);
  if (ec || !(fs::is_directory(folder) || isImage(source))) {
    std::fprintf(stderr, "quilfs: %s: not a drive (E:), a disc folder nor a disc image\n", source.c_str());
    return false;
  }
  // The driver reaches a disc by drive letter: a drive folder of this
  // process's own holds the link q: -> the disc folder.
  disc.driveFolder = quiltools::privateDriveFolder("quilfs");
  if (disc.driveFolder.empty()) ec = std::error_code(errno, std::generic_category());
  if (!ec) fs::create_symlink(folder, fs::path(disc.driveFolder) / "q:", ec);
  if (ec) {
    std::fprintf(stderr, "quilfs: cannot reach %s as a drive: %s\n", source.c_str(), ec.message().c_str());
    return false;
  }
  setenv("QUIL_DRIVES", disc.driveFolder.c_str(), 1);
  disc.rootPath = u"Q:";
  disc.shown = folder.string();
  return true;
}

// -o ro, kept for the kernel as well.
struct Flags {
  int readOnly = 0;
};
const fuse_opt kOptions[] = {{"ro", offsetof(Flags, readOnly), 1}, FUSE_OPT_KEY("ro", FUSE_OPT_KEY_KEEP),
                             FUSE_OPT_END};

// In the background the daemon forks before it opens anything; the parent
// waits for the child's word and exits with it, so that a disc that cannot
// be opened or a mount that fails is an exit status of the command.
struct Background {
  int pipe[2] = {-1, -1};
  bool child = false;

  bool start() {
    if (::pipe(pipe) != 0) {
      std::perror("quilfs: pipe");
      return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
      std::perror("quilfs: fork");
      return false;
    }
    if (pid > 0) {
      ::close(pipe[1]);
      char word = 1;
      const ssize_t n = ::read(pipe[0], &word, 1);
      _exit(n == 1 ? word : kFailure);
    }
    ::close(pipe[0]);
    child = true;
    setsid();
    return true;
  }
  void tell(int status) {
    if (!child || pipe[1] < 0) return;
    const char word = static_cast<char>(status);
    if (::write(pipe[1], &word, 1) != 1) std::perror("quilfs: telling the parent");
    ::close(pipe[1]);
    pipe[1] = -1;
  }
};

void detachStandardStreams() {
  const int null = ::open("/dev/null", O_RDWR);
  if (null < 0) return;
  ::dup2(null, STDIN_FILENO);
  ::dup2(null, STDOUT_FILENO);
  ::dup2(null, STDERR_FILENO);
  if (null > STDERR_FILENO) ::close(null);
}

// A mount point as /proc/self/mountinfo writes it: space, tab, newline and
// backslash as \ooo.
std::string unescapeMountPoint(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&](size_t at) { return at < field.size() && field[at] >= '0' && field[at] <= '7'; };
    const bool escaped = field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3);
    if (escaped) {
      out.push_back(static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8)));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

// The readahead setting of the mount at mountpoint (a canonical path), found
// by the device number in mountinfo: a stat of the mount point would wait
// for the mount to be served.
std::string readaheadFileOf(const std::string& mountpoint) {
  std::ifstream in("/proc/self/mountinfo");
  std::string device;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, point;
    if (fields >> id >> parent >> numbers >> root >> point && unescapeMountPoint(point) == mountpoint) device = numbers;
  }
  return device.empty() ? std::string() : "/sys/class/bdi/" + device + "/read_ahead_kb";
}

// Whether the mount point is still in this process's mount table.
bool stillMounted(const std::string& mountpoint) {
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    if (line.find(" " + mountpoint + " ") != std::string::npos) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // The disc is the first argument that is not an option; everything else
  // is libfuse's (the mount point, -f, -d, -s, -o ...).
  std::string source;
  fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  fuse_opt_add_arg(&args, argv[0]);
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      help();
      return kOk;
    }
    if (a == "-o" && i + 1 < argc) {
      fuse_opt_add_arg(&args, argv[i]);
      fuse_opt_add_arg(&args, argv[++i]);
    } else if (!a.empty() && a[0] != '-' && source.empty()) {
      source = a;
    } else {
      fuse_opt_add_arg(&args, argv[i]);
    }
  }
  // An image is never written: its mount is read-only, for the kernel too.
  if (isImage(source)) fuse_opt_add_arg(&args, "-oro");
  Flags flags;
  if (fuse_opt_parse(&args, &flags, kOptions, nullptr) != 0) return kUsage;
  fuse_cmdline_opts cmdline{};
  if (fuse_parse_cmdline(&args, &cmdline) != 0) {
    std::fprintf(stderr, "%s", kUsageLine);
    fuse_opt_free_args(&args);
    return kUsage;
  }
  if (cmdline.show_version) {
    std::printf("quilfs (libquilcoreapi), FUSE library %s\n", fuse_pkgversion());
    return kOk;
  }
  if (source.empty() || cmdline.mountpoint == nullptr) {
    std::fprintf(stderr, "%s", kUsageLine);
    free(cmdline.mountpoint);
    fuse_opt_free_args(&args);
    return kUsage;
  }
  const std::string mountpoint = cmdline.mountpoint;
  free(cmdline.mountpoint);
  std::error_code canonicalError;
  // Before the mount: afterwards the path would be looked up on it.
  const std::string canonicalMountpoint = fs::canonical(mountpoint, canonicalError).string();

  quilfs::MountOptions options;
  options.readOnly = flags.readOnly != 0;
  options.multithreaded = cmdline.singlethread == 0;
  options.debug = cmdline.debug != 0;

  Background background;
  if (cmdline.foreground == 0 && !background.start()) return kFailure;

  int status = kFailure;
  {
    Disc disc;
    quilfs::VolumeFs volume(options);
    if (!chooseDisc(source, disc)) {
      background.tell(kUsage);
      fuse_opt_free_args(&args);
      return kUsage;
    }
    fuse_opt_add_arg(&args, ("-ofsname=quilfs:" + optionValue(disc.shown)).c_str());
    fuse_opt_add_arg(&args, "-osubtype=quilfs");
    fuse_opt_add_arg(&args, "-omax_read=1048576");
    // libfuse judges the rest of the options here: a usage error opens nothing.
    fuse* f = fuse_new(&args, &quilfs::VolumeFs::operations(), sizeof(fuse_operations), &volume);
    if (f == nullptr) {
      background.tell(kUsage);
      fuse_opt_free_args(&args);
      return kUsage;
    }
    quiltools::warnAboutSettingsAndLogs("quilfs");
    if (!volume.openVolume(disc.rootPath, disc.shown)) {
      const std::string advice = quiltools::discAdvice(disc.driveFolder.empty() ? disc.shown : "",
                                                       disc.driveFolder.empty() ? "" : disc.shown,
                                                       "give the disc's folder in place of the drive");
      if (!advice.empty()) std::fprintf(stderr, "quilfs: %s\n", advice.c_str());
      fuse_destroy(f);
      background.tell(kFailure);
      fuse_opt_free_args(&args);
      return kFailure;
    }
    if (fuse_mount(f, mountpoint.c_str()) != 0) {
      fuse_destroy(f);
      volume.closeVolume();
      background.tell(kFailure);
      fuse_opt_free_args(&args);
      return kFailure;
    }
    if (!canonicalError) volume.setReadaheadFile(readaheadFileOf(canonicalMountpoint));
    fuse_session* session = fuse_get_session(f);
    fuse_set_signal_handlers(session);
    if (background.child) {
      // The caller's terminal is left alone from here on.
      if (chdir("/") != 0) std::perror("quilfs: chdir");
      detachStandardStreams();
      background.tell(kOk);
    }
    int ended = 0;
    if (options.multithreaded) {
      fuse_loop_config* config = fuse_loop_cfg_create();
      fuse_loop_cfg_set_clone_fd(config, cmdline.clone_fd);
      ended = fuse_loop_mt(f, config);
      fuse_loop_cfg_destroy(config);
    } else {
      ended = fuse_loop(f);
    }
    fuse_remove_signal_handlers(session);
    fuse_unmount(f);
    // The volume is closed in destroy(), which fuse_destroy calls once the
    // kernel had initialised the mount; closeVolume() below covers a mount
    // that ended before that.
    fuse_destroy(f);
    const bool closed = volume.closeVolume();
    // A signal is a request to unmount, and so is the end of a lazy unmount
    // (`fusermount3 -u -z`): once its last file is closed, the kernel ends
    // the connection, which the loop may see as aborted. Anything else
    // ending the loop with an error is a failure.
    const bool detached = (ended == -ECONNABORTED || ended == ECONNABORTED) && !stillMounted(canonicalMountpoint);
    const bool asked = ended == 0 || ended == SIGTERM || ended == SIGINT || ended == SIGHUP || detached;
    status = asked && closed ? kOk : kFailure;
  }
  fuse_opt_free_args(&args);
  return status;
}
