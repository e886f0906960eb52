#include "usb/x_session.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace qvx::usbemu {
namespace {

bool OnPath(const char* program) {
  const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

std::string NameOf(const std::string& entry) {
  return entry.substr(0, entry.find('='));
}

// This process's environment, with or without the testbed, and `extra` in place of the same.
std::vector<std::string> Environment(bool testbed, const std::vector<std::string>& extra) {
  std::vector<std::string> drop;
  for (const auto& e : extra) drop.push_back(NameOf(e));
  if (!testbed) drop.insert(drop.end(), {"LD_PRELOAD", "UMOCKDEV_DIR"});
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (std::find(drop.begin(), drop.end(), NameOf(entry)) == drop.end()) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

pid_t SpawnWith(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                posix_spawn_file_actions_t* actions) {
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], actions, nullptr, args.data(), envp.data()) != 0) return -1;
  return pid;
}

std::string ReadAll(int fd) {
  std::string out;
  char chunk[256];
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
    out.append(chunk, static_cast<std::size_t>(n));
  return out;
}

// The one client message that asks a window to close; laid out as Xlib's XClientMessageEvent.
struct ClientMessage {
  int type;
  unsigned long serial;
  int sendEvent;
  void* display;
  unsigned long window;
  unsigned long messageType;
  int format;
  long data[5];
};
union XEventStorage {
  ClientMessage client;
  long pad[24];
};

}  // namespace

std::optional<std::string> XSession::Unavailable() {
  for (const char* tool : {"Xvfb", "xdotool"}) {
    if (!OnPath(tool)) return std::string(tool) + " is not installed";
  }
  void* x11 = dlopen("libX11.so.6", RTLD_LAZY);
  if (x11 == nullptr) return "libX11.so.6 is not installed";
  dlclose(x11);
  return std::nullopt;
}

XSession::XSession() {
  int pipe[2];
  if (::pipe(pipe) != 0) throw std::runtime_error("no pipe for Xvfb");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe[1], 3);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  server_ = SpawnWith({"Xvfb", "-displayfd", "3", "-screen", "0", "640x480x24", "-nolisten", "tcp"},
                      Environment(false, {}), &actions);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe[1]);
  // Xvfb writes its display number and a newline, and keeps the pipe open.
  std::string number;
  char c;
  while (read(pipe[0], &c, 1) == 1 && c != '\n') number += c;
  close(pipe[0]);
  if (server_ < 0 || number.empty()) throw std::runtime_error("Xvfb did not start");
  display_ = ":" + number;
}

XSession::~XSession() {
  if (server_ > 0) {
    kill(server_, SIGTERM);
    waitpid(server_, nullptr, 0);
  }
}

std::string XSession::Run(const std::vector<std::string>& argv) const {
  int pipe[2];
  if (::pipe(pipe) != 0) return "";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const pid_t pid = SpawnWith(argv, Environment(false, {"DISPLAY=" + display_}), &actions);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe[1]);
  std::string out = ReadAll(pipe[0]);
  close(pipe[0]);
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "";
}

std::string XSession::FindWindow(const std::string& titleRegex) const {
  const std::string found = Run({"xdotool", "search", "--onlyvisible", "--name", titleRegex});
  return found.substr(0, found.find_first_of(" \n"));
}

void XSession::Click(const std::string& window, int x, int y) const {
  Run({"xdotool", "mousemove", "--window", window, std::to_string(x), std::to_string(y)});
  Run({"xdotool", "click", "1"});
}

bool XSession::Close(const std::string& window) const {
  void* x11 = dlopen("libX11.so.6", RTLD_LAZY);
  if (x11 == nullptr) return false;
  auto open = reinterpret_cast<void* (*)(const char*)>(dlsym(x11, "XOpenDisplay"));
  auto atom =
      reinterpret_cast<unsigned long (*)(void*, const char*, int)>(dlsym(x11, "XInternAtom"));
  auto send =
      reinterpret_cast<int (*)(void*, unsigned long, int, long, void*)>(dlsym(x11, "XSendEvent"));
  auto flush = reinterpret_cast<int (*)(void*)>(dlsym(x11, "XFlush"));
  auto closeDisplay = reinterpret_cast<int (*)(void*)>(dlsym(x11, "XCloseDisplay"));
  void* connection = open != nullptr ? open(display_.c_str()) : nullptr;
  const bool sent = connection != nullptr && atom && send && flush && closeDisplay;
  if (sent) {
    XEventStorage event{};
    event.client.type = 33;  // ClientMessage
    event.client.window = std::stoul(window);
    event.client.messageType = atom(connection, "WM_PROTOCOLS", 0);
    event.client.format = 32;
    event.client.data[0] = static_cast<long>(atom(connection, "WM_DELETE_WINDOW", 0));
    send(connection, event.client.window, 0, 0, &event);
    flush(connection);
    closeDisplay(connection);
  }
  return sent;  // libX11 stays loaded: it is not made to be unloaded
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const std::string& errorLog) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  const pid_t pid = SpawnWith(argv, Environment(true, environment), &actions);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace qvx::usbemu
