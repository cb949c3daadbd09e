// Fault-injection soak of the update: seeded runs, each on a virtual MIDI
// system of its own with one kind of fault (bench/soak_faults.h). Each run's
// verdict (from the log) is compared with the truth: does the chosen
// controller hold exactly the image, and did no other controller receive
// firmware? A success verdict over anything else is a mismatch, the one
// outcome the program must never produce.
//
// The addressed controller is the truth model: it places messages by the
// index they carry, so it tells a block sent again from the next one. A plain
// controller cannot: after a reply that came too late it stores the block
// again, which no updater can see on this protocol. It runs only for the
// faults where that cannot happen.
//
// A controller that falls silent in the last short block cannot be seen
// either: no reply acknowledges that block. Its runs are counted apart, as
// undetectable by design, never as successes and never as mismatches.
//
// Usage: soak-transfer [SEED] [RUNS] [RUN]. Prints a table by fault kind and
// model and, last, "runs: N, verdict mismatches: M"; exits 1 when M is not 0,
// when a controller that was not chosen received firmware or when a run has no
// verdict. With RUN, only that run (counted from 0) goes, and its log is shown.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/soak_faults.h"
#include "bench/soak_run.h"

namespace {

using korvane::soak::Expect;
using korvane::soak::Fault;
using korvane::soak::RunPlan;
using korvane::soak::RunResult;
using korvane::soak::Verdict;

constexpr std::uint32_t kDefaultSeed = 20261208;
// About 60 runs a kind, in about eleven minutes: most of a run is waiting.
constexpr int kDefaultRuns = 1380;
constexpr int kThreads = 2;

bool Mismatch(const RunPlan& plan, const RunResult& r) {
  const bool success = r.verdict == Verdict::kSuccess;
  switch (korvane::soak::ExpectOf(plan.fault)) {
    case Expect::kTruth:
      // A second updater that got a port could send into the same controller.
      return (success && !r.holdsImage) || r.secondUpdaterPorts > 0;
    case Expect::kNeverSuccess:
      return success;
    case Expect::kNothingSent:
      return r.verdict != Verdict::kDeviceSilent || r.chosenMessages > 0;
    case Expect::kUndetectable:
      return false;
    case Expect::kLockRefused:
      return r.secondLockHeld;
  }
  return true;
}

bool HasNoVerdict(const RunPlan& plan, const RunResult& r) {
  return !r.problem.empty() || (plan.fault != Fault::kLockFolders && r.verdict == Verdict::kNone);
}

std::string Describe(const RunPlan& plan, const RunResult& r) {
  std::string what = r.problem;
  if (what.empty() && HasNoVerdict(plan, r))
    what = "no verdict";
  if (Mismatch(plan, r)) {
    what += what.empty() ? "" : "; ";
    if (plan.fault == Fault::kLockFolders)
      what += "the second take of the lock was held";
    else if (r.secondUpdaterPorts > 0)
      what += "a second updater opened the ports";
    else if (r.verdict == Verdict::kSuccess)
      what += "success over wrong firmware (" + std::to_string(r.heldMessages) + " of " +
              std::to_string(plan.messages) + " messages held)";
    else if (r.verdict != Verdict::kDeviceSilent)
      what += "no silent-device verdict";
    else
      what += "the restarted controller received firmware";
  }
  if (r.unchosenReceived) {
    what += what.empty() ? "" : "; ";
    what += "a controller that was not chosen received firmware";
  }
  return what;
}

struct Row {
  int runs = 0;
  int successes = 0;
  int dangers = 0;
  int lost = 0;
  int silent = 0;
  int falseAlarms = 0;
  int undetectable = 0;
  int unchosen = 0;
  int possible = 0;
  int recovered = 0;
  int mismatches = 0;
  int noVerdict = 0;

  void Add(const RunPlan& plan, const RunResult& r) {
    ++runs;
    const bool success = r.verdict == Verdict::kSuccess;
    const bool apart = korvane::soak::ExpectOf(plan.fault) == Expect::kUndetectable;
    successes += success && !apart;
    undetectable += success && apart;
    dangers += r.verdict == Verdict::kDanger;
    lost += r.verdict == Verdict::kLostConnection;
    silent += r.verdict == Verdict::kDeviceSilent;
    falseAlarms += plan.fault != Fault::kLockFolders && !success && r.holdsImage;
    unchosen += r.unchosenReceived;
    possible += plan.fault != Fault::kLockFolders && plan.successPossible;
    recovered += plan.successPossible && success;
    mismatches += Mismatch(plan, r);
    noVerdict += HasNoVerdict(plan, r);
  }
};

void PrintHeader() {
  std::printf("%-24s %-9s %5s %7s %6s %5s %6s %6s %6s %8s %8s %8s\n", "fault kind", "model", "runs",
              "success", "danger", "lost", "silent", "false", "undet.", "unchosen", "recovery",
              "mismatch");
  std::printf("%-24s %-9s %5s %7s %6s %5s %6s %6s %6s %8s %8s %8s\n", "", "", "", "", "", "",
              "device", "alarm", "design", "got fw", "rate", "");
}

void PrintRow(const char* name, const char* model, const Row& row) {
  char rate[16] = "-";
  if (row.possible > 0)
    std::snprintf(rate, sizeof rate, "%.0f%%", 100.0 * row.recovered / row.possible);
  std::printf("%-24s %-9s %5d %7d %6d %5d %6d %6d %6d %8d %8s %8d\n", name, model, row.runs,
              row.successes, row.dangers, row.lost, row.silent, row.falseAlarms, row.undetectable,
              row.unchosen, rate, row.mismatches);
}

std::string OneLine(const std::string& log) {
  std::string line;
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log.compare(i, 2, "\r\n") == 0) {
      line += i == 0 ? "" : " | ";
      ++i;
    } else {
      line += log[i];
    }
  }
  return line;
}

const char* ModelLabel(const RunPlan& plan) {
  if (plan.fault == Fault::kLockFolders)
    return "-";
  return plan.addressed ? "addressed" : "plain";
}

int RunOne(const RunPlan& plan, int index) {
  const RunResult r = korvane::soak::Execute(plan);
  std::printf("%s\n\nrun %d (seed %u, %s, %s, %zu messages, %zu bytes)\n", r.log.c_str(), index,
              plan.seed, korvane::soak::FaultName(plan.fault), ModelLabel(plan), plan.messages,
              plan.image.size());
  const std::string what = Describe(plan, r);
  std::printf("holds image: %s; %s\n", r.holdsImage ? "yes" : "no",
              what.empty() ? "as the truth allows" : what.c_str());
  return Mismatch(plan, r) || r.unchosenReceived || HasNoVerdict(plan, r) ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint32_t seed =
      argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 0)) : kDefaultSeed;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : kDefaultRuns;
  if (argc > 3) {
    const int index = std::atoi(argv[3]);
    return RunOne(korvane::soak::DrawPlan(seed, index), index);
  }

  std::vector<RunPlan> plans;
  plans.reserve(static_cast<std::size_t>(runs));
  for (int i = 0; i < runs; ++i)
    plans.push_back(korvane::soak::DrawPlan(seed, i));

  const auto start = std::chrono::steady_clock::now();
  std::vector<RunResult> results(plans.size());
  // The lock runs change the environment, so they go before any thread starts.
  std::vector<std::size_t> queue;
  for (std::size_t i = 0; i < plans.size(); ++i) {
    if (plans[i].fault == Fault::kLockFolders)
      results[i] = korvane::soak::Execute(plans[i]);
    else
      queue.push_back(i);
  }
  std::atomic<std::size_t> next{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (std::size_t q = next++; q < queue.size(); q = next++)
        results[queue[q]] = korvane::soak::Execute(plans[queue[q]]);
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  // One row per fault kind and controller model.
  std::vector<Row> rows(static_cast<std::size_t>(Fault::kCount) * 2);
  Row total;
  Row undetectable;
  std::vector<std::string> notes;
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const RunPlan& plan = plans[i];
    const RunResult& r = results[i];
    const std::size_t row = static_cast<std::size_t>(plan.fault) * 2 + (plan.addressed ? 0 : 1);
    rows[row].Add(plan, r);
    if (korvane::soak::ExpectOf(plan.fault) == Expect::kUndetectable)
      undetectable.Add(plan, r);
    else
      total.Add(plan, r);
    const std::string what = Describe(plan, r);
    if (!what.empty()) {
      notes.push_back("run " + std::to_string(i) + " (seed " + std::to_string(plan.seed) + ", " +
                      korvane::soak::FaultName(plan.fault) + ", " + ModelLabel(plan) + ", " +
                      std::to_string(plan.messages) + " messages): " + what);
      // A mismatch may depend on the timing of that moment: its log shows
      // what the updater saw.
      notes.push_back("  log: " + OneLine(r.log));
    }
  }

  PrintHeader();
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const auto fault = static_cast<Fault>(k / 2);
    if (rows[k].runs > 0 && korvane::soak::ExpectOf(fault) != Expect::kUndetectable) {
      PrintRow(korvane::soak::FaultName(fault),
               fault == Fault::kLockFolders ? "-"
               : k % 2 == 0                 ? "addressed"
                                            : "plain",
               rows[k]);
    }
  }
  PrintRow("all", "", total);
  std::printf("undetectable by design (no reply acknowledges the last short block):\n");
  PrintRow(korvane::soak::FaultName(Fault::kSilentInTail), "", undetectable);
  for (const std::string& note : notes)
    std::printf("%s\n", note.c_str());
  const int mismatches = total.mismatches + undetectable.mismatches;
  const int unchosen = total.unchosen + undetectable.unchosen;
  const int noVerdict = total.noVerdict + undetectable.noVerdict;
  std::printf("seed %u, %d threads, %.1f s\n", seed, kThreads, seconds);
  std::printf("runs where a controller that was not chosen received firmware: %d\n", unchosen);
  std::printf("runs: %d, verdict mismatches: %d\n", total.runs + undetectable.runs, mismatches);
  return mismatches == 0 && unchosen == 0 && noVerdict == 0 ? 0 : 1;
}
