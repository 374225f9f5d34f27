#pragma once

#include <string>
#include <vector>

// Files of a bridged board for the tests: a bridge descriptor built from its
// parts and the example application descriptors with changes.
struct Bridge_File {
    std::string period = "10";
    std::string master_address = "127.0.0.1";
    std::string slave_address = "127.0.0.1";
    std::vector<std::string> inputs;   // travel from the slave to the master
    std::vector<std::string> outputs;  // travel from the master to the slave
    // Data groups and command channels by name, "_in" from the slave to the master.
    std::vector<std::string> sem_data_in;
    std::vector<std::string> sem_data_out;
    std::vector<std::string> cmd_in;
    std::vector<std::string> cmd_out;
    std::vector<std::string> omitted;  // sections left out

    std::string text() const;
    // Writes the text to path and returns the path.
    std::string install(const std::string& path) const;
};

// The example application descriptor of a board ("master" or "slave") with
// extra virtual_io lines (descriptor_builder.h) and text replacements, written to path.
std::string install_application_descriptor(const std::string& board, const std::string& path,
                                           const std::vector<std::string>& extra_virtual_ios = {},
                                           const std::vector<std::pair<std::string, std::string>>& replacements = {});

// The path of an example file of the two-board pair.
std::string bridge_example(const std::string& file);

// rtframe's options that let a bridge report running after 300 ms of
// running threads instead of 5 s: the cases that time the delay itself
// start without them.
inline const std::vector<std::string> SHORT_RUNNING_DELAY{"--bridge-running-delay-ms", "300"};

// arguments followed by SHORT_RUNNING_DELAY.
inline std::vector<std::string> with_short_running_delay(std::vector<std::string> arguments)
{
    arguments.insert(arguments.end(), SHORT_RUNNING_DELAY.begin(), SHORT_RUNNING_DELAY.end());
    return arguments;
}
