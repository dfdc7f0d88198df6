#pragma once
// Shared by the tests: a private temporary folder, and an environment in which
// the registry and the session are the test's own.
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// A fresh temporary folder, removed with everything in it when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Points $VINTREL_REGISTRY and $VINTREL_SESSION into a temporary folder for the
// life of the object and restores them afterwards.
class IsolatedEnvironment {
public:
    IsolatedEnvironment();
    ~IsolatedEnvironment();
    const TempDir& dir() const { return m_dir; }

private:
    TempDir m_dir;
    std::vector<std::pair<std::string, std::string>> m_saved;
};

void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

// Runs a program with an argument vector; returns its exit status and what it
// printed on stdout (stderr passes through).
struct RunResult {
    int status = -1;
    std::string out;
};
RunResult Run(const std::vector<std::string>& argv);
// The same with the standard error in `out` too.
RunResult RunMerged(const std::vector<std::string>& argv);

} // namespace testing_support

namespace testing_support {

// A started program whose stdout the test reads line by line; killed (SIGKILL)
// and reaped when destroyed if still running.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv, bool mergeStderr = false);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    int pid() const { return m_pid; }
    // The next line without its '\n'; "" on end of file or after `timeoutMs`.
    std::string ReadLine(int timeoutMs = 10000);
    // Everything it writes until it closes its stdout.
    std::string ReadAll();
    void Kill(int signal);
    // Waits for the end; the exit status, or 128 + signal. -1 after `timeoutMs`.
    int Wait(int timeoutMs = 10000);
    void CloseStdin();

private:
    int m_pid = -1;
    int m_out = -1;
    int m_in = -1;
    std::string m_buffer;
    bool m_reaped = false;
};

// The folder of the test helper programs (session_peer).
std::string TestBinaryDir();

} // namespace testing_support

namespace testing_support {

// A copy of the built program in `folder` (its program folder), started
// headless with the automation channel on, and driven with vintrel-auto.
class RunningProgram {
public:
    // `ui` is what VINTREL_UI says: "headless", or "gtk" for the desktop.
    RunningProgram(const std::string& folder, std::vector<std::string> args = {},
                   const std::string& name = "vintrel", const std::string& ui = "headless");
    int pid() const { return m_child->pid(); }
    // Waits until the channel answers; false after `timeoutMs`.
    bool WaitReady(int timeoutMs = 10000);
    // One command; its reply as vintrel-auto prints it (status in `status`).
    std::string Ask(std::vector<std::string> words, int* status = nullptr);
    // The first line of a `get`.
    std::string Get(const std::string& target, const std::string& property);
    int Wait(int timeoutMs = 10000) { return m_child->Wait(timeoutMs); }
    void Kill(int signal) { m_child->Kill(signal); }

private:
    std::unique_ptr<Child> m_child;
};

} // namespace testing_support

namespace testing_support {

// A test's own web server: a Python script that prints "... port N" once it
// listens on 127.0.0.1 and ends when its standard input closes (so a crashed
// test never leaves it running).
class FixtureServer {
public:
    explicit FixtureServer(const std::string& script);
    bool Started() const { return !m_base.empty(); }
    // "http://127.0.0.1:N/", or "" when the server did not start.
    const std::string& Base() const { return m_base; }

private:
    std::unique_ptr<Child> m_child;
    std::string m_base;
};

} // namespace testing_support

namespace testing_support {

// Polls `done` every 20 ms until it holds; false when `seconds` pass first.
template <class F> bool WaitFor(F&& done, int seconds = 30)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace testing_support
