// SPDX-License-Identifier: GPL-3.0-or-later
// Runs tessarin-cli as a user would, through the shell, for the command tests. CTest passes the
// program's path in KX_CLI.
#pragma once

#include "support/kxTestMedia.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace kx::test {

struct TRun {
  int Status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string Out;
  std::string Err;
};

// The path of tessarin-cli; empty when the tests run without KX_CLI, e.g. by hand.
inline std::string CliPath()
{
  const char* cli = std::getenv("KX_CLI");
  return cli ? cli : "";
}

// Text as one shell word.
inline std::string Quote(const std::string& Text)
{
  std::string q = "'";
  for (const char c : Text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Args, each as one shell word.
inline std::string Quote(const std::vector<std::string>& Args)
{
  std::string words;
  for (const auto& a : Args) words += (words.empty() ? "" : " ") + Quote(a);
  return words;
}

// Runs tessarin-cli with Args, a shell fragment (Quote what needs it), inside folder Cwd, or in the
// test's own current folder when Cwd is empty.
inline TRun RunCli(const std::string& Args, const std::string& Cwd = {})
{
  const std::string cli = CliPath();
  if (cli.empty()) {
    ADD_FAILURE() << "KX_CLI is not set";
    return {};
  }
  const TScratchFolder capture;
  const std::string out = capture / "stdout.txt";
  const std::string err = capture / "stderr.txt";
  const std::string command = (Cwd.empty() ? "" : "cd " + Quote(Cwd) + " && ") + Quote(cli) + " " + Args + " >" +
                              Quote(out) + " 2>" + Quote(err);
  const int raw = std::system(command.c_str());
  TRun run;
  run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.Out = ReadFileText(out);
  run.Err = ReadFileText(err);
  return run;
}

inline std::vector<std::string> Lines(const std::string& Text)
{
  std::vector<std::string> lines;
  std::istringstream in(Text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace kx::test
