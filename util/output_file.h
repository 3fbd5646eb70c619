#pragma once

#include <cstdio>
#include <string>

// An output written in full before it replaces anything: the text goes to a
// temporary file created exclusively under a unique name in the folder of
// the destination, and only Commit renames it onto the destination. Until
// then an earlier file of that name stays as it was, and a failure, or an
// object destroyed uncommitted, removes the temporary (and nothing else).
// Temporaries still present when the process exits (std::exit included) are
// removed too, and on the signals RemoveTemporariesOnSignals names.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;
  ~OutputFile() { Discard(); }

  // Creates the temporary for path, with the mode an earlier regular file of
  // that name has (else the usual mode for new files). A path that names a
  // link is followed, so that the file linked to is replaced. A path that is
  // not a regular file (a device, a pipe), or that is the file of an open
  // standard stream (/dev/stdout with standard output sent to a file), is
  // written in place, never replaced: a standard stream through its own
  // descriptor, so that its earlier text and its position are kept. Returns
  // false with *error (the system's reason) on failure.
  bool Open(const std::string &path, std::string *error);

  // Where the text goes; valid between a successful Open and Close.
  std::FILE *stream() const { return stream_; }

  // Flushes and closes the stream; false with *error if any write failed.
  bool Close(std::string *error);

  // Renames the closed temporary onto the destination; false with *error.
  bool Commit(std::string *error);

  // Closes the stream if open and removes the temporary if not committed.
  // Every member leaves errno as the system set it for the failure reported.
  void Discard();

 private:
  std::string path_;       // the destination as named
  std::string target_;     // the destination, links followed
  std::string temporary_;  // empty when writing in place or once committed
  std::FILE *stream_ = nullptr;
};

// True when a and b name the same existing file: the same device and inode,
// whatever the names and links ("-", standard input, is no file).
bool SameFile(const std::string &a, const std::string &b);

// The check every program makes before it reads input: why output cannot be
// written ("it is " + input_role when it is the input file, "it is a folder"),
// or "" when it can.
std::string OutputRefusal(const std::string &output, const std::string &input,
                          const std::string &input_role);

// Installs, for SIGHUP, SIGINT, SIGPIPE and SIGTERM where the signal is not
// ignored, a handler that removes the temporaries of every open OutputFile
// and then ends the process as the signal would have. For programs; a
// library leaves signals to its caller.
void RemoveTemporariesOnSignals();
