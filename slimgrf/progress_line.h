#pragma once
// The progress line of a run over an archive's entries, drawn as the
// cleaning program draws it: on a terminal only, never with --quiet or into
// a pipe.

#include <cstdint>
#include <memory>
#include <string>

class TerminalHost;

class ProgressLine {
 public:
  // `status`: the text before the percentage; `json`: stdout carries JSON,
  // so the line goes to stderr.
  ProgressLine(const std::string& status, uint64_t bytes, bool quiet, bool json);
  ~ProgressLine();
  void Update(uint32_t done, uint32_t total);
  // Takes the line away before anything else is printed; the next Update
  // draws it again.
  void Clear();

 private:
  std::unique_ptr<TerminalHost> host_;
  std::string status_;
  bool shown_ = false;
  uint32_t percent_ = 101;
};
