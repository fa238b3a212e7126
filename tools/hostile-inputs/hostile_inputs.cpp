// hostile_inputs: feeds generated and mutated inputs to the readers of what
// the logger finds on disk (coms.cfg and its validation, comports.map, the
// panel resource) and of the arrival-time index vornacq4-when reads, and
// counts crashes, hangs, sanitizer findings and wrong
// results. Build it with -fsanitize=address,undefined for the findings to
// count (README: "Hostile inputs").
//
//   hostile_inputs [--count N] [--seed S]   N random inputs to each reader (10000)
//   hostile_inputs --sample                 the fixed sample of the nastiest
//   hostile_inputs --only TARGET:INDEX      one random input, in this process
//
// Inputs run in child processes, a batch each, with a deadline per input: a
// crash or a hang ends the child, is counted against the input that was
// running, and the next child goes on from the input after it. What was
// found is kept in the working directory, named by target and input number.
#include "hostile_inputs.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace hostile;

namespace {

constexpr int kBatch = 250;       // inputs per child: a crash costs one child
constexpr int kDeadlineMs = 10000; // one input that takes longer hangs

// Written by the child, read by the parent while it waits.
struct Progress {
    volatile int current; // the input under way
    volatile int wrong;   // inputs whose check failed
};

struct Counts {
    int tried = 0, crashes = 0, hangs = 0, findings = 0, wrong = 0;
};

struct Run {
    bool sample = false;
    std::uint64_t seed = 1;
    int count = 10000;
    std::string dir; // working directory
};

Input input_of(const Run &run, Target target, int index)
{
    return run.sample ? sample_input(target, index) : random_input(target, run.seed, index);
}

// Inputs are put in a directory of the target's own inside the working
// directory, never where the tool was started (a real coms.cfg may lie there).
bool enter(const Run &run, Target target)
{
    const std::string home = run.dir + "/" + std::to_string(static_cast<int>(target));
    mkdir(home.c_str(), 0777);
    return chdir(home.c_str()) == 0;
}

// The child: inputs first..last-1, each checked; problems to stderr.
[[noreturn]] void child(const Run &run, Target target, int first, int last, Progress *progress)
{
    if (!enter(run, target))
        _exit(2);
    prepare(target);
    for (int i = first; i < last; ++i) {
        progress->current = i;
        const std::string fault = run_input(target, input_of(run, target, i));
        if (!fault.empty()) {
            ++progress->wrong;
            std::fprintf(stderr, "hostile_inputs: %s input %d: %s\n", target_name(target), i, fault.c_str());
        }
    }
    progress->current = last;
    std::exit(0); // not _exit: the leak checker runs at exit
}

std::string read_text(const std::string &path)
{
    std::string text;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

int occurrences(const std::string &text, const char *what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Keeps the log of a child that found something, named after the input.
void keep(const Run &run, Target target, int index, const char *what, const std::string &log)
{
    const std::string name = run.dir + "/" + what + "-" + std::to_string(static_cast<int>(target)) + "-" +
                             std::to_string(index) + ".log";
    if (std::FILE *f = std::fopen(name.c_str(), "wb")) {
        std::fwrite(log.data(), 1, log.size(), f);
        std::fclose(f);
    }
    std::printf("  %s: %s at input %d (log: %s)\n", target_name(target), what, index, name.c_str());
}

// Runs inputs first..last-1 in one child. Returns the input to go on from.
int run_batch(const Run &run, Target target, int first, int last, Progress *progress, Counts &counts)
{
    const std::string log = run.dir + "/child.log";
    progress->current = first;
    progress->wrong = 0;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDERR_FILENO);
        child(run, target, first, last, progress);
    }
    int status = 0, seen = first;
    auto since = std::chrono::steady_clock::now();
    bool hung = false;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (progress->current != seen) {
            seen = progress->current;
            since = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - since > std::chrono::milliseconds(kDeadlineMs)) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            hung = true;
            break;
        }
    }
    // The input under way, or the last one when the child failed on its way out.
    const int stopped = std::min(static_cast<int>(progress->current), last - 1);
    const std::string text = read_text(log);
    const int findings = occurrences(text, "ERROR: AddressSanitizer") + occurrences(text, "ERROR: LeakSanitizer") +
                         occurrences(text, "runtime error:");
    counts.wrong += progress->wrong;
    counts.findings += findings;
    const bool clean = !hung && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (hung)
        ++counts.hangs;
    else if (!clean && findings == 0)
        ++counts.crashes;
    if (!clean || findings > 0 || progress->wrong > 0)
        keep(run, target, clean ? first : stopped, hung ? "hang" : findings > 0 ? "finding" : clean ? "wrong" : "crash",
             text);
    counts.tried += (clean ? last : stopped + 1) - first;
    return clean ? last : stopped + 1;
}

Counts run_target(const Run &run, Target target, Progress *progress)
{
    Counts counts;
    const int total = run.sample ? sample_count(target) : run.count;
    for (int next = 0; next < total;)
        next = run_batch(run, target, next, std::min(next + kBatch, total), progress, counts);
    return counts;
}

bool parse(int argc, char **argv, Run &run, std::string &only)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--sample")
            run.sample = true;
        else if (arg == "--count" && hasValue)
            run.count = std::atoi(argv[++i]);
        else if (arg == "--seed" && hasValue)
            run.seed = std::strtoull(argv[++i], nullptr, 10);
        else if (arg == "--only" && hasValue)
            only = argv[++i];
        else
            return false;
    }
    return run.count > 0;
}

// One input in this process, for a debugger: "0:123" is coms.cfg input 123.
int run_one(const Run &run, const std::string &only)
{
    const int target = std::atoi(only.c_str());
    const std::size_t colon = only.find(':');
    if (target < 0 || target >= kTargets || colon == std::string::npos)
        return 2;
    const Target t = static_cast<Target>(target);
    if (!enter(run, t))
        return 2;
    prepare(t);
    const std::string fault = run_input(t, input_of(run, t, std::atoi(only.c_str() + colon + 1)));
    std::printf("%s\n", fault.empty() ? "ok" : fault.c_str());
    return fault.empty() ? 0 : 1;
}

} // namespace

// The leak checker's exceptions: fontconfig keeps its caches until the
// process ends, by design; that is not the logger's to mend.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

int main(int argc, char **argv)
{
    Run run;
    std::string only;
    if (!parse(argc, argv, run, only)) {
        const bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
        std::fprintf(help ? stdout : stderr,
                     "usage: hostile_inputs [--count N] [--seed S] [--sample] [--only TARGET:INDEX]\n");
        return help ? 0 : 2;
    }
    char dir[] = "/tmp/hostile_inputs.XXXXXX";
    if (mkdtemp(dir) == nullptr)
        return 2;
    run.dir = dir;
    const auto remove_dir = [&] { std::system(("rm -rf '" + run.dir + "'").c_str()); };
    if (!only.empty()) {
        const int result = run_one(run, only);
        remove_dir();
        return result;
    }

    // Shared with the children, so a crash cannot take the progress with it.
    auto *progress = static_cast<Progress *>(
        mmap(nullptr, sizeof(Progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (progress == MAP_FAILED)
        return 2;
    std::printf("hostile_inputs: %s, seed %llu; working directory %s\n",
                run.sample ? "fixed sample" : (std::to_string(run.count) + " inputs to each reader").c_str(),
                static_cast<unsigned long long>(run.seed), dir);
    bool clean = true;
    for (int t = 0; t < kTargets; ++t) {
        const auto start = std::chrono::steady_clock::now();
        const Counts c = run_target(run, static_cast<Target>(t), progress);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-15s %6d inputs: %d crashes, %d hangs, %d sanitizer findings, %d wrong results (%.0f s)\n",
                    target_name(static_cast<Target>(t)), c.tried, c.crashes, c.hangs, c.findings, c.wrong, seconds);
        clean = clean && c.crashes == 0 && c.hangs == 0 && c.findings == 0 && c.wrong == 0;
    }
    // Nothing found: nothing worth keeping.
    if (clean)
        remove_dir();
    return clean ? 0 : 1;
}
