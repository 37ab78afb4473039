#pragma once

#include <QString>

#include <cstdint>

// Folder of the program's own files: the preferences and the port links.
[[nodiscard]] QString configFolder();

// The device that port number n opens. On Linux a link named com<n> in the config folder
// names the device (for example /dev/ttyUSB0); without one, port n is /dev/ttyS<n-1>.
[[nodiscard]] QString deviceForPort(std::int16_t number);
