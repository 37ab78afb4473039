// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "frames.h"
#include "panel/line_error.h"
#include "panel/serial_port.h"
#include "panel/status_line.h"

#include <functional>
#include <map>
#include <optional>
#include <vector>

// The error `action` throws, if any.
inline std::optional<LineError> errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const LineException& e) {
        return e.error();
    }
    return std::nullopt;
}

// Records every call; can be told to fail an open, a close or the k-th write
// (counted from 1 over the fake's life).
class FakeSerialPort final : public SerialPort {
public:
    void setPortNumber(std::int16_t number) override { calls.push_back("setPortNumber " + std::to_string(number)); }
    void setSettings(const PortSettings& s) override { settings = s; }
    [[nodiscard]] bool isOpen() const override { return open; }
    void setOpen(bool value) override
    {
        calls.push_back(value ? "open" : "close");
        if (value) written = 0;
        if (value && openError) throw LineException(*openError, "Permission denied");
        open = value;
        if (!value && closeError) throw LineException(*closeError, "close failed");
    }
    void write(std::span<const std::uint8_t> bytes) override
    {
        if (++writeCount == failAtWrite) throw LineException(LineError::WriteFailed, "write failed");
        if (!open) throw LineException(LineError::PortNotOpen, "port not open");
        writes.emplace_back(bytes.begin(), bytes.end());
        written += bytes.size();
    }
    // With the echo on, every send comes back as `echoAnswer` says.
    void setEcho(bool on) override { echoOn = on; }
    [[nodiscard]] EchoCheck lastEcho() const override
    {
        if (!echoOn) return {};
        return {.echo = echoAnswer,
                .written = written,
                .returned = echoAnswer == Echo::Confirmed ? written : 0,
                .detail = echoAnswer == Echo::Different    ? "o byte 1 voltou 00"
                          : echoAnswer == Echo::Incomplete ? "só voltou 1 byte"
                                                           : ""};
    }
    // Every byte that was written, in order.
    [[nodiscard]] std::string sent() const
    {
        Bytes all;
        for (const auto& w : writes) all.insert(all.end(), w.begin(), w.end());
        return hexBytes(all);
    }
    void clearRecord() { writes.clear(), calls.clear(); }

    std::vector<Bytes> writes;
    std::vector<std::string> calls;
    PortSettings settings{.baud = 0};
    bool open = false;
    int writeCount = 0;
    std::optional<LineError> openError, closeError;
    std::optional<int> failAtWrite;
    bool echoOn = false;
    Echo echoAnswer = Echo::Confirmed;
    std::size_t written = 0; // since the last open
};

class FakeStatusLine final : public StatusLine {
public:
    void setPanelText(int panel, const std::string& text) override { texts[panel] = text; }
    void setPanelToolTip(int panel, const std::string& toolTip) override { toolTips[panel] = toolTip; }

    std::map<int, std::string> texts, toolTips;
};
