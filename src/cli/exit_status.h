#pragma once

namespace qvx::cli {

inline constexpr int kSucceeded = 0;
inline constexpr int kFailed = 1;         // an update failed, or a verify found differences
inline constexpr int kUsage = 2;          // wrong usage, a bad image file, a file refused
inline constexpr int kNoBoard = 3;        // no board found, or the chosen one could not be opened
inline constexpr int kNotWritten = 4;     // all else succeeded, but output could not be written
inline constexpr int kInterrupted = 130;  // 128 + SIGINT, as shells report a Ctrl-C

// The same table is in the manual page and the README.
inline constexpr char kExitStatusHelp[] =
    "Exit status:\n"
    "  0    every board succeeded\n"
    "  1    an update failed, or a verify found differences\n"
    "  2    wrong usage, a bad image file, or a file that cannot be used\n"
    "  3    no board found, or the chosen one could not be opened\n"
    "  4    all else succeeded, but standard output, standard error or the log could not be "
    "written\n"
    "  130  interrupted (Ctrl-C, SIGTERM or SIGHUP; on Windows also Ctrl-Break or the console "
    "closing)\n";

}  // namespace qvx::cli
