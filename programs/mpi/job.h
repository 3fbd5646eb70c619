#pragma once

#include <mpi.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "util/failure.h"

// This process's place in the job: rank and number of ranks of
// MPI_COMM_WORLD. Started without mpirun, a process is rank 0 of 1.
struct Job {
  int rank = 0;
  int size = 1;
  bool root() const { return rank == 0; }
};

// Thrown on every rank once the ranks agreed that one of them failed; the
// message is printed already. The job then ends with status 1.
struct JobFailed {};

// Collective: every rank passes its own failure's message, as the
// single-process program would print it on standard error (empty: none).
// When any rank failed, the lowest such rank prints its message (exactly
// once in the job) and every rank throws JobFailed; otherwise returns.
void AgreeOnFailure(const Job &job, const std::string &local);

// Figures of this rank for the timing table: processor seconds (all its
// threads) spent in local work, the steps below, so that ranks sharing a
// core are not charged for each other's time; and the bytes this rank handed
// to collectives as its own contribution (a broadcast's root counts the
// whole array once).
struct RankStats {
  double busy_seconds = 0;
  double query_seconds = 0;  // the part of busy_seconds spent in the split queries
  double build_seconds = 0;  // the part spent in the model builds (item lists split)
  int64_t bytes_sent = 0;
};
RankStats &Stats();

// The names of the steps that answer a rank's block of queries and that
// build a model.
constexpr char kQueryStep[] = "the queries";
constexpr char kModelStep[] = "the model";

// Processor seconds of this process so far, all threads.
double ProcessSeconds();

// Collective: runs step() on every rank, catching its Failure (whose
// message is whole), exhausted memory and the standard exceptions as this
// rank's failure, then agrees as AgreeOnFailure does.
template <class Step>
void RunStep(const Job &job, const char *what, Step step) {
  std::string failure;
  const double start = ProcessSeconds();
  try {
    step();
  } catch (const Failure &error) {
    failure = error.message;
  } catch (const std::bad_alloc &) {
    failure = std::string("***Memory allocation failed for ") + what;
  } catch (const std::exception &error) {
    failure = std::string(what) + ": " + error.what();
  }
  const double seconds = ProcessSeconds() - start;
  Stats().busy_seconds += seconds;
  if (std::string(what) == kQueryStep) Stats().query_seconds += seconds;
  if (std::string(what) == kModelStep) Stats().build_seconds += seconds;
  AgreeOnFailure(job, failure);
}

// Broadcasts count bytes at data from root, in pieces that MPI's int
// counts can hold.
void BroadcastBytes(const Job &job, void *data, int64_t count, int root);
