#pragma once

// Lists the COM ports that can be opened, then leaves through the exit sequence (status 0).
[[noreturn]] void scan_ports();
