#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A pseudo-terminal standing in for the panel: the program writes to the slave device, the
// test reads what reached the line from the master. Raw and 9600 8N1, like the panel's line.
class PtyPair {
public:
    PtyPair();
    ~PtyPair() { hangUp(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    [[nodiscard]] const std::string& slavePath() const { return slavePath_; }
    // Reads until `count` bytes have arrived or `timeoutMs` passed with nothing new.
    [[nodiscard]] std::vector<std::uint8_t> read(std::size_t count, int timeoutMs = 2000) const;
    [[nodiscard]] std::vector<std::uint8_t> readAvailable() const { return read(SIZE_MAX, 0); }
    // The other end goes away, as a pulled-out adapter would.
    void hangUp();
    // A descriptor of the device itself, for looking at its line settings.
    [[nodiscard]] int slaveFd() const { return slaveKeeper_; }
    [[nodiscard]] int masterFd() const { return master_; }

private:
    int master_ = -1;
    int slaveKeeper_ = -1;
    std::string slavePath_;
};
