#pragma once

namespace qvx::cli {

inline constexpr int kSucceeded = 0;
inline constexpr int kFailed = 1;         // an update failed, or a verify found differences
inline constexpr int kUsage = 2;          // wrong usage, or a bad image file
inline constexpr int kNoBoard = 3;        // no board found, or the chosen one could not be opened
inline constexpr int kInterrupted = 130;  // 128 + SIGINT, as shells report a Ctrl-C

// The same table is in the manual page and the README.
inline constexpr char kExitStatusHelp[] =
    "Exit status:\n"
    "  0    every board succeeded\n"
    "  1    an update failed, or a verify found differences\n"
    "  2    wrong usage, or a bad image file\n"
    "  3    no board found, or the chosen one could not be opened\n"
    "  130  interrupted (Ctrl-C or SIGTERM)\n";

}  // namespace qvx::cli
