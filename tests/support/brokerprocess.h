// SPDX-License-Identifier: GPL-2.0-or-later
// BrokerProcess: runs the demo broker as a child process on an ephemeral
// loopback port and stops it again when the object goes away. The child is
// also told to end if this process dies first.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace ZRTest {

class BrokerProcess {
public:
    // `options` follow the port and address on the broker's command line.
    explicit BrokerProcess(const std::string& executable, const std::vector<std::string>& options = {})
    {
        std::vector<std::string> words = {executable, "--port", "0", "--bind", "127.0.0.1"};
        words.insert(words.end(), options.begin(), options.end());
        // Built before fork: the child may only make async-signal-safe calls.
        std::vector<char*> arguments;
        for (std::string& word : words)
            arguments.push_back(&word[0]);
        arguments.push_back(nullptr);
        int output[2];
        if (::pipe2(output, O_CLOEXEC) != 0)
            throw std::runtime_error("cannot make a pipe for the broker");
        pid_ = ::fork();
        if (pid_ < 0) {
            ::close(output[0]);
            ::close(output[1]);
            throw std::runtime_error("cannot fork the broker");
        }
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::dup2(output[1], STDOUT_FILENO);
            ::execv(executable.c_str(), arguments.data());
            ::_exit(127);
        }
        ::close(output[1]);
        output_ = output[0];
        try {
            port_ = readPort();
        } catch (...) {
            stop();
            throw;
        }
    }

    ~BrokerProcess() { stop(); }

    BrokerProcess(const BrokerProcess&) = delete;
    BrokerProcess& operator=(const BrokerProcess&) = delete;

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

    // Sends `signal` and waits up to 10 s for the broker to end: its wait
    // status, or -1 when it is still running (the destructor then kills it).
    int stop(int signal)
    {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, signal);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return status;
    }

private:
    // The broker's first line is "port N".
    int readPort()
    {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (line.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd readable{output_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) != 1)
                throw std::runtime_error("the broker did not report its port");
            char chunk[64];
            const ssize_t count = ::read(output_, chunk, sizeof chunk);
            if (count <= 0)
                throw std::runtime_error("the broker ended before reporting its port");
            line.append(chunk, static_cast<std::size_t>(count));
        }
        if (line.compare(0, 5, "port ") != 0)
            throw std::runtime_error("unexpected first line from the broker: " + line);
        return std::atoi(line.c_str() + 5);
    }

    void stop()
    {
        if (pid_ > 0 && stop(SIGTERM) == -1) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
        if (output_ >= 0) {
            ::close(output_);
            output_ = -1;
        }
    }

    pid_t pid_ = -1;
    int output_ = -1;
    int port_ = 0;
};

}  // namespace ZRTest
