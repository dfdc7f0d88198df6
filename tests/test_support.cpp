#include "tests/test_support.h"

#include "platform/session/registry.h"
#include "platform/session/session.h"
#include "platform/session/windows.h"
#include "platform/sys/error.h"

#include <cerrno>
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "vintrel-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

IsolatedEnvironment::IsolatedEnvironment()
{
    for (const char* name : {"VINTREL_REGISTRY", "VINTREL_SESSION"}) {
        const char* v = std::getenv(name);
        m_saved.emplace_back(name, v ? v : std::string("\x01"));
    }
    ::setenv("VINTREL_REGISTRY", m_dir.file("registry.sqlite3").c_str(), 1);
    ::setenv("VINTREL_SESSION", m_dir.file("session").c_str(), 1);
    session::RegistryStore::ResetDefault();
    session::MessagePort::ResetCurrent();
    session::Session::ResetCurrent();
}

IsolatedEnvironment::~IsolatedEnvironment()
{
    for (auto& [name, value] : m_saved) {
        if (value == "\x01")
            ::unsetenv(name.c_str());
        else
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    session::RegistryStore::ResetDefault();
    session::MessagePort::ResetCurrent();
    session::Session::ResetCurrent();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

std::string ReadText(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

RunResult Run(const std::vector<std::string>& argv)
{
    Child child(argv);
    child.CloseStdin();
    RunResult r;
    r.out = child.ReadAll();
    r.status = child.Wait(60000);
    return r;
}

RunResult RunMerged(const std::vector<std::string>& argv)
{
    Child child(argv, true);
    child.CloseStdin();
    RunResult r;
    r.out = child.ReadAll();
    r.status = child.Wait(60000);
    return r;
}

} // namespace testing_support

#include <chrono>
#include <csignal>
#include <poll.h>
#include <thread>

namespace testing_support {

Child::Child(const std::vector<std::string>& argv, bool mergeStderr)
{
    int out[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(out[1], 1);
        if (mergeStderr)
            ::dup2(out[1], 2);
        ::dup2(in[0], 0);
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(in[0]);
    m_out = out[0];
    m_in = in[1];
}

Child::~Child()
{
    if (!m_reaped && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        ::close(m_out);
    if (m_in >= 0)
        ::close(m_in);
}

std::string Child::ReadLine(int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto nl = m_buffer.find('\n'); nl != std::string::npos) {
            std::string line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0))) <= 0) {
            if (left.count() <= 0)
                return {};
            continue;
        }
        char buf[4096];
        ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n <= 0)
            return {};
        m_buffer.append(buf, static_cast<size_t>(n));
    }
}

std::string Child::ReadAll()
{
    std::string out = std::move(m_buffer);
    m_buffer.clear();
    char buf[4096];
    ssize_t n;
    while ((n = ::read(m_out, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            out.append(buf, static_cast<size_t>(n));
    return out;
}

void Child::Kill(int signal) { ::kill(m_pid, signal); }

void Child::CloseStdin()
{
    if (m_in >= 0)
        ::close(m_in);
    m_in = -1;
}

int Child::Wait(int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int st = 0;
        pid_t r = ::waitpid(m_pid, &st, WNOHANG);
        if (r == m_pid) {
            m_reaped = true;
            return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        }
        if (std::chrono::steady_clock::now() > deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string TestBinaryDir()
{
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string self(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return self.substr(0, self.rfind('/'));
}

} // namespace testing_support

namespace testing_support {

RunningProgram::RunningProgram(const std::string& folder, std::vector<std::string> args, const std::string& name,
                               const std::string& ui)
{
    const std::string program = folder + "/" + name;
    if (::access(program.c_str(), X_OK) != 0)
        Run({"/bin/cp", VINTREL_PROGRAM_DIR "/vintrel", program});
    // A run with windows loads the desktop front-end from its program folder.
    if (ui != "headless" && ::access((folder + "/vintrel-desktop.so").c_str(), R_OK) != 0)
        Run({"/bin/cp", VINTREL_PROGRAM_DIR "/vintrel-desktop.so", folder + "/vintrel-desktop.so"});
    args.insert(args.begin(), program);
    ::setenv("VINTREL_UI", ui.c_str(), 1);
    ::setenv("VINTREL_AUTOMATION", "1", 1);
    // A draw that neither blinks, asks nor opens a site.
    ::setenv("VINTREL_INVITATION_SEED", "18", 1);
    m_child = std::make_unique<Child>(args);
    ::setenv("VINTREL_UI", "headless", 1);
    ::unsetenv("VINTREL_AUTOMATION");
    ::unsetenv("VINTREL_INVITATION_SEED");
}

bool RunningProgram::WaitReady(int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        int status = 1;
        Ask({"ping"}, &status);
        if (status == 0)
            return true;
        ::usleep(10000);
    }
    return false;
}

std::string RunningProgram::Ask(std::vector<std::string> words, int* status)
{
    words.insert(words.begin(), {VINTREL_PROGRAM_DIR "/vintrel-auto", "--pid", std::to_string(m_child->pid())});
    RunResult r = Run(words);
    if (status)
        *status = r.status;
    return r.out;
}

std::string RunningProgram::Get(const std::string& target, const std::string& property)
{
    std::string out = Ask({"get", target, property});
    return out.substr(0, out.find('\n'));
}

} // namespace testing_support

namespace testing_support {

FixtureServer::FixtureServer(const std::string& script)
    : m_child(std::make_unique<Child>(std::vector<std::string>{"/usr/bin/python3", script}))
{
    std::string line = m_child->ReadLine(20000);
    auto at = line.rfind("port ");
    if (at != std::string::npos)
        m_base = "http://127.0.0.1:" + line.substr(at + 5) + "/";
}

} // namespace testing_support
