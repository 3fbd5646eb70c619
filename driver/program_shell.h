#pragma once

#include <functional>
#include <string>

#include "driver/evaluate.h"
#include "driver/options.h"
#include "driver/run_sequence.h"

// What a program that runs the evaluation (tovran, tovran-mpi) does its own
// way; the shell does the rest in one order for both.
class ProgramHost {
 public:
  virtual ~ProgramHost() = default;
  // Whether this process writes the report and the outputs.
  virtual bool Writes() const { return true; }
  // Carries out step, which throws Failure with the message the program
  // prints; exhausted memory becomes a Failure naming what. Here the
  // Failure goes on to the program's main, which prints it and exits with
  // status 1.
  virtual void Step(const char *what, const std::function<void()> &step);
  // The pairs of the file; failures thrown as Step throws them.
  virtual DatasetPairs Load(const std::string &fname);
  // The steps of the runs done the host's way.
  virtual RunSteps Steps() { return {}; }
  // Seconds on the host's clock.
  virtual double Now() { return Seconds(); }
  // Called once every output is in place, with the seconds the load took
  // and the whole evaluation.
  virtual void Finished(double /*load_seconds*/, double /*total_seconds*/) {}
};

// The whole evaluation of opts, from start (on host.Now()'s clock): loads
// the file, splits it, evaluates every run, prints the report and writes
// the outputs, each created before the runs and put in place only once
// complete. A failed step ends it by the Failure host.Step throws.
void RunEvaluation(ProgramHost &host, const Options &opts, double start);

// The warning printed when each user's items stand in order, so that the
// last pair is not a recent or random one; empty when share (OrderedShare)
// is 0.9 or less.
std::string OrderedWarning(double share);
