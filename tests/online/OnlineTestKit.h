// Where the servers of tests/online/run-online.sh listen, and scratch space.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

inline std::string EnvText(const char *name)
{
    char buffer[1024];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    return n && n < sizeof(buffer) ? std::string(buffer, n) : std::string();
}

inline std::string ServiceURL() { return EnvText("TOVU_SERVICE_URL"); }
inline std::string StandinURL() { return EnvText("TOVU_STANDIN_URL"); }

// The tests are meaningless without the servers: run them through run-online.sh.
#define REQUIRE_SERVERS() \
    ASSERT_FALSE(ServiceURL().empty() || StandinURL().empty()) << "started without tests/online/run-online.sh"

inline std::string ScratchFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "tovu-online\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// A port on 127.0.0.1 that nobody listens on: bound, then given up.
inline int RefusedPort()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int port = 1;
    int len = sizeof(a);
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof(a)) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    closesocket(s);
    return port;
}
