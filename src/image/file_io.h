#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/problem.h"

// Whole-file reading and writing for firmware files, shared by the programs and the tools. Each
// returns what stood in the way, naming the file, or nothing when it worked.
namespace qvx {

// What is wrong with a file of that size, found before any of it is read; nothing when the size
// may be right.
using SizeRule = std::optional<std::string> (*)(std::uintmax_t size);

// Reads a regular file whole. A FIFO or a device is refused without waiting for it, and a file
// that breaks the size rule is refused unread.
std::optional<Problem> ReadWholeFile(const std::filesystem::path& path,
                                     std::vector<std::uint8_t>& bytes, SizeRule sizeRule = nullptr);

// Writes by way of a temporary file beside the target, synced before it takes the target's name,
// so that a failed run never leaves a truncated file where a good one was. Without `replace`, an
// existing file is left as it was and reported as kFileExists. Only a regular file is ever
// replaced, and it keeps its permissions; a symbolic link, a device or a FIFO is refused.
std::optional<Problem> WriteFileAtomically(const std::filesystem::path& path,
                                           std::span<const std::uint8_t> bytes, bool replace);

// What WriteFileAtomically would refuse before writing anything, found without touching the
// target: for a command to refuse at once rather than after a long read.
std::optional<Problem> WriteTargetProblem(const std::filesystem::path& path, bool replace);

inline constexpr char kFileExists[] = "exists already";

// Whether a file to append to is a regular one, creating it when missing; a FIFO or a device is
// refused, as a write to one may wait for ever.
std::optional<Problem> AppendTargetProblem(const std::filesystem::path& path);

// Appends the line to a regular file in one write and syncs it before it returns: several
// processes may append to one file without tearing each other's lines, and a line that was
// reported written survives a power cut. A file that ends in a fragment of a line gets its
// newline first, so that no line is ever joined to one cut short.
std::optional<Problem> AppendDurably(const std::filesystem::path& path, std::string_view line);

// Whether two paths name one file, through links or a different spelling, whether or not it
// exists yet.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// "no such file", or the system's words for an error number, in lower case.
std::string SystemReason(int error);

// A path from UTF-8, which on Windows would otherwise be read in the ANSI code page; on Linux a
// file name is bytes and stays as it is.
std::filesystem::path PathFromUtf8(const std::string& text);
// A path as UTF-8 (bytes on Linux), for messages; it never throws.
std::string PathText(const std::filesystem::path& path);

}  // namespace qvx
