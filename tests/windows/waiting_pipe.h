// waiting_pipe.h - a named pipe that tells whether anyone connected to it,
// for the tests that a device or pipe named as a file is refused unopened
// (opening a pipe takes one of its instances from the program serving it).
#pragma once

#include <windows.h>

#include <string>

class WaitingPipe {
public:
    // Serves one instance of the pipe `name` ("\\.\pipe\...").
    explicit WaitingPipe(const std::wstring &name)
        : m_pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 4096,
                                  4096, 0, nullptr))
    {
    }
    ~WaitingPipe()
    {
        if (m_pipe != INVALID_HANDLE_VALUE)
            CloseHandle(m_pipe);
    }
    WaitingPipe(const WaitingPipe &) = delete;
    WaitingPipe &operator=(const WaitingPipe &) = delete;

    bool made() const { return m_pipe != INVALID_HANDLE_VALUE; }

    // Whether the pipe still waits for its first client: no open of its name
    // ever reached it (one that came and went leaves ERROR_NO_DATA).
    bool neverConnected()
    {
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const bool waiting = !ConnectNamedPipe(m_pipe, &overlapped) && GetLastError() == ERROR_IO_PENDING;
        CancelIo(m_pipe);
        CloseHandle(overlapped.hEvent);
        return waiting;
    }

private:
    HANDLE m_pipe;
};
