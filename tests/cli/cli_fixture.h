#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/cli.h"

namespace hivewise::testing {

inline constexpr const char* kSystemHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n";
inline constexpr const char* kUserHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to "
    "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n";

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// A Wine prefix in a temporary folder, and hivewise-cli run on it in-process.
class CliPrefix {
  public:
    CliPrefix() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "hivewise-cli-XXXXXX").string();
        dir_ = ::mkdtemp(tmpl.data());
    }
    ~CliPrefix() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    CliPrefix(const CliPrefix&) = delete;
    CliPrefix& operator=(const CliPrefix&) = delete;

    const std::filesystem::path& Dir() const { return dir_; }
    void SystemReg(const std::string& sections) { Write("system.reg", kSystemHeader + sections); }
    void UserReg(const std::string& sections) { Write("user.reg", kUserHeader + sections); }
    void Write(const std::string& name, const std::string& content) {
        std::ofstream(dir_ / name, std::ios::binary) << content;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    ino_t Inode(const std::string& name) const {
        struct stat st {};
        ::stat((dir_ / name).c_str(), &st);
        return st.st_ino;
    }

    // hivewise-cli --prefix DIR reg ARGS, with `input` as its standard input.
    CliRun Reg(std::vector<std::string> args, const std::string& input = "") const {
        args.insert(args.begin(), {"--prefix", dir_.string(), "reg"});
        return Run(args, input);
    }
    static CliRun Run(const std::vector<std::string>& args, const std::string& input = "") {
        std::vector<std::string> words{"hivewise-cli"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        std::istringstream in(input);
        std::ostringstream out, err;
        CliRun run;
        run.status = RunCli(static_cast<int>(words.size()), argv.data(), in, out, err);
        run.out = out.str();
        run.err = err.str();
        return run;
    }

  private:
    std::filesystem::path dir_;
};

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// A failure as the user sees it: its status and exactly one line on stderr.
inline ::testing::AssertionResult FailedWithOneLine(const CliRun& run, int status = 1) {
    size_t lines = 0;
    for (char c : run.err)
        lines += c == '\n';
    if (run.status == status && lines == 1 && run.err.back() == '\n') {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "status " << run.status << ", stdout \"" << run.out
                                         << "\", stderr \"" << run.err << "\"";
}

// The run with its question taken off the front of stderr, where questions go: the
// question once per answer read, and the line break written when the input ended.
inline CliRun WithoutQuestion(CliRun run, const std::string& question) {
    size_t at = 0;
    while (!question.empty() && run.err.compare(at, question.size(), question) == 0)
        at += question.size();
    if (at > 0 && at < run.err.size() && run.err[at] == '\n') ++at;
    run.err.erase(0, at);
    return run;
}

// A wrong command line: status 2, nothing on stdout, and on stderr the error, then the
// usage of the command that was named.
inline ::testing::AssertionResult UsageError(const CliRun& run, const std::string& command) {
    std::string usage = "Usage: hivewise-cli" + (command.empty() ? "" : " " + command) + " [";
    size_t firstEnd = run.err.find('\n');
    bool twoLines = firstEnd != std::string::npos && firstEnd > 0 && run.err.back() == '\n' &&
                    run.err.find('\n', firstEnd + 1) == run.err.size() - 1;
    if (run.status == 2 && run.out.empty() && twoLines &&
        run.err.compare(firstEnd + 1, usage.size(), usage) == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "status " << run.status << ", stdout \"" << run.out
                                         << "\", stderr \"" << run.err << "\"";
}

}  // namespace hivewise::testing
