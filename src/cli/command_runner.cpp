#include "cli/command_runner.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kzb::cli {

void AddGlobalOptions(CLI::App& app, CommandState& state) {
  app.add_option("--data-dir", state.data_dir,
                 "Folder of project.ini, log.txt and StoreNumber.txt (default: KZB_DATA_DIR, else the program's "
                 "folder when writable, else ~/.config/kestrova-zip-backup)")
      ->type_name("DIR");
  app.add_flag("--quiet,-q", state.quiet, "No progress line");
  app.add_option("--password-file", state.password_file,
                 "Read the password from the first line of this file instead of the command line")
      ->type_name("FILE");
}

std::string PasswordFromFileOrEnvironment(const CommandState& state) {
  if (!state.password_file.empty()) {
    std::ifstream file(state.password_file, std::ios::binary);
    if (!file) throw std::runtime_error("Cannot read the password file '" + state.password_file + "'");
    std::string line;
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
  const char* variable = std::getenv("KZB_PASSWORD");
  return variable != nullptr ? variable : "";
}

std::string PasswordToOpen(const CommandState& state, bool password_given, const std::string& password) {
  if (password_given) return password;
  std::string found = PasswordFromFileOrEnvironment(state);
  if (!found.empty() || !StdinIsTerminal()) return found;
  ReadHiddenLine("Password: ", found);
  return found;
}

std::string PasswordToSet(const CommandState& state) {
  std::string password = PasswordFromFileOrEnvironment(state);
  if (password.empty()) {
    if (!StdinIsTerminal()) {
      throw std::runtime_error("No password: give --password-file, set KZB_PASSWORD or run on a terminal");
    }
    std::string again;
    ReadHiddenLine("New password: ", password);
    ReadHiddenLine("Repeat the password: ", again);
    if (password != again) throw std::runtime_error("The two passwords differ; nothing was changed");
  }
  if (password.empty()) throw std::runtime_error("The password is empty; nothing was changed");
  return password;
}

void RunFailureCommand(const std::string& command, const std::string& project, const std::string& message) {
  std::cout << std::flush;
  std::cerr << std::flush;
  int status = -1;
#ifdef _WIN32
  auto quote = [](const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    return quoted + "\"";
  };
  status = std::system((command + " " + quote(project) + " " + quote(message)).c_str());
#else
  const std::string script = command + " \"$1\" \"$2\"";
  const pid_t child = fork();
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", script.c_str(), "kzb-on-failure", project.c_str(), message.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  if (child > 0) {
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0) {
      if (errno != EINTR) break;
    }
    status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  }
#endif
  if (status != 0) std::cerr << "kzb: the --on-failure command ended with status " << status << "\n";
}

}  // namespace kzb::cli
