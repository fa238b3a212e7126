// A station for the logger to start in: a scratch start-up directory, the
// files the logger reads there, comports.map (which device each port is) and
// coms.cfg (how each port is set up), and the small helpers for files and
// for waiting on what the station's programs do.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ptykit {

// A fresh directory that becomes the current directory; the old current
// directory is restored and the tree removed on destruction. Throws
// std::runtime_error when the directory cannot be made or entered.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return m_path; }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
    std::string m_previous;
};

// comports.map text: the given ports mapped to paths, every other port none.
std::string port_map_text(const std::map<int, std::string> &paths);

// One port's record of coms.cfg.
struct PortRecord {
    int rate, logged, slot, hex;
};
// The 18 records of coms.cfg: the ports given as given, every other port at
// 9600 baud, not logged, in no slot.
std::vector<PortRecord> port_table(const std::map<int, PortRecord> &ports = {});
// The bytes of coms.cfg for these records, every field 32-bit little-endian.
std::string config_bytes(const std::vector<PortRecord> &records);

// Replaces the file with these bytes; throws std::runtime_error when it
// cannot be written.
void write_file(const std::string &path, const std::string &contents);
// The file's bytes; empty when it cannot be read.
std::string read_file(const std::string &path);
// Whether anything (file, directory, device...) is there under that name.
bool file_exists(const std::string &path);
// Names in a directory, sorted, without "." and ".."; empty when it cannot be read.
std::vector<std::string> list_dir(const std::string &path);

// The suffix of a port's data files: ".C01" to ".C18", two digits always.
std::string data_suffix(int port);
// The port's data files under a start-up directory: in every day directory
// (Dddd), in the order they were begun (day, then name), as full paths.
std::vector<std::string> data_files(const std::string &startDir, int port);
// All the logger wrote for the port: those files one after the other.
std::string recording(const std::string &startDir, int port);

// Polls pred, without running the event loop, until it holds or timeoutMs
// passes; returns pred().
bool eventually(const std::function<bool()> &pred, int timeoutMs = 5000);

} // namespace ptykit
