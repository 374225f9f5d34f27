#pragma once
// The working copy of an ENI that the master parses. Anyone on the board may
// name the file, and the master runs as root with its memory locked: only a
// regular file of bounded size is read, and the copy, owner-only, is written
// under a fresh name and moved into place.

#include <cstddef>
#include <memory>
#include <string>

#include "xelo_ethercat_cfg.h"

class ENI_Working_Copy {
public:
    // Far above a network of 100 slaves with their mappings and init
    // commands (the demo cell's two slaves take 30 KiB).
    static constexpr std::size_t MAX_BYTES = 8u * 1024 * 1024;

    // Copies source to copy with every "#x" rewritten to "0x" (mode 0600,
    // replacing at once whatever is at copy). Throws naming source when it
    // is no regular file, is larger than max_bytes or cannot be read, and
    // when the copy cannot be written; the previous copy is gone then too.
    static void make_ex(const std::string& source, const std::string& copy, std::size_t max_bytes = MAX_BYTES);
    // make_ex, then the model parsed from the copy; a copy that is no
    // readable ENI is removed again.
    static std::unique_ptr<EtherCATConfig_Config> load_ex(const std::string& source, const std::string& copy);
};
