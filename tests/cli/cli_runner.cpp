#include "cli_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli/cli.h"
#include "interfaces/interface_table.h"
#include "sim/bench_config.h"
#include "support/test_paths.h"

namespace benchcap::test {
namespace {

// The value a variable has during the run: the run's own setting, else the process's.
std::optional<std::string> lookup(const CliEnvironment& env, const std::string& name) {
    for (auto it = env.rbegin(); it != env.rend(); ++it) {
        if (it->first == name)
            return it->second;
    }
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// The environment of a run: the caller's settings, and never real time in the driver shim.
CliEnvironment withVirtualTime(CliEnvironment env) {
    env.emplace_back("BENCHCAP_SIM_REALTIME", std::nullopt);
    return env;
}

// A copy of the bench with `clock: virtual`; line numbers stay as they were.
std::string virtualCopy(const std::string& yaml) {
    static const std::regex clockLine(R"((^|\n)clock:[^\n]*)");
    std::string text = std::regex_replace(yaml, clockLine, "$1clock: virtual");
    if (text == yaml && yaml.find("clock:") == std::string::npos)
        text += "\nclock: virtual\n";
    return text;
}

// The choice with its simulated bench on virtual time; any other choice as it is.
std::string virtualBench(const std::string& choice) {
    const Result<interfaces::InterfaceChoice> parsed = interfaces::parseInterfaceChoice(choice);
    if (!parsed || parsed->kind != interfaces::InterfaceChoice::Kind::Sim)
        return choice;
    std::string yaml;
    if (parsed->benchFile.empty()) {
        yaml = sim::builtinBenchYaml();
    } else {
        const Result<sim::BenchConfig> loaded = sim::loadBenchFile(parsed->benchFile);
        if (!loaded || !loaded->realTime)
            return choice;  // a broken file reaches the CLI as it is, for its message
        yaml = readFile(parsed->benchFile);
    }
    const std::string copy = simBench(virtualCopy(yaml));
    const Result<sim::BenchConfig> check = sim::loadBenchFile(copy.substr(4));
    EXPECT_TRUE(check && !check->realTime)
        << "the runner could not put " << choice << " on virtual time: " << check.error();
    return copy;
}

// Sets the variables for the lifetime of the object and restores them.
class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const CliEnvironment& env) {
        for (const auto& [name, value] : env) {
            const char* old = std::getenv(name.c_str());
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            set(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            set(it->first, it->second);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    static void set(const std::string& name, const std::optional<std::string>& value) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    CliEnvironment saved_;
};

}  // namespace

std::string simBench(const std::string& yaml) {
    const auto path = makeTempDir("cli-bench") / "bench.yaml";
    std::ofstream(path) << yaml;
    return "sim:" + path.string();
}

std::vector<std::string> onVirtualTime(std::vector<std::string> args, const CliEnvironment& env) {
    // Only options before the command belong to the program itself.
    size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (args[i] == "--interface" && i + 1 < args.size()) {
            args[i + 1] = virtualBench(args[i + 1]);
            return args;
        }
        if (args[i].rfind("--interface=", 0) == 0) {
            const std::string choice = args[i].substr(12);
            args[i] = "--interface";
            args.insert(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, choice);
            return onVirtualTime(std::move(args), env);
        }
    }
    // No choice given: the program would take BENCHCAP_INTERFACE; make it explicit.
    const std::optional<std::string> fromEnv = lookup(env, "BENCHCAP_INTERFACE");
    const std::string choice = fromEnv && !fromEnv->empty() ? *fromEnv : "library";
    args.insert(args.begin(), {"--interface", choice});
    return onVirtualTime(std::move(args), env);
}

CliResult runCliInProcess(std::vector<std::string> args, const CliEnvironment& env) {
    const CliEnvironment runEnv = withVirtualTime(env);
    const ScopedEnvironment scoped(runEnv);
    const std::vector<std::string> runArgs = onVirtualTime(std::move(args), runEnv);
    std::ostringstream out;
    std::ostringstream err;
    const int code = cli::runCli(runArgs, out, err);
    return {code, out.str(), err.str()};
}

CliResult runCliProcess(std::vector<std::string> args, const CliEnvironment& env,
                        void (*inChild)()) {
    // The child inherits this process's environment with the run's settings applied; the
    // rewrite reads BENCHCAP_INTERFACE as the child will see it.
    const CliEnvironment runEnv = withVirtualTime(env);
    const ScopedEnvironment scoped(runEnv);
    std::vector<std::string> argv = onVirtualTime(std::move(args), runEnv);
    argv.insert(argv.begin(), BENCHCAP_CLI_PATH);
    std::vector<char*> argvPtrs;
    for (std::string& a : argv)
        argvPtrs.push_back(a.data());
    argvPtrs.push_back(nullptr);

    const auto dir = makeTempDir("cli-run");
    const std::string outFile = (dir / "stdout").string();
    const std::string errFile = (dir / "stderr").string();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        if (inChild)
            inChild();
        execv(argvPtrs[0], argvPtrs.data());
        _exit(127);
    }
    CliResult result;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        ADD_FAILURE() << "cannot run " << BENCHCAP_CLI_PATH;
        return result;
    }
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(outFile);
    result.err = readFile(errFile);
    return result;
}

void expectAsOnTheBench(const std::string& via, std::vector<std::string> args,
                        const std::string& file) {
    const auto dir = makeTempDir("as-on-the-bench");
    std::string said[2];
    for (int i = 0; i < 2; ++i) {
        std::vector<std::string> all = {"--interface", i == 0 ? via : "sim"};
        all.insert(all.end(), args.begin(), args.end());
        const std::string out = (dir / (std::to_string(i) + "-" + file)).string();
        if (!file.empty())
            all.insert(all.end(), {"-o", out});
        const CliResult r = runCliInProcess(all);
        ASSERT_EQ(r.code, 0) << all[1] << " " << args[0] << ": " << r.err;
        said[i] = file.empty() ? r.out : readFile(out);
    }
    EXPECT_FALSE(said[0].empty()) << args[0] << " " << file;
    EXPECT_TRUE(said[0] == said[1]) << args[0] << " " << file << " differs";
}

}  // namespace benchcap::test
