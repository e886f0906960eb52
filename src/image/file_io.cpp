#include "image/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <random>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace qvx {

namespace {

constexpr char kNotRegular[] = "not a regular file";

// The few calls of the C library's file layer that differ by platform.
#ifdef _WIN32
using FileStat = struct _stat64;
constexpr int kReadFlags = _O_RDONLY | _O_BINARY | _O_NOINHERIT;
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;
constexpr int kAppendFlags = _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT;
constexpr int kReadAppendFlags = _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT;
// The C library hands out the system's handle as an integer.
HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));  // NOLINT(performance-no-int-to-ptr)
}
int OpenFile(const fs::path& path, int flags) {
  return _wopen(path.c_str(), flags, _S_IREAD | _S_IWRITE);
}
int StatOf(int fd, FileStat& stat) {
  return _fstat64(fd, &stat);
}
bool IsRegular(const FileStat& stat) {
  return (stat.st_mode & _S_IFMT) == _S_IFREG;
}
long long ReadSome(int fd, std::uint8_t* data, std::size_t count) {
  return _read(fd, data, static_cast<unsigned>(std::min<std::size_t>(count, INT_MAX)));
}
long long WriteSome(int fd, const std::uint8_t* data, std::size_t count) {
  return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(count, INT_MAX)));
}
// At the end of the file, wherever another process has put it: the system's own append, which
// the C library's (a seek, then a write) is not.
long long AppendSome(int fd, const std::uint8_t* data, std::size_t count) {
  OVERLAPPED atEnd{};
  atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
  ::DWORD written = 0;
  if (!WriteFile(HandleOf(fd), data, static_cast<::DWORD>(std::min<std::size_t>(count, INT_MAX)),
                 &written, &atEnd)) {
    errno = EIO;
    return -1;
  }
  return written;
}
int SyncFile(int fd) {
  return _commit(fd);
}
// Appends go to the end whatever the file pointer says, so reading moves nothing they need.
bool LastByteIs(int fd, long long size, char byte) {
  char last = 0;
  return _lseeki64(fd, size - 1, SEEK_SET) == size - 1 && _read(fd, &last, 1) == 1 && last == byte;
}
// Beyond any byte a record reaches, so that a reader is never kept out; the system drops it
// when the handle closes.
void LockForAppend(int fd) {
  OVERLAPPED beyond{};
  beyond.OffsetHigh = 0x7FFFFFFF;
  LockFileEx(HandleOf(fd), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &beyond);
}
int CloseFile(int fd) {
  return _close(fd);
}
void SyncFolder(const fs::path& /*folder*/) {}  // a rename is durable once it returns
#else
using FileStat = struct stat;
// Non-blocking, so that opening a FIFO never waits for a writer.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
constexpr int kAppendFlags = O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr int kReadAppendFlags = O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
int OpenFile(const fs::path& path, int flags) {
  return ::open(path.c_str(), flags, 0666);  // NOLINT(cppcoreguidelines-pro-type-vararg)
}
int StatOf(int fd, FileStat& stat) {
  return ::fstat(fd, &stat);
}
bool IsRegular(const FileStat& stat) {
  return S_ISREG(stat.st_mode);
}
long long ReadSome(int fd, std::uint8_t* data, std::size_t count) {
  return ::read(fd, data, count);
}
long long WriteSome(int fd, const std::uint8_t* data, std::size_t count) {
  return ::write(fd, data, count);
}
long long AppendSome(int fd, const std::uint8_t* data, std::size_t count) {
  return ::write(fd, data, count);  // O_APPEND: the offset and the write are one step
}
int SyncFile(int fd) {
  return ::fsync(fd);
}
bool LastByteIs(int fd, long long size, char byte) {
  char last = 0;
  return ::pread(fd, &last, 1, size - 1) == 1 && last == byte;
}
// Released by the close; where the file system keeps no locks, the append goes ahead alone.
void LockForAppend(int fd) {
  ::flock(fd, LOCK_EX);
}
int CloseFile(int fd) {
  return ::close(fd);
}
// A rename lasts through a power cut only once its folder is synced too.
void SyncFolder(const fs::path& folder) {
  const int fd = OpenFile(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}
#endif

// An open file descriptor, closed at the end of its scope.
class File {
 public:
  File(const fs::path& path, int flags) : fd_(OpenFile(path, flags)) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  // False when the close reports an error: a write that failed late.
  bool Close() { return fd_ < 0 || CloseFile(std::exchange(fd_, -1)) == 0; }

 private:
  int fd_;
};

Problem Of(const fs::path& path, std::string reason) {
  return {PathText(path), std::move(reason)};
}

// A name in the target's folder, short enough wherever the target's own name fits.
fs::path TempBeside(const fs::path& path) {
  char name[32];
  std::snprintf(name, sizeof name, ".qvx-%08x.tmp", std::random_device{}());
  return path.parent_path() / name;
}

// Why the target cannot take new content as it stands, looked at without following a link.
std::optional<std::string> Refusal(const fs::path& path, bool replace, fs::file_status& status) {
  std::error_code error;
  status = fs::symlink_status(path, error);
  if (status.type() == fs::file_type::not_found) return std::nullopt;
  if (error) return SystemReason(error.value());
  if (!fs::is_regular_file(status)) return kNotRegular;
  if (!replace) return kFileExists;
  return std::nullopt;
}

// Why a new file cannot be made in the target's folder.
std::string CreateReason(int error) {
  return error == ENOENT ? "no such folder" : SystemReason(error);
}

}  // namespace

std::string SystemReason(int error) {
  if (error == ENOENT) return "no such file";
  std::string text = std::generic_category().message(error);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

fs::path PathFromUtf8(const std::string& text) {
#ifdef _WIN32
  return std::u8string(text.begin(), text.end());
#else
  return text;
#endif
}

std::string PathText(const fs::path& path) {
#ifdef _WIN32
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
#else
  return path.string();
#endif
}

std::optional<Problem> ReadWholeFile(const fs::path& path, std::vector<std::uint8_t>& bytes,
                                     SizeRule sizeRule) {
  File file(path, kReadFlags);
  if (!file.IsOpen()) {
    const int error = errno;
    std::error_code ignored;
    // Windows opens no folder as a file, and says only that access is denied.
    return Of(path, fs::is_directory(path, ignored) ? kNotRegular : SystemReason(error));
  }
  FileStat stat{};
  if (StatOf(file.Fd(), stat) != 0) return Of(path, SystemReason(errno));
  if (!IsRegular(stat)) return Of(path, kNotRegular);
  const auto size = static_cast<std::uintmax_t>(stat.st_size);
  if (sizeRule != nullptr) {
    if (auto broken = sizeRule(size)) return Of(path, std::move(*broken));
  }
  bytes.resize(size);
  std::size_t got = 0;
  while (got < bytes.size()) {
    const long long n = ReadSome(file.Fd(), bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Of(path, "cannot be read: " + SystemReason(errno));
    if (n == 0) break;  // shorter than it was a moment ago
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return std::nullopt;
}

std::optional<Problem> AppendTargetProblem(const fs::path& path) {
  const File file(path, kAppendFlags);
  if (!file.IsOpen()) return Of(path, CreateReason(errno));
  FileStat stat{};
  if (StatOf(file.Fd(), stat) != 0) return Of(path, SystemReason(errno));
  if (!IsRegular(stat)) return Of(path, kNotRegular);
  return std::nullopt;
}

std::optional<Problem> AppendDurably(const fs::path& path, std::string_view line) {
  // Read as well, to see how the file ends; a file that may only be written is taken as it is.
  const bool readable = File(path, kReadAppendFlags).IsOpen();
  File file(path, readable ? kReadAppendFlags : kAppendFlags);
  if (!file.IsOpen()) return Of(path, CreateReason(errno));
  // Another process's line may be half copied in: its size then ends mid-line, which would
  // look like a line cut short. Our processes append one at a time.
  LockForAppend(file.Fd());
  FileStat stat{};
  if (StatOf(file.Fd(), stat) != 0) return Of(path, SystemReason(errno));
  if (!IsRegular(stat)) return Of(path, kNotRegular);
  // A line cut short before (a full disk, a crash) is ended first, so that it never swallows
  // this one.
  const bool cut = readable && stat.st_size > 0 && !LastByteIs(file.Fd(), stat.st_size, '\n');
  std::string text;
  text.reserve(line.size() + 1);
  if (cut) text.push_back('\n');
  text.append(line);
  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  // One write, so that no other process's line lands inside this one; a short write is a
  // failure, not a reason to write the rest apart from the first part.
  const long long written = AppendSome(file.Fd(), data, text.size());
  if (written < 0) return Of(path, SystemReason(errno));
  if (static_cast<std::size_t>(written) != text.size()) return Of(path, SystemReason(ENOSPC));
  if (SyncFile(file.Fd()) != 0) return Of(path, SystemReason(errno));
  if (!file.Close()) return Of(path, SystemReason(errno));
  return std::nullopt;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::error_code error;
  if (fs::equivalent(a, b, error)) return true;
  std::error_code other;
  const fs::path fullA = fs::weakly_canonical(a, error);
  const fs::path fullB = fs::weakly_canonical(b, other);
  return !error && !other && fullA == fullB;
}

std::optional<Problem> WriteTargetProblem(const fs::path& path, bool replace) {
  fs::file_status status;
  if (auto refused = Refusal(path, replace, status)) return Of(path, std::move(*refused));
  // Whether the folder takes a new file shows best by making one.
  const fs::path temp = TempBeside(path);
  File probe(temp, kCreateFlags);
  if (!probe.IsOpen()) return Of(path, CreateReason(errno));
  probe.Close();
  std::error_code ignored;
  fs::remove(temp, ignored);
  return std::nullopt;
}

std::optional<Problem> WriteFileAtomically(const fs::path& path,
                                           std::span<const std::uint8_t> bytes, bool replace) {
  fs::file_status old;
  if (auto refused = Refusal(path, replace, old)) return Of(path, std::move(*refused));
  const fs::path temp = TempBeside(path);
  File file(temp, kCreateFlags);
  if (!file.IsOpen()) return Of(path, CreateReason(errno));
  std::error_code error;
  const auto cannot = [&](int number) {
    file.Close();
    std::error_code ignored;
    fs::remove(temp, ignored);
    return Of(path, "cannot be written: " + SystemReason(number));
  };
  for (std::size_t done = 0; done < bytes.size();) {
    const long long n = WriteSome(file.Fd(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return cannot(n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  if (SyncFile(file.Fd()) != 0 || !file.Close()) return cannot(errno);
  // A replaced file keeps its permissions.
  if (fs::exists(old)) fs::permissions(temp, old.permissions(), error);
  if (error) return cannot(error.value());
  if (replace) {
    fs::rename(temp, path, error);
  } else {
    // A hard link never takes an existing name, so a file that appeared meanwhile survives.
    fs::create_hard_link(temp, path, error);
    if (!error || error == std::errc::file_exists) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      if (error) return Of(path, kFileExists);
    } else {
      // Where the file system has no hard links, a rename is all there is.
      fs::rename(temp, path, error);
    }
  }
  if (error) return cannot(error.value());
  SyncFolder(path.parent_path());
  return std::nullopt;
}

}  // namespace qvx
