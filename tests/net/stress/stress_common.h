#pragma once
// Helpers of the stress programs: a sender process on a loopback address, and memory use.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace stress {

inline sockaddr_in loopback(const char* ip, std::uint16_t port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &sin.sin_addr);
    return sin;
}

// A UDP socket bound to a loopback address (port chosen by the system).
inline int senderSocket(const char* ip) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in sin = loopback(ip, 0);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
        std::perror("bind");
    }
    return fd;
}

// Runs body in a child process; returns its pid.
inline pid_t spawn(const std::function<int()>& body) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int status = body();
        std::fflush(stdout);
        ::_exit(status);
    }
    return pid;
}

inline int waitFor(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Resident memory of this process in bytes.
inline std::size_t residentBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long size = 0;
    unsigned long resident = 0;
    if (f != nullptr) {
        if (std::fscanf(f, "%lu %lu", &size, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

}  // namespace stress
