#pragma once

#include "panel/numbered_error.h"
#include "panel/serial_port.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Records every call; can be told to fail an open, a close or the k-th write (counted from 1
// over the fake's life) with a given error number.
class FakeSerialPort final : public SerialPort {
public:
    void setPortNumber(std::int16_t number) override
    {
        calls.push_back("setPortNumber " + std::to_string(number));
        portNumber = number;
    }

    void setSettings(const std::string& s) override
    {
        calls.push_back("setSettings " + s);
        if (settingsError) throw NumberedError(*settingsError, "settings rejected");
        settings = s;
    }

    [[nodiscard]] bool isOpen() const override { return open; }

    void setOpen(bool value) override
    {
        calls.push_back(value ? "open" : "close");
        if (value && openError) throw NumberedError(*openError, openReason);
        if (!value && closeError) {
            open = false;
            throw NumberedError(*closeError, "close failed");
        }
        open = value;
        if (value) openedPorts.push_back(portNumber);
    }

    void write(std::span<const std::uint8_t> bytes) override
    {
        ++writeCount;
        if (failAtWrite && writeCount == *failAtWrite) throw NumberedError(writeError, "write failed");
        if (!open) throw NumberedError(errnum::portNotOpen, "port not open");
        writes.emplace_back(bytes.begin(), bytes.end());
    }

    // Every byte that was written, in order.
    [[nodiscard]] Bytes wire() const
    {
        Bytes all;
        for (const auto& w : writes) all.insert(all.end(), w.begin(), w.end());
        return all;
    }

    void clearRecord()
    {
        writes.clear();
        calls.clear();
        openedPorts.clear();
    }

    std::vector<Bytes> writes;
    std::vector<std::string> calls;
    std::vector<std::int16_t> openedPorts;
    std::int16_t portNumber = 1;
    std::string settings;
    bool open = false;
    int writeCount = 0;

    std::optional<int> openError;
    std::string openReason = "Permission denied";
    std::optional<int> closeError;
    std::optional<int> settingsError;
    std::optional<int> failAtWrite;
    int writeError = errnum::writeFailed;
};
